// Folders, options file, profile stores and the INI registry profile.
#include "velmora_build_paths.h"
#include "core/settings.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "core/archive.h"
#include "core/format.h"
#include "core/log.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {
namespace fs = std::filesystem;

// ---- folders --------------------------------------------------------------------------------

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = Env("HOME");
  return home.empty() ? std::string("/tmp") : home;
}

std::string ExecutableFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

Folders ResolveFolders() {
  Folders f;
  f.program = Env("VELMORA_PROGRAM_DIR");
  if (f.program.empty()) {
    std::string exe = ExecutableFolder();
    std::error_code ec;
    // build tree: build/src/app/velmora -> build/data; installed: bin/velmora -> share/velmora
    for (const char* rel : {"../../data", "../share/velmora", "data"}) {
      fs::path p = fs::path(exe) / rel;
      if (!exe.empty() && fs::is_directory(p, ec)) {
        f.program = fs::weakly_canonical(p, ec).string();
        break;
      }
    }
    if (f.program.empty()) f.program = VELMORA_BUILD_DIR "/data";
  }
  f.data = Env("VELMORA_DATA_DIR");
  if (f.data.empty()) {
    std::string xdg = Env("XDG_DATA_HOME");
    f.data = (xdg.empty() ? HomeFolder() + "/.local/share" : xdg) + "/velmora";
  }
  f.config = Env("VELMORA_CONFIG_DIR");
  if (f.config.empty()) {
    std::string xdg = Env("XDG_CONFIG_HOME");
    f.config = (xdg.empty() ? HomeFolder() + "/.config" : xdg) + "/Tarnwick";
  }
  f.program = WithTrailingSlash(f.program);
  f.data = WithTrailingSlash(f.data);
  f.config = WithTrailingSlash(f.config);
  f.work = f.data + "work/";
  return f;
}

// ---- options --------------------------------------------------------------------------------
// kovra0.opt: schema 1, then the data folder as UTF-8 bytes with the string length prefix
// ("" for the default; a path need not be expressible in GBK), download threads (i32), place-name
// tree (u8), elevation source mode (i32), JPEG quality (i32), map publishing (u8), coordinate
// format (i32), retry limit (i32), offline (u8), HTTP time-out in ms (i32).

namespace {
constexpr int32_t kOptionsSchema = 1;

// The value when it lies in [lo, hi], else the default (logged).
int Checked(const char* name, int value, int lo, int hi, int def) {
  if (value >= lo && value <= hi) return value;
  AppLog("options: %s %d is out of range (%d-%d); %d is used", name, value, lo, hi, def);
  return def;
}

}  // namespace

std::vector<uint8_t> CAppOptions::Encode() const {
  ArchiveWriter ar;
  ar.Schema(kOptionsSchema);
  ar.RawString(data_dir == ResolveFolders().data ? std::string() : data_dir);
  ar.I32(download_threads);
  ar.U8(show_place_tree ? 1 : 0);
  ar.I32(dem_source_mode);
  ar.I32(jpeg_quality);
  ar.U8(map_publish ? 1 : 0);
  ar.I32(coord_format);
  ar.I32(retry_limit);
  ar.U8(offline ? 1 : 0);
  ar.I32(http_timeout_ms);
  return std::move(ar.Bytes());
}

