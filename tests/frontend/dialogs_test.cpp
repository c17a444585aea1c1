// Dialogs from their templates on Qt: every control by id with its text and state, a person's
// clicks, typing and keys reaching the model's handlers, the model's changes reaching the widgets,
// long texts shown whole, windows that draw themselves, property sheets, and the program's own
// dialogs grabbed as pictures with their Chinese texts drawn.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <tuple>

#include "frontend/dialog_units.h"
#include "frontend/dialog_window.h"
#include "frontend/widget_registry.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/image_list.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/property_sheet.h"
#include "platform/ui/tree_ctrl.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"

namespace velmora {
namespace {

using test::ControlWidget;
using test::PumpUntil;
using test::Settle;
using test::WidgetOf;

constexpr int kIdd = 9301;
enum : int {
  kIdLong = 1001,
  kIdLines,
  kIdApply,
  kIdLog,
  kIdLng,
  kIdLat,
  kIdGroup,
  kIdValue,
  kIdNotes,
  kIdFormat,
  kIdPoints,
  kIdTree,
  kIdProgress,
  kIdSwatch
};

const char kLongText[] = "这是一段很长的说明文字，超出了控件的宽度，应当以省略号结尾并在提示中完整显示";

DialogTemplate AllKinds() {
  return DialogTemplate{
      kIdd,
      "坐标点编辑",
      310,
      236,
      {
          {ControlKind::kGroupBox, kIdGroup, "坐标", 7, 4, 200, 60, 0},
          {ControlKind::kStatic, kIdLong, kLongText, 14, 16, 100, 10, 0},
          {ControlKind::kCheckBox, kIdLog, "记录日志", 14, 30, 80, 10, 0},
          {ControlKind::kRadio, kIdLng, "经度", 14, 46, 40, 10, 0},
          {ControlKind::kRadio, kIdLat, "纬度", 60, 46, 40, 10, 0},
          {ControlKind::kEdit, kIdValue, "116.39", 110, 30, 80, 12, 0},
          {ControlKind::kEdit, kIdNotes, "", 7, 70, 100, 40, 0},
          {ControlKind::kComboBox, kIdFormat, "", 110, 70, 90, 80, 0},
          {ControlKind::kListView, kIdPoints, "", 7, 116, 200, 62, 0},
          {ControlKind::kTreeView, kIdTree, "", 214, 7, 90, 100, 0},
          {ControlKind::kProgress, kIdProgress, "", 214, 112, 90, 10, 0},
          {ControlKind::kCustom, kIdSwatch, "", 214, 126, 90, 52, 0},
          {ControlKind::kStatic, kIdLines, "多行说明：第一行\n第二行\n第三行", 7, 182, 200, 26, 0},
          {ControlKind::kButton, kIdApply, "应用", 7, 214, 50, 14, 0},
          {ControlKind::kDefButton, IDOK, "确定", 200, 214, 50, 14, 0},
          {ControlKind::kButton, IDCANCEL, "取消", 254, 214, 50, 14, WS_DISABLED},
      }};
}

// A window that draws itself: a colour swatch that records the messages it gets.
class CSwatch : public CWnd {
 public:
  bool OnPaint(CBitmap& canvas) override {
    canvas.Clear(color);
    last_size = {canvas.Width(), canvas.Height()};
    ++paints;
    return true;
  }
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override {
    if (msg != WM_CREATE && msg != WM_DESTROY && msg != WM_ENABLE && msg != WM_SHOWWINDOW)
      messages.emplace_back(msg, wparam, lparam);
    return CWnd::WindowProc(msg, wparam, lparam);
  }
  bool Got(UINT msg) const {
    for (auto& m : messages)
      if (std::get<0>(m) == msg) return true;
    return false;
  }
  std::tuple<UINT, WPARAM, LPARAM> Last(UINT msg) const {
    for (auto it = messages.rbegin(); it != messages.rend(); ++it)
      if (std::get<0>(*it) == msg) return *it;
    return {};
  }
  Argb color = 0xFF2080C0;
  std::pair<int, int> last_size{0, 0};
  int paints = 0;
  std::vector<std::tuple<UINT, WPARAM, LPARAM>> messages;
};

class CPointDialog : public CDialog {
 public:
  CPointDialog() : CDialog(AllKinds()) {
    BindControl(kIdSwatch, swatch);
    MapCommand(kIdApply, [this] { ++applied; });
    MapControlNotify(kIdValue, EN_CHANGE, [this] { ++edits; });
    MapControlNotify(kIdFormat, CBN_SELCHANGE, [this] { ++format_changes; });
    MapNotify(kIdPoints, NM_CLICK, [this](NMHDR* h) {
      clicked_row = reinterpret_cast<NMITEMACTIVATE*>(h)->iItem;
      return LRESULT{0};
    });
    MapNotify(kIdPoints, NM_DBLCLK, [this](NMHDR* h) {
      double_clicked_row = reinterpret_cast<NMITEMACTIVATE*>(h)->iItem;
      return LRESULT{0};
    });
    MapNotify(kIdPoints, LVN_COLUMNCLICK, [this](NMHDR* h) {
      clicked_column = reinterpret_cast<NMLISTVIEW*>(h)->iSubItem;
      return LRESULT{0};
    });
    MapNotify(kIdTree, TVN_SELCHANGED, [this](NMHDR* h) {
      tree_selected = reinterpret_cast<NMTREEVIEW*>(h)->itemNew;
      return LRESULT{0};
    });
  }
  bool OnInitDialog() override {
    auto* combo = GetDlgItemAs<CComboBox>(kIdFormat);
    for (const char* f : {"度", "度分", "度分秒"}) combo->AddString(f);
    combo->SetCurSel(0);
    auto* list = GetDlgItemAs<CListCtrl>(kIdPoints);
    list->InsertColumn(0, "序号", LVCFMT_LEFT, 40);
    list->InsertColumn(1, "经度", LVCFMT_LEFT, 90);
    list->InsertColumn(2, "纬度", LVCFMT_LEFT, 90);
    const char* rows[][3] = {{"1", "116.391", "39.907"}, {"2", "121.473", "31.230"}, {"3", "113.264", "23.129"}};
    for (auto& r : rows) {
      int i = list->InsertItem(list->GetItemCount(), r[0]);
      list->SetItemText(i, 1, r[1]);
      list->SetItemText(i, 2, r[2]);
    }
    auto* tree = GetDlgItemAs<CTreeCtrl>(kIdTree);
    china = tree->InsertItem("中国");
    beijing = tree->InsertItem("北京", china);
    tree->InsertItem("上海", china);
    tree->Expand(china, TVE_EXPAND);
    GetDlgItemAs<CProgressCtrl>(kIdProgress)->SetPos(40);
    CheckDlgButton(kIdLng, BST_CHECKED);
    return true;
  }

