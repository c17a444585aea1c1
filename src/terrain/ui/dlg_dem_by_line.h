// CDlgDemByLine: the settings of sampling coordinates and elevations along lines: a sort order, a
// sample spacing, a sample count (kept in the program settings) and one option that starts
// unticked at every opening; a tree of (label, value) items that the dialog owns.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/controls.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgDemByLine : public CDialogEx {
 public:
  static constexpr int kTemplateId = 288;
  static constexpr const char* kCaption = "沿线采样设置";
  static constexpr int kIdSort = 1308;
  static constexpr int kIdSpacing = 1307;
  static constexpr int kIdCount = 1309;
  static constexpr int kIdOption = 1337;
  static constexpr int kIdTree = 1534;
  static constexpr const char* kSpacingTooSmall = "采样间距太小!";
  static constexpr int kMaxCount = 1000000;

  // One tree item's record: the label is the item's text.
  struct Item {
    std::string label;
    std::string value;
  };

  // Reads the stored values with their defaults (sort 1, spacing 0.09, count 1).
  explicit CDlgDemByLine(CWnd* parent = nullptr);
  ~CDlgDemByLine() override;

  int sort = 1;
  float spacing = 0.09f;
  int count = 1;
  bool option = false;

  // Adds an item under `parent` (TVI_ROOT for the top); the dialog keeps its record.
  HTREEITEM AddItem(const std::string& label, const std::string& value, HTREEITEM parent = TVI_ROOT);
  // The record of an item, null for none.
  const Item* ItemRecord(HTREEITEM item) const;
  size_t RecordCount() const { return records_.size(); }

  void OnOK() override;

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  CTreeCtrl tree_;
  std::vector<std::unique_ptr<Item>> records_;
};

}  // namespace velmora
