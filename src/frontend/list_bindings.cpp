// List views and trees on Qt item views.
#include "frontend/list_bindings.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelection>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

#include "frontend/images.h"
#include "frontend/text_fit.h"
#include "platform/ui/image_list.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/window_drag.h"

namespace velmora {
namespace {

// A cell whose text does not fit its column shows "…"; its tool tip shows the whole text.
class CFitDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override {
    if (event->type() != QEvent::ToolTip || !view) return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString text = index.data(Qt::DisplayRole).toString();
    QRect rect = view->visualRect(index);
    int needed = option.fontMetrics.horizontalAdvance(text) + 8;
    if (!index.data(Qt::DecorationRole).isNull()) needed += view->iconSize().width() + 4;
    if (text.isEmpty() || needed <= rect.width()) {
      QToolTip::hideText();
      return true;
    }
    QToolTip::showText(event->globalPos(), text, view, rect);
    return true;
  }
};

void SetUpView(QTreeView* view) {
  view->setItemDelegate(new CFitDelegate(view));
  view->setTextElideMode(Qt::ElideRight);
  view->setContextMenuPolicy(Qt::PreventContextMenu);  // the model's right click shows its menu
}

// Rows as ranges for one selection call.
QItemSelection RowsSelection(const QAbstractItemModel* model, const std::vector<int>& rows) {
  QItemSelection selection;
  int last_column = std::max(0, model->columnCount() - 1);
  size_t i = 0;
  while (i < rows.size()) {
    size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    selection.select(model->index(rows[i], 0), model->index(rows[j], last_column));
    i = j + 1;
  }
  return selection;
}

// ---- the list's view ----

class CListView : public QTreeView {
 public:
  CListView(QWidget* parent) : QTreeView(parent) {}
  CListBinding* binding = nullptr;

 protected:
  CListCtrl* List() const { return binding ? binding->ModelAs<CListCtrl>() : nullptr; }

  void mousePressEvent(QMouseEvent* event) override {
    CListCtrl* list = List();
    drag_row_ = -1;
    if (!list) return QTreeView::mousePressEvent(event);
    QModelIndex index = indexAt(event->position().toPoint());
    int row = index.isValid() ? index.row() : -1;
    // Below the last row the click still names the column under it (-1 outside the columns).
    int column = index.isValid() ? index.column() : columnAt(event->position().toPoint().x());
    if (event->button() == Qt::LeftButton &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier))) {
      setFocus(Qt::MouseFocusReason);
      drag_row_ = row;
      drag_from_ = event->position().toPoint();
      list->ClickItem(row, column);
      if (binding->Model()) binding->PullSelection();
      return;
    }
    if (event->button() == Qt::RightButton) {
      setFocus(Qt::MouseFocusReason);
      QPoint global = event->globalPosition().toPoint();
      list->RightClickItem(row, POINT{global.x(), global.y()});
      if (binding->Model()) binding->PullSelection();
      return;
    }
    QTreeView::mousePressEvent(event);  // ctrl and shift clicks extend the selection
  }
  // A press on a row followed by a move past the drag distance begins a drag (LVN_BEGINDRAG);
  // the owner that takes it captures the pointer (frontend/drag_tracker).
  void mouseMoveEvent(QMouseEvent* event) override {
    CListCtrl* list = List();
    if (list && drag_row_ >= 0 && (event->buttons() & Qt::LeftButton) &&
        (event->position().toPoint() - drag_from_).manhattanLength() >= QApplication::startDragDistance()) {
      int row = drag_row_;
      drag_row_ = -1;
      BeginDragItem(*list, row);
      return;
    }
    QTreeView::mouseMoveEvent(event);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    CListCtrl* list = List();
    drag_row_ = -1;
    if (!list || event->button() != Qt::LeftButton) return;
    QModelIndex index = indexAt(event->position().toPoint());
    list->DoubleClickItem(index.isValid() ? index.row() : -1, index.isValid() ? index.column() : 0);
    if (binding->Model()) binding->PullSelection();
  }

 private:
  int drag_row_ = -1;
  QPoint drag_from_;
};

// ---- the tree's view ----

class CTreeView : public QTreeView {
 public:
  CTreeView(QWidget* parent) : QTreeView(parent) {}
  CTreeBinding* binding = nullptr;