bool CAppOptions::Load(const std::string& path) {
  const CAppOptions defaults;
  CAppOptions o = *this;
  std::string data;
  ArchiveLoad result = LoadArchiveFile(path, [&](ArchiveReader& ar) {
    ar.Schema(kOptionsSchema);
    data = ar.RawString();
    o.download_threads = ar.I32();
    o.show_place_tree = ar.U8() != 0;
    o.dem_source_mode = ar.I32();
    o.jpeg_quality = ar.I32();
    o.map_publish = ar.U8() != 0;
    o.coord_format = ar.I32();
    o.retry_limit = ar.I32();
    o.offline = ar.U8() != 0;
    o.http_timeout_ms = ar.I32();
  });
  if (result == ArchiveLoad::kMissing) return true;
  if (result == ArchiveLoad::kDamaged) {
    AppLog("options: the values in use are kept and %s is not overwritten", path.c_str());
    damaged_path_ = path;
    damaged_baseline_ = Encode();
    return false;
  }
  o.download_threads = Checked("download threads", o.download_threads, 1, 64, defaults.download_threads);
  o.dem_source_mode = Checked("elevation source", o.dem_source_mode, 0, 5, defaults.dem_source_mode);
  o.jpeg_quality = Checked("JPEG quality", o.jpeg_quality, 1, 100, defaults.jpeg_quality);
  o.coord_format = Checked("coordinate format", o.coord_format, 0, 1, defaults.coord_format);
  o.retry_limit = Checked("retry limit", o.retry_limit, 0, 100, defaults.retry_limit);
  o.http_timeout_ms = Checked("HTTP time-out", o.http_timeout_ms, 100, 600000, defaults.http_timeout_ms);
  if (!data.empty()) {
    if (IsValidUtf8(data)) {
      o.data_dir = WithTrailingSlash(data);
      o.work_dir = o.data_dir + "work/";
    } else {
      AppLog("options: the data folder in %s is not UTF-8 and is ignored", path.c_str());
    }
  }
  o.damaged_path_.clear();
  o.damaged_baseline_.clear();
  *this = std::move(o);
  return true;
}

namespace {

// Keeps a copy of a file that could not be read as "<path>.damaged" before it is replaced. True
// when the copy was made, or when there is no file left to keep.
bool KeepDamagedCopy(const std::string& path, const char* what) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  fs::copy_file(path, path + ".damaged", fs::copy_options::overwrite_existing, ec);
  if (ec) {
    AppLog("%s: %s could not be read and cannot be kept as %s.damaged (%s); it is not overwritten", what,
           path.c_str(), path.c_str(), ec.message().c_str());
    return false;
  }
  AppLog("%s: %s could not be read; it is kept as %s.damaged", what, path.c_str(), path.c_str());
  return true;
}

}  // namespace

bool CAppOptions::Save(const std::string& path) const {
  std::vector<uint8_t> bytes = Encode();
  // Nothing the user changed would replace the file that could not be read.
  if (path == damaged_path_ && bytes == damaged_baseline_) return true;
  // The file may name a data folder the user chose: it is kept aside before it is replaced.
  if (path == damaged_path_ && !KeepDamagedCopy(path, "options")) return false;
  std::string error;
  if (!WriteFileAtomic(path, bytes, &error)) {
    AppLog("options: cannot save %s", error.c_str());
    return false;
  }
  if (path == damaged_path_) {
    damaged_path_.clear();
    damaged_baseline_.clear();
  }
  return true;
}

namespace {

// Every snapshot ever published, so that references handed out stay valid.
struct OptionsSnapshots {
  std::mutex mutex;  // writers only
  std::vector<std::unique_ptr<const CAppOptions>> all;
  std::atomic<const CAppOptions*> current{nullptr};

  OptionsSnapshots() {
    auto first = std::make_unique<CAppOptions>();
    Folders f = ResolveFolders();
    first->program_dir = f.program;
    first->data_dir = f.data;
    first->work_dir = f.work;
    current.store(first.get(), std::memory_order_release);
    all.push_back(std::move(first));
  }
  // Callers hold `mutex`.
  void PublishLocked(std::unique_ptr<const CAppOptions> options) {
    current.store(options.get(), std::memory_order_release);
    all.push_back(std::move(options));
  }
};

OptionsSnapshots& Snapshots() {
  static OptionsSnapshots snapshots;
  return snapshots;
}

// Serialises Save: the damaged-file bookkeeping of a snapshot is mutable.
std::mutex g_options_save_mutex;

}  // namespace

const CAppOptions& AppOptions() { return *Snapshots().current.load(std::memory_order_acquire); }

void UpdateAppOptions(const std::function<void(CAppOptions&)>& change) {
  OptionsSnapshots& s = Snapshots();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::unique_ptr<CAppOptions> next;
  {
    // A save on another thread may be updating the current snapshot's damaged-file bookkeeping.
    std::lock_guard<std::mutex> save_lock(g_options_save_mutex);
    next = std::make_unique<CAppOptions>(*s.current.load(std::memory_order_acquire));
  }
  change(*next);
  s.PublishLocked(std::move(next));
}

