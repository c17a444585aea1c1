// Dialog windows, their content and property sheets.
#include "frontend/dialog_window.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "frontend/dialog_units.h"
#include "frontend/images.h"
#include "frontend/text_fit.h"
#include "frontend/window_mirror.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/property_sheet.h"
#include "platform/ui/system_menu.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

std::vector<CDialogWindow*>& Windows() {
  static std::vector<CDialogWindow*> windows;  // UI thread only
  return windows;
}

}  // namespace

// ---- content ----

CDialogContentBinding::CDialogContentBinding(CDialog& dialog, QWidget* parent) : CCustomWindowBinding(dialog, parent) {
  Widget()->setAutoFillBackground(false);
}

void CDialogContentBinding::SyncFromModel() {
  CCustomWindowBinding::SyncFromModel();
  CWnd* w = Model();
  if (!w) return;
  // The top window around the content shows the dialog's caption and icon.
  if (auto* window = dynamic_cast<CDialogWindow*>(Widget()->window()); window && window->Content() == Widget()) {
    window->setWindowTitle(Qs(w->GetWindowText()));
    QIcon icon = ProgramIcon(w->IconName());
    if (!icon.isNull()) window->setWindowIcon(icon);
    // A modeless dialog hidden by ShowWindow(SW_HIDE) hides its window, and shows it again.
    if (window->isVisible() != w->IsWindowVisible() && window->isModal() == false) window->setVisible(w->IsWindowVisible());
  }
}

// ---- property sheet ----

CSheetBinding::CSheetBinding(CPropertySheet& sheet, QWidget* parent) : CDialogContentBinding(sheet, parent) {
  tabs_ = new QTabWidget(Widget());
  tabs_->setGeometry(CDialogUnits::ToPixels(sheet.TabRect()));
  for (int i = 0; i < sheet.GetPageCount(); ++i) {
    auto* slot = new QWidget();
    slots_.push_back(slot);
    tabs_->addTab(slot, Qs(sheet.GetPage(i)->GetTitle()));
  }
  tabs_->setCurrentIndex(std::max(0, sheet.GetActiveIndex()));
  QObject::connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
    auto* s = ModelAs<CPropertySheet>();
    if (!s || Syncing()) return;
    s->SetActivePage(index);  // the page being left may refuse
    if ((s = ModelAs<CPropertySheet>()) != nullptr) {
      SyncScope scope(this);
      tabs_->setCurrentIndex(s->GetActiveIndex());
    }
  });
  tabs_->show();
}

void CSheetBinding::SyncFromModel() {
  CDialogContentBinding::SyncFromModel();
  auto* s = ModelAs<CPropertySheet>();
  if (!s) return;
  SyncScope scope(this);
  for (int i = 0; i < s->GetPageCount() && i < tabs_->count(); ++i) tabs_->setTabText(i, Qs(s->GetPage(i)->GetTitle()));
  if (s->GetActiveIndex() >= 0) tabs_->setCurrentIndex(s->GetActiveIndex());
}

QWidget* CSheetBinding::ContainerFor(CWnd& child) {
  auto* s = ModelAs<CPropertySheet>();
  auto* page = dynamic_cast<CPropertyPage*>(&child);
  if (s && page) {
    int index = s->GetPageIndex(page);
    return index >= 0 && static_cast<size_t>(index) < slots_.size() ? slots_[static_cast<size_t>(index)] : nullptr;
  }
  return CDialogContentBinding::ContainerFor(child);
}

// ---- the top window ----

CDialogWindow::CDialogWindow(CDialog& dialog, QWidget* owner)
    : QDialog(owner), dialog_(&dialog), hwnd_(dialog.GetSafeHwnd()) {
  Windows().push_back(this);
  setWindowTitle(Qs(dialog.GetWindowText()));
  setSizeGripEnabled(false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  CModelBinding* binding = CWindowMirror::Get().Bind(dialog, this, false);
  content_ = binding ? binding->Widget() : new QWidget(this);
  RECT r = dialog.GetWindowRect();  // pixels once bound
  QSize size(std::max(r.Width(), 120), std::max(r.Height(), 40));
  content_->setFixedSize(size);
  layout->addWidget(content_);
  if (binding) binding->ReportGeometry(QRect(QPoint(0, 0), size));
  auto* system_menu = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  system_menu->setContext(Qt::WindowShortcut);
  connect(system_menu, &QShortcut::activated, this, [this] { ShowSystemMenu(mapToGlobal(QPoint(0, 0))); });
}

CDialogWindow::~CDialogWindow() {
  auto& windows = Windows();
  windows.erase(std::remove(windows.begin(), windows.end(), this), windows.end());
}

CDialogWindow* CDialogWindow::Of(const CDialog& dialog) {
  for (CDialogWindow* w : Windows())
    if (w->dialog_ == &dialog) return w;
  return nullptr;
}

CDialog* CDialogWindow::Dialog() const {
  // The handle tells a dialog whose window was destroyed (and maybe made again) from this one.
  return dialog_ && dialog_->GetSafeHwnd() == hwnd_ ? dialog_ : nullptr;
}

void CDialogWindow::reject() {
  if (CDialog* d = Dialog())
    d->SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
  else
    QDialog::reject();
}

void CDialogWindow::closeEvent(QCloseEvent* event) {
  CDialog* d = Dialog();
  if (!d) {
    event->accept();
    return;
  }
  // The dialog decides: its WM_CLOSE is a cancel unless it refuses; the window goes when the
  // dialog ends.
  event->ignore();
  d->SendMessage(WM_CLOSE);
}

bool CDialogWindow::ShowSystemMenu(const QPoint& global) {
  CDialog* d = Dialog();
  const CMenu* menu = d ? FindSystemMenu(*d) : nullptr;
  if (!menu) return false;
  HWND hwnd = hwnd_;
  UINT command = GetUiHost().TrackPopupMenu(*menu, global.x(), global.y(), d);
  if (command != 0 && Dialog() && Dialog()->GetSafeHwnd() == hwnd) Dialog()->SendMessage(WM_SYSCOMMAND, command);
  return true;
}

void CDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (!ShowSystemMenu(event->globalPos())) QDialog::contextMenuEvent(event);
}

void CDialogWindow::keyPressEvent(QKeyEvent* event) {
  CDialog* d = Dialog();
  if (!d || event->modifiers() & ~Qt::KeypadModifier) return QDialog::keyPressEvent(event);
  if (event->key() == Qt::Key_Escape) {
    reject();
    return;
  }
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    // The focused push button, else the default one, else IDOK.
    if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
      focused->click();
      return;
    }
    for (QPushButton* button : findChildren<QPushButton*>()) {
      if (button->isDefault() && button->isVisible()) {
        if (button->isEnabled()) button->click();
        return;
      }
    }
    d->SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace velmora
