// MosaicAssemble: joins the shot pictures of a snapshot mosaic ("<folder><prefix>_<col>_<row>.tmp")
// into one output picture.
//
// Shots are decoded by their content (a retake writes the output's format, a whole job BMP) and
// must all have the size of shot 0_0. Rows may differ in length (a shot spans more longitude away
// from the equator, so a row may end sooner): the picture takes the longest row, and shots missing
// at the end of a shorter row stay white (logged). Any other missing or unreadable shot fails the
// join before the output is touched.
//
// The picture is built in memory when it fits (our memory limit, the bitmap's side limit and, for
// JPEG, the encoder's 65,535 pixels a side); else the caller is asked whether to write a BMP
// instead, which goes through a memory-mapped file. Either way the output is written to a
// temporary file beside it and renamed over it only when complete.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// The largest picture (bytes of 32-bit pixels) joined in memory.
inline constexpr uint64_t kMosaicMemoryLimit = uint64_t(1) << 31;
// The JPEG encoder's largest side.
inline constexpr int kJpegMaxSide = 65535;

struct MosaicAssembleOptions {
  std::string folder;          // where the shots lie (ends with '/')
  int jpeg_quality = 90;       // 1-100
  uint64_t memory_limit = kMosaicMemoryLimit;
  // Asked when the picture cannot be built in memory and the output is not a BMP: true writes
  // "<path without its extension>.bmp" instead. Null answers no.
  std::function<bool()> ask_bmp;
  // Told after each shot drawn (done, total); may be null.
  std::function<void(int done, int total)> progress;
};

enum class MosaicResult {
  kWritten,       // the picture is written (*written_path)
  kDeclined,      // too large for memory and the BMP was declined: nothing written
  kCreateFailed,  // the mapped BMP could not be created
  kFailed,        // a shot is missing, unreadable or of another size, or the output cannot be written
};

MosaicResult MosaicAssemble(const std::string& output_path, const std::string& prefix, int columns, int rows,
                            const MosaicAssembleOptions& options, std::string* written_path = nullptr,
                            std::string* error = nullptr);

// "<folder><prefix>_<col>_<row>.tmp"
std::string MosaicShotPath(const std::string& folder, const std::string& prefix, int column, int row);

}  // namespace velmora
