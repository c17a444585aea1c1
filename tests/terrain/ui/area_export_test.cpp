// The area export command on the headless host with a real tile store and height files: the
// region preset from the map view, the file dialog's 3ds type, the model's options stored by
// CDlgExport3D, the model and its JPEG texture written beside it (rows linear in latitude, named
// as the model's material says), a picture type writing the picture alone, a refused area and an
// unwritable texture told in a message with nothing left behind.
#include "terrain/ui/area_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/geodesy.h"
#include "core/settings.h"
#include "exchange/ui/dlg_export_region_set.h"
#include "exchange/ui/file_dialog_export.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "terrain/3ds_writer.h"
#include "terrain/area_model_export.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/terrain_grid.h"
#include "terrain/ui/dlg_export_3d.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr int kZoom = 8;

int TileX(double lng) { return static_cast<int>(MercatorLngToX(lng, kZoom) / 256); }
int TileY(double lat) { return static_cast<int>(MercatorLatToY(lat, kZoom) / 256); }
// Each tile row in a grey of its own, so that a picture row tells its tile row.
Argb RowColor(int y) { return 0xFF000000u | Argb((y * 37) & 0xFF) * 0x010101u; }

// The map: 12° x 9° (2048 texture pixels across fit zoom 8).
class MapState : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return MapCamera{116, 36.5, 8, 800, 600, 1}; }
  void GetViewBounds(float tl[2], float br[2]) const override {
    tl[0] = 110, tl[1] = 41, br[0] = 122, br[1] = 32;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {MapLayer{0, 1, true, 1.0f}}; }
};

class AreaExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    UiDispatcher().AttachToCurrentThread();
    ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, [](double lon, double lat) {
                return 100 + 40 * (lon - 115) + 20 * (lat - 35);
              }), "");
    elevation_ = new CElevationStore(nullptr, kFolders.File("heights/"));
    TileManagerOptions tm;
    tm.data_dir = kFolders.File("tiles/");
    tm.download_threads = 0;
    tm.offline = true;
    tm.use_download_list = false;
    tiles_ = new CTileManager(tm);
    CTileStore* store = tiles_->OpenStore(0);
    ASSERT_NE(store, nullptr);
    for (int y = TileY(42); y <= TileY(31); ++y) {
      CBitmap picture;
      ASSERT_TRUE(picture.Create(256, 256, RowColor(y)));
      std::vector<uint8_t> png;
      ASSERT_TRUE(EncodeImage(picture, ImageType::kPng, &png));
      for (int x = TileX(109); x <= TileX(123); ++x)
        ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(0, kZoom)), png.data(), png.size(), false),
                  TileWriteResult::kWritten);
    }
    ASSERT_TRUE(tiles_->Start());
  }
  static void TearDownTestSuite() {
    tiles_->Stop();
    delete tiles_;
    delete elevation_;
  }
  void SetUp() override {
    SetUiHost(&host);
    SetCurrentMapView(&map);
    options_.emplace([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    for (const char* key : {kDemSampleKey, kDemFactorKey, kExp3dsPlainKey}) ProgramSettings().Remove(key);
  }
  void TearDown() override {
    SetCurrentMapView(nullptr);
    SetUiHost(nullptr);
  }
  bool Run() { return RunAreaExport(nullptr, AreaExportSources{tiles_, elevation_}); }
  void AnswerRegion() {
    host.AnswerDialog(CDlgExportRegionSet::kTemplateId, [](CDialog& d) { d.GetDlgItemAs<CButton>(IDOK)->Click(); });
  }

  static CTileManager* tiles_;
  static CElevationStore* elevation_;
  CHeadlessUiHost host;
  MapState map;
  std::optional<ScopedAppOptions> options_;
};
CTileManager* AreaExportTest::tiles_ = nullptr;
CElevationStore* AreaExportTest::elevation_ = nullptr;

TEST_F(AreaExportTest, ModelAndTextureAreWrittenWithTheOptionsChosen) {
  const std::string path = kFolders.File("chain/area.3ds");
  AnswerRegion();
  host.AnswerFile({path}, 6, [](CFileDialog& d) {
    EXPECT_NE(d.Filter().find("3D Studio (*.3ds)|*.3ds"), std::string::npos);
    EXPECT_EQ(d.Filter().rfind("JPEG (*.jpg)|*.jpg|", 0), 0u);
  });
  host.AnswerDialog(CDlgExport3D::kTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "三维模型导出");
    EXPECT_EQ(d.GetDlgItemText(CDlgExport3D::kIdSamples), "500");  // the dialog's default
    EXPECT_EQ(d.GetDlgItemText(CDlgExport3D::kIdFactorA), "1");
    EXPECT_EQ(d.GetDlgItemText(CDlgExport3D::kIdFactorB), "0");
    EXPECT_EQ(d.IsDlgButtonChecked(CDlgExport3D::kIdPlain), 0);
    d.GetDlgItemAs<CEdit>(CDlgExport3D::kIdSamples)->Type("1");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
    EXPECT_FALSE(d.HasEnded());
    EXPECT_EQ(ProgramSettings().GetInt(kDemSampleKey, -1), -1);  // nothing stored
    d.GetDlgItemAs<CEdit>(CDlgExport3D::kIdSamples)->Type("60");
    d.GetDlgItemAs<CEdit>(CDlgExport3D::kIdFactorA)->Type("3");
    d.GetDlgItemAs<CButton>(CDlgExport3D::kIdPlain)->Click();
    d.GetDlgItemAs<CButton>(IDOK)->Click();
    EXPECT_TRUE(d.HasEnded());
  });
  ASSERT_TRUE(Run()) << host.LastMessage();
  EXPECT_EQ(host.PendingAnswers(), 0u);
  EXPECT_EQ(ProgramSettings().GetInt(kDemSampleKey, 0), 60);
  EXPECT_EQ(ProgramSettings().GetInt(kExp3dsPlainKey, 0), 1);
  EXPECT_EQ(ProgramSettings().GetIntPair(kDemFactorKey, IntPair{}), (IntPair{3, 0}));

  auto model = ReadFileBytes(path);
  ASSERT_TRUE(model);
  const std::string name = "area.jpg";
  EXPECT_NE(std::search(model->begin(), model->end(), name.begin(), name.end() + 1), model->end());
  CBitmap texture;
  ASSERT_TRUE(LoadImageFile(kFolders.File("chain/area.jpg"), &texture));
  ASSERT_EQ(texture.Width(), 2048);
  ASSERT_EQ(texture.Height(), 1536);
  // Rows linear in latitude: a few rows either side of each tile edge show their tile's grey.
  const double north = 41, south = 32;
  int edges = 0;
  for (int y = TileY(41) + 1; y <= TileY(32); ++y) {
    const double lat = MercatorYToLat(256.0 * y, kZoom);
    const int row = static_cast<int>((north - lat) / (north - south) * texture.Height());
    if (row < 4 || row + 4 >= texture.Height()) continue;
    for (auto [r, tile] : {std::pair{row - 4, y - 1}, {row + 4, y}}) {
      const Argb got = texture.GetPixel(1024, r), want = RowColor(tile);
      EXPECT_NEAR(int(got & 0xFF), int(want & 0xFF), 12) << "row " << r << " tile " << tile;
    }
    ++edges;
  }
  EXPECT_GE(edges, 6);
}

