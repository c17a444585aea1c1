// Message boxes, choosers, menus and dialogs on Qt.
#include "frontend/qt_ui_host.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <vector>

#include "core/log.h"
#include "frontend/dialog_window.h"
#include "frontend/dispatcher_bridge.h"
#include "frontend/model_binding.h"
#include "frontend/text_fit.h"
#include "frontend/window_mirror.h"
#include "platform/ui/dialog.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

QPointer<QWidget>& MainWidget() {
  static QPointer<QWidget> main;
  return main;
}

struct BoxButton {
  int id;
  const char* text;
  QMessageBox::ButtonRole role;
};

std::vector<BoxButton> BoxButtons(UINT type) {
  const BoxButton ok{IDOK, "确定", QMessageBox::AcceptRole}, cancel{IDCANCEL, "取消", QMessageBox::RejectRole},
      abort{IDABORT, "中止(&A)", QMessageBox::RejectRole}, retry{IDRETRY, "重试(&R)", QMessageBox::AcceptRole},
      ignore{IDIGNORE, "忽略(&I)", QMessageBox::AcceptRole}, yes{IDYES, "是(&Y)", QMessageBox::YesRole},
      no{IDNO, "否(&N)", QMessageBox::NoRole};
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {ok, cancel};
    case MB_ABORTRETRYIGNORE: return {abort, retry, ignore};
    case MB_YESNOCANCEL: return {yes, no, cancel};
    case MB_YESNO: return {yes, no};
    case MB_RETRYCANCEL: return {retry, cancel};
    default: return {ok};
  }
}

// The answer of a box closed without a button: Cancel where the box has it, else the answer
// that gives nothing up (OK of a plain box, No, Abort).
int CloseAnswer(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_YESNO: return IDNO;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_OK: return IDOK;
    default: return IDCANCEL;
  }
}

QMenu* BuildMenu(const CMenu& menu, QWidget* parent) {
  auto* qmenu = new QMenu(parent);
  for (int i = 0; i < menu.GetMenuItemCount(); ++i) {
    const CMenu::Item& item = menu.GetItem(i);
    if (item.IsSeparator()) {
      qmenu->addSeparator();
    } else if (item.popup) {
      QMenu* sub = BuildMenu(*item.popup, qmenu);
      sub->setTitle(Qs(item.text));
      sub->setEnabled(item.IsEnabled());
      qmenu->addMenu(sub);
    } else {
      QAction* action = qmenu->addAction(Qs(item.text));
      action->setEnabled(item.IsEnabled());
      action->setCheckable(item.IsChecked());
      action->setChecked(item.IsChecked());
      action->setData(static_cast<uint>(item.id));
    }
  }
  return qmenu;
}

// Brings a window to the front (platforms without window stacking, such as offscreen, skip it).
void RaiseWindow(QWidget* window) {
  if (QGuiApplication::platformName() != QStringLiteral("offscreen")) window->raise();
  window->activateWindow();
}

}  // namespace

void CQtUiHost::SetMainWidget(QWidget* widget) { MainWidget() = widget; }

QWidget* CQtUiHost::OwnerWidget(CWnd* owner) {
  for (CWnd* w = owner; w; w = w->GetParent())
    if (QWidget* widget = CWindowMirror::Get().WidgetOf(w); widget && widget->isVisible()) return widget->window();
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  if (QWidget* active = QApplication::activeWindow()) return active;
  return MainWidget();
}

QString CQtUiHost::NameFilter(const std::string& label, const std::vector<std::string>& patterns) {
  QString name = Qs(label).trimmed();
  // The label usually repeats its patterns in brackets: Qt reads them from the last brackets.
  if (name.endsWith(QLatin1Char(')')) && name.contains(QLatin1Char('('))) name = name.left(name.lastIndexOf('(')).trimmed();
  QStringList list;
  for (const std::string& p : patterns) list << Qs(p);
  return name + QStringLiteral(" (") + list.join(QLatin1Char(' ')) + QLatin1Char(')');
}

