// Scratch folder, files and the input reader of the fuzz targets.
#include "velmora_build_paths.h"
#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "core/log.h"

namespace velmora::fuzz {
namespace {

struct Scratch {
  std::string path;
  Scratch() {
    // Targets write and flush files on every input: memory-backed /dev/shm keeps them fast,
    // unless TMPDIR names another place.
    std::error_code ec;
    const std::filesystem::path base = !std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", ec) &&
                                               ::access("/dev/shm", W_OK) == 0
                                           ? std::filesystem::path("/dev/shm")
                                           : std::filesystem::temp_directory_path();
    std::string pattern = (base / "velmora-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    path = pattern + "/";
    std::filesystem::create_directories(path + "data");
    std::filesystem::create_directories(path + "config");
    ::setenv("VELMORA_DATA_DIR", (path + "data/").c_str(), 1);
    ::setenv("VELMORA_CONFIG_DIR", (path + "config/").c_str(), 1);
    ::setenv("VELMORA_PROGRAM_DIR", VELMORA_SOURCE_DIR "/data/", 1);
    SetLogToStderr(false);
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

const std::string& Setup() {
  static Scratch scratch;
  return scratch.path;
}

void WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) Fail(__FILE__, __LINE__, ("cannot write " + path).c_str());
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void RemoveFiles(const std::string& prefix) {
  const std::filesystem::path p(Setup() + prefix);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(p.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind(p.filename().string(), 0) == 0) std::filesystem::remove_all(it->path(), ec);
  }
}

void Fail(const char* file, int line, const char* condition) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, condition);
  std::fflush(stderr);
  std::abort();
}

std::string_view Parts::Next() {
  if (rest_.empty()) return {};
  const size_t n = static_cast<unsigned char>(rest_[0]);
  rest_.remove_prefix(1);
  const size_t take = n == 255 || n > rest_.size() ? rest_.size() : n;
  std::string_view part = rest_.substr(0, take);
  rest_.remove_prefix(take);
  return part;
}

uint8_t Parts::Byte() {
  if (rest_.empty()) return 0;
  const uint8_t b = static_cast<uint8_t>(rest_[0]);
  rest_.remove_prefix(1);
  return b;
}

}  // namespace velmora::fuzz
