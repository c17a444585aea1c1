// Archive stream reading and writing.
#include "core/archive.h"

#include <cstring>
#include <filesystem>

#include "core/log.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {

void ArchiveWriter::Raw(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
}

void ArchiveWriter::RawString(std::string_view bytes) {
  size_t n = bytes.size();
  if (n < 255) {
    U8(static_cast<uint8_t>(n));
  } else if (n < 65534) {
    U8(0xFF);
    U16(static_cast<uint16_t>(n));
  } else {
    // 0xFFFFFFFF would announce a 64-bit length to other readers of the format.
    if (n > 0xFFFFFFFEu) throw ArchiveError("string too long for an archive");
    U8(0xFF);
    U16(0xFFFF);
    U32(static_cast<uint32_t>(n));
  }
  Raw(bytes.data(), n);
}

void ArchiveWriter::String(std::string_view utf8) {
  size_t replaced = 0;
  RawString(Utf8ToAnsi(utf8, &replaced));
  lossy_text_ += replaced;
}

bool ArchiveWriter::SaveToFile(const std::string& path, std::string* error) const {
  std::string why;
  if (!WriteFileAtomic(path, bytes_, &why)) {
    AppLog("cannot save %s", why.c_str());
    if (error) *error = why;
    return false;
  }
  if (lossy_text_ > 0)
    AppLog("%s: %zu characters without a GBK form were stored as '?'", path.c_str(), lossy_text_);
  return true;
}

void ArchiveReader::Need(size_t n) const {
  if (n > size_ - pos_)
    throw ArchiveError("archive ends early: " + std::to_string(n) + " bytes needed at offset " +
                       std::to_string(pos_) + ", " + std::to_string(size_ - pos_) + " left");
}

void ArchiveReader::Raw(void* out, size_t size) {
  Need(size);
  if (size) std::memcpy(out, data_ + pos_, size);
  pos_ += size;
}

uint8_t ArchiveReader::U8() {
  uint8_t v;
  Raw(&v, 1);
  return v;
}
uint16_t ArchiveReader::U16() {
  uint16_t v;
  Raw(&v, 2);
  return v;
}
uint32_t ArchiveReader::U32() {
  uint32_t v;
  Raw(&v, 4);
  return v;
}
int32_t ArchiveReader::I32() {
  int32_t v;
  Raw(&v, 4);
  return v;
}
uint64_t ArchiveReader::U64() {
  uint64_t v;
  Raw(&v, 8);
  return v;
}
int64_t ArchiveReader::I64() {
  int64_t v;
  Raw(&v, 8);
  return v;
}
float ArchiveReader::F32() {
  float v;
  Raw(&v, 4);
  return v;
}
double ArchiveReader::F64() {
  double v;
  Raw(&v, 8);
  return v;
}

int32_t ArchiveReader::Schema(int32_t oldest, int32_t newest) {
  int32_t n = I32();
  if (n < oldest || n > newest)
    throw ArchiveError("unknown schema " + std::to_string(n) + " (expected " + std::to_string(oldest) +
                       (oldest == newest ? "" : " to " + std::to_string(newest)) + ")");
  return n;
}

std::string ArchiveReader::RawString() {
  size_t at = pos_;
  size_t n = U8();
  if (n == 0xFF) {
    n = U16();
    if (n == 0xFFFE) throw ArchiveError("UTF-16 string at offset " + std::to_string(at) + " is not supported");
    if (n == 0xFFFF) n = U32();
  }
  Need(n);
  std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return s;
}

std::string ArchiveReader::String() {
  size_t replaced = 0;
  std::string s = AnsiToUtf8(RawString(), &replaced);
  bad_text_ += replaced;
  return s;
}

uint32_t ArchiveReader::Count(size_t min_bytes_each) {
  uint32_t n = U32();
  if (min_bytes_each > 0 && n > (size_ - pos_) / min_bytes_each)
    throw ArchiveError("archive count " + std::to_string(n) + " exceeds the bytes left");
  return n;
}

ArchiveLoad LoadArchiveFile(const std::string& path, const std::function<void(ArchiveReader&)>& read,
                            std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec) && !ec) {
    if (error) *error = path + ": no such file";
    return ArchiveLoad::kMissing;
  }
  std::string why;
  auto bytes = ReadFileBytes(path, &why);
  if (bytes) {
    try {
      ArchiveReader ar(*bytes);
      read(ar);
      if (ar.BadTextCount() > 0)
        AppLog("%s: %zu bytes of text were not GBK and read as U+FFFD", path.c_str(), ar.BadTextCount());
      return ArchiveLoad::kOk;
    } catch (const ArchiveError& e) {
      why = path + " is damaged: " + e.what();
    }
  }
  AppLog("%s", why.c_str());
  if (error) *error = why;
  return ArchiveLoad::kDamaged;
}

}  // namespace velmora
