// The earth views open the elevation extraction dialog over screen points through this hook. The
// elevation tools install it when they register their commands, so that the earth views' module
// does not depend on the elevation tools' windows (which sit above it).
#pragma once
#include <functional>
#include <span>

#include "exchange/region_raster.h"

namespace velmora {

class IScreenTerrainSource;

// Opens the extraction over a closed ring of render-window pixels of `source`'s view; false when
// nothing was opened.
using ScreenDemExtractHandler = std::function<bool(std::span<const LngLatF> pixels, IScreenTerrainSource* source)>;

// Closes the extraction (stopping its worker) when it samples `source`.
using ScreenDemExtractCloser = std::function<void(IScreenTerrainSource* source)>;

// Installs (or, with empty handlers, removes) the program's handlers.
void SetScreenDemExtractHandler(ScreenDemExtractHandler handler, ScreenDemExtractCloser closer = {});
// Calls the installed handler; false when none is installed.
bool OpenScreenDemExtract(std::span<const LngLatF> pixels, IScreenTerrainSource* source);
// A view calls this before its terrain source goes, so that no extraction samples it afterwards.
void CloseScreenDemExtract(IScreenTerrainSource* source);

}  // namespace velmora
