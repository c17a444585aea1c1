// The window model driven by the scripted host: a dialog from a template with command handlers
// and exact message texts, lists, trees, menus and file dialogs.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/menu.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

constexpr int kIdd = 9266;
constexpr int kIdPort = 1213, kIdName = 1339, kIdLog = 1100, kIdList = 1232, kIdApply = 1040;

void RegisterServiceTemplate() {
  DialogTemplate t;
  t.id = kIdd;
  t.caption = "新建地图发布服务";
  t.controls = {
      {ControlKind::kDefButton, IDOK, "确定", 150, 238, 50, 14, 0},
      {ControlKind::kButton, IDCANCEL, "取消", 207, 238, 50, 14, 0},
      {ControlKind::kEdit, kIdPort, "80", 50, 7, 60, 12, 0},
      {ControlKind::kEdit, kIdName, "谷歌", 50, 24, 100, 12, 0},
      {ControlKind::kCheckBox, kIdLog, "记录日志", 7, 40, 60, 10, 0},
      {ControlKind::kButton, kIdApply, "应用", 7, 238, 50, 14, 0},
      {ControlKind::kListView, kIdList, "", 7, 60, 250, 170, 0},
  };
  RegisterDialogTemplate(t);
}

// A dialog in the shape the modules write: member controls, a message map, OK with a check.
class ServiceDialog : public CDialog {
 public:
  ServiceDialog() : CDialog(kIdd) {
    BindControl(kIdList, sources);
    MapCommand(kIdApply, [this] { ++applied; });
    MapNotify(kIdList, NM_DBLCLK, [this](NMHDR* hdr) {
      double_clicked = reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem;
      return LRESULT{0};
    });
  }
  bool OnInitDialog() override {
    sources.InsertColumn(0, "名称", LVCFMT_LEFT, 100);
    for (const char* name : {"谷歌地图", "必应卫星", "天地图"}) sources.InsertItem(sources.GetItemCount(), name);
    return true;
  }
  void OnOK() override {
    auto port = GetDlgItemInt(kIdPort);
    if (!port || *port < 1 || *port > 65535) {
      MessageBox("端口不可用,请尝试其他!");
      return;  // the dialog stays
    }
    this->port = static_cast<int>(*port);
    name = GetDlgItemText(kIdName);
    log = IsDlgButtonChecked(kIdLog) == BST_CHECKED;
    CDialog::OnOK();
  }
  void OnCancel() override {
    ++cancelled;
    CDialog::OnCancel();
  }

  CListCtrl sources;
  int port = 0;
  std::string name;
  bool log = false;
  int applied = 0;
  int cancelled = 0;
  int double_clicked = -2;
};

class UiDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterServiceTemplate();
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    ASSERT_TRUE(parent.Create(nullptr, 0, "parent", 0));
  }
  void TearDown() override { SetUiHost(nullptr); }
  CHeadlessUiHost host;
  CWnd parent;  // owner of the menus and controls made outside a dialog
};

TEST_F(UiDialogTest, ScriptedDialogRunsHandlersAndShowsTheExactMessage) {
  ServiceDialog dlg;
  host.AnswerDialog(kIdd, [](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "新建地图发布服务");
    EXPECT_EQ(d.GetDlgItemText(kIdPort), "80");  // template text
    d.GetDlgItemAs<CButton>(kIdApply)->Click();
    d.GetDlgItemAs<CEdit>(kIdPort)->Type("80.5");  // not a whole number
    d.GetDlgItemAs<CButton>(IDOK)->Click();  // refused: the dialog stays open
    EXPECT_FALSE(d.HasEnded());
    d.GetDlgItemAs<CEdit>(kIdPort)->Type("8080");
    d.GetDlgItemAs<CEdit>(kIdName)->Type("卫星服务");
    d.GetDlgItemAs<CButton>(kIdLog)->Click();
    d.GetDlgItemAs<CListCtrl>(kIdList)->DoubleClickItem(2);
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{"端口不可用,请尝试其他!"});
  EXPECT_EQ(dlg.applied, 1);
  EXPECT_EQ(dlg.port, 8080);
  EXPECT_EQ(dlg.name, "卫星服务");
  EXPECT_TRUE(dlg.log);
  EXPECT_EQ(dlg.double_clicked, 2);
  EXPECT_FALSE(dlg.IsWindow());  // closed, data kept
  EXPECT_EQ(dlg.sources.GetSelectedItems(), std::vector<int>{2});
}

TEST_F(UiDialogTest, UnansweredDialogIsCancelledAndCanRunAgain) {
  ServiceDialog dlg;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.cancelled, 1);
  host.AnswerDialog(0, [](CDialog& d) { d.GetDlgItemAs<CButton>(IDOK)->Click(); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.sources.GetItemCount(), 3);  // made afresh, not appended to the first run's rows
  EXPECT_EQ(dlg.port, 80);
}