  CSwatch swatch;
  int applied = 0, edits = 0, format_changes = 0;
  int clicked_row = -2, double_clicked_row = -2, clicked_column = -1;
  HTREEITEM tree_selected = 0, china = 0, beijing = 0;
};

class FrontendDialogTest : public ::testing::Test {
 protected:
  // Shows the dialog modeless and waits for its window.
  CDialogWindow* Show(CDialog& dialog) {
    EXPECT_TRUE(dialog.Create());
    ShowModelessDialog(&dialog);
    CDialogWindow* window = CDialogWindow::Of(dialog);
    EXPECT_NE(window, nullptr);
    if (window) {
      EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    }
    Settle();
    return window;
  }
};

TEST_F(FrontendDialogTest, TemplateControlsAppearByIdWithTheirTextsAndStates) {
  CPointDialog dlg;
  CDialogWindow* window = Show(dlg);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("坐标点编辑"));
  // Dialog units to pixels from the application font.
  QSize expected = CDialogUnits::ToPixels(310, 236);
  EXPECT_EQ(window->Content()->size(), expected);
  QPushButton* ok = ControlWidget<QPushButton>(dlg, IDOK);
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->text(), QStringLiteral("确定"));
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->geometry(), CDialogUnits::ToPixels(RECT{200, 214, 250, 228}));
  EXPECT_FALSE(ControlWidget<QPushButton>(dlg, IDCANCEL)->isEnabled());
  EXPECT_EQ(ControlWidget<QCheckBox>(dlg, kIdLog)->text(), QStringLiteral("记录日志"));
  EXPECT_TRUE(ControlWidget<QRadioButton>(dlg, kIdLng)->isChecked());
  EXPECT_FALSE(ControlWidget<QRadioButton>(dlg, kIdLat)->isChecked());
  EXPECT_EQ(ControlWidget<QGroupBox>(dlg, kIdGroup)->title(), QStringLiteral("坐标"));
  EXPECT_EQ(ControlWidget<QLineEdit>(dlg, kIdValue)->text(), QStringLiteral("116.39"));
  EXPECT_NE(ControlWidget<QPlainTextEdit>(dlg, kIdNotes), nullptr);  // several lines high
  auto* combo = ControlWidget<QComboBox>(dlg, kIdFormat);
  ASSERT_TRUE(combo);
  EXPECT_EQ(combo->count(), 3);
  EXPECT_EQ(combo->currentText(), QStringLiteral("度"));
  EXPECT_LT(combo->height(), CDialogUnits::Y(80));  // one line, not the drop-down's height
  auto* list = ControlWidget<QTreeView>(dlg, kIdPoints);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->model()->rowCount(), 3);
  EXPECT_EQ(list->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("经度"));
  EXPECT_EQ(list->model()->index(1, 2).data().toString(), QStringLiteral("31.230"));
  EXPECT_EQ(list->header()->sectionSize(1), 90);
  auto* tree = ControlWidget<QTreeView>(dlg, kIdTree);
  ASSERT_TRUE(tree);
  QModelIndex china = tree->model()->index(0, 0);
  EXPECT_EQ(china.data().toString(), QStringLiteral("中国"));
  EXPECT_TRUE(tree->isExpanded(china));
  EXPECT_EQ(tree->model()->rowCount(china), 2);
  EXPECT_EQ(ControlWidget<QProgressBar>(dlg, kIdProgress)->value(), 40);

  // The long one-line text ends in "…" at a character and the tool tip holds all of it.
  auto* long_label = ControlWidget<QLabel>(dlg, kIdLong);
  ASSERT_TRUE(long_label);
  QString shown = long_label->text();
  EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
  EXPECT_TRUE(QString::fromUtf8(kLongText).startsWith(shown.chopped(1)));
  EXPECT_EQ(long_label->toolTip(), QString::fromUtf8(kLongText));
  EXPECT_TRUE(ControlWidget<QLabel>(dlg, kIdLines)->wordWrap());

  // The swatch drew itself at its size, which it was told with WM_SIZE.
  QWidget* swatch = ControlWidget(dlg, kIdSwatch);
  ASSERT_TRUE(swatch);
  EXPECT_GT(dlg.swatch.paints, 0);
  EXPECT_EQ(dlg.swatch.last_size, std::make_pair(swatch->width(), swatch->height()));
  auto [msg, wparam, lparam] = dlg.swatch.Last(WM_SIZE);
  EXPECT_EQ(msg, WM_SIZE);
  EXPECT_EQ(GET_X_LPARAM(lparam), swatch->width());
  EXPECT_EQ(GET_Y_LPARAM(lparam), swatch->height());
  QImage grab = window->grab().toImage();
  QPoint centre = swatch->mapTo(window, swatch->rect().center());
  EXPECT_EQ(grab.pixel(centre) & 0xFFFFFF, 0x2080C0u);

  std::string path = test::SaveArtefact(grab, "dialog_all_controls");
  int checked = 0;
  std::vector<std::string> missing = test::TextsNotDrawn(window, grab, &checked);
  EXPECT_TRUE(missing.empty()) << path << ": " << (missing.empty() ? "" : missing.front());
  EXPECT_GE(checked, 9);
  dlg.DestroyWindow();
}

