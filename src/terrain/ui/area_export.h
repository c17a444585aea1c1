// The area export command ("文件/区域导出..."): the area from "导出区域设定" (preset with the map
// view's bounds), then the export file dialog with the picture types and the 3D Studio type
// ("3ds", whose options CDlgExport3D asks), then the export on the worker "TilesExport" under a
// progress dialog: the area's picture, or the terrain model and its JPEG texture.
#pragma once
#include "platform/ui/ui_types.h"

namespace velmora {

class CElevationStore;
class CTileManager;
class CWnd;

inline constexpr UINT ID_EXPORT_AREA = 33100;
inline constexpr const char kAreaExportCommandText[] = "区域导出...";
inline constexpr const char kAreaExportTitle[] = "区域导出...";
// The last path chosen (program settings).
inline constexpr const char kAreaExportPathKey[] = "AreaExportPath";

struct AreaExportSources {
  CTileManager* tiles = nullptr;          // null: the program's tile manager
  CElevationStore* elevation = nullptr;   // null: the global elevation store
};

// Runs the command. True when a file was written; a failure other than a cancel is told in a
// message box.
bool RunAreaExport(CWnd* parent, const AreaExportSources& sources = {});

// Adds the command to the command table, and takes it away.
void RegisterAreaExportCommand();
void UnregisterAreaExportCommand();

}  // namespace velmora
