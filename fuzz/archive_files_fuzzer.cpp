// The program's own binary files read from arbitrary bytes: the options "kovra0.opt", the profile
// stores "Kovra0.reg"/"dis0.reg" and the resumable download list "kovra.udl". What loads must
// save, and the saved file must load again and save to the same bytes.
#include <vector>

#include "core/settings.h"
#include "fuzz_support.h"
#include "tiles/download_list.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup();
  const std::string input = dir + "archive.in", first = dir + "archive.1", second = dir + "archive.2";
  fuzz::WriteFile(input, std::string_view(reinterpret_cast<const char*>(data), size));

  CAppOptions options;
  if (options.Load(input)) {
    FUZZ_CHECK(options.Save(first));
    CAppOptions again;
    FUZZ_CHECK(again.Load(first));
    FUZZ_CHECK(again.Save(second));
    FUZZ_CHECK(fuzz::ReadFile(first) == fuzz::ReadFile(second));
  }

  CProfileStore store;
  if (store.Load(input)) {
    FUZZ_CHECK(store.Save(first, true));
    CProfileStore again;
    FUZZ_CHECK(again.Load(first));
    FUZZ_CHECK(again.Save(second, true));
    FUZZ_CHECK(fuzz::ReadFile(first) == fuzz::ReadFile(second));
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
