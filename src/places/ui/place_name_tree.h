// CPlaceNameTree: the side-bar panel "行政地名": a tree of China's administrative places kept in
// the place-name database (CPlaceNameDb, "adn.adr"). Provinces and their direct children show at
// once (from the index "adn.kan", which is rebuilt from the database when it is missing, damaged
// or older than the database); deeper levels are loaded when an item is selected: the places of
// the child levels whose position lies inside the selected place's box, in name order. A double
// click centres the current view on the place (keeping its zoom). The right-click menu imports a
// folder of KML files ("导入", 32737) or one file ("导入文件", 57601) on the worker
// "ImportAddrName" under the progress dialog "导入地名".
//
// The panel's window is a small host that holds the tree and sizes it to itself; the tree's
// notifications reach the tree through it. The place search box searches the same database
// (CPlaceNameDb::FindByName), found by the panel name.
#pragma once
#include <deque>
#include <memory>
#include <set>
#include <string>

#include "places/place_name_db.h"
#include "places/place_name_import.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/panel_host.h"
#include "shell/side_bar_panel.h"

namespace velmora {

class CPlaceNameTree : public CTreeCtrl, public ISideBarPanel, public CPlaceNameDb {
 public:
  static constexpr const char* kPanelName = "行政地名";
  static constexpr UINT ID_IMPORT_FOLDER = 32737;
  static constexpr UINT ID_IMPORT_FILE = 57601;
  static constexpr int kPanelId = 0x7F20;
  static constexpr int kTreeId = 1;
  static constexpr const char* kImportTitle = "导入地名";
  // Program setting of the last imported file.
  static constexpr const char* kImportPathKey = "adrimp";

  CPlaceNameTree();
  ~CPlaceNameTree() override;

  // Makes the panel's window (a child of `parent`, the main frame) with the tree in it, opens the
  // database and fills the first two levels.
  bool CreatePanel(CWnd* parent);

  const char* GetPanelName() const override { return kPanelName; }
  CWnd* GetPanelWnd() override { return host_.get(); }

  // Rebuilds the first two levels from the database and writes the index anew (not while the
  // database is closed: the index is then left as it is).
  void FillTree();
  // The record of an item (null for none).
  const PlaceRecord* RecordOf(HTREEITEM item) const;
  // The first item named `name` under `parent` (TVI_ROOT: the top), 0 when none.
  HTREEITEM FindChild(HTREEITEM parent, const std::string& name) const;

  void OnImport();
  void OnImportFile();
  // Imports a KML file or folder under the progress dialog, then fills the tree again.
  PlaceImportResult ImportPath(const std::string& path);

  // How the tree was filled at creation: from the index, or from the database.
  bool FilledFromIndex() const { return filled_from_index_; }

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  // The tree's own notifications, handed back by the host.
  LRESULT OnReflectedNotify(NMHDR* hdr);
  void OnSelChanged(HTREEITEM item);
  void OnDoubleClick();
  void OnContextMenu();
  HTREEITEM AddPlaceItem(const PlaceRecord& record, HTREEITEM parent);
  void ClearItems();

  std::unique_ptr<CPanelHost> host_;
  std::deque<PlaceRecord> records_;  // the items' records (stable addresses)
  std::set<HTREEITEM> loaded_;       // items whose children were looked up
  bool filled_from_index_ = false;
};

}  // namespace velmora
