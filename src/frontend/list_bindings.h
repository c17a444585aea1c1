// List views and trees of the window model on Qt item views. The Qt models read the window
// model directly (a virtual list's rows are asked from its display callback only when shown), so
// a list of a million points costs what its visible rows cost. Clicks, double clicks, right
// clicks, heading clicks, keys and expansions go to the model's own helpers, which send the
// owner the notifications it maps (NM_CLICK, LVN_ITEMCHANGED, TVN_SELCHANGED, ...).
#pragma once
#include <QAbstractItemModel>
#include <QTreeView>
#include <unordered_map>
#include <vector>

#include "frontend/model_binding.h"
#include "platform/ui/ui_types.h"

namespace velmora {

class CListCtrl;
class CTreeCtrl;

// ---- list view ----

class CListItemModel : public QAbstractItemModel {
 public:
  explicit CListItemModel(QObject* parent) : QAbstractItemModel(parent) {}
  void SetList(CListCtrl* list) { list_ = list; }
  // The shape changed (rows or columns): the views start again; else only the texts repaint.
  void Refresh();

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex&) const override { return {}; }
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  CListCtrl* list_ = nullptr;
  int rows_ = 0;
  std::vector<std::string> headings_;
};

class CListBinding : public CModelBinding {
 public:
  CListBinding(CListCtrl& window, QWidget* parent);
  void SyncFromModel() override;
  void Detach() override;
  // The view's selection (after keys or modifier clicks) into the model's row states.
  void PushSelection();
  QTreeView* View() const { return static_cast<QTreeView*>(Widget()); }
  CListItemModel* ItemModel() const { return model_; }
  // Applies the model's selection to the view (UI thread).
  void PullSelection();

 private:
  CListItemModel* model_;
};

// ---- tree ----

class CTreeItemModel : public QAbstractItemModel {
 public:
  explicit CTreeItemModel(QObject* parent) : QAbstractItemModel(parent) {}
  // Takes a new snapshot of the tree's structure and restarts the views.
  void Rebuild(CTreeCtrl* tree);
  QModelIndex IndexOf(HTREEITEM item) const;
  HTREEITEM ItemOf(const QModelIndex& index) const {
    return index.isValid() ? static_cast<HTREEITEM>(index.internalId()) : 0;
  }

  QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
  QModelIndex parent(const QModelIndex& index) const override;
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex&) const override { return 1; }
  QVariant data(const QModelIndex& index, int role) const override;
  void Forget() {
    beginResetModel();
    tree_ = nullptr;
    nodes_.clear();
    top_.clear();
    endResetModel();
  }

 private:
  struct Node {
    HTREEITEM parent = 0;
    int row = 0;
    std::vector<HTREEITEM> children;
  };
  CTreeCtrl* tree_ = nullptr;
  std::vector<HTREEITEM> top_;
  std::unordered_map<HTREEITEM, Node> nodes_;
};

class CTreeBinding : public CModelBinding {
 public:
  CTreeBinding(CTreeCtrl& window, QWidget* parent);
  void SyncFromModel() override;
  void Detach() override;
  QTreeView* View() const { return static_cast<QTreeView*>(Widget()); }
  CTreeItemModel* ItemModel() const { return model_; }

 private:
  CTreeItemModel* model_;
};

}  // namespace velmora
