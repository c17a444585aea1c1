// Folders, options file, profile stores and the INI registry profile.
#include "core/settings.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "core/archive.h"
#include "core/format.h"
#include "core/log.h"
#include "platform/fs.h"

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

namespace {
constexpr uint32_t kOptionsSchema = 1;
}

bool CAppOptions::Load(const std::string& path) {
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (!bytes) {
    AppLog("options: cannot read %s: %s", path.c_str(), error.c_str());
    return false;
  }
  try {
    ArchiveReader ar(*bytes);
    uint32_t schema = ar.U32();
    if (schema != kOptionsSchema) throw ArchiveError("unknown schema " + std::to_string(schema));
    CAppOptions o = *this;
    std::string data = ar.String();
    o.download_threads = ar.I32();
    o.show_place_tree = ar.U8() != 0;
    o.dem_source_mode = ar.I32();
    o.satellite_switch = ar.I32();
    o.jpeg_quality = ar.I32();
    o.map_publish = ar.U8() != 0;
    o.coord_format = ar.I32();
    o.retry_limit = ar.I32();
    o.offline = ar.U8() != 0;
    o.http_timeout_ms = ar.I32();
    if (o.download_threads < 1 || o.download_threads > 64) o.download_threads = 5;
    if (o.dem_source_mode < 0 || o.dem_source_mode > 5) o.dem_source_mode = 1;
    if (o.jpeg_quality < 1 || o.jpeg_quality > 100) o.jpeg_quality = 90;
    if (o.retry_limit < 0) o.retry_limit = 3;
    if (o.http_timeout_ms < 100) o.http_timeout_ms = 15000;
    if (!data.empty()) {
      o.data_dir = WithTrailingSlash(data);
      o.work_dir = o.data_dir + "work/";
    }
    *this = o;
    return true;
  } catch (const ArchiveError& e) {
    AppLog("options: %s is damaged (%s); defaults are used", path.c_str(), e.what());
    return false;
  }
}

bool CAppOptions::Save(const std::string& path) const {
  ArchiveWriter ar;
  ar.U32(kOptionsSchema);
  ar.String(data_dir);
  ar.I32(download_threads);
  ar.U8(show_place_tree);
  ar.I32(dem_source_mode);
  ar.I32(satellite_switch);
  ar.I32(jpeg_quality);
  ar.U8(map_publish);
  ar.I32(coord_format);
  ar.I32(retry_limit);
  ar.U8(offline);
  ar.I32(http_timeout_ms);
  std::string error;
  if (!ar.SaveToFile(path, &error)) {
    AppLog("options: cannot save %s", error.c_str());
    return false;
  }
  return true;
}

CAppOptions& AppOptions() {
  static CAppOptions options = [] {
    CAppOptions o;
    Folders f = ResolveFolders();
    o.program_dir = f.program;
    o.data_dir = f.data;
    o.work_dir = f.work;
    return o;
  }();
  return options;
}

// ---- profile store --------------------------------------------------------------------------

namespace {

constexpr uint32_t kProfileSchema = 1;

template <typename T>
T GetTyped(const std::mutex& m, const std::map<std::string, ProfileValue>& values,
           const std::string& key, T def) {
  std::lock_guard lock(const_cast<std::mutex&>(m));
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
  switch (ar.U8()) {
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
    default: throw ArchiveError("unknown profile value type");
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
  std::lock_guard lock(mutex_);
  values_.clear();
  changed_ = false;
  load_failed_ = false;
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  try {
    if (!bytes) throw ArchiveError(error);
    ArchiveReader ar(*bytes);
    if (ar.U32() != kProfileSchema) throw ArchiveError("unknown schema");
    uint32_t n = ar.Count(2);
    std::map<std::string, ProfileValue> values;
    for (uint32_t i = 0; i < n; ++i) {
      std::string key = ar.String();
      values[key] = ReadValue(ar);
    }
    values_ = std::move(values);
    return true;
  } catch (const ArchiveError& e) {
    AppLog("profile store: %s cannot be read (%s); defaults are used and the file is kept",
           path.c_str(), e.what());
    load_failed_ = true;
    return false;
  }
}

bool CProfileStore::Save(const std::string& path, bool force) {
  std::lock_guard lock(mutex_);
  if (!changed_ && !force) return true;
  // A damaged file is kept as it is unless the user changed something since it was read.
  if (load_failed_ && !changed_) return true;
  ArchiveWriter ar;
  ar.U32(kProfileSchema);
  ar.U32(static_cast<uint32_t>(values_.size()));
  for (const auto& [key, value] : values_) {
    ar.String(key);
    WriteValue(ar, value);
  }
  std::string error;
  if (!ar.SaveToFile(path, &error)) {
    AppLog("profile store: cannot save %s", error.c_str());
    return false;
  }
  changed_ = false;
  load_failed_ = false;
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

// ---- registry profile -----------------------------------------------------------------------

bool CRegistryProfile::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  path_ = path;
  sections_.clear();
  std::error_code ec;
  if (!fs::exists(path, ec)) return true;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (!bytes) {
    AppLog("profile: cannot read %s", error.c_str());
    return false;
  }
  std::string text(bytes->begin(), bytes->end());
  std::string section;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string value = line.substr(eq + 1);
    // Escapes written by SaveLocked: \\ \n \r
    std::string plain;
    for (size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\\' && i + 1 < value.size()) {
        char c = value[++i];
        plain.push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c);
      } else {
        plain.push_back(value[i]);
      }
    }
    sections_[section][line.substr(0, eq)] = plain;
  }
  return true;
}

bool CRegistryProfile::SaveLocked() const {
  if (path_.empty()) return false;
  std::string text;
  for (const auto& [section, keys] : sections_) {
    text += "[" + section + "]\n";
    for (const auto& [key, value] : keys) {
      text += key + "=";
      for (char c : value) {
        if (c == '\\') text += "\\\\";
        else if (c == '\n') text += "\\n";
        else if (c == '\r') text += "\\r";
        else text.push_back(c);
      }
      text += "\n";
    }
  }
  std::string error;
  if (!WriteFileAtomic(path_, text.data(), text.size(), &error)) {
    AppLog("profile: cannot save %s", error.c_str());
    return false;
  }
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
  return v ? static_cast<int>(*v) : def;
}

double CRegistryProfile::GetDouble(const std::string& section, const std::string& key,
                                   double def) const {
  auto v = ParseDouble(GetString(section, key, ""));
  return v ? *v : def;
}

bool CRegistryProfile::WriteString(const std::string& section, const std::string& key,
                                   const std::string& value) {
  std::lock_guard lock(mutex_);
  sections_[section][key] = value;
  return SaveLocked();
}

bool CRegistryProfile::WriteInt(const std::string& section, const std::string& key, int value) {
  return WriteString(section, key, std::to_string(value));
}

bool CRegistryProfile::WriteDouble(const std::string& section, const std::string& key, double value) {
  return WriteString(section, key, FormatFixed(value, 6));
}

CRegistryProfile& RegistryProfile() {
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
