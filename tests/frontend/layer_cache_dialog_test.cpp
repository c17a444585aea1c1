// The layer cache information dialog in the desktop front end on the offscreen platform, over a
// real tile store: its panel shows the shipped world picture with the stored level-2 tile in red,
// and choosing another level with the keyboard repaints it without the cell.
#include <QComboBox>

#include "frontend_env.h"
#include "shell/dlg_worker_base.h"
#include "support/temp_dir.h"
#include "terrain/ui/dlg_layer_cache_info.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

using test::Settle;
using test::WidgetOf;

// Share of strongly red pixels in the widget's grab, in the rectangle of fractions (x0, y0)-(x1, y1).
double RedShare(QWidget* w, double x0, double y0, double x1, double y1) {
  const QImage grab = w->grab().toImage();
  int red = 0, all = 0;
  for (int y = int(y0 * grab.height()); y < int(y1 * grab.height()); ++y)
    for (int x = int(x0 * grab.width()); x < int(x1 * grab.width()); ++x, ++all) {
      const QColor c = grab.pixelColor(x, y);
      red += c.red() > 100 && c.red() > c.green() + 60 && c.red() > c.blue() + 40 ? 1 : 0;
    }
  return all ? double(red) / all : 0;
}

TEST(FrontendLayerCacheDialog, ThePanelShowsTheStoredTilesOnTheWorld) {
  const std::vector<MapSourceDef>& sources = LayerManager().Sources();
  ASSERT_FALSE(sources.empty());
  test::TempDir data;
  TileManagerOptions tm;
  tm.data_dir = data.File("tiles/");
  tm.download_threads = 0;
  tm.offline = true;
  tm.use_download_list = false;
  CTileManager tiles(tm);
  CTileStore* store = tiles.OpenStore(sources.front().id);
  ASSERT_NE(store, nullptr);
  const uint8_t bytes[] = {1, 2, 3};
  // Level 2, tile (1, 1): 90 W to 0, 66.5 N to the equator.
  ASSERT_EQ(store->Write(MakeTileKey(1, 1, TileKeyValue(sources.front().id, 2)), bytes, sizeof bytes, false),
            TileWriteResult::kWritten);

  CDlgLayerCacheInfo dialog(&tiles);
  ASSERT_TRUE(dialog.Create());
  ShowModelessDialog(&dialog);
  CDialogWindow* window = CDialogWindow::Of(dialog);
  ASSERT_NE(window, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
  Settle();
  EXPECT_EQ(window->windowTitle(), QStringLiteral("图层离线缓存信息"));
  QWidget* panel = WidgetOf(dialog.GetDlgItem(CDlgLayerCacheInfo::kIdPanel));
  ASSERT_NE(panel, nullptr);
  ASSERT_GT(panel->width(), 100);
  test::SaveArtefact(panel->grab().toImage(), "layer_cache_level2");
  // The cell's quarter of the world is red, the east is not.
  EXPECT_GT(RedShare(panel, 0.27, 0.15, 0.48, 0.48), 0.8);
  EXPECT_LT(RedShare(panel, 0.55, 0.15, 0.95, 0.48), 0.05);
  // Another level: no stored tile there, the bare picture.
  auto* zoom = WidgetOf<QComboBox>(dialog.GetDlgItem(CDlgLayerCacheInfo::kIdZoom));
  ASSERT_NE(zoom, nullptr);
  zoom->setFocus();
  QTest::keyClick(zoom, Qt::Key_Down);  // level 3
  Settle();
  EXPECT_EQ(dialog.GetDlgItemText(CDlgLayerCacheInfo::kIdCount), "已缓存瓦片: 0");
  EXPECT_TRUE(dialog.Keys().empty());
  EXPECT_LT(RedShare(panel, 0.27, 0.15, 0.48, 0.48), 0.05);
  dialog.DestroyWindow();
  tiles.Stop();
}

}  // namespace
}  // namespace velmora
