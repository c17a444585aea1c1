// The extended combo box on Qt: editable box, the model's edit field and the drop-down list.
#include "frontend/combo_box_ex_binding.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QStandardItemModel>
#include <QWheelEvent>
#include <algorithm>

#include "frontend/images.h"
#include "frontend/text_fit.h"
#include "platform/ui/combo_box_ex.h"
#include "shell/menu_edit.h"

namespace velmora {
namespace {

constexpr int kMaxListRows = 12;

// Byte offset in the UTF-8 text of a position in the QString.
int ByteOffset(const QString& text, qsizetype pos) { return static_cast<int>(Utf8(text.left(pos)).size()); }

// The box itself: its arrow opens our list, Enter is left to the box's parents (the address bar
// makes it the frame's Enter), the wheel never changes the text.
class CEditableCombo : public QComboBox {
 public:
  explicit CEditableCombo(QWidget* parent) : QComboBox(parent) {}
  CComboBoxExBinding* binding = nullptr;

  void showPopup() override {
    if (binding) binding->ToggleList();
  }
  void hidePopup() override {
    if (binding) binding->CloseList();
  }

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        event->ignore();
        return;
      case Qt::Key_Down:
      case Qt::Key_Up:
        if (binding) binding->MoveInList(event->key() == Qt::Key_Down ? 1 : -1);
        return;
      default:
        QComboBox::keyPressEvent(event);
    }
  }
  void wheelEvent(QWheelEvent* event) override { event->ignore(); }
};

}  // namespace

CComboBoxExBinding::CComboBoxExBinding(CComboBoxEx& window, QWidget* parent)
    : CModelBinding(window, new CEditableCombo(parent)) {
  auto* combo = static_cast<CEditableCombo*>(Widget());
  combo->binding = this;
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setDuplicatesEnabled(true);
  combo->setCompleter(nullptr);  // the box's own search, not Qt's completion, answers the typing
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(12);
  QLineEdit* edit = combo->lineEdit();
  edit->setObjectName(QStringLiteral("ComboEdit"));
  // textEdited is the person's typing only, never our own setText.
  QObject::connect(edit, &QLineEdit::textEdited, this, [this](const QString& text) {
    auto* model = ModelAs<CComboBoxEx>();
    if (CEdit* e = model ? model->GetEditCtrl() : nullptr) e->Type(Utf8(text));
  });
  edit->installEventFilter(this);

  items_ = new QStandardItemModel(this);
  list_ = new QListView(combo);
  list_->setObjectName(QStringLiteral("ComboDropDown"));
  list_->setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
  list_->setModel(items_);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setUniformItemSizes(true);
  list_->setIconSize(QSize(16, 16));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->installEventFilter(this);
  QObject::connect(list_, &QListView::clicked, this, [this](const QModelIndex& index) { Choose(index.row()); });
}

CComboBoxExBinding::~CComboBoxExBinding() = default;

QComboBox* CComboBoxExBinding::Combo() const { return static_cast<QComboBox*>(Widget()); }

QLineEdit* CComboBoxExBinding::Edit() const { return Combo() ? Combo()->lineEdit() : nullptr; }

void CComboBoxExBinding::Detach() {
  if (list_) list_->hide();
  CModelBinding::Detach();
}

void CComboBoxExBinding::SyncItems(CComboBoxEx& combo) {
  std::vector<std::pair<std::string, std::pair<int, int>>> now;
  now.reserve(static_cast<size_t>(combo.GetCount()));
  for (int i = 0; i < combo.GetCount(); ++i) {
    int image = 0, selected = 0;
    combo.GetItemImage(i, &image, &selected);
    now.emplace_back(combo.GetLBText(i), std::make_pair(image, selected));
  }
  if (now == shown_) return;
  shown_ = std::move(now);
  items_->clear();
  for (const auto& [text, images] : shown_) {
    auto* item = new QStandardItem(Qs(text));
    QPixmap picture = ImageListPixmap(combo.GetImageList(), images.first);
    if (!picture.isNull()) item->setIcon(QIcon(picture));
    item->setToolTip(Qs(text));
    items_->appendRow(item);
  }
}

void CComboBoxExBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* combo = ModelAs<CComboBoxEx>();
  if (!combo) return;
  SyncScope scope(this);
  SyncItems(*combo);
  QLineEdit* edit = Edit();
  const QString text = Qs(combo->GetEditText());
  if (edit->text() != text) edit->setText(text);
  CEdit* model_edit = combo->GetEditCtrl();
  auto* menu_edit = dynamic_cast<CMenuEdit*>(model_edit);
  edit->setPlaceholderText(menu_edit && menu_edit->IsCueShown() ? Qs(menu_edit->cue_text) : QString());
  edit->setReadOnly(model_edit && model_edit->IsReadOnly());
  const bool open = combo->GetDroppedState() && combo->GetCount() > 0;
  if (open && !list_->isVisible())
    ShowList();
  else if (!open && list_->isVisible())
    HideList();
}

