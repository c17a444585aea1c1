// The tile store's two files from arbitrary bytes: the index ("<base>idx") and the data file
// ("<base>img"). Whatever the files hold, the store opens or refuses cleanly; an opened store
// lists only keys it can read, takes a new record, and shows the same tiles when reopened.
#include <map>
#include <vector>

#include "fuzz_support.h"
#include "tiles/tile_store.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string base = fuzz::Setup() + "store.";
  fuzz::RemoveFiles("store.");
  fuzz::Parts parts(data, size);
  const std::string_view index = parts.Next();
  const std::string_view records = parts.Rest();
  fuzz::WriteFile(base + "img", records);
  if (!index.empty()) fuzz::WriteFile(base + "idx", index);

  std::map<uint64_t, std::vector<uint8_t>> tiles;
  {
    CTileStore store(base);
    if (!store.Open(false)) return 0;
    const std::vector<uint64_t> keys = store.GetKeys();
    FUZZ_CHECK(keys.size() == store.GetCount());
    for (uint64_t key : keys) {
      std::vector<uint8_t> bytes;
      if (store.Read(key, bytes)) tiles[key] = bytes;  // a damaged record reads as missing
    }
    uint64_t position = 0, key = 0;
    std::vector<uint8_t> bytes;
    for (int n = 0; n < 10000 && store.ReadNextRecord(position, &key, bytes); ++n) {
    }
    const std::vector<uint8_t> added = {'v', 'e', 'l', 'm', 'o', 'r', 'a'};
    FUZZ_CHECK(store.Write(0x123456789ull, added.data(), added.size(), false) == TileWriteResult::kWritten);
    tiles[0x123456789ull] = added;
    FUZZ_CHECK(store.Close());
  }
  CTileStore reopened(base);
  FUZZ_CHECK(reopened.Open(false));
  for (const auto& [key, bytes] : tiles) {
    std::vector<uint8_t> back;
    FUZZ_CHECK(reopened.Read(key, back));
    FUZZ_CHECK(back == bytes);
  }
  return 0;
}
