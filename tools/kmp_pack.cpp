// kmp_pack: the build step that turns plain files from data/ into scrambled ".kmp" files.
//
//   kmp_pack file <input> <output.kmp>
//       one file, scrambled
//   kmp_pack bundle <output.kmp> <folder>[=<prefix>]...
//       every file under the folders as one bundle; names are paths relative to their folder,
//       after the prefix ("<prefix>/<path>") when one is given
//   kmp_pack webfiles <names.kmp> <data.kmp> <folder>[=<prefix>]...
//       the map server's name table and data block; names in lower case, as the server looks
//       them up
// In place of a folder an entry may name one file: "<file>=<name>" packs it as <name>.
// Hidden files and editor leftovers ("*~", "*.swp") are skipped. Output is written atomically.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/scrambled_data.h"
#include "platform/fs.h"

namespace fs = std::filesystem;
using velmora::ScrambledBundle;

namespace {

bool Skipped(const fs::path& relative) {
  for (const auto& segment : relative) {
    std::string s = segment.string();
    if (!s.empty() && s[0] == '.') return true;
  }
  std::string name = relative.filename().string();
  return name.ends_with("~") || name.ends_with(".swp");
}

bool ReadWhole(const fs::path& path, std::string& out) {
  std::string error;
  auto bytes = velmora::ReadFileBytes(path.string(), &error);
  if (!bytes) {
    std::fprintf(stderr, "kmp_pack: %s\n", error.c_str());
    return false;
  }
  out.assign(bytes->begin(), bytes->end());
  return true;
}

bool AddFolder(const std::string& entry, bool lower_case, ScrambledBundle& files) {
  std::string folder = entry, prefix;
  size_t eq = entry.find('=');
  if (eq != std::string::npos) {
    folder = entry.substr(0, eq);
    prefix = entry.substr(eq + 1);
  }
  std::error_code ec;
  if (fs::is_regular_file(folder, ec)) {
    // A single file: packed under the prefix as its whole name (or under its own name).
    std::string name = prefix.empty() ? fs::path(folder).filename().generic_string() : prefix;
    if (lower_case) std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
      return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    if (files.count(name)) {
      std::fprintf(stderr, "kmp_pack: two files named %s\n", name.c_str());
      return false;
    }
    return ReadWhole(folder, files[name]);
  }
  if (!fs::is_directory(folder, ec)) {
    std::fprintf(stderr, "kmp_pack: %s is not a folder\n", folder.c_str());
    return false;
  }
  std::vector<fs::path> found;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file(ec)) found.push_back(it->path());
  }
  if (ec) {
    std::fprintf(stderr, "kmp_pack: cannot list %s: %s\n", folder.c_str(), ec.message().c_str());
    return false;
  }
  for (const fs::path& path : found) {
    fs::path relative = fs::relative(path, folder, ec);
    if (ec || Skipped(relative)) continue;
    std::string name = relative.generic_string();
    if (!prefix.empty()) name = prefix + "/" + name;
    if (lower_case) std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) {
      return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    });
    if (files.count(name)) {
      std::fprintf(stderr, "kmp_pack: two files named %s\n", name.c_str());
      return false;
    }
    if (!ReadWhole(path, files[name])) return false;
  }
  return true;
}

bool Save(const std::string& path, const std::string& plain) {
  std::string error;
  if (!velmora::SaveScrambledFile(path, plain, &error)) {
    std::fprintf(stderr, "kmp_pack: cannot write %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

int Usage() {
  std::fprintf(stderr,
               "usage: kmp_pack file <input> <output.kmp>\n"
               "       kmp_pack bundle <output.kmp> <folder>[=<prefix>]...\n"
               "       kmp_pack webfiles <names.kmp> <data.kmp> <folder>[=<prefix>]...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string mode = argv[1];
  if (mode == "file" && argc == 4) {
    std::string plain;
    if (!ReadWhole(argv[2], plain)) return 1;
    return Save(argv[3], plain) ? 0 : 1;
  }
  if (mode == "bundle" && argc >= 4) {
    ScrambledBundle files;
    for (int i = 3; i < argc; ++i) {
      if (!AddFolder(argv[i], false, files)) return 1;
    }
    return Save(argv[2], velmora::EncodeBundle(files)) ? 0 : 1;
  }
  if (mode == "webfiles" && argc >= 5) {
    ScrambledBundle files;
    for (int i = 4; i < argc; ++i) {
      if (!AddFolder(argv[i], true, files)) return 1;
    }
    velmora::WebFilePair pair = velmora::EncodeWebFiles(files);
    return Save(argv[2], pair.names) && Save(argv[3], pair.data) ? 0 : 1;
  }
  return Usage();
}