void CComboBoxExBinding::ShowList() {
  QComboBox* combo = Combo();
  if (!combo || items_->rowCount() == 0) return;
  const int rows = std::min(items_->rowCount(), kMaxListRows);
  const int frame = 2 * list_->frameWidth();
  const int row_height = std::max(list_->sizeHintForRow(0), combo->fontMetrics().height() + 4);
  const int width = std::max(combo->width(), std::min(list_->sizeHintForColumn(0) + frame + 24, 2 * combo->width()));
  QPoint at = combo->mapToGlobal(QPoint(0, combo->height()));
  // Above the box when there is no room below it.
  const int height = rows * row_height + frame;
  if (QScreen* screen = combo->screen(); screen && at.y() + height > screen->availableGeometry().bottom())
    at.setY(combo->mapToGlobal(QPoint(0, 0)).y() - height);
  list_->setGeometry(at.x(), at.y(), width, height);
  list_->setCurrentIndex(QModelIndex());
  list_->clearSelection();
  list_->show();
}

void CComboBoxExBinding::HideList() {
  SyncScope scope(this);
  list_->hide();
}

void CComboBoxExBinding::ToggleList() {
  auto* combo = ModelAs<CComboBoxEx>();
  if (!combo) return;
  combo->ShowDropDown(!combo->GetDroppedState());
  SyncFromModel();
}

void CComboBoxExBinding::CloseList() {
  if (auto* combo = ModelAs<CComboBoxEx>()) combo->ShowDropDown(false);
  if (list_->isVisible()) HideList();
}

void CComboBoxExBinding::MoveInList(int step) {
  auto* combo = ModelAs<CComboBoxEx>();
  if (!combo || combo->GetCount() == 0) return;
  if (!combo->GetDroppedState()) {
    combo->ShowDropDown(true);
    SyncFromModel();
  }
  const int rows = items_->rowCount();
  const int current = list_->currentIndex().isValid() ? list_->currentIndex().row() : (step > 0 ? -1 : rows);
  const int next = std::clamp(current + step, 0, rows - 1);
  list_->setCurrentIndex(items_->index(next, 0));
}

void CComboBoxExBinding::Choose(int row) {
  HideList();
  if (auto* combo = ModelAs<CComboBoxEx>()) combo->Select(row);
}

bool CComboBoxExBinding::eventFilter(QObject* watched, QEvent* event) {
  QLineEdit* edit = Edit();
  if (watched == edit && event->type() == QEvent::ContextMenu) {
    // The edit's own menu goes to the model when it has one (a CMenuEdit with extra items).
    auto* combo = ModelAs<CComboBoxEx>();
    auto* menu_edit = combo ? dynamic_cast<CMenuEdit*>(combo->GetEditCtrl()) : nullptr;
    if (!menu_edit || menu_edit->MenuItems().empty()) return false;
    const QString text = edit->text();
    if (edit->hasSelectedText()) {
      const qsizetype start = edit->selectionStart();
      menu_edit->SetSel(ByteOffset(text, start), ByteOffset(text, start + edit->selectedText().size()));
    } else {
      const int caret = ByteOffset(text, edit->cursorPosition());
      menu_edit->SetSel(caret, caret);
    }
    const QPoint global = static_cast<QContextMenuEvent*>(event)->globalPos();
    menu_edit->SendMessage(WM_CONTEXTMENU, menu_edit->GetSafeHwnd(), MAKELPARAM(global.x(), global.y()));
    return true;
  }
  if (watched != list_) return false;
  switch (event->type()) {
    case QEvent::Hide:
      // Closed by Qt (a click elsewhere) rather than by the model: the model hears of it.
      if (!Syncing())
        if (auto* combo = ModelAs<CComboBoxEx>(); combo && combo->GetDroppedState()) combo->ShowDropDown(false);
      return false;
    case QEvent::KeyPress: {
      auto* key = static_cast<QKeyEvent*>(event);
      switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
          return false;  // the list moves its highlight
        case Qt::Key_Return:
        case Qt::Key_Enter: {
          const QModelIndex current = list_->currentIndex();
          if (current.isValid()) {
            Choose(current.row());
          } else {
            CloseList();
            if (QComboBox* combo = Combo()) QApplication::sendEvent(combo, key);
          }
          return true;
        }
        case Qt::Key_Escape:
          CloseList();
          return true;
        default:
          // Typing goes on in the edit field while the list is open.
          if (edit) QApplication::sendEvent(edit, key);
          return true;
      }
      return true;
    }
    case QEvent::KeyRelease:
    case QEvent::InputMethod:
      if (edit) QApplication::sendEvent(edit, event);
      return true;
    default:
      return false;
  }
}

}  // namespace velmora