void SetAppOptions(const CAppOptions& options) {
  UpdateAppOptions([&options](CAppOptions& o) { o = options; });
}

ScopedAppOptions::ScopedAppOptions(const std::function<void(CAppOptions&)>& change) : previous_(&AppOptions()) {
  UpdateAppOptions(change);
}

ScopedAppOptions::~ScopedAppOptions() {
  OptionsSnapshots& s = Snapshots();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.current.store(previous_, std::memory_order_release);
}

std::string OptionsFilePath() { return ResolveFolders().data + kOptionsFileName; }

bool LoadAppOptionsFrom(const std::string& path) {
  bool ok = true;
  UpdateAppOptions([&](CAppOptions& o) {
    std::lock_guard<std::mutex> lock(g_options_save_mutex);
    ok = o.Load(path);
  });
  return ok;
}

bool SaveAppOptionsTo(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_options_save_mutex);
  return AppOptions().Save(path);
}

bool LoadAppOptions() { return LoadAppOptionsFrom(OptionsFilePath()); }
bool SaveAppOptions() { return SaveAppOptionsTo(OptionsFilePath()); }

// ---- profile store --------------------------------------------------------------------------
// Kovra0.reg / dis0.reg: schema 1, the number of entries (u32), then per entry the key (string)
// and the value: its type code (u8, the ProfileValue order) and its bytes (i32; string; two i32;
// three f64; u8; two f32; f32; f64; u32 ARGB; CTextStyle::Serialize; u32 count and i32 items).

namespace {

constexpr int32_t kProfileSchema = 1;

template <typename T>
T GetTyped(std::mutex& m, const std::map<std::string, ProfileValue>& values, const std::string& key,
           T def) {
  std::lock_guard lock(m);
  auto it = values.find(key);
  if (it == values.end()) return def;
  if (const T* v = std::get_if<T>(&it->second)) return *v;
  return def;
}

void WriteValue(ArchiveWriter& ar, const ProfileValue& v) {
  ar.U8(static_cast<uint8_t>(v.index()));
  std::visit(
      [&](const auto& x) {
        using T = std::decay_t<decltype(x)>;
        if constexpr (std::is_same_v<T, int32_t>) ar.I32(x);
        else if constexpr (std::is_same_v<T, std::string>) ar.String(x);
        else if constexpr (std::is_same_v<T, IntPair>) { ar.I32(x.a); ar.I32(x.b); }
        else if constexpr (std::is_same_v<T, Point3D>) { ar.F64(x.x); ar.F64(x.y); ar.F64(x.z); }
        else if constexpr (std::is_same_v<T, bool>) ar.U8(x ? 1 : 0);
        else if constexpr (std::is_same_v<T, PointF>) { ar.F32(x.x); ar.F32(x.y); }
        else if constexpr (std::is_same_v<T, float>) ar.F32(x);
        else if constexpr (std::is_same_v<T, double>) ar.F64(x);
        else if constexpr (std::is_same_v<T, Color>) ar.U32(x.argb);
        else if constexpr (std::is_same_v<T, CTextStyle>) x.Serialize(ar);
        else {
          ar.U32(static_cast<uint32_t>(x.size()));
          for (int32_t i : x) ar.I32(i);
        }
      },
      v);
}

ProfileValue ReadValue(ArchiveReader& ar) {
  switch (uint8_t type = ar.U8()) {
    case 0: return ar.I32();
    case 1: return ar.String();
    case 2: { IntPair p; p.a = ar.I32(); p.b = ar.I32(); return p; }
    case 3: { Point3D p; p.x = ar.F64(); p.y = ar.F64(); p.z = ar.F64(); return p; }
    case 4: return ar.U8() != 0;
    case 5: { PointF p; p.x = ar.F32(); p.y = ar.F32(); return p; }
    case 6: return ar.F32();
    case 7: return ar.F64();
    case 8: return Color{ar.U32()};
    case 9: { CTextStyle s; s.Serialize(ar); return s; }
    case 10: {
      uint32_t n = ar.Count(4);
      std::vector<int32_t> list(n);
      for (auto& i : list) i = ar.I32();
      return list;
    }
    default: throw ArchiveError("unknown profile value type " + std::to_string(type));
  }
}

}  // namespace

