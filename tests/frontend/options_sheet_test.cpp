// The options sheet and the shell's self-drawing controls on Qt: the sheet opened through the Qt
// host as a person opens it, its tabs and Chinese texts drawn (grabbed pictures saved as
// artefacts), the colour boxes painted in their colours, Qt's colour chooser answering a click on
// one, and the link, font sample, icon combo and picture box drawn with their cursors and icons.
#include <QColorDialog>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "core/page_options.h"
#include "core/settings.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/image_list.h"
#include "shell/color_static.h"
#include "shell/dialog_ex.h"
#include "shell/dlg_worker_base.h"
#include "shell/font_sample_static.h"
#include "shell/icon_combo_box_ex.h"
#include "shell/link_static.h"
#include "shell/options_sheet.h"
#include "shell/picture_pick_static.h"

namespace velmora {
namespace {

using test::ControlWidget;
using test::PumpUntil;
using test::Settle;
using test::WidgetOf;

// Runs `act` on the modal window once it is shown.
void WhenModalShown(std::function<void(QWidget*)> act) {
  QTimer::singleShot(0, [act] {
    PumpUntil([] { return QApplication::activeModalWidget() && QApplication::activeModalWidget()->isVisible(); });
    act(QApplication::activeModalWidget());
  });
}

// The colour of the widget's middle pixel in a grab of its window.
QRgb MiddleColour(QWidget* window, QWidget* w) {
  QImage grab = window->grab().toImage();
  return grab.pixel(w->mapTo(window, w->rect().center())) & 0xFFFFFFu;
}

TEST(FrontendOptionsSheet, OpenedThroughTheHostWithItsTextsDrawn) {
  PageOptions known;
  known.dem.contour_color_mode = 1;
  known.dem.line_color = 0xFF8C5A28u;
  known.dem.interval_color = 0xFFC80000u;
  known.dem.labels_on = true;
  ScopedPageOptions page(known);
  ScopedAppOptions mode([](CAppOptions& o) { o.dem_source_mode = 1; });

  std::string dem_path, earth_path;
  std::vector<std::string> dem_missing, earth_missing;
  int dem_checked = 0;
  bool chooser_seen = false;
  COptionsSheet sheet;
  WhenModalShown([&](QWidget* w) {
    auto* window = dynamic_cast<CDialogWindow*>(w);
    ASSERT_TRUE(window);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("选项"));
    auto* tabs = window->findChild<QTabWidget*>();
    ASSERT_TRUE(tabs);
    ASSERT_EQ(tabs->count(), 3);
    EXPECT_EQ(tabs->tabText(0), QStringLiteral("高程"));
    EXPECT_EQ(tabs->tabText(1), QStringLiteral("谷歌地球"));
    EXPECT_EQ(tabs->tabText(2), QStringLiteral("拼图"));
    CPgOptDem& dem = sheet.DemPage();
    auto* source = ControlWidget<QComboBox>(dem, CPgOptDem::kIdSourceMode);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->count(), 6);
    EXPECT_EQ(source->currentText(), QStringLiteral("SRTM"));
    EXPECT_EQ(ControlWidget<QComboBox>(dem, CPgOptDem::kIdColorMode)->currentText(), QStringLiteral("计曲线间隔着色"));
    Settle();

    // The colour boxes paint their colours.
    QWidget* line = ControlWidget(dem, CPgOptDem::kIdLineColor);
    QWidget* interval = ControlWidget(dem, CPgOptDem::kIdIntervalColor);
    ASSERT_TRUE(line && interval);
    EXPECT_EQ(MiddleColour(window, line), 0x8C5A28u);
    EXPECT_EQ(MiddleColour(window, interval), 0xC80000u);

    QImage grab = window->grab().toImage();
    dem_path = test::SaveArtefact(grab, "options_sheet_elevation");
    dem_missing = test::TextsNotDrawn(window, grab, &dem_checked);

    // A click on a colour box opens Qt's colour chooser; the chosen colour comes back to the
    // box and the page is changed.
    QTimer::singleShot(0, [&chooser_seen] {
      PumpUntil([] { return qobject_cast<QColorDialog*>(QApplication::activeModalWidget()) != nullptr; });
      auto* chooser = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
      ASSERT_TRUE(chooser);
      chooser_seen = true;
      EXPECT_EQ(chooser->currentColor().rgb() & 0xFFFFFFu, 0x8C5A28u);
      chooser->setCurrentColor(QColor(0x20, 0x60, 0xE0));
      chooser->accept();
    });
    QTest::mouseClick(line, Qt::LeftButton, Qt::NoModifier, line->rect().center());
    EXPECT_EQ(dem.GetDlgItemAs<CColorStatic>(CPgOptDem::kIdLineColor)->GetColor(), 0xFF2060E0u);
    EXPECT_TRUE(PumpUntil([&] { return MiddleColour(window, line) == 0x2060E0u; }));
    EXPECT_TRUE(sheet.IsApplyEnabled());
    EXPECT_TRUE(PumpUntil([&] { return ControlWidget(sheet, ID_APPLY_NOW)->isEnabled(); }));

    // The Google Earth page.
    tabs->tabBar()->setCurrentIndex(1);
    Settle();
    EXPECT_EQ(sheet.GetActiveIndex(), 1);
    auto* frame = ControlWidget<QAbstractButton>(sheet.GoogleEarthPage(), CPgOptGoogleEarth::kIdRegionFrame);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->text(), QStringLiteral("绘制框选框"));
    EXPECT_EQ(ControlWidget<QAbstractButton>(sheet.GoogleEarthPage(), CPgOptGoogleEarth::kIdCloseEarth)->text(),
              QStringLiteral("退出时,同时关闭Google Earth"));
    grab = window->grab().toImage();
    earth_path = test::SaveArtefact(grab, "options_sheet_google_earth");
    earth_missing = test::TextsNotDrawn(window, grab);

