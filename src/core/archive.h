// Archive streams of the program's own binary files: little-endian integers, floats and doubles
// as raw bytes; strings as a length prefix (one byte below 255; else 0xFF and two bytes below
// 65534; else 0xFF, 0xFFFF and four bytes) followed by GBK bytes; most files begin with a schema
// number. Readers check every length and count against the bytes left and throw ArchiveError
// instead of reading past the end or allocating what the file cannot hold.
#pragma once
#include <bit>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora {

// Values are copied as they lie in memory, which is the file's byte order only on such hosts.
static_assert(std::endian::native == std::endian::little, "archive streams need a little-endian host");

class ArchiveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ArchiveWriter {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) { Raw(&v, 2); }
  void U32(uint32_t v) { Raw(&v, 4); }
  void I32(int32_t v) { Raw(&v, 4); }
  void U64(uint64_t v) { Raw(&v, 8); }
  void I64(int64_t v) { Raw(&v, 8); }
  void F32(float v) { Raw(&v, 4); }
  void F64(double v) { Raw(&v, 8); }
  // The file's schema number (a 32-bit integer).
  void Schema(int32_t number) { I32(number); }
  // A UTF-8 text stored as GBK bytes with the length prefix. Characters that GBK cannot express
  // are stored as '?' and counted in LossyTextCount().
  void String(std::string_view utf8);
  // Bytes stored as they are, with the string length prefix.
  void RawString(std::string_view bytes);
  void Raw(const void* data, size_t size);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }
  // Characters replaced by '?' in String() so far.
  size_t LossyTextCount() const { return lossy_text_; }
  // Writes the stream to `path` atomically (a temporary file renamed over the old one); false
  // (error text in *error, and logged) when that fails, the old file then being untouched.
  bool SaveToFile(const std::string& path, std::string* error = nullptr) const;

 private:
  std::vector<uint8_t> bytes_;
  size_t lossy_text_ = 0;
};

class ArchiveReader {
 public:
  ArchiveReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit ArchiveReader(const std::vector<uint8_t>& bytes) : ArchiveReader(bytes.data(), bytes.size()) {}

  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32();
  uint64_t U64();
  int64_t I64();
  float F32();
  double F64();
  // Reads the schema number; ArchiveError unless oldest <= number <= newest.
  int32_t Schema(int32_t oldest, int32_t newest);
  int32_t Schema(int32_t expected) { return Schema(expected, expected); }
  // GBK bytes with the length prefix, returned as UTF-8; bytes that are not GBK become U+FFFD and
  // are counted in BadTextCount().
  std::string String();
  // The bytes with the length prefix, as they are. The two-byte length 0xFFFE (the marker of a
  // UTF-16 string, which these files never hold) is rejected.
  std::string RawString();
  void Raw(void* out, size_t size);
  // A count read from the stream that is about to size an allocation: fails unless at least
  // count * min_bytes_each bytes remain.
  uint32_t Count(size_t min_bytes_each);

  size_t Remaining() const { return size_ - pos_; }
  size_t Position() const { return pos_; }
  bool AtEnd() const { return pos_ == size_; }
  // Bytes replaced by U+FFFD in String() so far.
  size_t BadTextCount() const { return bad_text_; }

 private:
  void Need(size_t n) const;
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  size_t bad_text_ = 0;
};

enum class ArchiveLoad { kOk, kMissing, kDamaged };

// Reads the whole file at `path` and runs `read` over it. kMissing when the file does not exist;
// kDamaged (the reason logged and in *error) when it cannot be read or `read` throws
// ArchiveError. Text bytes that were not GBK are logged once but do not fail the load.
ArchiveLoad LoadArchiveFile(const std::string& path, const std::function<void(ArchiveReader&)>& read,
                            std::string* error = nullptr);

// Archive store and load of two 32-bit values.
inline void ArStorePair32(ArchiveWriter& ar, std::pair<int32_t, int32_t> pair) {
  ar.I32(pair.first);
  ar.I32(pair.second);
}
inline std::pair<int32_t, int32_t> ArLoadPair32(ArchiveReader& ar) {
  int32_t a = ar.I32();
  int32_t b = ar.I32();
  return {a, b};
}

}  // namespace velmora
