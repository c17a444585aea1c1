// The elevation tools of the 2D map view in the application ("工具/高程数据" menu): the elevation
// download over the free region or a dragged box, the elevation fetch dialog with two points
// around the map centre, and the line sampling settings. The two modeless dialogs are made on
// first use, reused while they exist, and closed before the frame goes.
#pragma once
#include <vector>

#include "exchange/region_raster.h"
#include "platform/ui/ui_types.h"

namespace velmora {

class CDlgDemDownload;
class CDlgDemFetch;
class CKovraHomeExApp;
class CPDView;

inline constexpr UINT ID_DEM_DOWNLOAD = 0x8E60;
inline constexpr UINT ID_DEM_FETCH_DIALOG = 0x8E61;
inline constexpr UINT ID_DEM_BY_LINE = 0x8E62;
inline constexpr const char* kDemToolsMenu = "工具/高程数据";

void RegisterDemTools(CKovraHomeExApp& app);

// The download command on a view: its closed free region at once, else the box tool armed for
// one box.
void OnDemDownload(CPDView& view);
// Asks the sample distance (the region dialog) and starts the download of `region` in the
// program's download dialog; the dialog of an earlier command is reused (while it runs it is
// only shown).
void StartDemDownload(const std::vector<LngLatF>& region, CPDView* owner);
// The fetch dialog with the points 0.1 degree west and east of the view's centre.
void OnDemFetch(CPDView& view);
CDlgDemDownload* CurrentDemDownload();
CDlgDemFetch* CurrentDemFetch();
void CloseDemTools();

}  // namespace velmora
