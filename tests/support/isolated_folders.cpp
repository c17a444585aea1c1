// Private configuration, data and program folders for a test program.
#include "support/isolated_folders.h"

#include <stdlib.h>

namespace velmora::test {

const TempDir& IsolatedFolders(const char* program_dir) {
  // Made before the settings are first used, so removed only after they are gone.
  static const TempDir dir;
  static const bool pointed = [program_dir] {
    setenv("VELMORA_CONFIG_DIR", dir.path().c_str(), 1);
    setenv("VELMORA_DATA_DIR", dir.File("data/").c_str(), 1);
    if (program_dir) setenv("VELMORA_PROGRAM_DIR", program_dir, 1);
    return true;
  }();
  (void)pointed;
  return dir;
}

}  // namespace velmora::test
