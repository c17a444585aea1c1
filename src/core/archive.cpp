// Archive stream reading and writing.
#include "core/archive.h"

#include <cstring>

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
    if (n > 0xFFFFFFFEu) throw ArchiveError("string too long for an archive");
    U8(0xFF);
    U16(0xFFFF);
    U32(static_cast<uint32_t>(n));
  }
  Raw(bytes.data(), n);
}

void ArchiveWriter::String(std::string_view utf8) { RawString(Utf8ToAnsi(utf8)); }

bool ArchiveWriter::SaveToFile(const std::string& path, std::string* error) const {
  return WriteFileAtomic(path, bytes_, error);
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

std::string ArchiveReader::RawString() {
  size_t n = U8();
  if (n == 0xFF) {
    n = U16();
    if (n == 0xFFFF) n = U32();
  }
  Need(n);
  std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return s;
}

std::string ArchiveReader::String() { return AnsiToUtf8(RawString()); }

uint32_t ArchiveReader::Count(size_t min_bytes_each) {
  uint32_t n = U32();
  if (min_bytes_each > 0 && n > (size_ - pos_) / min_bytes_each)
    throw ArchiveError("archive count " + std::to_string(n) + " exceeds the bytes left");
  return n;
}

}  // namespace velmora