int32_t CProfileStore::GetInt(const std::string& k, int32_t d) const { return GetTyped(mutex_, values_, k, d); }
float CProfileStore::GetFloat(const std::string& k, float d) const { return GetTyped(mutex_, values_, k, d); }
double CProfileStore::GetDouble(const std::string& k, double d) const { return GetTyped(mutex_, values_, k, d); }
std::string CProfileStore::GetString(const std::string& k, const std::string& d) const { return GetTyped(mutex_, values_, k, d); }
bool CProfileStore::GetBool(const std::string& k, bool d) const { return GetTyped(mutex_, values_, k, d); }
IntPair CProfileStore::GetIntPair(const std::string& k, IntPair d) const { return GetTyped(mutex_, values_, k, d); }
Point3D CProfileStore::GetPoint3D(const std::string& k, Point3D d) const { return GetTyped(mutex_, values_, k, d); }
PointF CProfileStore::GetPointF(const std::string& k, PointF d) const { return GetTyped(mutex_, values_, k, d); }
Color CProfileStore::GetColor(const std::string& k, Color d) const { return GetTyped(mutex_, values_, k, d); }
CTextStyle CProfileStore::GetTextStyle(const std::string& k, const CTextStyle& d) const { return GetTyped(mutex_, values_, k, d); }
std::vector<int32_t> CProfileStore::GetIntList(const std::string& k, const std::vector<int32_t>& d) const {
  return GetTyped(mutex_, values_, k, d);
}

void CProfileStore::Set(const std::string& key, ProfileValue value) {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it != values_.end() && it->second == value) return;
  values_[key] = std::move(value);
  changed_ = true;
}

std::optional<ProfileValue> CProfileStore::Find(const std::string& key) const {
  std::lock_guard lock(mutex_);
  auto it = values_.find(key);
  if (it == values_.end()) return std::nullopt;
  return it->second;
}

bool CProfileStore::Remove(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (values_.erase(key) == 0) return false;
  changed_ = true;
  return true;
}

bool CProfileStore::IsChanged() const {
  std::lock_guard lock(mutex_);
  return changed_;
}

void CProfileStore::ClearChanged() {
  std::lock_guard lock(mutex_);
  changed_ = false;
}

bool CProfileStore::Load(const std::string& path) {
  std::map<std::string, ProfileValue> values;
  ArchiveLoad result = LoadArchiveFile(path, [&](ArchiveReader& ar) {
    ar.Schema(kProfileSchema);
    uint32_t n = ar.Count(2);  // each entry has at least a key length and a type code
    for (uint32_t i = 0; i < n; ++i) {
      std::string key = ar.String();
      values[key] = ReadValue(ar);
    }
  });
  std::lock_guard lock(mutex_);
  changed_ = false;
  damaged_path_.clear();
  if (result == ArchiveLoad::kDamaged) {
    AppLog("profile store: defaults are used and %s is kept as it is", path.c_str());
    values_.clear();
    damaged_path_ = path;
    return false;
  }
  values_ = std::move(values);
  return true;
}

bool CProfileStore::Save(const std::string& path, bool force) {
  std::lock_guard lock(mutex_);
  bool over_damaged = !damaged_path_.empty() && path == damaged_path_;
  // The file that could not be read is replaced only by something the user set since.
  if (over_damaged && !changed_) return true;
  if (!changed_ && !force) return true;
  // The only whole copy of what could not be read is not given up: without its copy aside the
  // save is refused.
  if (over_damaged && !KeepDamagedCopy(path, "profile store")) return false;
  ArchiveWriter ar;
  ar.Schema(kProfileSchema);
  ar.U32(static_cast<uint32_t>(values_.size()));
  for (const auto& [key, value] : values_) {
    ar.String(key);
    WriteValue(ar, value);
  }
  if (!ar.SaveToFile(path)) return false;
  changed_ = false;
  if (over_damaged) damaged_path_.clear();
  return true;
}

