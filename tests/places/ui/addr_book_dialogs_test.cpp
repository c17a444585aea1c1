// The address book and the pop-up template editor driven headless by id: entries dragged from the
// list onto a real 2D view become one mark, marks in a real drawn-item database mark entries, the
// in-place editing and the menu's rules, the file kept or deleted at closing, and the editor's
// cards rewritten through the address book.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "earth/ui/html_view_ex.h"
#include "places/addr_book.h"
#include "places/ui/addr_book_templates.h"
#include "places/ui/dlg_address_book.h"
#include "places/ui/dlg_template_editor.h"
#include "places/ui/mark_popup_editor.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/system_menu.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window_drag.h"
#include "shapes/draw_item_db.h"
#include "shapes/mark_shape.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

class AddrBookDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    for (const char* key : {"AbMarker", "ablabel", "ablabenb", "abfont", "picture"}) ProgramSettings().Remove(key);
    WriteProfileString("recent", "htmledit", "");
    ASSERT_TRUE(db.Open(dir.File("drawitem.kdb")));
    tiles = test::MakeTileManager(dir.path() + "tiles/");
    TileEngineOptions o;
    o.tiles = tiles.get();
    view = std::make_unique<CPDView>(MapViewSinks{}, o, &db);
    ASSERT_TRUE(view->CreateView(WS_VISIBLE, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
    path = dir.File("addrboook.dat");
  }
  void TearDown() override {
    view.reset();
    tiles->Stop();
    SetUiHost(nullptr);
  }

  void WriteBook(const std::vector<AddrBookRecord>& records) {
    auto bytes = CAddrBookFile::Encode(records);
    test::WriteTestFile(path, std::string(bytes.begin(), bytes.end()));
  }
  std::vector<CMarkShape*> ViewMarks() {
    std::vector<CMapShape*> shapes;
    view->Engine().Tracks().GetShapesByType(kShapeMark, shapes);
    std::vector<CMarkShape*> marks;
    for (CMapShape* s : shapes) marks.push_back(dynamic_cast<CMarkShape*>(s));
    return marks;
  }
  static CListCtrl& List(CDialog& d) { return *d.GetDlgItemAs<CListCtrl>(CDlgAddressBook::kIdList); }
  static void Select(CListCtrl& list, std::vector<int> rows) {
    list.ClearSelection();
    for (int r : rows) list.SetItemState(r, LVIS_SELECTED, LVIS_SELECTED);
  }

  CHeadlessUiHost host;
  test::TempDir dir;
  CDrawItemDB db;
  std::unique_ptr<CTileManager> tiles;
  std::unique_ptr<CPDView> view;
  std::string path;
};

