// The main frame's entry to the earth page's snapshot mosaic ("工具/地球图片拼接..."): it takes the
// 2D view's box or free region (else its visible bounds) as the area, lets the person confirm it
// and choose the output file, and runs the mosaic dialog on it. It stands in for the mosaic command
// of the earth application view, which is not built yet.
#pragma once
#include "platform/ui/ui_types.h"

namespace velmora {

class CKovraHomeExApp;
class CPDView;

inline constexpr UINT ID_GE_MOSAIC = 0x8E70;
inline constexpr char kGeMosaicCommandText[] = "地球图片拼接...";
inline constexpr char kGeResumeQuestion[] = "是否续拼前次未完任务?";

// The area preset of the mosaic from the 2D view: the box tool's band (at least the view's
// minimal band), else the bounding box of a closed free region; false when there is neither.
bool GeMosaicViewArea(CPDView& view, float top_left[2], float bottom_right[2]);

// The whole command on `view`: the resume question when a stopped job waits, the area dialog
// (corners kept under "exp"), the export file dialog and the mosaic. False when the person
// cancelled before a mosaic ran.
bool RunGeMosaicCommand(CPDView* view);

// Registers a frame step that adds the command once the main frame exists.
void RegisterGeMosaicCommand(CKovraHomeExApp& app);

}  // namespace velmora
