// The program's own binary files read from arbitrary bytes: the options "kovra0.opt", the profile
// stores "Kovra0.reg"/"dis0.reg" and the resumable download list "kovra.udl". What loads must
// save, and the saved file must load again; from the second save on the bytes stay the same (the
// first may differ: text that is not GBK reads as U+FFFD, is saved as '?', and sorts elsewhere).
#include <vector>

#include "core/settings.h"
#include "fuzz_support.h"
#include "tiles/download_list.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup();
  const std::string input = dir + "archive.in", first = dir + "archive.1", second = dir + "archive.2",
                    third = dir + "archive.3";
  fuzz::WriteFile(input, std::string_view(reinterpret_cast<const char*>(data), size));

  CAppOptions options;
  if (options.Load(input)) {
    FUZZ_CHECK(options.Save(first));
    CAppOptions again, third_load;
    FUZZ_CHECK(again.Load(first));
    FUZZ_CHECK(again.Save(second));
    FUZZ_CHECK(third_load.Load(second));
    FUZZ_CHECK(third_load.Save(third));
    FUZZ_CHECK(fuzz::ReadFile(second) == fuzz::ReadFile(third));
  }

  CProfileStore store;
  if (store.Load(input)) {
    FUZZ_CHECK(store.Save(first, true));
    CProfileStore again, third_load;
    FUZZ_CHECK(again.Load(first));
    FUZZ_CHECK(again.Save(second, true));
    FUZZ_CHECK(third_load.Load(second));
    FUZZ_CHECK(third_load.Save(third, true));
    FUZZ_CHECK(fuzz::ReadFile(second) == fuzz::ReadFile(third));
  }

  std::vector<TileKey> keys;
  if (ReadDownloadList(input, &keys) == ArchiveLoad::kOk) {
    FUZZ_CHECK(WriteDownloadList(first, keys));
    std::vector<TileKey> again;
    FUZZ_CHECK(ReadDownloadList(first, &again) == ArchiveLoad::kOk);
    FUZZ_CHECK(again == keys);
  } else {
    FUZZ_CHECK(keys.empty());
  }
  return 0;
}
