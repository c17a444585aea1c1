// Settings: the program's folders, the options object ("kovra0.opt"), the two profile stores of
// typed values ("Kovra0.reg", "dis0.reg") and the registry profile (an INI file in the config
// folder, in a folder named after the registry key "Tarnwick").
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/text_style.h"

namespace velmora {

// ---- folders --------------------------------------------------------------------------------
// Program folder (what ships; read-only), data folder (writable), work folder (temporary and
// exchange files) and config folder (the registry profile). Each ends with '/'.
// Resolved from the environment: VELMORA_PROGRAM_DIR, VELMORA_DATA_DIR, VELMORA_CONFIG_DIR,
// else the folder "data" beside the build tree's program or the install prefix's share/velmora,
// $XDG_DATA_HOME/velmora (~/.local/share/velmora) and $XDG_CONFIG_HOME/Tarnwick.
struct Folders {
  std::string program;
  std::string data;
  std::string work;
  std::string config;
};
Folders ResolveFolders();

// ---- options object -------------------------------------------------------------------------
inline constexpr const char* kOptionsFileName = "kovra0.opt";

class CAppOptions {
 public:
  std::string program_dir;
  std::string data_dir;
  std::string work_dir;
  int download_threads = 5;
  bool show_place_tree = true;   // the place-name tree in the side bar
  int dem_source_mode = 1;       // 0-5, see the elevation options page
  int satellite_switch = 1;      // non-zero starts the orbit threads of the views; no setting changes it
  int jpeg_quality = 90;         // encoder quality 1-100
  bool map_publish = false;      // the map publishing service, read once at start-up
  int coord_format = 0;          // 0 decimal degrees, 1 degrees-minutes-seconds
  int retry_limit = 3;           // download retries of one tile
  bool offline = false;          // offline mode: tiles are never downloaded
  int http_timeout_ms = 15000;

  // Reads the options file. A missing file keeps the values (true). An unreadable or damaged
  // file keeps the values, logs the reason and returns false; Save then leaves that file alone
  // until some value differs from what it was after the failed load, and then copies it to
  // "<path>.damaged" first (no save without that copy). Values out of range are
  // logged and replaced by their defaults. The file holds the data folder only when the user
  // chose one other than the default.
  bool Load(const std::string& path);
  // Writes the options atomically; false (logged) when that fails.
  bool Save(const std::string& path) const;

 private:
  std::vector<uint8_t> Encode() const;
  // The file whose load failed and Encode() right after that failure; cleared by a save over it.
  mutable std::string damaged_path_;
  mutable std::vector<uint8_t> damaged_baseline_;
};

// The global options. Readers take the current snapshot: an immutable object that stays valid
// for the whole run, so a worker may keep the reference while the options page publishes a new
// snapshot (the old ones are kept; options change a few times per run, not per tile). Folders are
// filled from ResolveFolders() on first use. Two reads through AppOptions() may see two
// snapshots; take the reference once where several fields must agree.
const CAppOptions& AppOptions();
// Publishes a copy of the current options changed by `change`. Changes are made one at a time,
// so two writers never lose each other's change.
void UpdateAppOptions(const std::function<void(CAppOptions&)>& change);
// Publishes `options` whole.
void SetAppOptions(const CAppOptions& options);

// Changes the options for one scope (a test, a benchmark) and puts the previous snapshot back
// when it ends. Scopes nest; they are not meant to overlap from several threads.
class ScopedAppOptions {
 public:
  explicit ScopedAppOptions(const std::function<void(CAppOptions&)>& change);
  ~ScopedAppOptions();
  ScopedAppOptions(const ScopedAppOptions&) = delete;
  ScopedAppOptions& operator=(const ScopedAppOptions&) = delete;

 private:
  const CAppOptions* previous_;
};

// "<data folder from the environment>kovra0.opt": fixed, so that the file that names a data
// folder chosen by the user can always be found.
std::string OptionsFilePath();
bool LoadAppOptions();   // a copy of the options loaded from OptionsFilePath(), then published
bool SaveAppOptions();   // the current snapshot saved to OptionsFilePath()
// The same with another file.
bool LoadAppOptionsFrom(const std::string& path);
bool SaveAppOptionsTo(const std::string& path);

// ---- profile store --------------------------------------------------------------------------
struct IntPair {
  int32_t a = 0, b = 0;
  bool operator==(const IntPair&) const = default;
};
struct Point3D {
  double x = 0, y = 0, z = 0;
  bool operator==(const Point3D&) const = default;
};
struct PointF {
  float x = 0, y = 0;
  bool operator==(const PointF&) const = default;
};
struct Color {
  uint32_t argb = 0;
  bool operator==(const Color&) const = default;
};

// The 11 value types, in the order of their type codes 0-10.
using ProfileValue = std::variant<int32_t, std::string, IntPair, Point3D, bool, PointF, float,
                                  double, Color, CTextStyle, std::vector<int32_t>>;

class CProfileStore {
 public:
  // Each getter returns the stored value, or the default when the key is absent or holds a
  // value of another type.
  int32_t GetInt(const std::string& key, int32_t def) const;
  float GetFloat(const std::string& key, float def) const;
  double GetDouble(const std::string& key, double def) const;
  std::string GetString(const std::string& key, const std::string& def) const;
  bool GetBool(const std::string& key, bool def) const;
  IntPair GetIntPair(const std::string& key, IntPair def) const;
  Point3D GetPoint3D(const std::string& key, Point3D def) const;
  PointF GetPointF(const std::string& key, PointF def) const;
  Color GetColor(const std::string& key, Color def) const;
  CTextStyle GetTextStyle(const std::string& key, const CTextStyle& def) const;
  std::vector<int32_t> GetIntList(const std::string& key, const std::vector<int32_t>& def) const;