CProfileStore& ProgramSettings() {
  static CProfileStore store;
  return store;
}

CProfileStore& DrawingDefaults() {
  static CProfileStore store;
  return store;
}

std::string ProfileStoreFileName(const char* pattern, int number) {
  std::string s(pattern);
  size_t at = s.find("%d");
  if (at != std::string::npos) s.replace(at, 2, std::to_string(number));
  return s;
}

namespace {

bool LoadStore(CProfileStore& store, const char* pattern) {
  std::string name = ProfileStoreFileName(pattern, 0);
  std::string path = AppOptions().data_dir + name;
  std::string seed = AppOptions().program_dir + name;
  if (!FileExists(path) && FileExists(seed)) return store.Load(seed);
  return store.Load(path);
}

}  // namespace

bool LoadProfileStores() {
  bool a = LoadStore(ProgramSettings(), kProgramSettingsPattern);
  bool b = LoadStore(DrawingDefaults(), kDrawingDefaultsPattern);
  return a && b;
}

bool SaveProfileStores() {
  const std::string& folder = AppOptions().data_dir;
  bool a = ProgramSettings().Save(folder + ProfileStoreFileName(kProgramSettingsPattern, 0));
  bool b = DrawingDefaults().Save(folder + ProfileStoreFileName(kDrawingDefaultsPattern, 0));
  return a && b;
}

// ---- registry profile -----------------------------------------------------------------------

namespace {

enum class IniPart { kSection, kKey, kValue };

void AppendHexEscape(std::string& out, unsigned char c) {
  static const char hex[] = "0123456789ABCDEF";
  out += "\\x";
  out.push_back(hex[c >> 4]);
  out.push_back(hex[c & 15]);
}

// The file stays valid UTF-8 whatever the program stores: a byte that does not belong to a
// well-formed UTF-8 character (a GBK string handed to WriteString, an "\xC0" read back from the
// file) is written as "\xHH" like a control character, and reads back as that same byte.
std::string IniEscape(std::string_view text, IniPart part) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool edge = i == 0 || i + 1 == text.size();
    if (c >= 0x80) {
      const size_t n = Utf8SequenceLength(text.substr(i));
      if (n == 0) {
        AppendHexEscape(out, c);
      } else {
        out.append(text.substr(i, n));
        i += n - 1;
      }
    } else if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if ((c == ' ' || c == '\t') && edge) AppendHexEscape(out, c);  // would be trimmed
    else if (c < 0x20 || c == 0x7F) AppendHexEscape(out, c);
    else if (part == IniPart::kKey && (c == '=' || (i == 0 && (c == '[' || c == ';' || c == '#'))))
      AppendHexEscape(out, c);
    else out.push_back(static_cast<char>(c));
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string IniUnescape(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out.push_back(text[i]);
      continue;
    }
    char c = text[++i];
    if (c == 'n') out.push_back('\n');
    else if (c == 'r') out.push_back('\r');
    else if (c == 'x' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else out.push_back(c);
  }
  return out;
}

}  // namespace

bool CRegistryProfile::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  path_ = path;
  sections_.clear();
  read_failed_ = false;
  unreadable_lines_ = 0;
  file_text_.reset();
  if (!FileExists(path)) return true;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (!bytes) {
    AppLog("profile: cannot read %s; it is left as it is and changes are kept in memory only",
           error.c_str());
    read_failed_ = true;
    return false;
  }
  std::string text(bytes->begin(), bytes->end());
  file_text_ = text;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  std::string section;
  size_t pos = 0;
  size_t gbk_lines = 0;
  std::string decoded;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line = TrimAscii(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    // The file is UTF-8. A line that is not (written by hand or by an older program in the
    // system's GBK code page) is read as GBK on its own: one stray byte never changes how the
    // rest of the file reads.
    if (!IsValidUtf8(line)) {
      ++gbk_lines;
      decoded = AnsiToUtf8(line);
      line = decoded;
    }
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = IniUnescape(TrimAscii(line.substr(1, line.size() - 2)));
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      ++unreadable_lines_;
      continue;
    }
    sections_[section][IniUnescape(TrimAscii(line.substr(0, eq)))] =
        IniUnescape(TrimAscii(line.substr(eq + 1)));
  }
  if (gbk_lines > 0) AppLog("profile: %s: lines read as GBK (not UTF-8): %zu", path.c_str(), gbk_lines);
  if (unreadable_lines_ > 0)
    AppLog("profile: %s: lines that are neither a section nor a key: %zu", path.c_str(), unreadable_lines_);
  return true;
}