 protected:
  CTreeCtrl* Tree() const { return binding ? binding->ModelAs<CTreeCtrl>() : nullptr; }
  HTREEITEM ItemAt(const QPoint& p) const { return binding->ItemModel()->ItemOf(indexAt(p)); }

  void mousePressEvent(QMouseEvent* event) override {
    CTreeCtrl* tree = Tree();
    if (!tree) return QTreeView::mousePressEvent(event);
    QPoint p = event->position().toPoint();
    QModelIndex index = indexAt(p);
    // The branch sign left of the item opens and closes it.
    if (index.isValid() && p.x() < visualRect(index).x()) return QTreeView::mousePressEvent(event);
    HTREEITEM item = ItemAt(p);
    setFocus(Qt::MouseFocusReason);
    if (event->button() == Qt::LeftButton) {
      if (item) {
        // The item's picture sits at the left of its cell: a click there is a click on its icon
        // (the satellite library ticks items so).
        const int icon = iconSize().isValid() ? iconSize().width() : style()->pixelMetric(QStyle::PM_SmallIconSize);
        const bool on_icon = tree->GetImageList() && p.x() < visualRect(index).x() + icon + 4;
        tree->ClickItem(item, on_icon ? TVHT_ONITEMICON : TVHT_ONITEMLABEL);
      } else {
        tree->SelectItem(item);
      }
    } else if (event->button() == Qt::RightButton) {
      QPoint global = event->globalPosition().toPoint();
      tree->RightClickItem(item, POINT{global.x(), global.y()});
    }
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    CTreeCtrl* tree = Tree();
    if (!tree || event->button() != Qt::LeftButton) return;
    HTREEITEM item = ItemAt(event->position().toPoint());
    if (!item) return;
    tree->DoubleClickItem(item);
    // Then it opens or closes, as a double click does.
    if (CTreeCtrl* still = Tree(); still && still->ItemExists(item) && still->ItemHasChildren(item))
      still->Expand(item, TVE_TOGGLE);
  }
};

}  // namespace

// ---- list model ----

void CListItemModel::Refresh() {
  int rows = list_ ? list_->GetItemCount() : 0;
  std::vector<std::string> headings;
  if (list_)
    for (int c = 0; c < list_->GetColumnCount(); ++c) headings.push_back(list_->GetColumnHeading(c));
  if (rows != rows_ || headings != headings_) {
    beginResetModel();
    rows_ = rows;
    headings_ = std::move(headings);
    endResetModel();
  } else if (rows_ > 0) {
    emit dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
  }
}

QModelIndex CListItemModel::index(int row, int column, const QModelIndex& parent) const {
  if (parent.isValid() || row < 0 || row >= rows_ || column < 0 || column >= columnCount()) return {};
  return createIndex(row, column);
}

int CListItemModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

int CListItemModel::columnCount(const QModelIndex&) const {
  return std::max<int>(1, static_cast<int>(headings_.size()));
}

QVariant CListItemModel::data(const QModelIndex& index, int role) const {
  if (!list_ || !index.isValid() || index.row() >= list_->GetItemCount()) return {};
  switch (role) {
    case Qt::DisplayRole: return Qs(list_->GetItemText(index.row(), index.column()));
    case Qt::DecorationRole: {
      if (index.column() > 0 && !(list_->GetExtendedStyle() & LVS_EX_SUBITEMIMAGES)) return {};
      QPixmap p = ImageListPixmap(list_->GetImageList(), list_->GetItemImage(index.row(), index.column()));
      return p.isNull() ? QVariant() : QVariant(p);
    }
    default: return {};
  }
}

QVariant CListItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return section >= 0 && section < static_cast<int>(headings_.size()) ? Qs(headings_[static_cast<size_t>(section)])
                                                                      : QVariant();
}

// ---- list binding ----

