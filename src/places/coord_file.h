// Coordinate text files of the converters: read as GBK (or UTF-8 when the bytes are UTF-8) and
// written as GBK with CR LF line ends, as the converters' files always were; a whole file
// converted from one notation into another without converting every line through iconv.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "places/coord_format.h"

namespace velmora {

// The text of a coordinate file as UTF-8: a file (after a UTF-8 byte-order mark, dropped) that
// is well-formed UTF-8 is taken as it is, any other is read as GBK.
std::string DecodeCoordFileText(std::string_view bytes);

// Reads a whole coordinate file as UTF-8 text. False (reason in *error) when it cannot be read.
bool ReadCoordTextFile(const std::string& path, std::string* text, std::string* error = nullptr);
// Writes UTF-8 text as a GBK file, atomically. False (reason in *error) when it cannot be written;
// an existing file is then left as it was.
bool WriteCoordTextFile(const std::string& path, std::string_view text, std::string* error = nullptr);
// Writes bytes that are already in the file's encoding, atomically.
bool WriteCoordFileBytes(const std::string& path, std::string_view bytes, std::string* error = nullptr);

enum class CoordFileStatus { kOk, kCannotRead, kCannotWrite };

struct CoordFileResult {
  CoordFileStatus status = CoordFileStatus::kOk;
  size_t points = 0;
  std::vector<CoordLineIssue> issues;
  std::string error;  // the reason of kCannotRead / kCannotWrite
};

// Converts the lines of `input_path` into `output_path` (GBK, CR LF, error lines for lines that
// cannot be read). Nothing is written when the input cannot be read.
CoordFileResult ConvertCoordFile(const std::string& input_path, const std::string& output_path,
                                 const CoordFormatSettings& settings);

}  // namespace velmora
