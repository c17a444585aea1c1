// IsolatedFolders: points a test program's registry profile, data folder and (optionally) program
// folder at a private temporary folder, so that no test reads or writes the user's own settings.
#pragma once
#include "velmora_build_paths.h"
#include "support/temp_dir.h"

namespace velmora::test {

// The source tree's data folder: the shipped catalogue and files, without a build step.
inline constexpr const char kSourceDataDir[] = VELMORA_SOURCE_DIR "/data/";

// Sets VELMORA_CONFIG_DIR to the returned folder and VELMORA_DATA_DIR to its "data/" subfolder,
// and VELMORA_PROGRAM_DIR to `program_dir` when one is given. The settings read these once, on
// first use, so call it from a namespace-scope initialiser. The first call decides; the folder
// lives until the program ends.
const TempDir& IsolatedFolders(const char* program_dir = nullptr);

}  // namespace velmora::test
