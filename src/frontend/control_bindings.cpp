// Static texts, buttons, edit fields, combo boxes and progress bars.
#include "frontend/control_bindings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLabel>
#include <QFontDatabase>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <functional>

#include "frontend/custom_window.h"
#include "frontend/images.h"
#include "frontend/text_fit.h"
#include "platform/ui/controls.h"
#include "platform/ui/image_list.h"
#include "shell/menu_edit.h"

namespace velmora {
namespace {

// A static text; a static that draws itself (a colour or font sample, a picture) shows its
// picture instead. Mouse buttons reach the model (a link static answers a click).
class CTextLabel : public QLabel {
 public:
  CTextLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setMouseTracking(true);  // a static that draws itself may follow the pointer (a chart's crosshair)
  }
  CStaticBinding* binding = nullptr;

 protected:
  CWnd* Model() const { return binding ? binding->Model() : nullptr; }
  void paintEvent(QPaintEvent* event) override {
    CWnd* w = Model();
    if (w && canvas_.Paint(*w, *this)) return;
    QLabel::paintEvent(event);
  }
  void resizeEvent(QResizeEvent* event) override {
    QLabel::resizeEvent(event);
    if (binding) binding->FitText();
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (CWnd* w = Model()) SendMousePress(*w, event, false);
  }
  void mouseDoubleClickEvent(QMouseEvent* event) override {
    if (CWnd* w = Model()) SendMousePress(*w, event, true);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (CWnd* w = Model()) SendMouseRelease(*w, event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (CWnd* w = Model()) SendMouseMove(*w, event);
  }

 private:
  CModelCanvas canvas_;
};

QColor FromBgr(int64_t bgr) {
  auto v = static_cast<uint32_t>(bgr);
  return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF);
}

// Byte offset in the UTF-8 text of a position in the QString.
int ByteOffset(const QString& text, qsizetype pos) {
  return static_cast<int>(Utf8(text.left(pos)).size());
}

QString EditText(const std::string& text) {
  QString q = Qs(text);
  q.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return q;
}

// Resizes fit the text again.
class CResizeWatcher : public QObject {
 public:
  CResizeWatcher(QWidget* widget, std::function<void()> on_resize) : QObject(widget), on_resize_(std::move(on_resize)) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Resize) on_resize_();
    return false;
  }

 private:
  std::function<void()> on_resize_;
};

}  // namespace

bool IsMultiLineHeight(const QWidget& widget, int height) {
  return height >= widget.fontMetrics().height() * 9 / 5;
}

// ---- static ----

CStaticBinding::CStaticBinding(CStatic& window, QWidget* parent) : CModelBinding(window, new CTextLabel(parent)) {
  static_cast<CTextLabel*>(Widget())->binding = this;
}

void CStaticBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* s = ModelAs<CStatic>();
  if (!s) return;
  auto* label = static_cast<QLabel*>(Widget());
  full_ = StaticText(Qs(s->GetWindowText()));
  if (s->TextColor() >= 0) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, FromBgr(s->TextColor()));
    label->setPalette(palette);
  } else {
    label->setPalette(QPalette());  // the parent's colours
  }
  FitText();
  label->update();  // a static that draws itself repaints on every change
}

void CStaticBinding::FitText() {
  auto* label = static_cast<QLabel*>(Widget());
  if (!label) return;
  if (IsMultiLineHeight(*label, label->height()) || full_.contains(QLatin1Char('\n'))) {
    label->setWordWrap(true);
    label->setText(full_);
    // Too many lines for the box: the last ones show (the newest of a status log) and the tool
    // tip holds the whole text.
    bool over = label->heightForWidth(label->width()) > label->height();
    label->setAlignment(Qt::AlignLeft | (over ? Qt::AlignBottom : Qt::AlignTop));
    label->setToolTip(over ? full_ : QString());
  } else {
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    FittedText fit = velmora::FitText(label->fontMetrics(), full_, label->width());
    label->setText(fit.shown);
    label->setToolTip(fit.shortened ? full_ : QString());
  }
}

// ---- buttons ----

namespace {

QWidget* MakeButtonWidget(CButton& button, QWidget* parent) {
  switch (button.GetKind()) {
    case CButton::Kind::kCheckBox: return new QCheckBox(parent);
    case CButton::Kind::kRadio: {
      auto* r = new QRadioButton(parent);
      r->setAutoExclusive(false);  // the model unchecks the other radio buttons itself
      return r;
    }
    case CButton::Kind::kGroupBox: return new QGroupBox(parent);
    case CButton::Kind::kDefPush:
    case CButton::Kind::kPush: return new QPushButton(parent);
  }
  return new QPushButton(parent);
}

}  // namespace

