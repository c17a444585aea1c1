// The satellite library's items, its file and the element-set text reader.
#include "terrain/sat_tree_item.h"

#include <filesystem>

#include "core/log.h"
#include "platform/fs.h"

namespace velmora {

bool CSatTreeItem::Contains(const CSatTreeItem* item) const {
  for (const CSatTreeItem* p = item; p; p = p->parent_)
    if (p == this) return true;
  return false;
}

// ---- folders -----------------------------------------------------------------------------------

void CSatFolderItem::Serialize(ArchiveWriter& ar, const std::string& program_dir) const {
  ar.String(name_);
  ar.U32(static_cast<uint32_t>(children_.size()));
  for (const auto& child : children_) {
    ar.U32(static_cast<uint32_t>(child->Type()));
    child->Serialize(ar, program_dir);
  }
}

void CSatFolderItem::CollectShown(std::vector<SatElements>& out) const {
  for (const auto& child : children_) child->CollectShown(out);
}

void CSatFolderItem::Toggle() { SetShown(state_ != kSatStateNone ? 0 : 1); }

void CSatFolderItem::SetShown(uint32_t shown) {
  state_ = shown ? kSatStateAll : kSatStateNone;
  for (const auto& child : children_) child->SetShown(shown);
}

void CSatFolderItem::CollectSatellites(std::vector<CSatelliteItem*>& out) {
  for (const auto& child : children_) child->CollectSatellites(out);
}

void CSatFolderItem::RefreshState() {
  size_t all = 0, some = 0;
  for (const auto& child : children_) {
    const int state = child->Image();
    if (state == static_cast<int>(kSatStateAll)) ++all;
    if (state == static_cast<int>(kSatStateSome)) ++some;
  }
  if (some > 0)
    state_ = kSatStateSome;
  else if (all == children_.size())
    state_ = kSatStateAll;
  else
    state_ = all > 0 ? kSatStateSome : kSatStateNone;
}

void CSatFolderItem::RefreshUp() {
  for (CSatFolderItem* f = this; f; f = f->parent_) f->RefreshState();
}

void CSatFolderItem::RefreshAll() {
  for (const auto& child : children_)
    if (child->Type() == 0) static_cast<CSatFolderItem&>(*child).RefreshAll();
  RefreshState();
}

CSatTreeItem* CSatFolderItem::Add(std::unique_ptr<CSatTreeItem> item) {
  item->parent_ = this;
  children_.push_back(std::move(item));
  return children_.back().get();
}

std::unique_ptr<CSatTreeItem> CSatFolderItem::Remove(CSatTreeItem* item) {
  for (auto it = children_.begin(); it != children_.end(); ++it) {
    if (it->get() != item) continue;
    std::unique_ptr<CSatTreeItem> out = std::move(*it);
    children_.erase(it);
    out->parent_ = nullptr;
    return out;
  }
  return nullptr;
}

// ---- satellites --------------------------------------------------------------------------------

void CSatelliteItem::Serialize(ArchiveWriter& ar, const std::string& program_dir) const {
  const SatElements& e = record_;
  ar.F64(e.bstar);
  ar.U32(e.element_set_number);
  ar.F64(e.eccentricity);
  ar.F64(e.epoch);
  ar.F64(e.epoch_julian);
  ar.String(e.name);
  ar.U32(e.satellite_number);
  ar.F64(e.argument_of_perigee);
  ar.F64(e.inclination);
  ar.F64(e.mean_anomaly);
  ar.F64(e.mean_motion);
  ar.F64(e.right_ascension);
  ar.U32(shown_);
  ar.U32(e.color);
  ar.U32(e.shown);
  // Icons that ship with the program are kept relative, so that the library survives a move of
  // the program folder.
  std::string icon = e.icon_path;
  if (!program_dir.empty() && icon.size() > program_dir.size() && icon.compare(0, program_dir.size(), program_dir) == 0)
    icon.erase(0, program_dir.size());
  ar.String(icon);
}

void CSatelliteItem::CollectShown(std::vector<SatElements>& out) const {
  if (shown_) out.push_back(record_);
}

std::unique_ptr<CSatelliteItem> CSatelliteItem::Load(ArchiveReader& ar, const std::string& program_dir) {
  auto item = std::make_unique<CSatelliteItem>();
  SatElements& e = item->record_;
  e.bstar = ar.F64();
  e.element_set_number = ar.U32();
  e.eccentricity = ar.F64();
  e.epoch = ar.F64();
  e.epoch_julian = ar.F64();
  e.name = ar.String();
  e.satellite_number = ar.U32();
  e.argument_of_perigee = ar.F64();
  e.inclination = ar.F64();
  e.mean_anomaly = ar.F64();
  e.mean_motion = ar.F64();
  e.right_ascension = ar.F64();
  item->shown_ = ar.U32() ? 1 : 0;
  e.color = ar.U32();
  e.shown = ar.U32();
  e.icon_path = ar.String();
  if (e.icon_path.size() >= 2 && e.icon_path[0] != '/') e.icon_path = program_dir + e.icon_path;
  return item;
}

// ---- the file ----------------------------------------------------------------------------------
namespace {

// The smallest child: its type and an empty folder (name length byte and count).
constexpr size_t kMinChildBytes = 4 + 1 + 4;

void LoadFolder(ArchiveReader& ar, const std::string& program_dir, CSatFolderItem* folder, int depth) {
  if (depth > kSatLibraryMaxDepth) throw ArchiveError("folders nested too deep");
  const uint32_t count = ar.Count(kMinChildBytes);
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t type = ar.U32();
    if (type == 0) {
      auto child = std::make_unique<CSatFolderItem>(ar.String());
      CSatFolderItem* sub = child.get();
      folder->Add(std::move(child));
      LoadFolder(ar, program_dir, sub, depth + 1);
    } else if (type == 1) {
      folder->Add(CSatelliteItem::Load(ar, program_dir));
    } else {
      throw ArchiveError("unknown item type");
    }
  }
}

}  // namespace

