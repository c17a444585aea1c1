// Saved regions and their file "kovra.pdt" in the data folder: a tree of folders and regions
// (polygons of float longitude/latitude points with a name and their looks).
//
// File (archive conventions: little-endian, strings as GBK with the archive length prefix):
//   i32 schema 1; the root's children: u32 count, then each node:
//     u8 kind (0 folder, 1 region); name (string);
//     folder: u32 count and the children;
//     region: u32 line colour, u32 fill colour (ARGB), i32 line width, u8 fill flag,
//             u32 point count, then per point f32 longitude, f32 latitude.
// Every count is checked against the bytes left, folders nest at most kMaxDepth deep, points
// must be finite and the file must end after the root. The file is written whole and atomically.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"

namespace velmora {

inline constexpr const char* kRegionFileName = "kovra.pdt";

struct SavedRegion {
  std::string name;
  std::vector<PointF> points;  // x longitude, y latitude (degrees)
  uint32_t line_color = 0xFFFF0000u;
  uint32_t fill_color = 0x400000FFu;
  int32_t line_width = 2;
  bool fill = false;
  bool operator==(const SavedRegion&) const = default;
};

struct RegionNode {
  enum class Kind : uint8_t { kFolder = 0, kRegion = 1 };
  Kind kind = Kind::kFolder;
  SavedRegion region;  // a folder uses only the name
  std::vector<std::unique_ptr<RegionNode>> children;  // folders only

  bool IsFolder() const { return kind == Kind::kFolder; }
  const std::string& Name() const { return region.name; }
};

class CRegionFile {
 public:
  static constexpr int32_t kSchema = 1;
  static constexpr int kMaxDepth = 64;

  enum class LoadResult { kOk, kMissing, kDamaged };

  // "<data folder>kovra.pdt".
  static std::string DefaultPath();

  // Reads the file into `root` (a folder; emptied first). A missing file is an empty tree. A
  // damaged file leaves the tree empty and is remembered: the next Save first keeps a copy of
  // it as "<path>.damaged" and refuses to write when that copy cannot be made.
  LoadResult Load(const std::string& path, RegionNode* root);
  bool Save(const std::string& path, const RegionNode& root, std::string* error = nullptr);
  bool LoadedDamaged() const { return !damaged_path_.empty(); }

  // The file's bytes for a tree, and a tree from bytes (ArchiveError on bad bytes).
  static std::vector<uint8_t> Encode(const RegionNode& root);
  static void Decode(const uint8_t* data, size_t size, RegionNode* root);

 private:
  std::string damaged_path_;
};

}  // namespace velmora
