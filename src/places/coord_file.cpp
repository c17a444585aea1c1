// GBK coordinate files: reading, atomic writing and whole-file conversion.
#include "places/coord_file.h"

#include <cstdint>

#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {
namespace {

bool IsAscii(std::string_view bytes) {
  // Eight bytes at a time: no byte has its top bit set.
  size_t i = 0;
  const size_t n = bytes.size();
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    __builtin_memcpy(&word, bytes.data() + i, 8);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < n; ++i)
    if (static_cast<unsigned char>(bytes[i]) & 0x80) return false;
  return true;
}

}  // namespace

std::string DecodeCoordFileText(std::string_view bytes) {
  if (bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF &&
      static_cast<unsigned char>(bytes[1]) == 0xBB && static_cast<unsigned char>(bytes[2]) == 0xBF)
    bytes.remove_prefix(3);
  if (IsAscii(bytes) || IsValidUtf8(bytes)) return std::string(bytes);
  // GBK; whatever is not valid GBK either becomes U+FFFD, so the text in memory is always UTF-8.
  return AnsiToUtf8(bytes);
}

bool ReadCoordTextFile(const std::string& path, std::string* text, std::string* error) {
  auto bytes = ReadFileBytes(path, error);
  if (!bytes) return false;
  if (text)
    *text = DecodeCoordFileText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
  return true;
}

bool WriteCoordFileBytes(const std::string& path, std::string_view bytes, std::string* error) {
  return WriteFileAtomic(path, bytes.data(), bytes.size(), error);
}

bool WriteCoordTextFile(const std::string& path, std::string_view text, std::string* error) {
  std::string gbk = IsAscii(text) ? std::string(text) : Utf8ToAnsi(text);
  return WriteCoordFileBytes(path, gbk, error);
}

CoordFileResult ConvertCoordFile(const std::string& input_path, const std::string& output_path,
                                 const CoordFormatSettings& settings) {
  CoordFileResult result;
  std::string text;
  if (!ReadCoordTextFile(input_path, &text, &result.error)) {
    result.status = CoordFileStatus::kCannotRead;
    return result;
  }
  CoordTextResult converted = ConvertCoordText(text, settings, CoordTextEncoding::kGbk);
  result.points = converted.points;
  result.issues = std::move(converted.issues);
  if (!WriteCoordFileBytes(output_path, converted.output, &result.error)) result.status = CoordFileStatus::kCannotWrite;
  return result;
}

}  // namespace velmora
