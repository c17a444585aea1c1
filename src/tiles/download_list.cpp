// "kovra.udl": writing and checked reading of the resumable download list.
#include "tiles/download_list.h"

namespace velmora {

bool WriteDownloadList(const std::string& path, const std::vector<TileKey>& keys, std::string* error) {
  ArchiveWriter ar;
  ar.Schema(kDownloadListSchema);
  ar.U32(static_cast<uint32_t>(keys.size()));
  for (TileKey key : keys) {
    ar.U32(TileKeyLow(key));
    ar.U32(TileKeyHigh(key));
  }
  return ar.SaveToFile(path, error);
}

ArchiveLoad ReadDownloadList(const std::string& path, std::vector<TileKey>* keys, std::string* error) {
  std::vector<TileKey> read;
  ArchiveLoad result = LoadArchiveFile(
      path,
      [&read](ArchiveReader& ar) {
        ar.Schema(kDownloadListSchema);
        uint32_t count = ar.Count(8);
        read.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
          uint32_t low = ar.U32();
          uint32_t high = ar.U32();
          read.push_back(TileKeyFromWords(low, high));
        }
        if (!ar.AtEnd()) throw ArchiveError("bytes after the last key");
      },
      error);
  keys->clear();
  if (result == ArchiveLoad::kOk) *keys = std::move(read);
  return result;
}

}  // namespace velmora