TEST_F(AreaExportTest, APictureTypeWritesThePictureAlone) {
  const std::string path = kFolders.File("picture/area.png");
  AnswerRegion();
  host.AnswerFile({path}, 4);
  ASSERT_TRUE(Run()) << host.LastMessage();
  CBitmap picture;
  ASSERT_TRUE(LoadImageFile(path, &picture));
  EXPECT_EQ(picture.Width(), 2048);
  EXPECT_FALSE(fs::exists(kFolders.File("picture/area.3ds")));
  EXPECT_FALSE(fs::exists(kFolders.File("picture/area.jpg")));
}

TEST_F(AreaExportTest, RefusalsAndFailuresAreToldAndLeaveNothing) {
  // The options dialog cancelled: nothing runs.
  AnswerRegion();
  host.AnswerFile({kFolders.File("none/area.3ds")}, 6);
  host.AnswerDialog(CDlgExport3D::kTemplateId, [](CDialog& d) { d.GetDlgItemAs<CButton>(IDCANCEL)->Click(); });
  EXPECT_FALSE(Run());
  EXPECT_FALSE(fs::exists(kFolders.File("none")));
  // Too few samples for a grid of two rows: refused with the writer's reason.
  ProgramSettings().SetInt(kDemSampleKey, 1);
  AreaExportJob job;
  job.path = kFolders.File("thin/area.3ds");
  job.west = 116, job.north = 37, job.east = 117, job.south = 36;
  job.layers = map.CopyLayerList();
  std::string error;
  EXPECT_FALSE(ExportAreaModel(job, *tiles_, elevation_, {}, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(kFolders.File("thin")));
  // The texture's place is taken by a folder: the model is taken back and the failure told.
  ProgramSettings().SetInt(kDemSampleKey, 30);
  ASSERT_TRUE(EnsureFolder(kFolders.File("blocked/area.jpg")));
  job.path = kFolders.File("blocked/area.3ds");
  job.west = 110, job.north = 41, job.east = 122, job.south = 32;  // the tiles' zoom for 2048 pixels
  EXPECT_FALSE(ExportAreaModel(job, *tiles_, elevation_, {}, &error));
  EXPECT_NE(error.find(C3dsWriter::kNotWritable), std::string::npos);
  EXPECT_FALSE(fs::exists(job.path));
  // Cancelled while the heights are read: neither model nor texture.
  job.path = kFolders.File("cancel/area.3ds");
  std::atomic<bool> cancel{false};
  AreaExportHooks hooks;
  hooks.cancel = &cancel;
  hooks.progress = [&](float p) {
    if (p > 0.5f) cancel = true;
  };
  EXPECT_FALSE(ExportAreaModel(job, *tiles_, elevation_, hooks, &error));
  EXPECT_EQ(error, C3dsWriter::kCancelled);
  EXPECT_FALSE(fs::exists(job.path));
  EXPECT_FALSE(fs::exists(kFolders.File("cancel/area.jpg")));
}

}  // namespace
}  // namespace velmora