CButtonBinding::CButtonBinding(CButton& window, QWidget* parent)
    : CModelBinding(window, MakeButtonWidget(window, parent)) {
  QWidget* w = Widget();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    QObject::connect(b, &QAbstractButton::clicked, this, [this] {
      if (auto* model = ModelAs<CButton>()) model->Click();
    });
  }
  if (auto* push = qobject_cast<QPushButton*>(w)) {
    push->setDefault(window.GetKind() == CButton::Kind::kDefPush);
  }
  if (qobject_cast<QGroupBox*>(w)) {
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    w->lower();  // a frame behind the controls it groups
  }
  new CResizeWatcher(w, [this] { FitText(); });
}

void CButtonBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* b = ModelAs<CButton>();
  if (!b) return;
  SyncScope scope(this);
  full_ = Qs(b->GetWindowText());
  if (auto* check = qobject_cast<QCheckBox*>(Widget())) {
    check->setTristate(b->GetCheck() == BST_INDETERMINATE);
    check->setCheckState(b->GetCheck() == BST_CHECKED         ? Qt::Checked
                         : b->GetCheck() == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                              : Qt::Unchecked);
  } else if (auto* radio = qobject_cast<QRadioButton*>(Widget())) {
    radio->setChecked(b->GetCheck() == BST_CHECKED);
  }
  if (auto* push = qobject_cast<QPushButton*>(Widget())) {
    QPixmap icon = LoadProgramImage(b->IconName());
    push->setIcon(icon.isNull() ? QIcon() : QIcon(icon));
  }
  FitText();
}

void CButtonBinding::FitText() {
  QWidget* w = Widget();
  if (!w) return;
  // Room for the text: the width less the box or the button's frame.
  int room = w->width() - (qobject_cast<QPushButton*>(w) ? 12 : qobject_cast<QGroupBox*>(w) ? 16 : 22);
  if (auto* push = qobject_cast<QPushButton*>(w); push && !push->icon().isNull()) room -= push->iconSize().width() + 4;
  bool group = qobject_cast<QGroupBox*>(w) != nullptr;
  QString text = group ? StaticText(full_) : full_;
  FittedText fit = velmora::FitText(w->fontMetrics(), text, room, !group);
  if (auto* b = qobject_cast<QAbstractButton*>(w))
    b->setText(fit.shown);
  else if (auto* g = qobject_cast<QGroupBox*>(w))
    g->setTitle(fit.shown);
  w->setToolTip(fit.shortened ? StaticText(full_) : QString());
}

// ---- edit ----

namespace {

// The edit's own context menu goes to the model when the model has one (CMenuEdit with extra
// items); otherwise the toolkit's edit menu shows.
class CEditMenuFilter : public QObject {
 public:
  CEditMenuFilter(CEditBinding* binding) : QObject(binding->Widget()), binding_(binding) {
    binding->Widget()->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::ContextMenu) return false;
    auto* edit = binding_->ModelAs<CMenuEdit>();
    if (!edit || edit->MenuItems().empty()) return false;
    binding_->PushSelection();
    QPoint global = static_cast<QContextMenuEvent*>(event)->globalPos();
    edit->SendMessage(WM_CONTEXTMENU, edit->GetSafeHwnd(), MAKELPARAM(global.x(), global.y()));
    return true;
  }

 private:
  CEditBinding* binding_;
};

}  // namespace

CEditBinding::CEditBinding(CEdit& window, QWidget* parent, bool multi_line)
    : CModelBinding(window,
                    multi_line ? static_cast<QWidget*>(new QPlainTextEdit(parent)) : new QLineEdit(parent)),
      multi_line_(multi_line) {
  if (auto* line = qobject_cast<QLineEdit*>(Widget())) {
    // textEdited is the person's typing only, never our own setText.
    QObject::connect(line, &QLineEdit::textEdited, this, [this](const QString& text) {
      if (auto* e = ModelAs<CEdit>()) e->Type(Utf8(text));
    });
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(Widget())) {
    plain->setTabChangesFocus(true);
    QObject::connect(plain, &QPlainTextEdit::textChanged, this, [this, plain] {
      if (Syncing()) return;
      if (auto* e = ModelAs<CEdit>()) e->Type(Utf8(plain->toPlainText()));
    });
  }
  new CEditMenuFilter(this);
}

void CEditBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* e = ModelAs<CEdit>();
  if (!e) return;
  SyncScope scope(this);
  QString text = EditText(e->GetWindowText());
  if (auto* line = qobject_cast<QLineEdit*>(Widget())) {
    if (line->text() != text) line->setText(text);
    line->setReadOnly(e->IsReadOnly());
    if (auto* menu_edit = dynamic_cast<CMenuEdit*>(e); menu_edit && menu_edit->IsCueShown())
      line->setPlaceholderText(Qs(menu_edit->cue_text));
    bool wide = line->fontMetrics().horizontalAdvance(text) > line->width() - 8;
    line->setToolTip(wide ? text : QString());
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(Widget())) {
    if (plain->toPlainText() != text) plain->setPlainText(text);
    plain->setReadOnly(e->IsReadOnly());
  }
  if (auto* menu_edit = dynamic_cast<CMenuEdit*>(e); menu_edit && menu_edit->fixed_font) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (Widget()->font() != fixed) Widget()->setFont(fixed);
  }
}

void CEditBinding::PushSelection() {
  auto* e = ModelAs<CEdit>();
  if (!e) return;
  if (auto* line = qobject_cast<QLineEdit*>(Widget())) {
    const QString text = line->text();
    if (line->hasSelectedText()) {
      qsizetype start = line->selectionStart();
      e->SetSel(ByteOffset(text, start), ByteOffset(text, start + line->selectedText().size()));
    } else {
      int caret = ByteOffset(text, line->cursorPosition());
      e->SetSel(caret, caret);
    }
  }
}

// ---- combo box ----

namespace {

// The right button on a combo box reaches the model (WM_RBUTTONDOWN, WM_RBUTTONUP and then
// WM_CONTEXTMENU), for combo boxes that offer something on a right click.
class CRightButtonFilter : public QObject {
 public:
  explicit CRightButtonFilter(CModelBinding* binding) : QObject(binding->Widget()), binding_(binding) {
    binding->Widget()->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease) return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    CWnd* w = binding_->Model();
    if (!w || mouse->button() != Qt::RightButton) return false;
    if (event->type() == QEvent::MouseButtonPress)
      SendMousePress(*w, mouse, false);
    else
      SendMouseRelease(*w, mouse);
    return true;
  }

 private:
  CModelBinding* binding_;
};

}  // namespace

CComboBinding::CComboBinding(CComboBox& window, QWidget* parent) : CModelBinding(window, new QComboBox(parent)) {
  new CRightButtonFilter(this);
  auto* combo = static_cast<QComboBox*>(Widget());
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  combo->setMinimumContentsLength(1);
  // activated is the person's choice only.
  QObject::connect(combo, &QComboBox::activated, this, [this](int index) {
    if (auto* c = ModelAs<CComboBox>()) c->Select(index);
  });
}

void CComboBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* c = ModelAs<CComboBox>();
  if (!c) return;
  SyncScope scope(this);
  auto* combo = static_cast<QComboBox*>(Widget());
  std::vector<std::string> items;
  items.reserve(static_cast<size_t>(c->GetCount()));
  for (int i = 0; i < c->GetCount(); ++i) items.push_back(c->GetLBText(i));
  // Items with pictures (an image list) show them beside the text.
  std::vector<int> images;
  const CImageList* list = c->GetImageList();
  if (list)
    for (int i = 0; i < c->GetCount(); ++i) images.push_back(c->GetItemImage(i));
  if (items != items_ || images != images_ || list != image_list_) {
    items_ = std::move(items);
    images_ = std::move(images);
    image_list_ = list;
    combo->clear();
    if (list) combo->setIconSize(QSize(list->Width(), list->Height()));
    for (size_t i = 0; i < items_.size(); ++i) {
      QPixmap picture = i < images_.size() ? ImageListPixmap(list, images_[i]) : QPixmap();
      if (picture.isNull())
        combo->addItem(Qs(items_[i]));
      else
        combo->addItem(QIcon(picture), Qs(items_[i]));
      if (!items_[i].empty()) combo->setItemData(combo->count() - 1, Qs(items_[i]), Qt::ToolTipRole);
    }
  }
  combo->setCurrentIndex(c->GetCurSel());
  // The template's height includes the drop-down list; the box itself is one line high.
  int height = combo->sizeHint().height();
  if (combo->height() != height) combo->resize(combo->width(), height);
  QString current = combo->currentText();
  combo->setToolTip(combo->fontMetrics().horizontalAdvance(current) > combo->width() - 24 ? current : QString());
}

// ---- progress ----

CProgressBinding::CProgressBinding(CProgressCtrl& window, QWidget* parent)
    : CModelBinding(window, new QProgressBar(parent)) {
  static_cast<QProgressBar*>(Widget())->setTextVisible(false);
}

void CProgressBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  auto* p = ModelAs<CProgressCtrl>();
  if (!p) return;
  auto* bar = static_cast<QProgressBar*>(Widget());
  int low = 0, high = 0;
  p->GetRange(&low, &high);
  bar->setRange(low, high);
  bar->setValue(p->GetPos());
}

}  // namespace velmora
