// The profile window on screen (offscreen Qt): the chart's picture as the label shows it, grabbed
// and read back, and the pointer over a point of the profile bringing up Qt's tool tip with the
// point's longitude, latitude and height; the contour dialog's texts all drawn.
#include <QLabel>
#include <QToolTip>

#include "core/format.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "shell/dlg_worker_base.h"
#include "terrain/ui/dlg_contour.h"
#include "terrain/ui/dlg_elev_profile.h"

namespace velmora {
namespace {

using test::ControlWidget;
using test::PumpUntil;
using test::Settle;

TEST(ProfileChartView, GrabbedChartAndToolTip) {
  CDlgElevProfile dlg;
  ASSERT_TRUE(dlg.Create());
  ShowModelessDialog(&dlg);
  CDialogWindow* window = CDialogWindow::Of(dlg);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  std::vector<ShapePoint> pts;
  for (int i = 0; i <= 8; ++i) pts.push_back({static_cast<float>(100 + i * 0.002), 30.0f});
  dlg.Chart().SetLine("山路", pts, {500, 620, 700, 650, 800, 760, -9999, 690, 540});
  Settle();
  QWidget* label = ControlWidget(dlg, CDlgElevProfile::kIdChart);
  ASSERT_NE(label, nullptr);
  const QImage grab = label->grab().toImage().convertToFormat(QImage::Format_ARGB32);
  test::SaveArtefact(grab, "profile_chart");
  ASSERT_GT(grab.width(), 200);

  // Grid columns: every 100 pixels from 100 while inside the chart, and nowhere else.
  for (int x = 0; x < grab.width(); ++x) {
    int grid = 0;
    for (int y = 0; y < grab.height(); ++y) {
      const QRgb c = grab.pixel(x, y);
      grid += qRed(c) == 0 && qBlue(c) == 0 && qGreen(c) >= 90 && qGreen(c) <= 110;
    }
    EXPECT_EQ(grid >= grab.height() / 4, x > 0 && x % 100 == 0) << x;
  }

  // The pointer over the fifth point: Qt's tool tip reads that point.
  const ProfileScreenPoint p = dlg.Chart().Layout().points[4];
  QTest::mouseMove(label, QPoint(static_cast<int>(p.x), static_cast<int>(p.y) + 1));
  const QString want = QString::fromStdString(FormatC("%f,%f:%gm", pts[4].lng, pts[4].lat, 800.0));
  EXPECT_TRUE(PumpUntil([&] { return QToolTip::isVisible() && QToolTip::text() == want; }, 5000))
      << QToolTip::text().toStdString();
  QTest::mouseMove(label, QPoint(static_cast<int>(p.x) + 30, 2));
  EXPECT_TRUE(PumpUntil([&] { return !QToolTip::isVisible(); }, 5000));
  dlg.DestroyWindow();
  Settle();
}

TEST(ProfileChartView, ContourDialogShowsItsTexts) {
  CDlgContour dlg;
  ASSERT_TRUE(dlg.Create());
  ShowModelessDialog(&dlg);
  CDialogWindow* window = CDialogWindow::Of(dlg);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  Settle();
  const QImage grab = window->grab().toImage();
  test::SaveArtefact(grab, "contour_dialog");
  int checked = 0;
  EXPECT_TRUE(test::TextsNotDrawn(window, grab, &checked).empty());
  EXPECT_GE(checked, 8);
  dlg.DestroyWindow();
  Settle();
}

}  // namespace
}  // namespace velmora