int CQtUiHost::MessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) {
  // Windows live on the UI thread: a box asked for by a worker is shown there, the worker waits.
  if (!UiDispatcher().IsUiThread()) {
    int answer = CloseAnswer(type);
    UiDispatcher().SendCall([&] { answer = MessageBox(nullptr, text, caption, type); });
    return answer;
  }
  AppLog("message: %s", text.c_str());
  QMessageBox box(OwnerWidget(owner));
  box.setWindowTitle(Qs(caption));
  box.setText(Qs(text));
  box.setTextFormat(Qt::PlainText);
  switch (type & 0xF0) {
    case MB_ICONERROR: box.setIcon(QMessageBox::Critical); break;
    case MB_ICONQUESTION: box.setIcon(QMessageBox::Question); break;
    case MB_ICONWARNING: box.setIcon(QMessageBox::Warning); break;
    case MB_ICONINFORMATION: box.setIcon(QMessageBox::Information); break;
    default: break;
  }
  std::vector<std::pair<QAbstractButton*, int>> buttons;
  int default_id = DefaultMessageBoxAnswer(type), escape_id = CloseAnswer(type);
  for (const BoxButton& b : BoxButtons(type)) {
    QPushButton* button = box.addButton(QString::fromUtf8(b.text), b.role);
    buttons.emplace_back(button, b.id);
    if (b.id == default_id) box.setDefaultButton(button);
    if (b.id == escape_id) box.setEscapeButton(button);
  }
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  for (const auto& [button, id] : buttons)
    if (button == clicked) return id;
  return escape_id;
}

