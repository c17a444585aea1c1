// The resumable download list "kovra.udl" of the data folder: the keys of the tiles that were
// still waiting to be loaded or downloaded when the tile manager stopped, read back at the next
// start so that those downloads resume.
//
// Format (archive stream, little-endian): i32 schema 1, u32 count, then count keys, each as two
// u32 words (low, high), most recently requested first. Nothing may follow the last key.
#pragma once
#include <string>
#include <vector>

#include "core/archive.h"
#include "tiles/tile_key.h"

namespace velmora {

inline constexpr char kDownloadListFileName[] = "kovra.udl";
inline constexpr int kDownloadListSchema = 1;

// Writes the list atomically; false (reason in *error, and logged) when that fails, the old file
// then being untouched.
bool WriteDownloadList(const std::string& path, const std::vector<TileKey>& keys,
                       std::string* error = nullptr);
// Reads the list. kMissing when there is no file (empty list); kDamaged (reason in *error) when
// it cannot be read or is not a whole list, and then *keys is left empty.
ArchiveLoad ReadDownloadList(const std::string& path, std::vector<TileKey>* keys,
                             std::string* error = nullptr);

}  // namespace velmora