TEST_F(FrontendDialogTest, PersonsActionsReachTheModelsHandlers) {
  CPointDialog dlg;
  CDialogWindow* window = Show(dlg);
  ASSERT_TRUE(window);
  QTest::mouseClick(ControlWidget(dlg, kIdApply), Qt::LeftButton);
  EXPECT_EQ(dlg.applied, 1);
  QTest::mouseClick(ControlWidget(dlg, kIdLog), Qt::LeftButton);
  EXPECT_EQ(dlg.IsDlgButtonChecked(kIdLog), BST_CHECKED);
  QTest::mouseClick(ControlWidget(dlg, kIdLat), Qt::LeftButton);
  Settle();
  EXPECT_EQ(dlg.IsDlgButtonChecked(kIdLat), BST_CHECKED);
  EXPECT_EQ(dlg.IsDlgButtonChecked(kIdLng), BST_UNCHECKED);  // the model's radio group
  EXPECT_FALSE(ControlWidget<QRadioButton>(dlg, kIdLng)->isChecked());

  auto* value = ControlWidget<QLineEdit>(dlg, kIdValue);
  value->selectAll();
  test::TypeText(value, QStringLiteral("39.9°"));
  EXPECT_EQ(dlg.GetDlgItemText(kIdValue), "39.9°");
  EXPECT_EQ(dlg.edits, 5);
  auto* notes = ControlWidget<QPlainTextEdit>(dlg, kIdNotes);
  notes->setFocus();
  test::TypeText(notes, QStringLiteral("天安门"));
  EXPECT_EQ(dlg.GetDlgItemText(kIdNotes), "天安门");

  auto* combo = ControlWidget<QComboBox>(dlg, kIdFormat);
  combo->setFocus();
  QTest::keyClick(combo, Qt::Key_Down);
  EXPECT_EQ(dlg.GetDlgItemAs<CComboBox>(kIdFormat)->GetCurSel(), 1);
  EXPECT_EQ(dlg.format_changes, 1);
  // A right click on the combo box asks the model for its context menu.
  int context_menus = 0;
  dlg.GetDlgItem(kIdFormat)->MapMessage(WM_CONTEXTMENU, [&](WPARAM, LPARAM) {
    ++context_menus;
    return LRESULT{0};
  });
  QTest::mouseClick(combo, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_EQ(context_menus, 1);

  auto* list = ControlWidget<QTreeView>(dlg, kIdPoints);
  QRect row2 = list->visualRect(list->model()->index(2, 1));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2.center());
  EXPECT_EQ(dlg.clicked_row, 2);
  EXPECT_EQ(dlg.GetDlgItemAs<CListCtrl>(kIdPoints)->GetSelectedItems(), std::vector<int>{2});
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, row2.center());
  EXPECT_EQ(dlg.double_clicked_row, 2);
  QTest::keyClick(list, Qt::Key_Up);  // keys move the selection in the model too
  Settle();
  EXPECT_EQ(dlg.GetDlgItemAs<CListCtrl>(kIdPoints)->GetSelectedItems(), std::vector<int>{1});
  QHeaderView* header = list->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(2) + 5, 5));
  EXPECT_EQ(dlg.clicked_column, 2);

  auto* tree = ControlWidget<QTreeView>(dlg, kIdTree);
  auto* tree_model = tree->model();
  QModelIndex beijing = tree_model->index(0, 0, tree_model->index(0, 0));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualRect(beijing).center());
  EXPECT_EQ(dlg.tree_selected, dlg.beijing);

  // Mouse, wheel and keys reach a window that draws itself, in client pixels.
  QWidget* swatch = ControlWidget(dlg, kIdSwatch);
  dlg.swatch.messages.clear();
  QTest::mousePress(swatch, Qt::LeftButton, Qt::ShiftModifier, QPoint(7, 9));
  QTest::mouseRelease(swatch, Qt::LeftButton, {}, QPoint(8, 10));
  auto [down, down_w, down_l] = dlg.swatch.Last(WM_LBUTTONDOWN);
  EXPECT_EQ(down, WM_LBUTTONDOWN);
  EXPECT_EQ(GET_X_LPARAM(down_l), 7);
  EXPECT_EQ(GET_Y_LPARAM(down_l), 9);
  EXPECT_EQ(down_w & (MK_LBUTTON | MK_SHIFT), MK_LBUTTON | MK_SHIFT);
  EXPECT_TRUE(dlg.swatch.Got(WM_LBUTTONUP));
  QWheelEvent wheel(QPointF(20, 12), swatch->mapToGlobal(QPointF(20, 12)), QPoint(), QPoint(0, -120), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(swatch, &wheel);
  auto [w_msg, w_wparam, w_lparam] = dlg.swatch.Last(WM_MOUSEWHEEL);
  EXPECT_EQ(w_msg, WM_MOUSEWHEEL);
  EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(w_wparam), -120);
  EXPECT_EQ(GET_X_LPARAM(w_lparam), 20);
  QTest::mouseClick(swatch, Qt::RightButton, {}, QPoint(5, 5));
  EXPECT_TRUE(dlg.swatch.Got(WM_RBUTTONDOWN));
  EXPECT_TRUE(dlg.swatch.Got(WM_CONTEXTMENU));
  swatch->setFocus();
  QTest::keyClick(swatch, Qt::Key_Plus, Qt::KeypadModifier);
  QTest::keyClick(swatch, Qt::Key_A);
  EXPECT_EQ(std::get<1>(dlg.swatch.Last(WM_KEYDOWN)), static_cast<WPARAM>('A'));
  EXPECT_EQ(std::get<1>(dlg.swatch.Last(WM_CHAR)), static_cast<WPARAM>('a'));
  bool keypad_plus = false;
  for (auto& [m, w, l] : dlg.swatch.messages) keypad_plus = keypad_plus || (m == WM_KEYDOWN && w == VK_ADD);
  EXPECT_TRUE(keypad_plus);
  dlg.DestroyWindow();
}