CListBinding::CListBinding(CListCtrl& window, QWidget* parent) : CModelBinding(window, new CListView(parent)) {
  auto* view = static_cast<CListView*>(Widget());
  view->binding = this;
  SetUpView(view);
  view->setRootIsDecorated(false);
  view->setUniformRowHeights(true);
  view->setItemsExpandable(false);
  view->setAllColumnsShowFocus(true);
  view->setSelectionBehavior(QAbstractItemView::SelectRows);
  view->setSelectionMode(QAbstractItemView::ExtendedSelection);
  view->header()->setSectionsClickable(true);
  view->header()->setStretchLastSection(false);
  model_ = new CListItemModel(view);
  model_->SetList(&window);
  view->setModel(model_);
  QObject::connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    if (!Syncing()) PushSelection();
  });
  QObject::connect(view->header(), &QHeaderView::sectionClicked, this, [this](int section) {
    if (auto* list = ModelAs<CListCtrl>()) list->ClickColumn(section);
  });
}

void CListBinding::Detach() {
  model_->SetList(nullptr);
  model_->Refresh();
  CModelBinding::Detach();
}

void CListBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* list = ModelAs<CListCtrl>();
  if (!list) return;
  SyncScope scope(this);
  QTreeView* view = View();
  int scroll = view->verticalScrollBar()->value();
  int rows_before = model_->rowCount(), columns_before = model_->columnCount();
  model_->Refresh();
  if (model_->rowCount() != rows_before || model_->columnCount() != columns_before || view->header()->count() == 0) {
    view->header()->setVisible(list->GetColumnCount() > 0);
    for (int c = 0; c < list->GetColumnCount(); ++c) view->setColumnWidth(c, list->GetColumnWidth(c));
    if (CImageList* images = list->GetImageList()) view->setIconSize(QSize(images->Width(), images->Height()));
    view->verticalScrollBar()->setValue(scroll);
  }
  PullSelection();
}

void CListBinding::PullSelection() {
  auto* list = ModelAs<CListCtrl>();
  if (!list) return;
  SyncScope scope(this);
  QItemSelectionModel* selection = View()->selectionModel();
  selection->select(RowsSelection(model_, list->GetSelectedItems()),
                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  int focused = list->GetNextItem(-1, LVNI_FOCUSED);
  if (focused >= 0) selection->setCurrentIndex(model_->index(focused, 0), QItemSelectionModel::NoUpdate);
}

void CListBinding::PushSelection() {
  auto* list = ModelAs<CListCtrl>();
  if (!list) return;
  const QModelIndexList rows = View()->selectionModel()->selectedRows();
  std::vector<char> wanted(static_cast<size_t>(list->GetItemCount()), 0);
  for (const QModelIndex& index : rows)
    if (index.row() >= 0 && static_cast<size_t>(index.row()) < wanted.size()) wanted[static_cast<size_t>(index.row())] = 1;
  for (int i = 0; i < list->GetItemCount() && ModelAs<CListCtrl>(); ++i) {
    bool on = wanted[static_cast<size_t>(i)] != 0;
    if ((list->GetItemState(i, LVIS_SELECTED) != 0) != on) list->SetItemState(i, on ? LVIS_SELECTED : 0, LVIS_SELECTED);
  }
  QModelIndex current = View()->selectionModel()->currentIndex();
  if (ModelAs<CListCtrl>() && current.isValid() && !list->GetItemState(current.row(), LVIS_FOCUSED))
    list->SetItemState(current.row(), LVIS_FOCUSED, LVIS_FOCUSED);
}

// ---- tree model ----

void CTreeItemModel::Rebuild(CTreeCtrl* tree) {
  beginResetModel();
  tree_ = tree;
  nodes_.clear();
  top_.clear();
  if (tree_) {
    top_ = tree_->GetChildren(TVI_ROOT);
    std::vector<HTREEITEM> pending;
    for (size_t i = 0; i < top_.size(); ++i) {
      nodes_[top_[i]] = Node{0, static_cast<int>(i), {}};
      pending.push_back(top_[i]);
    }
    while (!pending.empty()) {
      HTREEITEM item = pending.back();
      pending.pop_back();
      std::vector<HTREEITEM> children = tree_->GetChildren(item);
      for (size_t i = 0; i < children.size(); ++i) {
        nodes_[children[i]] = Node{item, static_cast<int>(i), {}};
        pending.push_back(children[i]);
      }
      nodes_[item].children = std::move(children);
    }
  }
  endResetModel();
}

QModelIndex CTreeItemModel::IndexOf(HTREEITEM item) const {
  auto it = nodes_.find(item);
  return it == nodes_.end() ? QModelIndex() : createIndex(it->second.row, 0, static_cast<quintptr>(item));
}

QModelIndex CTreeItemModel::index(int row, int column, const QModelIndex& parent) const {
  if (column != 0 || row < 0) return {};
  const std::vector<HTREEITEM>* siblings = &top_;
  if (parent.isValid()) {
    auto it = nodes_.find(ItemOf(parent));
    if (it == nodes_.end()) return {};
    siblings = &it->second.children;
  }
  if (row >= static_cast<int>(siblings->size())) return {};
  return createIndex(row, 0, static_cast<quintptr>((*siblings)[static_cast<size_t>(row)]));
}

QModelIndex CTreeItemModel::parent(const QModelIndex& index) const {
  auto it = nodes_.find(ItemOf(index));
  if (it == nodes_.end() || it->second.parent == 0) return {};
  return IndexOf(it->second.parent);
}

int CTreeItemModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return static_cast<int>(top_.size());
  auto it = nodes_.find(ItemOf(parent));
  return it == nodes_.end() ? 0 : static_cast<int>(it->second.children.size());
}