TEST_F(UiDialogTest, MessageBoxAnswersFollowTheBoxButtons) {
  host.AnswerMessageBox(IDYES);
  EXPECT_EQ(ShowMessageBox("是否采用上次提取高程?", MB_YESNO), IDYES);
  host.AnswerMessageBox(IDRETRY);  // not a button of a yes/no box: Enter's answer instead
  EXPECT_EQ(ShowMessageBox("q", MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(ShowMessageBox("q", MB_OKCANCEL), IDOK);  // unanswered: Enter
  ASSERT_EQ(host.Records().size(), 3u);
  EXPECT_EQ(host.Records()[0].text, "是否采用上次提取高程?");
}

// The shell's edit-field menu covers greyed items and the recorded texts; here sub-menus and
// the two ways a choice comes back.
TEST_F(UiDialogTest, PopupMenuChoiceIsReturnedOrPostedToTheOwner) {
  std::vector<UINT> commands;
  parent.MapCommandRange(32880, 32890, [&](UINT id) { commands.push_back(id); });
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING, 32887, "新建服务");
  CMenu sub;
  sub.AppendMenu(MF_STRING, 32882, "本地浏览");
  menu.AppendPopup("浏览", std::move(sub));
  host.AnswerMenu(32887);
  EXPECT_EQ(menu.TrackPopupMenu(TPM_RETURNCMD, 0, 0, &parent), 32887);
  host.AnswerMenu(32882);
  EXPECT_EQ(menu.TrackPopupMenu(TPM_LEFTALIGN, 0, 0, &parent), 1);
  EXPECT_TRUE(commands.empty());  // posted, not yet served
  UiDispatcher().PumpPending();
  EXPECT_EQ(commands, std::vector<UINT>{32882});
}

TEST_F(UiDialogTest, ListViewRowsSelectionAndVirtualRows) {
  CListCtrl list;
  ASSERT_TRUE(list.Create(&parent, 1402, ""));
  std::vector<int> right_clicks;
  parent.MapNotify(1402, NM_RCLICK, [&](NMHDR* hdr) {
    right_clicks.push_back(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
    return LRESULT{0};
  });
  list.InsertColumn(0, "序号", LVCFMT_LEFT, 80);
  for (int i = 0; i < 5; ++i) list.SetItemData(list.InsertItem(i, std::to_string(i), i % 2), static_cast<uintptr_t>(10 - i));
  list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  list.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
  list.RightClickItem(-1);  // on no row: the selection stays
  EXPECT_EQ(list.GetSelectedItems(), (std::vector<int>{1, 3}));
  list.RightClickItem(4);  // on an unselected row: it alone becomes selected
  EXPECT_EQ(list.GetSelectedItems(), std::vector<int>{4});
  EXPECT_EQ(right_clicks, (std::vector<int>{-1, 4}));
  list.DeleteItem(0);  // the rows after it, and their selection, move up
  EXPECT_EQ(list.GetSelectedItems(), std::vector<int>{3});
  list.SortItems([](uintptr_t a, uintptr_t b) { return a < b; });
  EXPECT_EQ(list.GetItemText(0, 0), "4");

  list.SetItemCountEx(1000);
  list.SetDisplayCallbacks([](int item, int sub) { return std::to_string(item * 10 + sub); },
                           [](int item) { return item % 5; });
  EXPECT_EQ(list.GetItemText(999, 1), "9991");
  EXPECT_EQ(list.GetItemText(1000, 0), "");  // past the end
  list.ClickItem(500);
  EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 500);
}

TEST_F(UiDialogTest, TreeItemsOrderSelectionAndDeletion) {
  CTreeCtrl tree;
  ASSERT_TRUE(tree.Create(&parent, 1268, ""));
  std::vector<HTREEITEM> selections;
  parent.MapNotify(1268, TVN_SELCHANGED, [&](NMHDR* hdr) {
    selections.push_back(reinterpret_cast<NMTREEVIEW*>(hdr)->itemNew);
    return LRESULT{0};
  });
  HTREEITEM root = tree.InsertItem("中国", 0, 0);
  HTREEITEM b = tree.InsertItem("北京", root, TVI_SORT);
  HTREEITEM a = tree.InsertItem("上海", root, TVI_FIRST);
  HTREEITEM c = tree.InsertItem("天津", 1, 1, root, b);
  EXPECT_EQ(tree.GetChildren(root), (std::vector<HTREEITEM>{a, b, c}));
  EXPECT_EQ(tree.InsertItem("x", 0, 0, root, 9999), 0u);  // no such sibling
  HTREEITEM d = tree.InsertItem("东城区", b);
  tree.SelectItem(d);
  EXPECT_TRUE(tree.DeleteItem(b));  // with its child, which was selected
  EXPECT_FALSE(tree.ItemExists(d));
  EXPECT_EQ(tree.GetSelectedItem(), 0u);
  EXPECT_EQ(tree.GetNextSiblingItem(a), c);
  EXPECT_EQ(selections, std::vector<HTREEITEM>{d});
}

// The shell's file dialog covers answers, cancels and filters; here the added extension and the
// folder chooser.
TEST_F(UiDialogTest, FileDialogAddsTheDefaultExtensionAndFoldersEndInASlash) {
  CFileDialog save(false, "txt", "/tmp/demexport", OFN_OVERWRITEPROMPT, "Text Files (*.txt)|*.txt||");
  host.AnswerFile({"/data/points"}, 1);
  EXPECT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), "/data/points.txt");
  std::string folder;
  host.AnswerFolder(std::string("/srv/tiles"));
  EXPECT_TRUE(BrowseForFolder("选择目录", "", &folder));
  EXPECT_EQ(folder, "/srv/tiles/");
  EXPECT_FALSE(BrowseForFolder("选择目录", "", &folder));  // unanswered: cancelled
}

