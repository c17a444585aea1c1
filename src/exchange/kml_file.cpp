// KML document frame and text escaping. The handles are memory streams registered here until
// they are closed; the file is written once, atomically, when the document is complete.
#include "exchange/kml_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "core/format.h"
#include "exchange/xml_text.h"
#include "platform/fs.h"

namespace velmora {
namespace {

struct OpenKml {
  std::string path;
  char* buffer = nullptr;  // owned by the memory stream until it is closed
  size_t size = 0;
};

std::mutex g_mutex;
std::map<FILE*, std::unique_ptr<OpenKml>>& Handles() {
  static std::map<FILE*, std::unique_ptr<OpenKml>> handles;
  return handles;
}

// What fopen(path, "w+") would refuse: a missing or unwritable folder, a folder at the path, an
// existing file that may not be written.
bool CanCreate(const std::string& path, std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = path + ": " + what;
    return false;
  };
  if (path.empty()) return fail("no file name");
  std::filesystem::path p(path);
  std::string folder = p.parent_path().empty() ? std::string(".") : p.parent_path().string();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fail("folder does not exist");
  if (::access(folder.c_str(), W_OK) != 0) return fail("folder is not writable");
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return fail("is a folder");
    if (::access(path.c_str(), W_OK) != 0) return fail("file is not writable");
  }
  return true;
}

}  // namespace

FILE* OpenKmlFile(const std::string& path, std::string_view document_name, std::string* error) {
  if (!CanCreate(path, error)) return nullptr;
  auto entry = std::make_unique<OpenKml>();
  entry->path = path;
  FILE* file = ::open_memstream(&entry->buffer, &entry->size);
  if (!file) {
    if (error) *error = path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::string name(document_name);
  if (name.empty()) {
    name = GetFileNamePart(path);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
  }
  std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n", file);
  std::fprintf(file, "<name>%s</name>\n", XmlEscape(name).c_str());
  std::lock_guard lock(g_mutex);
  Handles().emplace(file, std::move(entry));
  return file;
}

bool CloseKmlFile(FILE* file, std::string* error) {
  if (!file) return false;
  std::unique_ptr<OpenKml> entry;
  {
    std::lock_guard lock(g_mutex);
    auto it = Handles().find(file);
    if (it == Handles().end()) return false;  // not ours, or closed already
    entry = std::move(it->second);
    Handles().erase(it);
  }
  std::fputs("</Document></kml>\n", file);
  bool stream_ok = std::ferror(file) == 0;
  stream_ok = std::fclose(file) == 0 && stream_ok;
  std::unique_ptr<char, decltype(&std::free)> buffer(entry->buffer, &std::free);
  if (!stream_ok || !buffer) {
    if (error) *error = entry->path + ": the document could not be kept in memory";
    return false;
  }
  return WriteFileAtomic(entry->path, buffer.get(), entry->size, error);
}

std::string KmlEscape(std::string_view text) { return XmlEscape(text); }

// KmlColor is defined once, with the shapes' KML output (shapes/map_shape.cpp): a second
// definition here broke every program that links both.

}  // namespace velmora
