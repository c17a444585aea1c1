// The address book and the pop-up template editor on Qt: two rows dragged with the mouse from
// the list onto a shown 2D view become one mark (the pointer capture followed across windows),
// and the editor's preview in the web view shows a card's Chinese name and a name with markup
// characters as plain text; its system menu switches it to the source. Both dialogs are grabbed.
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeView>
#include <optional>

#include "core/settings.h"
#include "earth/ui/html_view_ex.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "places/addr_book.h"
#include "places/ui/dlg_address_book.h"
#include "places/ui/dlg_template_editor.h"
#include "platform/ui/controls.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/window_drag.h"
#include "shapes/draw_item_db.h"
#include "shapes/mark_shape.h"
#include "support/map_test_util.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

// Runs `act` on the dialog's window once it is shown.
void WhenShown(CDialog& dialog, std::function<void(CDialogWindow*)> act) {
  QTimer::singleShot(0, [&dialog, act] {
    CDialogWindow* window = nullptr;
    ASSERT_TRUE(PumpUntil([&] {
      window = CDialogWindow::Of(dialog);
      return window && window->isVisible();
    }));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    act(window);
  });
}

void SendMouse(QWidget* to, QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
  QMouseEvent event(type, QPointF(to->mapFromGlobal(global)), QPointF(global), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(to, &event);
}

TEST(FrontendAddrBook, RowsDraggedOntoTheMapBecomeOneMark) {
  test::TempDir dir;
  CDrawItemDB db;
  ASSERT_TRUE(db.Open(dir.File("drawitem.kdb")));
  auto tiles = test::MakeTileManager(dir.path() + "tiles/");
  TileEngineOptions o;
  o.tiles = tiles.get();
  CPDView view({}, o, &db);
  ASSERT_TRUE(view.CreateView(WS_VISIBLE, nullptr));
  CModelBinding* binding = CWindowMirror::Get().Bind(view, nullptr);
  ASSERT_NE(binding, nullptr);
  QWidget* map = binding->Widget();
  map->setGeometry(900, 40, 480, 360);
  map->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(map));
  ASSERT_TRUE(PumpUntil([&] { return view.Engine().GetCamera().width == map->width(); }));

  std::vector<AddrBookRecord> entries = {AddrBookRecord("张三", "青岛市香港中路8号", "/p/z.png"),
                                         AddrBookRecord("李四", "13800000000", "/p/l.png")};
  CDlgAddressBook book(nullptr, &entries, &view, &db);
  WhenShown(book, [&](CDialogWindow* window) {
    window->move(0, 0);
    Settle();
    auto* tree = test::ControlWidget<QTreeView>(book, CDlgAddressBook::kIdList);
    ASSERT_NE(tree, nullptr);
    QWidget* rows = tree->viewport();
    const QPoint press = rows->mapToGlobal(tree->visualRect(tree->model()->index(0, 0)).center());
    SendMouse(rows, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    book.List().SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
    SendMouse(rows, QEvent::MouseMove, press + QPoint(30, 0), Qt::NoButton, Qt::LeftButton);
    ASSERT_EQ(GetCapture(), &book) << "the move past the drag distance begins the drag";
    // Qt's implicit grab sends the moves to the list, wherever the pointer is.
    const QPoint drop = map->mapToGlobal(QPoint(240, 180));
    SendMouse(rows, QEvent::MouseMove, drop, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(GetCaptureCursor(), CursorKind::kCross);
    SendMouse(rows, QEvent::MouseButtonRelease, drop, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(GetCapture(), nullptr);
    Settle();
    test::SaveArtefact(window->grab().toImage(), "address_book_after_drop");
    book.EndDialog(IDOK);
  });
  book.DoModal();

  std::vector<CMapShape*> marks;
  view.Engine().Tracks().GetShapesByType(kShapeMark, marks);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(marks[0]->Name(), "张三,李四");
  LngLat at = view.Engine().ScreenToLngLat(240, 180);
  EXPECT_NEAR(marks[0]->Points()[0].lng, at.lng, 1e-4);
  EXPECT_NEAR(marks[0]->Points()[0].lat, at.lat, 1e-4);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].marked, 1u);
  EXPECT_EQ(entries[1].marked, 1u);
  view.DestroyWindow();
  Settle();
  tiles->Stop();
}

TEST(FrontendAddrBook, TheEntryDialogShowsOneCard) {
  CDlgAddressEntry entry;
  entry.name = "张三";
  entry.address = "青岛市市南区香港中路8号";
  entry.picture = ResolveFolders().program + "images/logo.png";
  WhenShown(entry, [&](CDialogWindow* window) {
    test::SaveArtefact(window->grab().toImage(), "address_entry");
    auto* name = test::ControlWidget(entry, CDlgAddressEntry::kIdName);
    ASSERT_NE(name, nullptr);
    test::TypeText(name, QStringLiteral("李"));
    Settle();
    entry.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  EXPECT_EQ(entry.DoModal(), IDOK);
  EXPECT_EQ(entry.name, "张三李");
  EXPECT_EQ(entry.address, "青岛市市南区香港中路8号");
}

// The page's text once its document answers (the load completes later).
std::string PageText(CHtmlViewEx& view, const std::string& want) {
  std::string text;
  PumpUntil([&] {
    bool answered = false;
    view.Engine().CallFunctionAsync("cardText", {}, [&](std::optional<ScriptValue> r) {
      text = r ? r->ToText() : std::string();
      answered = true;
    });
    PumpUntil([&] { return answered; }, 5000);
    return text.find(want) != std::string::npos;
  }, 60000);
  return text;
}

TEST(FrontendAddrBook, ThePreviewShowsCardsAsTextAndTheSystemMenuSwitchesToSource) {
  WriteProfileInt("recent", "htmledit", 1);
  std::string text = CDlgTemplateEditor::kDefaultText;
  text.insert(text.rfind("</html>"),
              FillAddressCard(AddrBookRecord("张三", "青岛市", "")) + "\r\n" +
                  FillAddressCard(AddrBookRecord("<b>&'\"", "<script>cardText = 0</script>", "")) + "\r\n" +
                  "<script>function cardText() { return document.body.innerText; }</script>");
  CDlgTemplateEditor editor("张三的标注", true);
  editor.SetText(text);
  WhenShown(editor, [&](CDialogWindow* window) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("张三的标注"));
    ASSERT_NE(editor.View(), nullptr);
    std::string shown = PageText(*editor.View(), "张三");
    EXPECT_NE(shown.find("张三"), std::string::npos) << shown;
    EXPECT_NE(shown.find("<b>&'\""), std::string::npos) << shown;
    EXPECT_NE(shown.find("<script>cardText = 0</script>"), std::string::npos) << shown;
    // The page drawn: the default pop-up's red title shows.
    QImage grab;
    bool drawn = PumpUntil([&] {
      grab = window->grab().toImage();
      for (int y = 0; y < grab.height(); y += 2)
        for (int x = 0; x < grab.width(); x += 2) {
          QColor c = grab.pixelColor(x, y);
          if (c.red() > 180 && c.green() < 80 && c.blue() < 80) return true;
        }
      return false;
    }, 20000);
    test::SaveArtefact(grab, "template_editor_preview");
    EXPECT_TRUE(drawn);

    // A right click on the window's own area: the system menu with the editor's entries (Alt+Space
    // opens the same; the offscreen platform activates no window for shortcuts); "编辑" shows
    // the source.
    QTimer::singleShot(0, [] {
      QMenu* menu = nullptr;
      PumpUntil([&] { return (menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) != nullptr; }, 5000);
      ASSERT_NE(menu, nullptr);
      QStringList texts;
      QAction* edit = nullptr;
      for (QAction* a : menu->actions()) {
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        if (a->text() == QStringLiteral("编辑")) edit = a;
      }
      EXPECT_EQ(texts.join('|'), QStringLiteral("-|编辑|预览|-|模板编辑器"));
      ASSERT_NE(edit, nullptr);
      menu->setActiveAction(edit);
      QTest::keyClick(menu, Qt::Key_Return);
    });
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(4, 4), window->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(window, &click);
    EXPECT_TRUE(PumpUntil([&] { return editor.Source().IsWindowVisible(); }, 5000));
    EXPECT_EQ(GetProfileInt("recent", "htmledit", 1), 0);
    QWidget* source = test::ControlWidget(editor, CDlgTemplateEditor::kIdSource);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->font().family(), QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
    EXPECT_TRUE(QFontInfo(source->font()).fixedPitch()) << source->font().family().toStdString();
    Settle();
    test::SaveArtefact(window->grab().toImage(), "template_editor_source");
    editor.EndDialog(IDOK);
  });
  editor.DoModal();
  EXPECT_EQ(editor.Text(), text);
}

}  // namespace
}  // namespace velmora