TEST_F(AddrBookDialogsTest, DraggingTwoEntriesMakesOneMarkAndMarkedEntriesAreRefused) {
  AddrBookRecord zhang("Zhang", "Qingdao", "/p/z.png"), li("Li", "Beijing", "/p/l.png"), wang("王五", "上海", "/p/w.png"),
      zhao("Zhao", "<b>&'\"", "/p/x.png");
  WriteBook({zhang, li, wang, zhao});
  const std::string bytes = test::ReadTestFile(path);
  // Wang's card is on a stored mark already.
  CMarkShape stored;
  stored.AddPoint(120.1f, 36.1f);
  stored.popup_html = "<html>" + FillAddressCard(wang) + "\r\n</html>";
  ASSERT_TRUE(db.AddItem(stored));

  CDlgAddressBook book(nullptr, nullptr, view.get(), &db, path);
  host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& d) {
    CListCtrl& list = List(d);
    ASSERT_EQ(list.GetItemCount(), 4);
    EXPECT_FALSE(book.IsEditMode());
    EXPECT_EQ(list.GetColumnHeading(5), "状态");
    EXPECT_EQ(list.GetColumnWidth(1), 200);
    EXPECT_EQ(list.GetItemText(2, 5), "已标注");
    EXPECT_EQ(list.GetItemText(3, 1), "<b>&'\"");
    EXPECT_EQ(list.GetItemText(0, 5), "");
    // The label as the mark will carry it, stored at once.
    d.GetDlgItemAs<CButton>(CDlgAddressBook::kIdLabelShown)->Click();
    d.GetDlgItemAs<CEdit>(CDlgAddressBook::kIdLabel)->Type("联系人");
    d.GetDlgItemAs<CComboBox>(CDlgAddressBook::kIdIcons)->Select(3);
    EXPECT_EQ(ProgramSettings().GetString("ablabel", ""), "联系人");
    EXPECT_EQ(ProgramSettings().GetInt("ablabenb", 0), 1);
    EXPECT_EQ(ProgramSettings().GetInt("AbMarker", 0), 3);

    Select(list, {0, 1});
    ASSERT_TRUE(BeginDragItem(list, 1));
    EXPECT_EQ(GetCapture(), &d);
    EXPECT_TRUE(DragPointerMoved(&d, POINT{10, 10}));
    EXPECT_EQ(GetCaptureCursor(), CursorKind::kDefault);
    EXPECT_TRUE(DragPointerMoved(view.get(), POINT{300, 200}));
    EXPECT_EQ(GetCaptureCursor(), CursorKind::kCross);
    EXPECT_TRUE(DragPointerReleased(view.get(), POINT{300, 200}));
    EXPECT_EQ(GetCapture(), nullptr);

    auto marks = ViewMarks();
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0]->Name(), "Zhang,Li");
    EXPECT_EQ(marks[0]->popup_html, FillAddressCard(zhang) + "\r\n" + FillAddressCard(li) + "\r\n");
    EXPECT_EQ(marks[0]->label_shown, 1);
    EXPECT_EQ(marks[0]->label_text, "联系人");
    EXPECT_EQ(marks[0]->icon_index, 3);
    EXPECT_EQ(marks[0]->label_style.face, "黑体");
    EXPECT_EQ(marks[0]->label_style.color, 0xFFC80000u);
    LngLat at = view->Engine().ScreenToLngLat(300, 200);
    ASSERT_EQ(marks[0]->PointCount(), 1u);
    EXPECT_FLOAT_EQ(marks[0]->Points()[0].lng, static_cast<float>(at.lng));
    EXPECT_FLOAT_EQ(marks[0]->Points()[0].lat, static_cast<float>(at.lat));
    EXPECT_EQ(list.GetItemText(0, 5), "已标注");
    EXPECT_EQ(list.GetItemText(1, 5), "已标注");

    // Either entry again: refused with the message, no capture, no mark.
    Select(list, {1});
    EXPECT_TRUE(BeginDragItem(list, 1));
    EXPECT_EQ(host.LastMessage(), "所选项已标注,请重新选择.");
    EXPECT_EQ(GetCapture(), nullptr);
    // A drop outside the map makes nothing; the hostile name's card parses back to it.
    Select(list, {3});
    ASSERT_TRUE(BeginDragItem(list, 3));
    EXPECT_TRUE(DragPointerReleased(nullptr, POINT{5, 5}));
    EXPECT_EQ(ViewMarks().size(), 1u);
    EXPECT_EQ(list.GetItemText(3, 5), "");
    ASSERT_TRUE(BeginDragItem(list, 3));
    EXPECT_TRUE(DragPointerReleased(view.get(), POINT{100, 100}));
    ASSERT_EQ(ViewMarks().size(), 2u);
    EXPECT_EQ(ViewMarks()[1]->popup_html.find("<b>"), std::string::npos);
    d.EndDialog(IDOK);
  });
  book.DoModal();
  // Nothing in the list changed: the file is as it was.
  EXPECT_EQ(test::ReadTestFile(path), bytes);

  // Opened again, the marks on the view mark their entries.
  CDlgAddressBook again(nullptr, nullptr, view.get(), &db, path);
  host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& d) {
    for (int row = 0; row < 4; ++row) EXPECT_EQ(List(d).GetItemText(row, 5), "已标注") << row;
  });
  again.DoModal();
}