QVariant CTreeItemModel::data(const QModelIndex& index, int role) const {
  HTREEITEM item = ItemOf(index);
  if (!tree_ || !tree_->ItemExists(item)) return {};
  switch (role) {
    case Qt::DisplayRole: return Qs(tree_->GetItemText(item));
    case Qt::DecorationRole: {
      int image = 0, selected = 0;
      tree_->GetItemImage(item, &image, &selected);
      QPixmap p = ImageListPixmap(tree_->GetImageList(), tree_->GetSelectedItem() == item ? selected : image);
      return p.isNull() ? QVariant() : QVariant(p);
    }
    default: return {};
  }
}

// ---- tree binding ----

CTreeBinding::CTreeBinding(CTreeCtrl& window, QWidget* parent) : CModelBinding(window, new CTreeView(parent)) {
  auto* view = static_cast<CTreeView*>(Widget());
  view->binding = this;
  SetUpView(view);
  view->setHeaderHidden(true);
  view->setExpandsOnDoubleClick(false);  // the double click handler toggles through the model
  view->setSelectionMode(QAbstractItemView::SingleSelection);
  model_ = new CTreeItemModel(view);
  view->setModel(model_);
  QObject::connect(view, &QTreeView::expanded, this, [this](const QModelIndex& index) {
    if (auto* tree = ModelAs<CTreeCtrl>(); tree && !Syncing()) tree->Expand(model_->ItemOf(index), TVE_EXPAND);
  });
  QObject::connect(view, &QTreeView::collapsed, this, [this](const QModelIndex& index) {
    if (auto* tree = ModelAs<CTreeCtrl>(); tree && !Syncing()) tree->Expand(model_->ItemOf(index), TVE_COLLAPSE);
  });
  // Keys that move the current item choose it.
  QObject::connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
                   [this](const QModelIndex& current) {
                     if (auto* tree = ModelAs<CTreeCtrl>(); tree && !Syncing()) tree->SelectItem(model_->ItemOf(current));
                   });
}

void CTreeBinding::Detach() {
  model_->Forget();
  CModelBinding::Detach();
}

void CTreeBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* tree = ModelAs<CTreeCtrl>();
  if (!tree) return;
  SyncScope scope(this);
  QTreeView* view = View();
  int scroll = view->verticalScrollBar()->value();
  model_->Rebuild(tree);
  // Expanded items, parents before children.
  std::vector<HTREEITEM> pending = tree->GetChildren(TVI_ROOT);
  while (!pending.empty()) {
    HTREEITEM item = pending.back();
    pending.pop_back();
    if (!tree->IsExpanded(item)) continue;
    view->setExpanded(model_->IndexOf(item), true);
    for (HTREEITEM child : tree->GetChildren(item)) pending.push_back(child);
  }
  QModelIndex selected = model_->IndexOf(tree->GetSelectedItem());
  view->selectionModel()->setCurrentIndex(selected, QItemSelectionModel::ClearAndSelect);
  view->verticalScrollBar()->setValue(scroll);
}

}  // namespace velmora
