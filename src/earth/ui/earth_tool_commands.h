// The "工具" commands the two earth views share: elevation export (a band to the elevation
// extraction) and the snapshot mosaic. The command table holds one entry for each id; every earth
// view handles them in its own message map, and other views leave them greyed.
#pragma once
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

inline constexpr UINT ID_GE_TOOL_DEM = 32782;
inline constexpr UINT ID_GE_MOSAIC = 32770;

// Adds the entries that no module has registered yet and returns the ids it added (for the
// caller to remove again when its views go).
std::vector<UINT> RegisterEarthToolCommands();

}  // namespace velmora
