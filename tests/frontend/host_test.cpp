// The Qt UiHost: message boxes with the program's texts, buttons and default button, a box
// closed by the window manager, the file chooser with the "保存后打开" box and the filter order,
// the folder chooser, pop-up menus (the edit field's own menu too), the clipboard, opening a
// document with the desktop's program, and modeless dialogs.
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "core/settings.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/menu.h"
#include "shell/dialog_ex.h"
#include "shell/dlg_worker_base.h"
#include "shell/file_dialog_ex.h"
#include "shell/menu_edit.h"
#include "support/temp_dir.h"

namespace velmora {

// Receives the URLs the desktop would open.
class CUrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }
};

namespace {

using test::PumpUntil;

// Runs `act` once a modal window of type W shows.
template <class W>
void WhenShown(std::function<void(W*)> act) {
  QTimer::singleShot(0, [act] {
    W* w = nullptr;
    PumpUntil([&w] {
      w = qobject_cast<W*>(QApplication::activeModalWidget());
      return w && w->isVisible();
    });
    if (w) act(w);
  });
}

QPushButton* ButtonWithText(QMessageBox* box, const QString& text) {
  for (QAbstractButton* b : box->buttons())
    if (b->text() == text) return qobject_cast<QPushButton*>(b);
  return nullptr;
}

class FrontendHostTest : public ::testing::Test {};

TEST_F(FrontendHostTest, MessageBoxShowsTheTextTheButtonsAndTheDefault) {
  QImage grab;
  QStringList buttons;
  QString default_text, text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  WhenShown<QMessageBox>([&](QMessageBox* box) {
    text = box->text();
    title = box->windowTitle();
    icon = box->icon();
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    default_text = box->defaultButton() ? box->defaultButton()->text() : QString();
    grab = box->grab().toImage();
    ButtonWithText(box, QStringLiteral("是(&Y)"))->click();
  });
  EXPECT_EQ(ShowMessageBox("是否采用上次提取高程?", MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(text, QStringLiteral("是否采用上次提取高程?"));
  EXPECT_EQ(title, QStringLiteral("Velmora"));
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_TRUE(buttons.contains(QStringLiteral("是(&Y)")));
  EXPECT_TRUE(buttons.contains(QStringLiteral("否(&N)")));
  EXPECT_EQ(buttons.size(), 2);
  EXPECT_EQ(default_text, QStringLiteral("否(&N)"));
  std::string path = test::SaveArtefact(grab, "message_box");
  EXPECT_FALSE(grab.isNull()) << path;

  // Enter gives the default button.
  WhenShown<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
  EXPECT_EQ(ShowMessageBox("端口不可用,请尝试其他!", MB_OKCANCEL | MB_ICONWARNING), IDOK);
}

TEST_F(FrontendHostTest, MessageBoxClosedByTheWindowManagerGivesNothingUp) {
  struct Case {
    UINT type;
    int answer;
  };
  for (Case c : {Case{MB_OKCANCEL, IDCANCEL}, Case{MB_YESNO, IDNO}, Case{MB_OK, IDOK}, Case{MB_YESNOCANCEL, IDCANCEL}}) {
    WhenShown<QMessageBox>([](QMessageBox* box) { box->close(); });
    EXPECT_EQ(ShowMessageBox("硬盘空间不足,请重新设置数据目录!", c.type), c.answer) << c.type;
  }
}

TEST_F(FrontendHostTest, FileChooserHoldsTheOpenAfterSavingBoxAndTheMatchingFilterFirst) {
  test::TempDir folder;
  WriteProfileInt("option", "auto_open", 0);
  const std::string filter = "文本文件 (*.txt)|*.txt|Excel 文件 (*.xls)|*.xls||";
  std::string ordered = CFileDialogEx::PutMatchingFilterFirst(filter, "/data/地址.xls");
  CFileDialogEx dlg(false, "xls", folder.path() + "地址", OFN_OVERWRITEPROMPT, ordered);
  QStringList filters;
  QString selected_filter, box_text;
  QImage grab;
  WhenShown<QFileDialog>([&](QFileDialog* chooser) {
    filters = chooser->nameFilters();
    selected_filter = chooser->selectedNameFilter();
    auto* box = chooser->findChild<QCheckBox*>();
    ASSERT_TRUE(box);
    box_text = box->text();
    EXPECT_FALSE(box->isChecked());
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    grab = chooser->grab().toImage();
    auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(name);
    name->setText(QStringLiteral("坐标导出"));
    static_cast<QDialog*>(chooser)->accept();  // QFileDialog's own accept checks the name
  });
  ASSERT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(box_text, QStringLiteral("保存后打开"));
  ASSERT_EQ(filters.size(), 2);
  EXPECT_EQ(filters[0], QStringLiteral("Excel 文件 (*.xls)"));
  EXPECT_EQ(selected_filter, filters[0]);
  EXPECT_EQ(dlg.GetPathName(), folder.path() + "坐标导出.xls");
  EXPECT_EQ(dlg.GetFilterIndex(), 1);
  EXPECT_TRUE(dlg.AutoOpen());
  EXPECT_EQ(GetProfileInt("option", "auto_open", 0), 1);
  test::SaveArtefact(grab, "file_dialog_auto_open");

  // Cancelled: nothing chosen and the remembered box stays.
  CFileDialogEx again(false, "xls", folder.path(), OFN_OVERWRITEPROMPT, ordered);
  WhenShown<QFileDialog>([](QFileDialog* chooser) {
    EXPECT_TRUE(chooser->findChild<QCheckBox*>()->isChecked());
    chooser->reject();
  });
  EXPECT_EQ(again.DoModal(), IDCANCEL);
  EXPECT_TRUE(again.GetPathName().empty());
  EXPECT_EQ(GetProfileInt("option", "auto_open", 0), 1);
}

TEST_F(FrontendHostTest, FolderChooserAnswersAFolderEndingInASlash) {
  test::TempDir folder;
  QDir(QString::fromStdString(folder.path())).mkdir(QStringLiteral("高程"));
  std::string chosen;
  WhenShown<QFileDialog>([&](QFileDialog* chooser) {
    EXPECT_EQ(chooser->windowTitle(), QStringLiteral("选择数据目录"));
    chooser->selectFile(QString::fromStdString(folder.path() + "高程"));
    static_cast<QDialog*>(chooser)->accept();  // QFileDialog's own accept checks the name
  });
  ASSERT_TRUE(BrowseForFolder("选择数据目录", folder.path(), &chosen));
  EXPECT_EQ(chosen, folder.path() + "高程/");
}

TEST_F(FrontendHostTest, PopupMenuOffersOnlyItsChoosableItems) {
  CWnd owner;
  ASSERT_TRUE(owner.Create(nullptr, 0, "owner", 0));
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 32737, "导入");
  menu.AppendMenu(MF_GRAYED, 57601, "导入文件");
  menu.AppendSeparator();
  menu.AppendMenu(MF_CHECKED, 32886, "记录日志");
  QStringList texts;
  bool greyed_enabled = true, checked = false;
  QTimer::singleShot(0, [&] {
    PumpUntil([] { return QApplication::activePopupWidget() != nullptr; });
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(popup);
    for (QAction* a : popup->actions()) {
      texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
      if (a->text() == QStringLiteral("导入文件")) greyed_enabled = a->isEnabled();
      if (a->text() == QStringLiteral("记录日志")) checked = a->isChecked();
    }
    popup->setActiveAction(popup->actions().at(0));
    QTest::keyClick(popup, Qt::Key_Return);
  });
  EXPECT_EQ(menu.TrackPopupMenu(TPM_RETURNCMD, 10, 10, &owner), 32737);
  EXPECT_EQ(texts.join(QLatin1Char('|')), QStringLiteral("导入|导入文件|-|记录日志"));
  EXPECT_FALSE(greyed_enabled);
  EXPECT_TRUE(checked);

  QTimer::singleShot(0, [] {
    PumpUntil([] { return QApplication::activePopupWidget() != nullptr; });
    if (QWidget* popup = QApplication::activePopupWidget()) QTest::keyClick(popup, Qt::Key_Escape);
  });
  EXPECT_EQ(menu.TrackPopupMenu(TPM_RETURNCMD, 0, 0, &owner), 0);
}

TEST_F(FrontendHostTest, EditFieldsOwnMenuSendsItsExtraCommandToTheParent) {
  CDialogEx dlg(DialogTemplate{9317, "坐标转换", 200, 60, {{ControlKind::kEdit, 1317, "", 7, 7, 180, 12, 0}}});
  CMenuEdit input;
  dlg.BindControl(1317, input);
  std::vector<UINT> commands;
  dlg.MapCommand(57601, [&] { commands.push_back(57601); });
  ASSERT_TRUE(dlg.Create());
  input.AddMenuItem(57601, "导入");
  input.cue_text = "输入坐标";
  input.ShowCueText();
  ShowModelessDialog(&dlg);
  auto* edit = test::ControlWidget<QLineEdit>(dlg, 1317);
  ASSERT_TRUE(edit);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(edit->window()));
  test::Settle();
  EXPECT_EQ(edit->placeholderText(), QStringLiteral("输入坐标"));
  test::TypeText(edit, QStringLiteral("116.39,39.91"));
  edit->setSelection(0, 6);
  QString last_item;
  QTimer::singleShot(0, [&] {
    PumpUntil([] { return QApplication::activePopupWidget() != nullptr; });
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(popup);
    last_item = popup->actions().last()->text();
    // "复制" is enabled: the field's selection reached the model first.
    for (QAction* a : popup->actions())
      if (a->text() == QStringLiteral("复制")) {
        EXPECT_TRUE(a->isEnabled());
      }
    popup->setActiveAction(popup->actions().last());
    QTest::keyClick(popup, Qt::Key_Return);
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), edit->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(edit, &event);
  EXPECT_EQ(last_item, QStringLiteral("导入"));
  EXPECT_EQ(commands, std::vector<UINT>{57601});
  dlg.DestroyWindow();
}

TEST_F(FrontendHostTest, ClipboardAndOpeningADocument) {
  UiHost& host = GetUiHost();
  host.SetClipboardText("北京市 116.39,39.91");
  EXPECT_EQ(host.GetClipboardText(), "北京市 116.39,39.91");

  CUrlCatcher catcher;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
  EXPECT_TRUE(host.OpenDocument("/tmp/导出 坐标.xls"));
  QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0].toLocalFile(), QStringLiteral("/tmp/导出 坐标.xls"));
}

TEST_F(FrontendHostTest, ModelessDialogShowsOnceAndItsCloseDestroysIt) {
  CDialogEx dlg(DialogTemplate{9318, "地址下载", 160, 60, {{ControlKind::kStatic, -1, "正在下载...", 7, 7, 140, 10, 0}}});
  ShowModelessDialog(&dlg);
  CDialogWindow* window = CDialogWindow::Of(dlg);
  ASSERT_TRUE(window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  ShowModelessDialog(&dlg);  // already there: the same window
  EXPECT_EQ(CDialogWindow::Of(dlg), window);
  dlg.ShowWindow(SW_HIDE);
  test::Settle();
  EXPECT_FALSE(window->isVisible());
  dlg.ShowWindow(SW_SHOW);
  test::Settle();
  EXPECT_TRUE(window->isVisible());
  window->close();  // the window manager's close: WM_CLOSE cancels, the modeless dialog is destroyed
  EXPECT_FALSE(dlg.IsWindow());
  EXPECT_TRUE(PumpUntil([&] { return CDialogWindow::Of(dlg) == nullptr; }));
}

}  // namespace
}  // namespace velmora

#include "host_test.moc"