TEST_F(FrontendDialogTest, ModelChangesReachTheWidgets) {
  CPointDialog dlg;
  CDialogWindow* window = Show(dlg);
  ASSERT_TRUE(window);
  dlg.SetDlgItemText(IDOK, "开始");
  dlg.GetDlgItem(IDCANCEL)->EnableWindow(true);
  dlg.CheckDlgButton(kIdLog, BST_CHECKED);
  dlg.GetDlgItemAs<CComboBox>(kIdFormat)->AddString("弧度");
  dlg.GetDlgItemAs<CComboBox>(kIdFormat)->SetCurSel(3);
  auto* list = dlg.GetDlgItemAs<CListCtrl>(kIdPoints);
  list->InsertItem(list->GetItemCount(), "4");
  list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED);
  auto* tree = dlg.GetDlgItemAs<CTreeCtrl>(kIdTree);
  HTREEITEM gz = tree->InsertItem("广州", dlg.china);
  tree->SelectItem(gz);
  dlg.GetDlgItemAs<CProgressCtrl>(kIdProgress)->SetPos(90);
  dlg.GetDlgItem(kIdLines)->ShowWindow(SW_HIDE);
  dlg.swatch.color = 0xFFC02020;
  int paints = dlg.swatch.paints;
  dlg.swatch.Invalidate();
  Settle();

  EXPECT_EQ(ControlWidget<QPushButton>(dlg, IDOK)->text(), QStringLiteral("开始"));
  EXPECT_TRUE(ControlWidget(dlg, IDCANCEL)->isEnabled());
  EXPECT_TRUE(ControlWidget<QCheckBox>(dlg, kIdLog)->isChecked());
  EXPECT_EQ(ControlWidget<QComboBox>(dlg, kIdFormat)->currentText(), QStringLiteral("弧度"));
  auto* view = ControlWidget<QTreeView>(dlg, kIdPoints);
  EXPECT_EQ(view->model()->rowCount(), 4);
  EXPECT_TRUE(view->selectionModel()->isRowSelected(0, {}));
  auto* tree_view = ControlWidget<QTreeView>(dlg, kIdTree);
  EXPECT_EQ(tree_view->currentIndex().data().toString(), QStringLiteral("广州"));
  EXPECT_EQ(ControlWidget<QProgressBar>(dlg, kIdProgress)->value(), 90);
  EXPECT_FALSE(ControlWidget(dlg, kIdLines)->isVisible());
  EXPECT_GT(dlg.swatch.paints, paints);

  // A window that goes away takes its widget along; the dialog's end closes its window.
  dlg.EndDialog(IDOK);
  EXPECT_FALSE(dlg.IsWindow());
  EXPECT_TRUE(PumpUntil([&] { return CDialogWindow::Of(dlg) == nullptr; }));
}

