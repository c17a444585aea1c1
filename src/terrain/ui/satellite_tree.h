// CSatelliteTree: the side-bar panel "卫星库": the satellite library (terrain/sat_tree_item.h)
// as a tree of folders and satellites with the application's check images (0 unticked, 1
// ticked, 3 partly ticked). Element-set files are imported as folders; a click on an item's icon
// shows or hides its satellites in the current view; satellites are edited, located, deleted,
// cut and pasted. Every change is saved to "obs.db" in the data folder at once.
//
// The panel's window is a small host holding the tree at its size; the tree's notifications
// reach the tree through it. User-interface thread only.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ui/tree_ctrl.h"
#include "shell/panel_host.h"
#include "shell/side_bar_panel.h"
#include "terrain/sat_kml_feed.h"
#include "terrain/sat_tree_item.h"

namespace velmora {

class IChildView;

class CSatelliteTree : public CTreeCtrl, public ISideBarPanel, public ISatelliteLibrary {
 public:
  static constexpr const char* kPanelName = "卫星库";
  static constexpr UINT ID_IMPORT_ORBIT = 57601;
  static constexpr UINT ID_UPDATE_LIBRARY = 32714;
  static constexpr UINT ID_MODIFY = 32750;
  static constexpr UINT ID_DELETE = 57632;
  static constexpr UINT ID_LOCATE = 32744;
  static constexpr UINT ID_CUT = 57635;
  static constexpr UINT ID_PASTE = 57637;
  static constexpr int kPanelId = 0x7F22;  // beside the place-name (0x7F20) and address (0x7F21) panels
  static constexpr int kTreeId = 1;
  static constexpr const char* kUpdateMessage = "请联系作者获取最新的卫星参数文件obs.db";
  static constexpr const char* kContactLine = "联系方式: 请访问 Velmora 项目主页提交问题";
  static constexpr const char* kImportFilter = "Text file (*.txt)|*.txt||";
  static constexpr const char* kTooLargeMessage = "轨道文件过大(超过16 MiB), 未导入";
  static constexpr const char* kNothingReadMessage = "文件中没有可读的轨道根数";
  static constexpr const char* kPasteIntoItselfMessage = "不能把文件夹粘贴到它自己或它的子文件夹中";

  CSatelliteTree();
  ~CSatelliteTree() override;

  // Makes the panel's window (a child of `parent`) with the tree, which loads the library.
  bool CreatePanel(CWnd* parent);
  const char* GetPanelName() const override { return kPanelName; }
  CWnd* GetPanelWnd() override { return host_.get(); }

  // Before the window is made: the library file and its shipped seed (defaults: "obs.db" in the
  // data folder and in the program folder), the view the panel talks to (default: the
  // application's current view) and the clock of the locate command (default: JulianDateNow).
  void SetLibraryPath(std::string path, std::string seed);
  void SetViewSource(std::function<IChildView*()> source) { view_source_ = std::move(source); }
  void SetClock(std::function<double()> julian_now) { clock_ = std::move(julian_now); }

  // ---- operations (each saves the library) ----
  // Reads the element sets of `text` into a new folder named `title` at the end of the top
  // level; returns the satellites added (0: no folder made).
  int AddFromText(const std::string& title, std::string_view text);
  void OnImportOrbit();
  // Imports one file (refused with a message beyond 16 MiB).
  int ImportFile(const std::string& path);
  // The icon click: toggles the item, tells the current view about each satellite at or under
  // it, refreshes the folders above.
  void ToggleItem(HTREEITEM item);
  void OnUpdateLibrary();
  void OnModify();
  void OnDelete();
  void OnLocate();
  void OnCut();
  void OnPaste();
  // Writes "obs.db" (a temporary file renamed over it); false when it cannot be written.
  bool SaveLibrary();

  // ---- state ----
  CSatFolderItem& Root() { return root_; }
  CSatTreeItem* ItemOf(HTREEITEM item) const;
  HTREEITEM HandleOf(const CSatTreeItem* item) const;
  // The records of the shown satellites, in tree order.
  std::vector<SatElements> ShownSatellites() const override;
  CSatTreeItem* CutItem() const { return cut_; }
  SatLibraryLoad LoadResult() const { return load_result_; }
  const std::string& LibraryPath() const { return path_; }

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  LRESULT OnReflectedNotify(NMHDR* hdr);
  void OnContextMenu();
  // Inserts the item (and what is under it) under `parent` in the tree.
  HTREEITEM InsertTreeItem(CSatTreeItem* item, HTREEITEM parent);
  void ForgetTreeItems(CSatTreeItem* item);
  // Every item's image from its state.
  void UpdateImages();
  IChildView* CurrentView() const;
  // A shown satellite: the current view's camera over its sub-satellite point now.
  void Locate(const CSatelliteItem& satellite);

  std::unique_ptr<CPanelHost> host_;
  CSatFolderItem root_;
  std::unordered_map<const CSatTreeItem*, HTREEITEM> handles_;
  CSatTreeItem* cut_ = nullptr;
  std::string path_, seed_;
  SatLibraryLoad load_result_ = SatLibraryLoad::kMissing;
  std::function<IChildView*()> view_source_;
  std::function<double()> clock_;
};

}  // namespace velmora
