// The hook between the earth views and the elevation extraction dialog.
#include "shell/screen_dem_extract.h"

#include <utility>

namespace velmora {
namespace {

ScreenDemExtractHandler& Handler() {
  static ScreenDemExtractHandler handler;
  return handler;
}

ScreenDemExtractCloser& Closer() {
  static ScreenDemExtractCloser closer;
  return closer;
}

}  // namespace

void SetScreenDemExtractHandler(ScreenDemExtractHandler handler, ScreenDemExtractCloser closer) {
  Handler() = std::move(handler);
  Closer() = std::move(closer);
}

void CloseScreenDemExtract(IScreenTerrainSource* source) {
  if (const ScreenDemExtractCloser& closer = Closer()) closer(source);
}

bool OpenScreenDemExtract(std::span<const LngLatF> pixels, IScreenTerrainSource* source) {
  const ScreenDemExtractHandler& handler = Handler();
  return handler ? handler(pixels, source) : false;
}

}  // namespace velmora