TEST_F(FrontendDialogTest, VirtualListAsksOnlyForTheRowsShown) {
  CDialog dlg(DialogTemplate{9302, "坐标列表", 200, 150, {{ControlKind::kListView, 1, "", 4, 4, 192, 142, 0}}});
  ASSERT_TRUE(dlg.Create());
  auto* list = dlg.GetDlgItemAs<CListCtrl>(1);
  list->InsertColumn(0, "序号", LVCFMT_LEFT, 60);
  list->InsertColumn(1, "经度", LVCFMT_LEFT, 100);
  int asked = 0;
  list->SetDisplayCallbacks([&asked](int item, int sub) {
    ++asked;
    return sub == 0 ? std::to_string(item + 1) : "116." + std::to_string(item % 1000);
  });
  list->SetItemCountEx(1000000);
  ShowModelessDialog(&dlg);
  auto* view = WidgetOf<QTreeView>(list);
  ASSERT_TRUE(view);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view->window()));
  Settle();
  EXPECT_EQ(view->model()->rowCount(), 1000000);
  EXPECT_GT(asked, 0);
  EXPECT_LT(asked, 2000);
  EXPECT_EQ(view->model()->index(999999, 0).data().toString(), QStringLiteral("1000000"));
  QRect first = view->visualRect(view->model()->index(0, 0));
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, first.center());
  EXPECT_EQ(list->GetSelectedItems(), std::vector<int>{0});
  dlg.DestroyWindow();
}

