// The plug-in view's region command without a page: enabled only with the contour method of the
// elevation options set and a free region of more than one point; "region_bound.kml" read back by
// GDAL's KML reader holds the region's ring; the elevation extraction receives the closed pixel
// ring, and the free region is gone.
#include <gtest/gtest.h>

#include <gdal.h>
#include <ogr_api.h>

#include <filesystem>

#include "core/page_options.h"
#include "core/settings.h"
#include "earth/ui/ge_plugin_ctrl.h"
#include "earth/ui/region_bound.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/polygon_shape.h"
#include "shell/screen_dem_extract.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(nullptr);

std::unique_ptr<CRegionShape> Region(const std::vector<std::array<float, 4>>& points) {
  auto region = std::make_unique<CRegionShape>();
  for (const auto& p : points) {
    region->AddPixelPoint(p[0], p[1]);
    region->AddPoint(p[2], p[3]);
  }
  return region;
}

TEST(RegionBoundTest, EnabledOnlyWithTheContourMethodAndARegionOfTwoPoints) {
  PageOptions options = GetPageOptions();
  options.dem.contour_method = 0;
  ASSERT_TRUE(SetPageOptions(options));
  std::unique_ptr<CRegionShape> two = Region({{10, 10, 117.0f, 38.0f}, {50, 10, 117.5f, 38.0f}});
  std::unique_ptr<CRegionShape> one = Region({{10, 10, 117.0f, 38.0f}});
  EXPECT_FALSE(RegionBoundEnabled(two.get()));
  options.dem.contour_method = 1;
  ASSERT_TRUE(SetPageOptions(options));
  EXPECT_TRUE(RegionBoundEnabled(two.get()));
  EXPECT_FALSE(RegionBoundEnabled(one.get()));
  EXPECT_FALSE(RegionBoundEnabled(nullptr));
}

TEST(RegionBoundTest, TheRegionGoesToTheFileAndItsClosedPixelRingToTheExtraction) {
  UiDispatcher().AttachToCurrentThread();
  std::filesystem::create_directories(AppOptions().data_dir);
  std::vector<LngLatF> handed;
  IScreenTerrainSource* source = nullptr;
  SetScreenDemExtractHandler([&](std::span<const LngLatF> pixels, IScreenTerrainSource* s) {
    handed.assign(pixels.begin(), pixels.end());
    source = s;
    return true;
  });
  CGEPluginCtrl ctrl;  // no plug-in object: the file is written, its opening in the plug-in fails
  std::unique_ptr<CRegionShape> region =
      Region({{10, 20, 117.0f, 38.0f}, {300, 25, 117.5f, 38.0f}, {280, 200, 117.5f, 37.5f}});
  EXPECT_TRUE(RunRegionBound(ctrl, region));
  EXPECT_EQ(region, nullptr);
  EXPECT_EQ(source, &ctrl);
  ASSERT_EQ(handed.size(), 4u);  // closed: the first pixel again
  EXPECT_EQ(handed[0].lng, 10.f);
  EXPECT_EQ(handed[0].lat, 20.f);
  EXPECT_EQ(handed[2].lng, 280.f);
  EXPECT_EQ(handed[3].lng, 10.f);
  EXPECT_EQ(handed[3].lat, 20.f);

  // GDAL's KML reader: one polygon whose outer ring is the region's, closed.
  const std::string path = AppOptions().data_dir + kRegionBoundFile;
  GDALAllRegister();
  GDALDatasetH ds = GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr);
  ASSERT_NE(ds, nullptr);
  int polygons = 0;
  for (int l = 0; l < GDALDatasetGetLayerCount(ds); ++l) {
    OGRLayerH layer = GDALDatasetGetLayer(ds, l);
    OGR_L_ResetReading(layer);
    while (OGRFeatureH feature = OGR_L_GetNextFeature(layer)) {
      OGRGeometryH g = OGR_F_GetGeometryRef(feature);
      if (g && wkbFlatten(OGR_G_GetGeometryType(g)) == wkbPolygon) {
        ++polygons;
        OGRGeometryH ring = OGR_G_GetGeometryRef(g, 0);
        ASSERT_EQ(OGR_G_GetPointCount(ring), 4);
        EXPECT_NEAR(OGR_G_GetX(ring, 0), 117.0, 1e-6);
        EXPECT_NEAR(OGR_G_GetY(ring, 0), 38.0, 1e-6);
        EXPECT_NEAR(OGR_G_GetX(ring, 1), 117.5, 1e-6);
        EXPECT_NEAR(OGR_G_GetY(ring, 2), 37.5, 1e-6);
        EXPECT_NEAR(OGR_G_GetX(ring, 3), 117.0, 1e-6);
      }
      OGR_F_Destroy(feature);
    }
  }
  GDALClose(ds);
  EXPECT_EQ(polygons, 1);

  // No region: nothing.
  handed.clear();
  EXPECT_FALSE(RunRegionBound(ctrl, region));
  EXPECT_TRUE(handed.empty());
  SetScreenDemExtractHandler({});
  // The overlay without a plug-in object does nothing.
  ShowRegionBound(nullptr, 117.f, 38.f, 118.f, 37.f);
}

}  // namespace
}  // namespace velmora
