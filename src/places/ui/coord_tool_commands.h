// The coordinate tools as commands of the main frame: id, menu path, prompt and what each runs.
// The main frame maps them when it builds its menu (RegisterCoordToolCommands):
//   工具/坐标格式转换  32946  the format converter
//   工具/坐标系转换    32935  the coordinate-system converter
//   工具/坐标批量纠正  32947  batch correction of points loaded from a coordinate file
#pragma once
#include <functional>
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

class CWnd;

inline constexpr UINT ID_COORD_FORMAT_CONVERT = 32946;
inline constexpr UINT ID_COORD_SYSTEM_CONVERT = 32935;
inline constexpr UINT ID_COORD_BATCH_FIX = 32947;

struct CoordToolCommand {
  UINT id;
  const char* menu_path;  // menu, '/', item
  const char* prompt;     // status-bar text, "\n", tooltip
  std::function<void(CWnd* owner)> run;
};

// The three commands, in menu order.
std::vector<CoordToolCommand> CoordToolCommands();

// Registers the commands in the program's command table (their dialogs open over the main
// frame), makes the system combos' right click open the zone dialog, and lets the format
// converter import spreadsheets through the exchange module's workbook reader.
void RegisterCoordToolCommands();

// The batch correction as the shell offers it: the dialog with points loaded from a file; when
// every point is corrected and the user agrees to replace them, the corrected points are saved
// to a file the user chooses (the loaded one by default).
void RunCoordBatchFixCommand(CWnd* owner);

}  // namespace velmora
