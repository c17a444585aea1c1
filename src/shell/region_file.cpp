// The saved-region file.
#include "shell/region_file.h"

#include <cmath>
#include <filesystem>

#include "core/archive.h"
#include "core/log.h"
#include "platform/fs.h"

namespace velmora {
namespace {

// The smallest node: kind, an empty name and a count or the region's fixed fields.
constexpr size_t kMinNodeBytes = 1 + 1 + 4;

void WriteNode(ArchiveWriter& ar, const RegionNode& node);

void WriteChildren(ArchiveWriter& ar, const RegionNode& folder) {
  ar.U32(static_cast<uint32_t>(folder.children.size()));
  for (const auto& child : folder.children) WriteNode(ar, *child);
}

void WriteNode(ArchiveWriter& ar, const RegionNode& node) {
  ar.U8(static_cast<uint8_t>(node.kind));
  ar.String(node.region.name);
  if (node.IsFolder()) {
    WriteChildren(ar, node);
    return;
  }
  const SavedRegion& r = node.region;
  ar.U32(r.line_color);
  ar.U32(r.fill_color);
  ar.I32(r.line_width);
  ar.U8(r.fill ? 1 : 0);
  ar.U32(static_cast<uint32_t>(r.points.size()));
  for (const PointF& p : r.points) {
    ar.F32(p.x);
    ar.F32(p.y);
  }
}

void ReadChildren(ArchiveReader& ar, RegionNode* folder, int depth);

std::unique_ptr<RegionNode> ReadNode(ArchiveReader& ar, int depth) {
  auto node = std::make_unique<RegionNode>();
  uint8_t kind = ar.U8();
  if (kind > 1) throw ArchiveError("unknown node kind " + std::to_string(kind));
  node->kind = static_cast<RegionNode::Kind>(kind);
  node->region.name = ar.String();
  if (node->IsFolder()) {
    ReadChildren(ar, node.get(), depth + 1);
    return node;
  }
  SavedRegion& r = node->region;
  r.line_color = ar.U32();
  r.fill_color = ar.U32();
  r.line_width = ar.I32();
  uint8_t fill = ar.U8();
  if (fill > 1) throw ArchiveError("bad fill flag");
  r.fill = fill != 0;
  uint32_t count = ar.Count(8);
  r.points.resize(count);
  for (PointF& p : r.points) {
    p.x = ar.F32();
    p.y = ar.F32();
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) throw ArchiveError("a region point is not a number");
  }
  return node;
}

void ReadChildren(ArchiveReader& ar, RegionNode* folder, int depth) {
  if (depth > CRegionFile::kMaxDepth) throw ArchiveError("folders nested too deep");
  uint32_t count = ar.Count(kMinNodeBytes);
  folder->children.reserve(count);
  for (uint32_t i = 0; i < count; ++i) folder->children.push_back(ReadNode(ar, depth));
}

}  // namespace

std::string CRegionFile::DefaultPath() { return AppOptions().data_dir + kRegionFileName; }

std::vector<uint8_t> CRegionFile::Encode(const RegionNode& root) {
  ArchiveWriter ar;
  ar.Schema(kSchema);
  WriteChildren(ar, root);
  return ar.Bytes();
}

void CRegionFile::Decode(const uint8_t* data, size_t size, RegionNode* root) {
  ArchiveReader ar(data, size);
  ar.Schema(kSchema);
  RegionNode tree;
  ReadChildren(ar, &tree, 0);
  if (!ar.AtEnd()) throw ArchiveError(std::to_string(ar.Remaining()) + " bytes after the regions");
  root->children = std::move(tree.children);
}

CRegionFile::LoadResult CRegionFile::Load(const std::string& path, RegionNode* root) {
  root->kind = RegionNode::Kind::kFolder;
  root->children.clear();
  damaged_path_.clear();
  RegionNode tree;
  ArchiveLoad result = LoadArchiveFile(path, [&](ArchiveReader& ar) {
    ar.Schema(kSchema);
    ReadChildren(ar, &tree, 0);
    if (!ar.AtEnd()) throw ArchiveError(std::to_string(ar.Remaining()) + " bytes after the regions");
  });
  switch (result) {
    case ArchiveLoad::kOk: root->children = std::move(tree.children); return LoadResult::kOk;
    case ArchiveLoad::kMissing: return LoadResult::kMissing;
    case ArchiveLoad::kDamaged: break;
  }
  damaged_path_ = path;
  return LoadResult::kDamaged;
}

bool CRegionFile::Save(const std::string& path, const RegionNode& root, std::string* error) {
  if (!damaged_path_.empty() && damaged_path_ == path) {
    // The file that could not be read is kept before anything is written over it.
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
      std::filesystem::copy_file(path, path + ".damaged", std::filesystem::copy_options::overwrite_existing, ec);
      if (ec) {
        std::string why = path + " could not be read and cannot be kept aside (" + ec.message() + "); not written";
        AppLog("%s", why.c_str());
        if (error) *error = why;
        return false;
      }
      AppLog("%s could not be read; it is kept as %s.damaged", path.c_str(), path.c_str());
    }
  }
  std::vector<uint8_t> bytes = Encode(root);
  std::string why;
  if (!WriteFileAtomic(path, bytes, &why)) {
    AppLog("cannot write %s: %s", path.c_str(), why.c_str());
    if (error) *error = why;
    return false;
  }
  if (damaged_path_ == path) damaged_path_.clear();
  return true;
}

}  // namespace velmora
