// The 2D map view's elevation fetch command (32768, "工具" menu): it opens the elevation
// extraction dialog on the last extraction (when the user takes it), on the closed free region,
// or on the box tool's rectangle. The dialog is made on first use and lives until the frame goes.
#pragma once
#include <span>

#include "platform/ui/ui_types.h"
#include "exchange/region_raster.h"

namespace velmora {

class CDlgDemExtract;
class CKovraHomeExApp;
class CPDView;
class IScreenTerrainSource;

inline constexpr const char* kDemCacheQuestion = "是否采用上次提取高程?";
// Shown when the view has neither a closed free region nor a box.
inline constexpr const char* kDemNoRegion = "请先用框选工具或自由区域工具在地图上选定提取范围";
// The sample distance (metres) of a region without a stored one.
inline constexpr double kDemDefaultSampleDistance = 30.0;

// Registers a frame step that adds the command once the main frame exists and removes it, and
// closes the dialog, before the frame goes.
void RegisterDemExtractCommands(CKovraHomeExApp& app);

// The 2D map view's elevation fetch: the cache question, then the region; false when nothing was
// opened.
bool OnDemFetch(CPDView* view);
// The earth views' extraction over screen points (render-window pixels of `source`'s view).
CDlgDemExtract* OpenDemExtractForScreen(std::span<const LngLatF> pixels, IScreenTerrainSource* source);
// Closes the program's dialog (its worker stopped first) when it samples `source`'s screen: a view
// calls it (through the shell's hook) before its terrain source goes.
void CloseDemExtractFor(IScreenTerrainSource* source);
// The program's dialog (null before the first use).
CDlgDemExtract* DemExtractDialog();
void CloseDemExtractDialog();

}  // namespace velmora