bool CRegistryProfile::SaveLocked() {
  if (path_.empty()) return false;
  if (read_failed_) return false;
  std::string text;
  for (const auto& [section, keys] : sections_) {
    text += "[" + IniEscape(section, IniPart::kSection) + "]\n";
    for (const auto& [key, value] : keys)
      text += IniEscape(key, IniPart::kKey) + "=" + IniEscape(value, IniPart::kValue) + "\n";
  }
  // The file already says exactly this: it is not written again.
  if (file_text_ && *file_text_ == text) return true;
  // Lines that could not be read are lost by a rewrite: the file as it was is kept aside first.
  if (unreadable_lines_ > 0 && file_text_) {
    if (!KeepDamagedCopy(path_, "profile")) return false;
    unreadable_lines_ = 0;
  }
  std::string error;
  if (!WriteFileAtomic(path_, text.data(), text.size(), &error)) {
    AppLog("profile: cannot save %s", error.c_str());
    return false;
  }
  file_text_ = text;
  return true;
}

std::string CRegistryProfile::GetString(const std::string& section, const std::string& key,
                                        const std::string& def) const {
  std::lock_guard lock(mutex_);
  auto s = sections_.find(section);
  if (s == sections_.end()) return def;
  auto k = s->second.find(key);
  return k == s->second.end() ? def : k->second;
}

int CRegistryProfile::GetInt(const std::string& section, const std::string& key, int def) const {
  auto v = ParseInt(GetString(section, key, ""));
  return v && *v >= INT_MIN && *v <= INT_MAX ? static_cast<int>(*v) : def;
}

double CRegistryProfile::GetDouble(const std::string& section, const std::string& key,
                                   double def) const {
  auto v = ParseDouble(GetString(section, key, ""));
  return v ? *v : def;
}

bool CRegistryProfile::WriteString(const std::string& section, const std::string& key,
                                   const std::string& value) {
  std::lock_guard lock(mutex_);
  auto& keys = sections_[section];
  auto it = keys.find(key);
  if (it != keys.end() && it->second == value) return !read_failed_;
  keys[key] = value;
  return SaveLocked();
}

bool CRegistryProfile::WriteInt(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool CRegistryProfile::WriteDouble(const std::string& section, const std::string& key, double value) {
  return WriteString(section, key, FormatFixed(value, 6));
}

CRegistryProfile& RegistryProfile() {
  // Never destroyed: threads that read settings while the program exits must still find it.
  static CRegistryProfile* profile = [] {
    auto* p = new CRegistryProfile;
    p->Open(ResolveFolders().config + "velmora.ini");
    return p;
  }();
  return *profile;
}

std::string GetProfileString(const std::string& s, const std::string& k, const std::string& d) {
  return RegistryProfile().GetString(s, k, d);
}
bool WriteProfileString(const std::string& s, const std::string& k, const std::string& v) {
  return RegistryProfile().WriteString(s, k, v);
}
int GetProfileInt(const std::string& s, const std::string& k, int d) { return RegistryProfile().GetInt(s, k, d); }
bool WriteProfileInt(const std::string& s, const std::string& k, int v) { return RegistryProfile().WriteInt(s, k, v); }
double GetProfileDouble(const std::string& s, const std::string& k, double d) {
  return RegistryProfile().GetDouble(s, k, d);
}
bool WriteProfileDouble(const std::string& s, const std::string& k, double v) {
  return RegistryProfile().WriteDouble(s, k, v);
}

}  // namespace velmora
