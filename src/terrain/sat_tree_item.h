// The satellite library: its items (CSatTreeItem, CSatFolderItem, CSatelliteItem), the file
// "obs.db" that keeps them, and the reading of element-set text into satellites.
//
// A folder's state is 0 (none of its satellites shown), 1 (all shown; also a folder without
// children) or 3 (some shown); a satellite's is its shown flag (0 or 1). The side-bar panel
// shows these numbers as image indices of the application's check images. Items belong to their
// parent folder; every item knows its parent (null for the root) so that a change can refresh
// the states up the chain. Domain code: no window here.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/archive.h"
#include "terrain/sat_orbit.h"

namespace velmora {

class CSatFolderItem;
class CSatelliteItem;

inline constexpr int32_t kSatLibrarySchema = 37;
inline constexpr const char kSatLibraryFileName[] = "obs.db";
inline constexpr const char kSatLibraryDamagedSuffix[] = ".damaged";
// Folders nest at most this deep in a file we read; deeper is damage.
inline constexpr int kSatLibraryMaxDepth = 64;
// An import file larger than this is refused.
inline constexpr uint64_t kSatImportMaxBytes = 16ull << 20;

inline constexpr uint32_t kSatStateNone = 0;
inline constexpr uint32_t kSatStateAll = 1;
inline constexpr uint32_t kSatStateSome = 3;

class CSatTreeItem {
 public:
  virtual ~CSatTreeItem() = default;
  // 0 folder, 1 satellite, -1 the plain base.
  virtual int Type() const { return -1; }
  virtual std::string Text() const { return std::string(); }
  // The image index: a folder's state, a satellite's shown flag.
  virtual int Image() const { return 0; }
  virtual void Serialize(ArchiveWriter& ar, const std::string& program_dir) const { (void)ar, (void)program_dir; }
  // Appends the records of the shown satellites at or under this item.
  virtual void CollectShown(std::vector<SatElements>& out) const { (void)out; }
  // Turns the item's shown state over (a folder: all of it).
  virtual void Toggle() {}
  // Sets the shown state of the item and everything under it (0 or 1).
  virtual void SetShown(uint32_t shown) { (void)shown; }
  // Appends the satellite items at or under this item.
  virtual void CollectSatellites(std::vector<CSatelliteItem*>& out) { (void)out; }

  CSatFolderItem* Parent() const { return parent_; }
  // True when `folder` is this item or lies under it.
  bool Contains(const CSatTreeItem* item) const;

 protected:
  friend class CSatFolderItem;
  CSatFolderItem* parent_ = nullptr;
};

class CSatFolderItem : public CSatTreeItem {
 public:
  explicit CSatFolderItem(std::string name = std::string()) : name_(std::move(name)) {}

  int Type() const override { return 0; }
  std::string Text() const override { return name_; }
  int Image() const override { return static_cast<int>(state_); }
  // Name, child count, then per child its type and the child.
  void Serialize(ArchiveWriter& ar, const std::string& program_dir) const override;
  void CollectShown(std::vector<SatElements>& out) const override;
  // State non-zero: 0 and every child 0; else 1 and every child 1.
  void Toggle() override;
  void SetShown(uint32_t shown) override;
  void CollectSatellites(std::vector<CSatelliteItem*>& out) override;

  // The state from the children: any child at 3 gives 3; all at 1 (or no children) 1; some at 1
  // 3; none 0.
  void RefreshState();
  // RefreshState on this folder and each folder above it.
  void RefreshUp();
  // RefreshState on every folder under this one, children first, then this one.
  void RefreshAll();

  // Takes the item at the end of the children.
  CSatTreeItem* Add(std::unique_ptr<CSatTreeItem> item);
  // Gives up a child (null when it is not one).
  std::unique_ptr<CSatTreeItem> Remove(CSatTreeItem* item);

  const std::string& Name() const { return name_; }
  uint32_t State() const { return state_; }
  void SetState(uint32_t state) { state_ = state; }
  const std::vector<std::unique_ptr<CSatTreeItem>>& Children() const { return children_; }

 private:
  uint32_t state_ = kSatStateNone;
  std::vector<std::unique_ptr<CSatTreeItem>> children_;
  std::string name_;
};

class CSatelliteItem : public CSatTreeItem {
 public:
  CSatelliteItem() = default;
  explicit CSatelliteItem(const SatElements& record, uint32_t shown = 0) : shown_(shown), record_(record) {}

  int Type() const override { return 1; }
  std::string Text() const override { return record_.name; }
  int Image() const override { return static_cast<int>(shown_); }
  void Serialize(ArchiveWriter& ar, const std::string& program_dir) const override;
  void CollectShown(std::vector<SatElements>& out) const override;
  void Toggle() override { shown_ = shown_ ? 0 : 1; }
  void SetShown(uint32_t shown) override { shown_ = shown ? 1 : 0; }
  void CollectSatellites(std::vector<CSatelliteItem*>& out) override { out.push_back(this); }

  bool Shown() const { return shown_ != 0; }
  uint32_t ShownFlag() const { return shown_; }
  const SatElements& Record() const { return record_; }
  SatElements& Record() { return record_; }

  // The fields in the file's order after the type.
  static std::unique_ptr<CSatelliteItem> Load(ArchiveReader& ar, const std::string& program_dir);

 private:
  uint32_t shown_ = 0;
  SatElements record_;
};

// ---- the file ----------------------------------------------------------------------------------
enum class SatLibraryLoad {
  kOk,
  kMissing,     // no file (nor a seed): an empty library
  kSeeded,      // copied from the program folder's copy and read
  kSetAside,    // damaged or of another schema: renamed to "obs.db.damaged", empty library
};

// Reads the library at `path` into `root` (its children replaced). A missing file is first
// copied from `seed` when that exists. A file that cannot be read (cut short, counts beyond the
// bytes left, folders nested deeper than kSatLibraryMaxDepth, another schema) leaves `root`
// empty and is renamed to path + ".damaged" so that the next save does not destroy it. Folder
// states are recomputed from their satellites. Icon paths of two or more characters that are
// not absolute get `program_dir` in front.
SatLibraryLoad LoadSatLibrary(const std::string& path, const std::string& seed, const std::string& program_dir,
                              CSatFolderItem* root, std::string* error = nullptr);
// The schema and the root, written to a temporary file renamed over `path`. Icon paths under
// `program_dir` are stored without it. False (reason in *error) when it cannot be written; the
// old file is then as it was.
bool SaveSatLibrary(const std::string& path, const std::string& program_dir, const CSatFolderItem& root,
                    std::string* error = nullptr);
// The bytes SaveSatLibrary writes.
std::vector<uint8_t> SerializeSatLibrary(const std::string& program_dir, const CSatFolderItem& root);
// Reads the bytes into `root`; ArchiveError when they are not a library of our schema.
void DeserializeSatLibrary(ArchiveReader& ar, const std::string& program_dir, CSatFolderItem* root);

// ---- element-set text --------------------------------------------------------------------------
// The element sets of a text, read one after another with CSatOrbit::ParseTle; after each
// attempt, read or not, the reader moves on by three lines (a line ends at CR or LF; a run of
// CR and LF is one end). Each record comes with the colour, icon and shown flag ParseTle gives.
std::vector<SatElements> ReadElementSets(std::string_view text);

}  // namespace velmora