  void SetInt(const std::string& key, int32_t v) { Set(key, v); }
  void SetFloat(const std::string& key, float v) { Set(key, v); }
  void SetDouble(const std::string& key, double v) { Set(key, v); }
  void SetString(const std::string& key, const std::string& v) { Set(key, v); }
  void SetBool(const std::string& key, bool v) { Set(key, v); }
  void SetIntPair(const std::string& key, IntPair v) { Set(key, v); }
  void SetPoint3D(const std::string& key, Point3D v) { Set(key, v); }
  void SetPointF(const std::string& key, PointF v) { Set(key, v); }
  void SetColor(const std::string& key, Color v) { Set(key, v); }
  void SetTextStyle(const std::string& key, const CTextStyle& v) { Set(key, v); }
  void SetIntList(const std::string& key, const std::vector<int32_t>& v) { Set(key, v); }

  // Creates or replaces the value; marks the store changed only when the value differs.
  void Set(const std::string& key, ProfileValue value);
  std::optional<ProfileValue> Find(const std::string& key) const;
  bool Remove(const std::string& key);
  bool IsChanged() const;
  void ClearChanged();

  // Load replaces the contents with the file's; a missing file gives an empty store (true); an
  // unreadable or damaged file leaves the store empty, logs the reason and returns false, and the
  // store remembers not to overwrite that file on Save unless something was set since (then a
  // copy of the damaged file is kept as "<path>.damaged" first; when that copy cannot be made,
  // Save refuses, logged, and the damaged file stays as it was).
  bool Load(const std::string& path);
  // Writes the store atomically when it changed (or `force`); clears the changed flag on success.
  bool Save(const std::string& path, bool force = false);

 private:
  mutable std::mutex mutex_;
  std::map<std::string, ProfileValue> values_;
  bool changed_ = false;
  std::string damaged_path_;  // the file whose load failed, kept until something is saved over it
};

// The two global stores: program settings ("Kovra0.reg") and drawing defaults ("dis0.reg").
CProfileStore& ProgramSettings();
CProfileStore& DrawingDefaults();
std::string ProfileStoreFileName(const char* pattern, int number);  // "Kovra%d.reg", 0 -> "Kovra0.reg"
inline constexpr const char* kProgramSettingsPattern = "Kovra%d.reg";
inline constexpr const char* kDrawingDefaultsPattern = "dis%d.reg";
// Loads both global stores from the data folder; a store whose file is not there yet is seeded
// from the copy shipped in the program folder. False when a file exists but is damaged.
bool LoadProfileStores();
// Saves both global stores that changed into the data folder (at exit).
bool SaveProfileStores();

// ---- registry profile (INI) -----------------------------------------------------------------
// A UTF-8 text file of "[section]" lines and "key=value" lines. Spaces around keys and values are
// dropped on reading; the writer escapes what would not survive: "\\", line breaks and other
// control characters always, every byte that is not part of a well-formed UTF-8 character, a
// leading or trailing space or tab of a section, key or value, and "=" and a leading "[", ";" or
// "#" in a key (as "\\", "\n", "\r" and "\xHH"), so that every stored byte string reads back as
// it was and the file stays UTF-8. Lines starting
// with ';' or '#' are comments; comments and unreadable lines are not kept when the file is
// rewritten, so a file with unreadable lines is copied to "<path>.damaged" before its first
// rewrite (no rewrite without that copy). A rewrite that would write what the file already holds
// is skipped.
class CRegistryProfile {
 public:
  // Loads the INI file (a missing file is an empty profile). A line that is not valid UTF-8 is
  // read as GBK, that line alone (logged). A file that exists but cannot be read is never rewritten: later
  // writes only change the values in memory (logged), so that the file stays as it was.
  bool Open(const std::string& path);
  const std::string& Path() const { return path_; }

  std::string GetString(const std::string& section, const std::string& key, const std::string& def) const;
  // The default when the key is absent or its text is not a whole number in the int range.
  int GetInt(const std::string& section, const std::string& key, int def) const;
  // The default when the key is absent or its text is not a finite number.
  double GetDouble(const std::string& section, const std::string& key, double def) const;
  // Each write stores the value and rewrites the file atomically (unless the value is already
  // stored); false when the file could not be written.
  bool WriteString(const std::string& section, const std::string& key, const std::string& value);
  bool WriteInt(const std::string& section, const std::string& key, int value);
  bool WriteDouble(const std::string& section, const std::string& key, double value);  // "%f"

 private:
  bool SaveLocked();
  mutable std::mutex mutex_;
  std::string path_;
  bool read_failed_ = false;
  // Lines of the file that were neither a section, a key nor a comment: the file is copied to
  // "<path>.damaged" before the first rewrite (which would drop them).
  size_t unreadable_lines_ = 0;
  // The file's bytes as last read or written; a rewrite that would give the same is skipped.
  std::optional<std::string> file_text_;
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

// The global registry profile, opened on first use at "<config folder>velmora.ini".
CRegistryProfile& RegistryProfile();
std::string GetProfileString(const std::string& section, const std::string& key, const std::string& def);
bool WriteProfileString(const std::string& section, const std::string& key, const std::string& value);
int GetProfileInt(const std::string& section, const std::string& key, int def);
bool WriteProfileInt(const std::string& section, const std::string& key, int value);
double GetProfileDouble(const std::string& section, const std::string& key, double def);
bool WriteProfileDouble(const std::string& section, const std::string& key, double value);

}  // namespace velmora