std::vector<uint8_t> SerializeSatLibrary(const std::string& program_dir, const CSatFolderItem& root) {
  ArchiveWriter ar;
  ar.U32(static_cast<uint32_t>(kSatLibrarySchema));
  root.Serialize(ar, program_dir);
  return std::move(ar.Bytes());
}

void DeserializeSatLibrary(ArchiveReader& ar, const std::string& program_dir, CSatFolderItem* root) {
  if (ar.U32() != static_cast<uint32_t>(kSatLibrarySchema)) throw ArchiveError("another schema");
  // The root's name is read and dropped: the root is the tree itself.
  (void)ar.String();
  CSatFolderItem loaded;
  LoadFolder(ar, program_dir, &loaded, 0);
  while (!root->Children().empty()) root->Remove(root->Children().back().get());
  while (!loaded.Children().empty()) root->Add(loaded.Remove(loaded.Children().front().get()));
  root->RefreshAll();
}

SatLibraryLoad LoadSatLibrary(const std::string& path, const std::string& seed, const std::string& program_dir,
                              CSatFolderItem* root, std::string* error) {
  while (!root->Children().empty()) root->Remove(root->Children().back().get());
  root->SetState(kSatStateAll);
  std::error_code ec;
  bool seeded = false;
  if (!std::filesystem::exists(path, ec)) {
    if (seed.empty() || !std::filesystem::exists(seed, ec)) return SatLibraryLoad::kMissing;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (!std::filesystem::copy_file(seed, path, ec)) {
      AppLog("%s cannot be copied to %s: %s", seed.c_str(), path.c_str(), ec.message().c_str());
      return SatLibraryLoad::kMissing;
    }
    seeded = true;
  }
  std::string why;
  auto bytes = ReadFileBytes(path, &why);
  if (!bytes) {
    // Unreadable (not damaged): left where it is; the library is empty for this run.
    AppLog("%s", why.c_str());
    if (error) *error = why;
    return SatLibraryLoad::kMissing;
  }
  try {
    ArchiveReader ar(*bytes);
    CSatFolderItem loaded;
    DeserializeSatLibrary(ar, program_dir, &loaded);
    while (!loaded.Children().empty()) root->Add(loaded.Remove(loaded.Children().front().get()));
    root->RefreshAll();
    return seeded ? SatLibraryLoad::kSeeded : SatLibraryLoad::kOk;
  } catch (const ArchiveError& e) {
    why = path + " is damaged: " + e.what();
  }
  const std::string aside = path + kSatLibraryDamagedSuffix;
  std::filesystem::rename(path, aside, ec);
  if (ec) why += "; it cannot be set aside: " + ec.message();
  AppLog("%s", why.c_str());
  if (error) *error = why;
  return SatLibraryLoad::kSetAside;
}

bool SaveSatLibrary(const std::string& path, const std::string& program_dir, const CSatFolderItem& root,
                    std::string* error) {
  const std::vector<uint8_t> bytes = SerializeSatLibrary(program_dir, root);
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  std::string why;
  if (WriteFileAtomic(path, bytes, &why)) return true;
  AppLog("%s cannot be written: %s", path.c_str(), why.c_str());
  if (error) *error = why;
  return false;
}

// ---- element-set text --------------------------------------------------------------------------

std::vector<SatElements> ReadElementSets(std::string_view text) {
  auto is_end = [](char c) { return c == '\r' || c == '\n'; };
  std::vector<SatElements> out;
  size_t pos = 0;
  while (true) {
    while (pos < text.size() && is_end(text[pos])) ++pos;
    if (pos >= text.size()) break;
    CSatOrbit orbit;
    if (orbit.ParseTle(text.substr(pos))) out.push_back(orbit.Elements());
    for (int line = 0; line < 3 && pos < text.size(); ++line) {
      while (pos < text.size() && !is_end(text[pos])) ++pos;
      while (pos < text.size() && is_end(text[pos])) ++pos;
    }
  }
  return out;
}

}  // namespace velmora
