// The shell's common controls: the file dialog's open-after-saving box and filter order, the edit
// field's own context menu, and window icons from the program's images.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dialog_ex.h"
#include "shell/file_dialog_ex.h"
#include "shell/menu_edit.h"
#include "support/headless_ui_test.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

using ShellControlsTest = test::HeadlessUiTest;

TEST_F(ShellControlsTest, OpenAfterSavingBoxIsReadAfterOkAndRemembered) {
  WriteProfileInt("option", "auto_open", 0);
  {
    CFileDialogEx dlg(false, "txt", "/tmp/export", OFN_OVERWRITEPROMPT, "Text Files (*.txt)|*.txt||");
    host.AnswerFile({"/tmp/out.txt"}, 1, [](CFileDialog& d) {
      EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogEx::kIdAutoOpen), BST_UNCHECKED);
      d.GetDlgItemAs<CButton>(CFileDialogEx::kIdAutoOpen)->Click();
    });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    EXPECT_TRUE(dlg.AutoOpen());
  }
  EXPECT_EQ(GetProfileInt("option", "auto_open", 0), 1);
  {
    // The next dialog shows it ticked; a cancelled dialog leaves the remembered state alone.
    CFileDialogEx dlg(false, "txt");
    host.AnswerFile({"/tmp/again.txt"}, 1,
                    [](CFileDialog& d) { EXPECT_EQ(d.IsDlgButtonChecked(CFileDialogEx::kIdAutoOpen), BST_CHECKED); });
    ASSERT_EQ(dlg.DoModal(), IDOK);
    CFileDialogEx cancelled(false, "txt");
    host.AnswerFileCancel();
    EXPECT_EQ(cancelled.DoModal(), IDCANCEL);
    EXPECT_FALSE(cancelled.AutoOpen());
  }
  EXPECT_EQ(GetProfileInt("option", "auto_open", 0), 1);
}

TEST_F(ShellControlsTest, MatchingFilterEntryComesFirst) {
  const std::string filter = "Text Files (*.txt)|*.txt|Excel Files (*.xls)|*.xls||";
  EXPECT_EQ(CFileDialogEx::PutMatchingFilterFirst(filter, "/data/addr.XLS"),
            "Excel Files (*.xls)|*.xls|Text Files (*.txt)|*.txt||");
  EXPECT_EQ(CFileDialogEx::PutMatchingFilterFirst(filter, "/data/addr.csv"), filter);
  EXPECT_EQ(CFileDialogEx::PutMatchingFilterFirst(filter, "/data/addrexport"), filter);
  const std::string three = "A (*.txt)|*.txt|B (*.csv)|*.csv|C (*.grd)|*.grd||";
  EXPECT_EQ(CFileDialogEx::PutMatchingFilterFirst(three, "x.grd"), "C (*.grd)|*.grd|A (*.txt)|*.txt|B (*.csv)|*.csv||");
}

TEST_F(ShellControlsTest, MenuEditOffersItsMenuOnlyWithExtraItems) {
  CDialogEx dlg(DialogTemplate{9317, "坐标转换", 300, 200, {{ControlKind::kEdit, 1317, "", 0, 0, 100, 60, 0}}});
  CMenuEdit input;
  dlg.BindControl(1317, input);
  std::vector<UINT> commands;
  dlg.MapCommand(57601, [&] { commands.push_back(57601); });
  ASSERT_TRUE(dlg.Create());

  input.RightClick();
  EXPECT_TRUE(host.Records().empty());  // no extra item: no menu of ours

  input.AddMenuItem(57601, "导入");
  input.Type("116.39,39.91");
  host.AnswerMenu(57601);
  input.RightClick();
  ASSERT_EQ(host.Records().size(), 1u);
  EXPECT_EQ(host.Records()[0].text, "撤销|-|剪切|复制|粘贴|-|全选|-|导入");
  EXPECT_EQ(commands, std::vector<UINT>{57601});

  // Standard commands act on the field; greyed ones cannot be chosen.
  host.AnswerMenu(ID_EDIT_SELECT_ALL);
  input.RightClick();
  host.AnswerMenu(ID_EDIT_CUT);
  input.RightClick();
  EXPECT_EQ(input.GetWindowText(), "");
  EXPECT_EQ(host.GetClipboardText(), "116.39,39.91");
  host.AnswerMenu(ID_EDIT_COPY);  // nothing selected: greyed
  input.RightClick();
  host.AnswerMenu(ID_EDIT_PASTE);
  input.RightClick();
  EXPECT_EQ(input.GetWindowText(), "116.39,39.91");
  host.AnswerMenu(ID_EDIT_UNDO);
  input.RightClick();
  EXPECT_EQ(input.GetWindowText(), "");

  dlg.DestroyWindow();
}

TEST_F(ShellControlsTest, WindowIconFromTheProgramImages) {
  test::TempDir program;
  test::WriteTestFile(program.File("images/address.png"), "png");
  ScopedAppOptions options([&program](CAppOptions& o) { o.program_dir = program.path(); });
  CWnd wnd;
  // The window keeps the image's name: the front end finds every picture by name in the
  // program's images folder.
  EXPECT_TRUE(SetWindowIconFromImage(&wnd, "address.png"));
  EXPECT_EQ(wnd.IconName(), "address.png");
  EXPECT_FALSE(SetWindowIconFromImage(&wnd, "missing.png"));
  EXPECT_EQ(wnd.IconName(), "address.png");
  SetWindowIconFromResource(&wnd, 126);
  EXPECT_EQ(wnd.IconResource(), 126);
  EXPECT_EQ(wnd.IconName(), "icon.png");
}

}  // namespace
}  // namespace velmora
