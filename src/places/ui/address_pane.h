// CAddressPane: the side-bar panel "地址库": the address library of one geocoder as a tree of
// place names (places/address_library.h). Items carry the CAddressRecord they show and are
// filled a level at a time when selected, sorted by name; a double click centres the current
// view on the record. The right-click menu rebuilds the library from the geocoder's stored
// replies ("重构地址库", 32764), exports the places of a region ("导出地址...", 32716) and
// chooses the library ("地址库: <name>", 40000 + n for the n-th geocoder of the layer manager's
// list); with an item selected it also offers "重命名..." (a dialog standing in for the in-place
// edit). Renaming an item renames the record under its parent; a sibling's name or an empty
// name is refused and the label keeps its text. The library id is kept in the profile
// ("recent"/"addr_index"); the library file is "<data folder><id>.adr".
//
// Rebuild and export read the store on their workers ("RebuildAddressThread",
// "AddressExportThread") under the progress dialog and build their results privately: a rebuild
// replaces the tree and the file only when it ran to its end.
#pragma once
#include <memory>
#include <set>
#include <string>

#include "places/address_library.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/panel_host.h"
#include "shell/side_bar_panel.h"

namespace velmora {

class CTileManager;

// The tree's end of an in-place label edit (sent to the tree's parent, as the tree's other
// notifications): the edited item and its new text, null when the edit was cancelled. The
// answer is non-zero when the new text is accepted.
inline constexpr int TVN_ENDLABELEDIT = -411;
struct NMTVENDLABELEDIT {
  NMHDR hdr;
  HTREEITEM item = 0;
  const char* text = nullptr;
};

class CAddressPane : public CTreeCtrl, public ISideBarPanel {
 public:
  static constexpr const char* kPanelName = "地址库";
  static constexpr int kPanelId = 0x7F21;
  static constexpr int kTreeId = 1;
  static constexpr int kHelpId = 10020;
  static constexpr UINT ID_REBUILD = 32764;
  static constexpr UINT ID_EXPORT = 32716;
  // "重命名...": the label edit through a small dialog, for front ends without in-place edits.
  static constexpr UINT ID_RENAME = 0x8E41;
  static constexpr int kRenameTemplateId = 0x7F32;
  static constexpr int kIdRenameEdit = 1001;
  static constexpr UINT ID_LIBRARY_FIRST = 40000;
  static constexpr UINT ID_LIBRARY_LAST = 40003;
  static constexpr const char* kProfileSection = "recent";
  static constexpr const char* kProfileKey = "addr_index";
  static constexpr const char* kExportPathKey = "AdrExp";
  static constexpr const char* kExportFilter = "Text Files (*.txt)|*.txt|Excel Files (*.xls)|*.xls||";
  static constexpr const char* kAskSave = "地址库已经修改,是否保存?";
  static constexpr const char* kAskRebuild = "重构将丢失原来的数据,确定继续?";

  // `tiles` null: the program's tile manager.
  explicit CAddressPane(CTileManager* tiles = nullptr);
  ~CAddressPane() override;

  // Makes the panel's window (a child of `parent`) with the tree in it and loads the library.
  bool CreatePanel(CWnd* parent);
  const char* GetPanelName() const override { return kPanelName; }
  CWnd* GetPanelWnd() override { return host_.get(); }

  int LibraryId() const { return id_; }
  bool IsModified() const { return modified_; }
  const CAddressRecord& Root() const { return *root_; }
  // The record an item shows (null for none).
  CAddressRecord* RecordOf(HTREEITEM item) const;
  // The first item named `name` under `parent` (TVI_ROOT: the top), 0 when none.
  HTREEITEM FindChild(HTREEITEM parent, const std::string& name) const;

  void LoadLibrary();
  bool SaveLibrary();
  // One item per child of `record` under `parent`, sorted.
  void FillTree(const CAddressRecord& record, HTREEITEM parent);

  // Renames the item's record; false (nothing changes, the label keeps its text) for an empty
  // text or one a sibling uses.
  bool EndLabelEdit(HTREEITEM item, const std::string& text);
  void OnSelectLibrary(UINT command);
  // True when a rebuild ran to its end and replaced the library.
  bool OnRebuild();
  // True when a file was written.
  bool OnExport();
  void OnContextMenu();
  void OnDoubleClick();
  // Asks a new name for the selected item and renames it as a label edit would.
  bool OnRename();

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  LRESULT OnReflectedNotify(NMHDR* hdr);
  void OnSelChanged(HTREEITEM item);
  CTileManager& Tiles() const;
  void AskAndSave();

  CTileManager* tiles_;
  std::unique_ptr<CPanelHost> host_;
  std::unique_ptr<CAddressRecord> root_;
  int id_ = 8;
  bool modified_ = false;
  std::set<HTREEITEM> filled_;
};

}  // namespace velmora