TEST_F(AddrBookDialogsTest, InPlaceEditingTheMenuAndTheFileAtClosing) {
  WriteBook({AddrBookRecord("Old", "Jinan", "")});
  CDlgAddressBook book(nullptr, nullptr, view.get(), &db, path);
  host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& d) {
    CListCtrl& list = List(d);
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_FALSE(book.IsEditMode());
    list.ClickItem(-1, 0);  // not in edit mode: nothing
    EXPECT_EQ(list.GetItemCount(), 1);
    // One entry, selected: "删除" but no "清空"; "编辑" switches edit mode on.
    host.AnswerMenu(CDlgAddressBook::ID_AB_EDIT);
    list.RightClickItem(0);
    EXPECT_EQ(host.Records().back().text, "编辑|删除");
    EXPECT_TRUE(book.IsEditMode());

    // A click below the last row appends an entry and edits its name.
    list.ClickItem(-1, 0);
    ASSERT_EQ(list.GetItemCount(), 2);
    ASSERT_NE(book.Editor(), nullptr);
    EXPECT_EQ(book.Editor()->GetDlgCtrlID(), CDlgAddressBook::kIdEditor);
    book.Editor()->Type("张三");
    list.ClickItem(1, 1);  // finishes the name, edits the contact
    EXPECT_EQ(list.GetItemText(1, 0), "张三");
    EXPECT_EQ(list.GetItemText(1, 4), ResolveFolders().program + "images/logo.png");
    book.Editor()->Type("青岛");
    // The picture column: the chooser; Cancel keeps a named entry, drops a blank one.
    host.AnswerFile({dir.File("zs.jpg")});
    list.ClickItem(1, 4);
    EXPECT_EQ(list.GetItemText(1, 1), "青岛");
    EXPECT_EQ(list.GetItemText(1, 4), dir.File("zs.jpg"));
    EXPECT_EQ(ProgramSettings().GetString("picture", ""), dir.File("zs.jpg"));
    host.AnswerFileCancel();
    list.ClickItem(-1, 4);
    EXPECT_EQ(list.GetItemCount(), 2);
    list.ClickItem(0, 5);  // the status column: nothing
    EXPECT_EQ(book.Editor(), nullptr);

    // Sorting by name both ways.
    list.ClickColumn(0);
    EXPECT_EQ(list.GetItemText(0, 0), "Old");
    list.ClickColumn(0);
    EXPECT_EQ(list.GetItemText(0, 0), "张三");

    // "删除" on the first entry, with two entries "清空" is offered too.
    host.AnswerMenu(CDlgAddressBook::ID_AB_DELETE);
    list.RightClickItem(0);
    EXPECT_EQ(host.Records().back().text, "编辑|删除|清空");
    ASSERT_EQ(list.GetItemCount(), 1);
    EXPECT_EQ(list.GetItemText(0, 0), "Old");
    // Emptied of name, contact and note, the entry goes.
    list.ClickItem(0, 0);
    book.Editor()->Type("");
    list.ClickItem(0, 1);
    ASSERT_EQ(list.GetItemCount(), 1);
    book.Editor()->Type("");
    list.ClickItem(-1, 5);
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_TRUE(book.IsModified());
  });
  book.DoModal();
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(AddrBookDialogsTest, EditsAtClosingAreSavedAndADamagedFileIsKept) {
  CDlgAddressBook book(nullptr, nullptr, view.get(), &db, path);
  host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& d) {
    EXPECT_TRUE(book.IsEditMode());  // no file: an empty list in edit mode
    List(d).ClickItem(-1, 0);
    book.Editor()->Type("Li");  // still in the edit box when the dialog closes
  });
  book.DoModal();
  std::vector<AddrBookRecord> read;
  ASSERT_EQ(CAddrBookFile(path).Load(read), ArchiveLoad::kOk);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name, "Li");

  std::string damaged = test::ReadTestFile(path).substr(0, 9);
  test::WriteTestFile(path, damaged);
  CDlgAddressBook again(nullptr, nullptr, view.get(), &db, path);
  host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& d) {
    EXPECT_EQ(List(d).GetItemCount(), 0);
    EXPECT_TRUE(again.WasFileDamaged());
  });
  again.DoModal();
  EXPECT_EQ(test::ReadTestFile(path), damaged);
}

class TemplateEditorTest : public AddrBookDialogsTest {
 protected:
  const std::string head = "<html><head><meta charset=gbk><title>t</title></head><body>";
  const std::string tail = "</body></html>";
  AddrBookRecord a{"A", "addr A", "a.png"}, b{"B", "addr B", "b.png"}, c{"C", "addr C", "c.png"};
};

