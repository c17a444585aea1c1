// The place search as the running program offers it. RegisterPlaceSearch adds a start-up step to
// the application's frame phase that makes
//   the side-bar panel "行政地名" (CPlaceNameTree) when the options show it,
//   the search box (CmbAddress) in the main frame's address bar, with the frame's Enter mapped to
//   the box's search,
// and registers the box's commands in the command table, in the menu "工具/地名查询":
//   本地地址库...      32917  the local address search dialog
//   优先网络查询       32918  the web-first flag (checked while on)
//   地址库: <name>     40000 + n, one per geocoder of the layer manager's list (the current one checked)
//   行政地名           32952  the place-name table (greyed without the panel)
//   网络提示           32922  the web suggestion service
// The step's stop takes the commands and the box away again before the frame closes.
#pragma once

namespace velmora {

class CKovraHomeExApp;
class CMainFrame;
class CmbAddress;

void RegisterPlaceSearch(CKovraHomeExApp& app);

// The search box in the frame's address bar, or null.
CmbAddress* FindPlaceSearchBox(CMainFrame* frame);

}  // namespace velmora
