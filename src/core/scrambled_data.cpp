// Scrambled data files: the key-stream transform, bundles and the web-file pair.
#include "core/scrambled_data.h"

#include <cstring>
#include <filesystem>

#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"

namespace velmora {

namespace {

constexpr char kMagic[4] = {'V', 'K', 'M', 'P'};
constexpr char kBundleMagic[4] = {'K', 'M', 'P', 'B'};
constexpr size_t kHeaderSize = 8;
constexpr uint32_t kSeed = 0x6D2B79F5u;

void PutU32(std::string& out, uint32_t v) {
  char b[4] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
               static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 24) & 0xFF)};
  out.append(b, 4);
}

uint32_t GetU32(const char* p) {
  const auto* u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) | (static_cast<uint32_t>(u[1]) << 8) |
         (static_cast<uint32_t>(u[2]) << 16) | (static_cast<uint32_t>(u[3]) << 24);
}

// XORs `size` bytes in place with the key stream of a file whose plain length is `length`.
void ApplyKeyStream(char* data, size_t size, uint32_t length) {
  uint32_t x = kSeed ^ length;
  if (x == 0) x = kSeed;
  size_t i = 0;
  for (; i + 4 <= size; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data[i] = static_cast<char>(data[i] ^ static_cast<char>(x & 0xFF));
    data[i + 1] = static_cast<char>(data[i + 1] ^ static_cast<char>((x >> 8) & 0xFF));
    data[i + 2] = static_cast<char>(data[i + 2] ^ static_cast<char>((x >> 16) & 0xFF));
    data[i + 3] = static_cast<char>(data[i + 3] ^ static_cast<char>((x >> 24) & 0xFF));
  }
  if (i < size) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    for (int k = 0; i < size; ++i, ++k) data[i] = static_cast<char>(data[i] ^ static_cast<char>((x >> (8 * k)) & 0xFF));
  }
}

// A reader over plain bytes that refuses to run past their end.
class Cursor {
 public:
  explicit Cursor(std::string_view bytes) : bytes_(bytes) {}
  bool U32(uint32_t& v) {
    if (bytes_.size() - pos_ < 4) return false;
    v = GetU32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool Take(size_t n, std::string& out) {
    if (bytes_.size() - pos_ < n) return false;
    out.assign(bytes_.data() + pos_, n);
    pos_ += n;
    return true;
  }
  size_t Remaining() const { return bytes_.size() - pos_; }

 private:
  std::string_view bytes_;
  size_t pos_ = 0;
};

}  // namespace

std::string ScrambleBytes(std::string_view plain) {
  std::string out(kMagic, 4);
  PutU32(out, static_cast<uint32_t>(plain.size()));
  out.append(plain);
  ApplyKeyStream(out.data() + kHeaderSize, plain.size(), static_cast<uint32_t>(plain.size()));
  return out;
}

std::optional<std::string> UnscrambleBytes(std::string_view stored) {
  if (stored.size() < kHeaderSize || std::memcmp(stored.data(), kMagic, 4) != 0) return std::nullopt;
  uint32_t length = GetU32(stored.data() + 4);
  if (stored.size() - kHeaderSize != length) return std::nullopt;
  std::string plain(stored.substr(kHeaderSize));
  ApplyKeyStream(plain.data(), plain.size(), length);
  return plain;
}

std::optional<std::string> LoadScrambledFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return std::nullopt;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (!bytes) {
    AppLog("cannot read %s: %s", path.c_str(), error.c_str());
    return std::nullopt;
  }
  if (bytes->empty()) return std::nullopt;
  auto plain = UnscrambleBytes(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  if (!plain) {
    AppLog("%s is damaged (not a whole scrambled data file)", path.c_str());
    return std::nullopt;
  }
  if (plain->empty()) return std::nullopt;
  return plain;
}

bool SaveScrambledFile(const std::string& path, std::string_view plain, std::string* error) {
  if (plain.size() > 0xFFFFFFFFu) {
    if (error) *error = "too large for a scrambled data file";
    return false;
  }
  std::string stored = ScrambleBytes(plain);
  return WriteFileAtomic(path, stored.data(), stored.size(), error);
}

std::optional<std::string> LoadScrambledDataFile(const std::string& name) {
  if (name.empty()) return std::nullopt;
  return LoadScrambledFile(AppOptions().program_dir + name + ".kmp");
}

std::string EncodeBundle(const ScrambledBundle& files) {
  std::string out(kBundleMagic, 4);
  PutU32(out, static_cast<uint32_t>(files.size()));
  for (const auto& [name, bytes] : files) {
    PutU32(out, static_cast<uint32_t>(name.size()));
    out += name;
    PutU32(out, static_cast<uint32_t>(bytes.size()));
    out += bytes;
  }
  return out;
}

std::optional<ScrambledBundle> DecodeBundle(std::string_view plain) {
  if (plain.size() < 8 || std::memcmp(plain.data(), kBundleMagic, 4) != 0) return std::nullopt;
  Cursor c(plain.substr(4));
  uint32_t count = 0;
  if (!c.U32(count)) return std::nullopt;
  // Every entry needs at least its two lengths.
  if (count > c.Remaining() / 8) return std::nullopt;
  ScrambledBundle files;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t name_size = 0, size = 0;
    std::string name, bytes;
    if (!c.U32(name_size) || !c.Take(name_size, name) || !c.U32(size) || !c.Take(size, bytes)) {
      return std::nullopt;
    }
    files[name] = std::move(bytes);
  }
  if (c.Remaining() != 0) return std::nullopt;
  return files;
}

std::optional<ScrambledBundle> LoadScrambledBundle(const std::string& name) {
  auto plain = LoadScrambledDataFile(name);
  if (!plain) return std::nullopt;
  auto files = DecodeBundle(*plain);
  if (!files) AppLog("%s.kmp is not a bundle of files", name.c_str());
  return files;
}

WebFilePair EncodeWebFiles(const ScrambledBundle& files) {
  WebFilePair pair;
  for (const auto& [name, bytes] : files) {
    pair.names += name;
    pair.names.push_back('\0');
    PutU32(pair.names, static_cast<uint32_t>(bytes.size()));
    pair.data += bytes;
  }
  return pair;
}

std::optional<ScrambledBundle> DecodeWebFiles(std::string_view names, std::string_view data) {
  ScrambledBundle files;
  size_t pos = 0;
  uint64_t offset = 0;
  while (pos < names.size()) {
    size_t end = names.find('\0', pos);
    if (end == std::string_view::npos || names.size() - end - 1 < 4) return std::nullopt;
    std::string name(names.substr(pos, end - pos));
    uint32_t size = GetU32(names.data() + end + 1);
    if (offset + size > data.size()) return std::nullopt;
    files[name] = std::string(data.substr(offset, size));
    offset += size;
    pos = end + 5;
  }
  return files;
}

}  // namespace velmora