TEST_F(TemplateEditorTest, CardsRewrittenThroughTheAddressBook) {
  // Three cards, the third deleted in the address book: two cards stay, the rest of the page too.
  CDlgTemplateEditor editor("mark", true);
  editor.SetText(head + FillAddressCard(a) + "\r\n" + FillAddressCard(b) + "\r\n" + FillAddressCard(c) + "\r\n" + tail);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "mark");
    const CMenu* menu = FindSystemMenu(d);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->GetMenuItemCount(), 5);
    EXPECT_EQ(menu->GetItem(1).text, "编辑");
    EXPECT_EQ(menu->GetItem(4).id, CDlgTemplateEditor::SC_CARDS);
    // Preview first by default.
    EXPECT_FALSE(editor.Source().IsWindowVisible());
    host.AnswerDialog(kAddressBookTemplateId, [&](CDialog& book) {
      CListCtrl& list = List(book);
      ASSERT_EQ(list.GetItemCount(), 3);
      EXPECT_EQ(list.GetItemText(1, 0), "B");
      list.ClickItem(2);
      host.AnswerMenu(CDlgAddressBook::ID_AB_DELETE);
      list.RightClickItem(2);
    });
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_CARDS);
    EXPECT_EQ(editor.Source().GetWindowText(), head + FillAddressCard(a) + "\r\n" + FillAddressCard(b) + "\r\n" + tail);
    d.EndDialog(IDOK);
  });
  editor.DoModal();
  EXPECT_EQ(editor.Text(), head + FillAddressCard(a) + "\r\n" + FillAddressCard(b) + "\r\n" + tail);

  // One card: the entry dialog; its values go into the card.
  CDlgTemplateEditor one("one", true);
  one.SetText(head + FillAddressCard(a) + tail);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    host.AnswerDialog(kAddressEntryTemplateId, [&](CDialog& entry) {
      EXPECT_EQ(entry.GetDlgItemText(CDlgAddressEntry::kIdName), "A");
      EXPECT_EQ(entry.GetDlgItemText(CDlgAddressEntry::kIdAddress), "addr A");
      entry.GetDlgItemAs<CEdit>(CDlgAddressEntry::kIdName)->Type("张<三>");
      entry.GetDlgItemAs<CButton>(IDOK)->Click();
    });
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_CARDS);
  });
  one.DoModal();
  std::vector<AddrBookRecord> parsed;
  ASSERT_EQ(ParseAddressCard(one.Text(), parsed), 1u);
  EXPECT_EQ(parsed[0].name, "张<三>");
  EXPECT_EQ(one.Text(), head + FillAddressCard(AddrBookRecord("张<三>", "addr A", "a.png")) + tail);

  // Two cards and the address book closed unchanged: nothing changes.
  CDlgTemplateEditor same("same", true);
  const std::string two = head + FillAddressCard(a) + FillAddressCard(b) + tail;
  same.SetText(two);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    host.AnswerDialog(kAddressBookTemplateId, [&](CDialog&) {});
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_CARDS);
  });
  same.DoModal();
  EXPECT_EQ(same.Text(), two);
}

TEST_F(TemplateEditorTest, NoCardsSourcePreviewAndCancel) {
  for (const std::string& text : {head + tail, head + "<!ADDRBOOK><table><tr><td>" + tail}) {
    CDlgTemplateEditor editor("x", true);
    editor.SetText(text);
    host.ClearRecords();
    host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
      d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_CARDS);
      EXPECT_EQ(host.LastMessage(), "未找到可识别模板!");
    });
    editor.DoModal();
    EXPECT_EQ(editor.Text(), text);
    for (const auto& r : host.Records())  // the editor only: no address book in file mode
      if (r.kind == CHeadlessUiHost::Record::Kind::kDialog) {
        EXPECT_EQ(r.caption, "283");
      }
  }

  // "编辑" and "预览" switch the fields and are remembered; Cancel keeps the edited text.
  CDlgTemplateEditor editor("x", true);
  EXPECT_EQ(editor.Text(), CDlgTemplateEditor::kDefaultText);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_EDIT);
    EXPECT_TRUE(editor.Source().IsWindowVisible());
    EXPECT_FALSE(editor.View()->IsWindowVisible());
    EXPECT_EQ(GetProfileInt("recent", "htmledit", 1), 0);
    editor.Source().Type("<p>edited</p>");
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_PREVIEW);
    EXPECT_FALSE(editor.Source().IsWindowVisible());
    EXPECT_TRUE(editor.View()->IsWindowVisible());
    EXPECT_EQ(GetProfileInt("recent", "htmledit", 0), 1);
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_EDIT);
  });
  editor.DoModal();  // the host cancels it
  EXPECT_EQ(editor.Text(), "<p>edited</p>");

  // Source first now; without the editing flag only the preview and no system menu entries.
  CDlgTemplateEditor viewer("v", false);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    EXPECT_EQ(FindSystemMenu(d), nullptr);
    EXPECT_FALSE(viewer.Source().IsWindowVisible());
    EXPECT_TRUE(viewer.View()->IsWindowVisible());
  });
  viewer.DoModal();
  CDlgTemplateEditor source_first("s", true);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog&) { EXPECT_TRUE(source_first.Source().IsWindowVisible()); });
  source_first.DoModal();
}

