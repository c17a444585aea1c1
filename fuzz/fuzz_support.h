// What the fuzz targets share: a private scratch folder (the program's data, config and program
// folders point into it, so a target never touches the user's files), files written from the
// input, a check that stops the run, and a reader that cuts the input into parts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora::fuzz {

// Made on the first call: a temporary folder removed when the process ends, with the
// environment's VELMORA_DATA_DIR, VELMORA_CONFIG_DIR and VELMORA_PROGRAM_DIR pointing into it
// ("data/", "config/", and the source tree's data folder as the program folder), and the log
// silenced. Ends with '/'.
const std::string& Setup();

// Writes the bytes to `path` (replacing it); aborts when that fails.
void WriteFile(const std::string& path, std::string_view bytes);
std::string ReadFile(const std::string& path);
// Removes every file of the scratch folder whose name starts with `prefix`.
void RemoveFiles(const std::string& prefix);

// A fault the target found: prints the message and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const char* file, int line, const char* condition);

// The input cut into parts: a part is a length byte (0-254: that many bytes; 255: everything
// that is left) followed by its bytes, so that mutations move the cuts too.
class Parts {
 public:
  Parts(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}
  std::string_view Next();
  uint8_t Byte();
  std::string_view Rest() const { return rest_; }
  bool Empty() const { return rest_.empty(); }

 private:
  std::string_view rest_;
};

}  // namespace velmora::fuzz

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : ::velmora::fuzz::Fail(__FILE__, __LINE__, #condition))

// The entry point every target defines (libFuzzer's interface).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