TEST_F(UiDialogTest, ControlsBehaveAsAPersonSeesThem) {
  CComboBox combo;
  CButton radio1(CButton::Kind::kRadio), radio2(CButton::Kind::kRadio);
  ASSERT_TRUE(combo.Create(&parent, 1206, "") && radio1.Create(&parent, 1, "") && radio2.Create(&parent, 2, ""));
  int changes = 0;
  parent.MapControlNotify(1206, CBN_SELCHANGE, [&] { ++changes; });
  for (const char* s : {"SRTM", "astgtm", "google"}) combo.AddString(s);
  combo.Select(2);
  EXPECT_EQ(changes, 1);
  combo.DeleteString(0);  // the selection follows its row
  EXPECT_EQ(combo.GetCurSel(), 1);
  EXPECT_EQ(combo.FindStringExact(-1, "astgtm"), 0);

  radio1.Click();
  radio2.Click();  // radios of a group clear each other
  EXPECT_EQ(radio1.GetCheck(), BST_UNCHECKED);
  radio2.EnableWindow(false);
  radio1.Click();
  radio2.Click();  // disabled: ignored
  EXPECT_EQ(radio1.GetCheck(), BST_CHECKED);
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// What a front end mirroring the windows hears: creation, every change of what a window shows,
// and the end of each window, children first.
class RecordingObserver : public IWindowObserver {
 public:
  void OnWindowChanged() override { ++changes; }
  void OnWindowCreated(CWnd& w) override { events.push_back("create " + std::to_string(w.GetDlgCtrlID())); }
  void OnWindowDestroyed(CWnd& w) override { events.push_back("destroy " + std::to_string(w.GetDlgCtrlID())); }
  std::atomic<int> changes{0};
  std::vector<std::string> events;
};

TEST(WindowObserverTest, HearsCreationChangesAndDestruction) {
  UiDispatcher().AttachToCurrentThread();
  RecordingObserver observer;
  SetWindowObserver(&observer);
  {
    CDialog dlg(DialogTemplate{77, "t", 100, 50,
                               {{ControlKind::kCheckBox, 5, "a", 0, 0, 10, 10, 0},
                                {ControlKind::kComboBox, 6, "", 0, 0, 10, 10, 0}}});
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(observer.events, (std::vector<std::string>{"create 77", "create 5", "create 6"}));
    int before = observer.changes;
    dlg.GetDlgItemAs<CButton>(5)->SetCheck(BST_CHECKED);
    dlg.GetDlgItemAs<CComboBox>(6)->AddString("x");
    dlg.GetDlgItem(6)->EnableWindow(false);
    dlg.GetDlgItem(6)->MoveWindow({1, 2, 3, 4});
    EXPECT_EQ(observer.changes - before, 4);
    dlg.GetDlgItemAs<CButton>(5)->SetCheck(BST_CHECKED);  // no change, no news
    EXPECT_EQ(observer.changes - before, 4);
    observer.events.clear();
    dlg.DestroyWindow();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"destroy 6", "destroy 5", "destroy 77"}));
    observer.events.clear();
    CWnd loose;
    ASSERT_TRUE(loose.Create(nullptr, 9, "", 0));
  }
  // A window destroyed with its object still tells the observer.
  EXPECT_EQ(observer.events, (std::vector<std::string>{"create 9", "destroy 9"}));
  SetWindowObserver(nullptr);
}

TEST(EditLimitTest, TypingPastTheLimitCutsAtAWholeCharacter) {
  UiDispatcher().AttachToCurrentThread();
  CWnd parent;
  ASSERT_TRUE(parent.Create(nullptr, 0, "parent", 0));
  CEdit edit;
  ASSERT_TRUE(edit.Create(&parent, 1, ""));
  edit.SetLimitText(7);  // "北京" is 6 bytes; "市" would end at byte 9
  edit.Type("北京市");
  EXPECT_EQ(edit.GetWindowText(), "北京");
  edit.Type("ab北京");
  EXPECT_EQ(edit.GetWindowText(), "ab北");
  edit.Type("abcdefghi");
  EXPECT_EQ(edit.GetWindowText(), "abcdefg");
}

}  // namespace
}  // namespace velmora