TEST_F(FrontendDialogTest, MissingPicturesAreBlank) {
  CImageList images(16, 16);
  images.Add("no_such_picture.png");
  CDialog dlg(DialogTemplate{9303, "图标", 120, 80,
                             {{ControlKind::kListView, 1, "", 4, 4, 112, 50, 0},
                              {ControlKind::kButton, 2, "图标", 4, 60, 50, 14, 0}}});
  ASSERT_TRUE(dlg.Create());
  auto* list = dlg.GetDlgItemAs<CListCtrl>(1);
  list->SetImageList(&images);
  list->InsertColumn(0, "名称");
  list->InsertItem(0, "谷歌地图", 0);
  list->InsertItem(1, "没有图片", 7);  // beyond the list
  dlg.GetDlgItem(2)->SetIcon("missing.png");
  dlg.SetIcon("missing.png");
  CDialogWindow* window = Show(dlg);
  ASSERT_TRUE(window);
  QImage grab = window->grab().toImage();
  EXPECT_FALSE(grab.isNull());
  auto* view = WidgetOf<QTreeView>(list);
  EXPECT_EQ(view->model()->index(1, 0).data().toString(), QStringLiteral("没有图片"));
  dlg.DestroyWindow();
}

// ---- the extension point ----

// A window class of a module that a standard control cannot show (a web page, say).
class CPageWnd : public CWnd {
 public:
  std::string url = "about:blank";
};

// Its widget: here a label with the page's address, kept up to date by the binding.
class CPageBinding : public CModelBinding {
 public:
  CPageBinding(CPageWnd& window, QWidget* parent) : CModelBinding(window, new QLabel(parent)) {}
  void SyncFromModel() override {
    CModelBinding::SyncFromModel();
    if (auto* page = ModelAs<CPageWnd>()) static_cast<QLabel*>(Widget())->setText(QString::fromStdString(page->url));
  }
};