bool CQtUiHost::ChooseFile(CFileDialog& dialog) {
  QFileDialog chooser(OwnerWidget(dialog.GetParent()), Qs(dialog.Title()));
  chooser.setOption(QFileDialog::DontUseNativeDialog);  // it holds the dialog's extra controls
  chooser.setAcceptMode(dialog.IsOpen() ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  if (dialog.IsOpen())
    chooser.setFileMode((dialog.Flags() & OFN_ALLOWMULTISELECT) ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
  else
    chooser.setFileMode(QFileDialog::AnyFile);
  if (!dialog.IsOpen() && !(dialog.Flags() & OFN_OVERWRITEPROMPT)) chooser.setOption(QFileDialog::DontConfirmOverwrite);
  QStringList filters;
  for (const FileFilterEntry& entry : ParseFileFilter(dialog.Filter())) filters << NameFilter(entry.label, entry.patterns);
  if (!filters.isEmpty()) {
    chooser.setNameFilters(filters);
    int index = dialog.GetFilterIndex();
    chooser.selectNameFilter(filters.value(index >= 1 && index <= filters.size() ? index - 1 : 0));
  }
  if (!dialog.DefaultExt().empty()) chooser.setDefaultSuffix(Qs(dialog.DefaultExt()));
  QString initial = Qs(dialog.InitialPath());
  if (!initial.isEmpty()) {
    QFileInfo info(initial);
    if (initial.endsWith(QLatin1Char('/')) || info.isDir()) {
      chooser.setDirectory(initial);
    } else {
      if (!info.path().isEmpty() && info.path() != QStringLiteral(".")) chooser.setDirectory(info.path());
      chooser.selectFile(info.fileName());
    }
  }
  // The dialog's extra controls (such as "保存后打开") below the chooser's own.
  if (!dialog.Children().empty()) {
    if (CModelBinding* extra = CWindowMirror::Get().Bind(dialog, &chooser, false)) {
      RECT r = dialog.GetWindowRect();
      extra->Widget()->setFixedSize(std::max(r.Width(), 10), std::max(r.Height(), 10));
      if (auto* grid = qobject_cast<QGridLayout*>(chooser.layout()))
        grid->addWidget(extra->Widget(), grid->rowCount(), 0, 1, grid->columnCount());
      extra->Widget()->show();
    }
  }
  bool chosen = chooser.exec() == QDialog::Accepted;
  if (!chosen) return false;
  std::vector<std::string> paths;
  for (const QString& path : chooser.selectedFiles()) paths.push_back(Utf8(path));
  if (paths.empty()) return false;
  dialog.SetChosen(std::move(paths), filters.isEmpty() ? 0 : static_cast<int>(filters.indexOf(chooser.selectedNameFilter())) + 1);
  return true;
}

bool CQtUiHost::ChooseFolder(const std::string& title, const std::string& initial, std::string* folder) {
  QFileDialog chooser(OwnerWidget(nullptr), Qs(title), Qs(initial));
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setOption(QFileDialog::ShowDirsOnly);
  chooser.setFileMode(QFileDialog::Directory);
  if (chooser.exec() != QDialog::Accepted || chooser.selectedFiles().isEmpty()) return false;
  if (folder) *folder = Utf8(chooser.selectedFiles().first());
  return true;
}

UINT CQtUiHost::TrackPopupMenu(const CMenu& menu, int x, int y, CWnd* owner) {
  QPointer<QMenu> qmenu = BuildMenu(menu, OwnerWidget(owner));
  QPoint at = x == 0 && y == 0 ? QCursor::pos() : QPoint(x, y);
  QAction* chosen = qmenu->exec(at);
  UINT command = chosen ? chosen->data().toUInt() : 0;
  delete qmenu.data();
  return command;
}

void CQtUiHost::RunModal(CDialog& dialog) {
  QPointer<CDialogWindow> window = new CDialogWindow(dialog, OwnerWidget(dialog.GetParent()));
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
  RaiseWindow(window);
  QEventLoop loop;
  HWND hwnd = dialog.GetSafeHwnd();
  auto over = [&dialog, hwnd] { return dialog.HasEnded() || dialog.GetSafeHwnd() != hwnd; };
  CQtDispatcherBridge* bridge = CQtDispatcherBridge::Instance();
  int token = bridge ? bridge->AddListener([&loop, over] {
    if (over()) loop.quit();
  })
                     : 0;
  if (!over()) loop.exec(QEventLoop::DialogExec);
  if (bridge) bridge->RemoveListener(token);
  if (window) {
    window->Forget();
    window->hide();
    delete window.data();
  }
}

void CQtUiHost::ShowModeless(CDialog& dialog) {
  if (CDialogWindow* existing = CDialogWindow::Of(dialog); existing && existing->Dialog()) {
    existing->show();
    RaiseWindow(existing);
    return;
  }
  auto* window = new CDialogWindow(dialog, OwnerWidget(dialog.GetParent()));
  window->setModal(false);
  window->setVisible(dialog.IsWindowVisible());
}

void CQtUiHost::SetClipboardText(const std::string& text) {
  if (!UiDispatcher().IsUiThread()) {
    UiDispatcher().SendCall([&] { SetClipboardText(text); });
    return;
  }
  QGuiApplication::clipboard()->setText(Qs(text));
}

std::string CQtUiHost::GetClipboardText() {
  if (!UiDispatcher().IsUiThread()) {
    std::string text;
    UiDispatcher().SendCall([&] { text = GetClipboardText(); });
    return text;
  }
  return Utf8(QGuiApplication::clipboard()->text());
}

bool CQtUiHost::OpenDocument(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(Qs(path)));
}

bool CQtUiHost::ChooseColor(CWnd* owner, uint32_t* argb) {
  QColorDialog chooser(OwnerWidget(owner));
  chooser.setOption(QColorDialog::DontUseNativeDialog);
  chooser.setOption(QColorDialog::ShowAlphaChannel);
  if (argb) chooser.setCurrentColor(QColor::fromRgba(*argb));
  if (chooser.exec() != QDialog::Accepted) return false;
  if (argb) *argb = chooser.selectedColor().rgba();
  return true;
}

}  // namespace velmora