TEST_F(TemplateEditorTest, ImportDecodesTheFileAndRefusesHugeOnes) {
  const std::string gbk_page = std::string("<html><head><meta charset=gb2312></head><body>\xd5\xc5\xc8\xfd</body></html>");
  test::WriteTestFile(dir.File("page.htm"), gbk_page);
  test::WriteTestFile(dir.File("huge.htm"), "x");
  std::filesystem::resize_file(dir.File("huge.htm"), CDlgTemplateEditor::kMaxImport + 1);
  CDlgTemplateEditor editor("x", true);
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    host.AnswerFile({dir.File("page.htm")});
    d.SendMessage(WM_COMMAND, CDlgTemplateEditor::ID_IMPORT);
    EXPECT_EQ(editor.Source().GetWindowText(), "<html><head><meta charset=gb2312></head><body>张三</body></html>");
    host.AnswerFile({dir.File("huge.htm")});
    d.SendMessage(WM_COMMAND, CDlgTemplateEditor::ID_IMPORT);
    EXPECT_EQ(host.LastMessage(), CDlgTemplateEditor::kTooLarge);
    d.EndDialog(IDOK);
  });
  editor.DoModal();
  EXPECT_EQ(editor.Text(), "<html><head><meta charset=gb2312></head><body>张三</body></html>");
  // The preview gets GBK bytes for pages that do not declare UTF-8.
  EXPECT_EQ(CDlgTemplateEditor::PageBytes(editor.Text()), gbk_page);
  EXPECT_EQ(CDlgTemplateEditor::PageBytes("<meta charset=utf-8>张"), "<meta charset=utf-8>张");
}

TEST_F(TemplateEditorTest, ARightClickOnAStoredMarkEditsItsPopUp) {
  AttachMarkPopupEditor(*view, &db);
  auto owned = std::make_unique<CMarkShape>();
  CMarkShape* mark = owned.get();
  mark->SetName("店铺");
  LngLat at = view->Engine().ScreenToLngLat(320, 240);
  mark->AddPoint(static_cast<float>(at.lng), static_cast<float>(at.lat));
  mark->popup_html = head + FillAddressCard(a) + tail;
  ASSERT_TRUE(view->AddObject(std::move(owned), true));
  ASSERT_NE(mark->db_id, 0);

  // Closed unchanged: nothing is written.
  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) { EXPECT_EQ(d.GetWindowText(), "店铺"); });
  view->SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(320, 240 - 10));
  EXPECT_EQ(mark->popup_html, head + FillAddressCard(a) + tail);

  host.AnswerDialog(kTemplateEditorTemplateId, [&](CDialog& d) {
    d.SendMessage(WM_SYSCOMMAND, CDlgTemplateEditor::SC_EDIT);
    d.GetDlgItemAs<CEdit>(CDlgTemplateEditor::kIdSource)->Type("<p>新的弹窗</p>");
    d.SendMessage(WM_COMMAND, IDOK);
  });
  view->SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(320, 240 - 10));
  EXPECT_EQ(mark->popup_html, "<p>新的弹窗</p>");
  std::vector<std::unique_ptr<CMapShape>> stored;
  ASSERT_EQ(db.LoadItems(FormatC("SELECT * FROM data WHERE type = %d", kShapeMark), stored), 1);
  EXPECT_EQ(dynamic_cast<CMarkShape&>(*stored[0]).popup_html, "<p>新的弹窗</p>");
  // Away from any mark: no editor.
  host.ClearRecords();
  view->SendMessage(WM_RBUTTONUP, 0, MAKELPARAM(20, 20));
  EXPECT_TRUE(host.Records().empty());
}

}  // namespace
}  // namespace velmora