TEST_F(FrontendDialogTest, RegisteredWidgetShowsItsModelClass) {
  RegisterWindowWidget<CPageWnd>([](CPageWnd& w, QWidget* parent) { return new CPageBinding(w, parent); }, "page");
  CPageWnd page;
  CDialog dlg(DialogTemplate{9305, "网页", 200, 120, {{ControlKind::kCustom, 7, "", 4, 4, 192, 112, 0}}});
  dlg.BindControl(7, page);
  CSwatch plain;  // a window of another class keeps the built-in choice
  CDialogWindow* window = Show(dlg);
  ASSERT_TRUE(window);
  ASSERT_TRUE(plain.Create(&dlg, 8, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 10, 10}));
  page.url = "http://127.0.0.1/map.htm";
  page.Invalidate();
  Settle();
  auto* label = WidgetOf<QLabel>(&page);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->text(), QStringLiteral("http://127.0.0.1/map.htm"));
  EXPECT_EQ(WidgetOf<QLabel>(&plain), nullptr);
  EXPECT_NE(WidgetOf(&plain), nullptr);
  UnregisterWidgetFactory("page");
  dlg.DestroyWindow();
}

// ---- modal runs ----

// Runs `act` on the modal window once it is shown.
void WhenModalShown(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    PumpUntil([] { return QApplication::activeModalWidget() && QApplication::activeModalWidget()->isVisible(); });
    act(QApplication::activeModalWidget());
  });
}

class CCountingDialog : public CDialog {
 public:
  using CDialog::CDialog;
  void OnCancel() override {
    ++cancels;
    CDialog::OnCancel();
  }
  int cancels = 0;
};

