// The hook between the earth views and the elevation extraction dialog.
#include "shell/screen_dem_extract.h"

#include <utility>

namespace velmora {
namespace {

ScreenDemExtractHandler& Handler() {
  static ScreenDemExtractHandler handler;
  return handler;
}

}  // namespace

void SetScreenDemExtractHandler(ScreenDemExtractHandler handler) { Handler() = std::move(handler); }

bool OpenScreenDemExtract(std::span<const LngLatF> pixels, IScreenTerrainSource* source) {
  const ScreenDemExtractHandler& handler = Handler();
  return handler ? handler(pixels, source) : false;
}

}  // namespace velmora