    QTest::mouseClick(ControlWidget(sheet, IDCANCEL), Qt::LeftButton);
  });
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_TRUE(chooser_seen);
  EXPECT_TRUE(dem_missing.empty()) << dem_path << ": " << (dem_missing.empty() ? "" : dem_missing.front());
  EXPECT_GE(dem_checked, 12);  // tabs, labels, check boxes, group box, buttons
  EXPECT_TRUE(earth_missing.empty()) << earth_path << ": " << (earth_missing.empty() ? "" : earth_missing.front());
  // Cancelled: the chosen colour was not stored.
  EXPECT_EQ(GetPageOptions().dem.line_color, 0xFF8C5A28u);
  EXPECT_TRUE(PumpUntil([] { return QApplication::activeModalWidget() == nullptr; }));
}

TEST(FrontendOptionsSheet, SelfDrawingControlsShowTheirPicturesCursorsAndIcons) {
  enum : int { kIdLink = 1527, kIdSample = 1515, kIdIcons = 1216, kIdPicture = 1352 };
  class CControls : public CDialogEx {
   public:
    CControls()
        : CDialogEx(DialogTemplate{9402, "通讯录",
                                   220,
                                   110,
                                   {{ControlKind::kStatic, kIdLink, "从地图视图获取范围", 7, 7, 120, 10, 0},
                                    {ControlKind::kStatic, kIdSample, "北京 晴", 7, 22, 120, 30, 0},
                                    {ControlKind::kComboBox, kIdIcons, "", 140, 22, 60, 100, 0},
                                    {ControlKind::kStatic, kIdPicture, "", 7, 58, 48, 40, 0}}}) {
      BindControl(kIdLink, link);
      BindControl(kIdSample, sample);
      BindControl(kIdIcons, icons);
      BindControl(kIdPicture, picture);
      MapCommand(kIdLink, [this] { ++clicks; });
    }
    CLinkStatic link;
    CFontSampleStatic sample;
    CIconComboBoxEx icons;
    CPicturePickStatic picture;
    int clicks = 0;
  };
  CImageList marks(16, 16);
  for (int i = 0; i < 10; ++i) marks.Add("mark_" + std::to_string(i) + ".png");
  CControls dlg;
  dlg.icons.SetIconList(&marks);
  CTextStyle style;
  style.size = 16;
  style.color = 0xFFC00000u;
  style.flags = CTextStyle::kBold;
  dlg.sample.SetTextStyle(style);
  ASSERT_TRUE(dlg.Create());
  dlg.icons.SetIconIndex(3);
  dlg.picture.SetPicturePath(AppOptions().program_dir + "images/sat2.png");
  dlg.ShowWindow(SW_SHOW);
  ShowModelessDialog(&dlg);
  CDialogWindow* window = CDialogWindow::Of(dlg);
  ASSERT_TRUE(window);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  Settle();

  QWidget* link = WidgetOf(&dlg.link);
  ASSERT_TRUE(link);
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  QTest::mouseClick(link, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(dlg.clicks, 1);
  auto* icons = WidgetOf<QComboBox>(&dlg.icons);
  ASSERT_TRUE(icons);
  ASSERT_EQ(icons->count(), 10);
  EXPECT_EQ(icons->currentIndex(), 3);
  for (int i = 0; i < icons->count(); ++i) EXPECT_FALSE(icons->itemIcon(i).isNull()) << i;
  EXPECT_TRUE(dlg.picture.HasPicture());

  QImage grab = window->grab().toImage();
  test::SaveArtefact(grab, "shell_controls");
  // The font sample's red bold text and the picture's satellite are drawn.
  QWidget* sample = WidgetOf(&dlg.sample);
  QRect area(sample->mapTo(window, QPoint(0, 0)), sample->size());
  int red = 0;
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) {
      QColor c = grab.pixelColor(x, y);
      if (c.red() > 150 && c.green() < 80 && c.blue() < 80) ++red;
    }
  EXPECT_GT(red, 20);
  dlg.DestroyWindow();
  EXPECT_TRUE(PumpUntil([&] { return CDialogWindow::Of(dlg) == nullptr; }));
}

}  // namespace
}  // namespace velmora