TEST_F(FrontendDialogTest, ModalEnterEscapeAndTheWindowManagersClose) {
  DialogTemplate t{9304, "新建地图发布服务", 200, 80,
                   {{ControlKind::kEdit, 1213, "80", 50, 7, 60, 12, 0},
                    {ControlKind::kDefButton, IDOK, "确定", 90, 60, 50, 14, 0},
                    {ControlKind::kButton, IDCANCEL, "取消", 144, 60, 50, 14, 0}}};
  {
    CCountingDialog dlg(t);
    WhenModalShown([](QWidget* w) {
      auto* edit = w->findChild<QLineEdit*>();
      edit->setFocus();
      QTest::keyClick(edit, Qt::Key_Return);  // the default button
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
  }
  {
    CCountingDialog dlg(t);
    WhenModalShown([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancels, 1);
  }
  {
    // Closed by the window manager: the dialog's WM_CLOSE cancels it.
    CCountingDialog dlg(t);
    WhenModalShown([](QWidget* w) { w->close(); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.cancels, 1);
    EXPECT_TRUE(PumpUntil([] { return QApplication::activeModalWidget() == nullptr; }));
  }
}

// ---- property sheets ----

class CLevelPage : public CPropertyPage {
 public:
  CLevelPage(int id, const char* title)
      : CPropertyPage(DialogTemplate{id, title, 180, 90,
                                     {{ControlKind::kStatic, -1, "等高线间隔:", 7, 9, 50, 10, 0},
                                      {ControlKind::kEdit, 1204, "10", 60, 7, 60, 12, 0},
                                      {ControlKind::kCheckBox, 1209, "标注等高线", 7, 26, 80, 10, 0}}}) {
    MapControlNotify(1204, EN_CHANGE, [this] { SetModified(); });
  }
  bool OnKillActive() override {
    auto v = GetDlgItemInt(1204);
    return v && *v > 0;
  }
  bool OnApply() override {
    stored = GetDlgItemText(1204);
    return true;
  }
  std::string stored;
};

TEST_F(FrontendDialogTest, PropertySheetShowsPagesInTabs) {
  CLevelPage dem(264, "高程"), earth(241, "谷歌地球");
  CPropertySheet sheet("选项");
  sheet.AddPage(&dem);
  sheet.AddPage(&earth);
  ASSERT_TRUE(sheet.Create());
  sheet.ShowWindow(SW_SHOW);
  ShowModelessDialog(&sheet);
  CDialogWindow* window = CDialogWindow::Of(sheet);
  ASSERT_TRUE(window);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  Settle();
  auto* tabs = window->findChild<QTabWidget*>();
  ASSERT_TRUE(tabs);
  EXPECT_EQ(tabs->count(), 2);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("高程"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("谷歌地球"));
  EXPECT_FALSE(earth.IsWindow());
  EXPECT_FALSE(ControlWidget(sheet, ID_APPLY_NOW)->isEnabled());
  EXPECT_EQ(ControlWidget<QPushButton>(sheet, ID_APPLY_NOW)->text(), QStringLiteral("应用(&A)"));

  auto* interval = ControlWidget<QLineEdit>(dem, 1204);
  ASSERT_TRUE(interval);
  EXPECT_TRUE(interval->isVisible());
  interval->selectAll();
  QTest::keyClicks(interval, QStringLiteral("0"));
  Settle();
  EXPECT_TRUE(ControlWidget(sheet, ID_APPLY_NOW)->isEnabled());
  // A value the page refuses keeps its tab.
  tabs->tabBar()->setCurrentIndex(1);
  Settle();
  EXPECT_EQ(tabs->currentIndex(), 0);
  EXPECT_EQ(sheet.GetActiveIndex(), 0);
  interval->selectAll();
  QTest::keyClicks(interval, QStringLiteral("25"));
  tabs->tabBar()->setCurrentIndex(1);
  Settle();
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  ASSERT_TRUE(earth.IsWindow());
  QWidget* earth_edit = ControlWidget(earth, 1204);
  ASSERT_TRUE(earth_edit);
  EXPECT_TRUE(earth_edit->isVisible());
  EXPECT_TRUE(tabs->widget(1)->isAncestorOf(earth_edit));

  QImage grab = window->grab().toImage();
  std::string path = test::SaveArtefact(grab, "dialog_property_sheet");
  EXPECT_TRUE(test::TextsNotDrawn(window, grab).empty()) << path;

  QTest::mouseClick(ControlWidget(sheet, IDOK), Qt::LeftButton);
  EXPECT_EQ(dem.stored, "25");
  EXPECT_FALSE(sheet.IsWindow());
  EXPECT_TRUE(PumpUntil([&] { return CDialogWindow::Of(sheet) == nullptr; }));
}

// ---- the program's own dialogs ----

TEST_F(FrontendDialogTest, ProgressDialogIsDrawnWithItsLinesAndCancel) {
  CDlgProgress progress("导出高程");
  std::atomic<bool> release{false};
  ASSERT_TRUE(progress.StartThread("ProgressWorker", [&] {
    progress.AddLine("正在读取高程文件 %d/%d", 1, 3);
    progress.AddLine("正在写入 %s", "等高线.dxf");
    progress.SetProgress(0.4f);
    while (!release && !progress.Thread().WaitQuit(10)) {
    }
  }));
  QImage grab;
  std::vector<std::string> missing;
  WhenModalShown([&](QWidget* w) {
    // The worker's lines and progress reach the widgets through posted messages.
    auto* lines = ControlWidget<QLabel>(progress, CDlgProgress::kIdLines);
    auto* bar = ControlWidget<QProgressBar>(progress, CDlgProgress::kIdProgress);
    ASSERT_TRUE(lines && bar);
    EXPECT_TRUE(PumpUntil([&] { return lines->text().contains(QStringLiteral("等高线")) && bar->value() == 400; }));
    grab = w->grab().toImage();
    missing = test::TextsNotDrawn(w, grab);
    release = true;
  });
  EXPECT_EQ(progress.DoModal(), IDOK);  // the worker ended and closed it
  std::string path = test::SaveArtefact(grab, "dialog_progress");
  EXPECT_TRUE(missing.empty()) << path;
}

}  // namespace
}  // namespace velmora
