// The map publishing server's web files and MIME table.
#include "server/wmts_web_files.h"

#include <cstring>
#include <optional>

#include "core/log.h"
#include "core/scrambled_data.h"

namespace velmora {

namespace {

const WebFileEntry* FindEntry(const std::map<std::string, WebFileEntry>& table, std::string_view name) {
  while (!name.empty() && name.front() == '/') name.remove_prefix(1);
  auto it = table.find(std::string(name));
  return it == table.end() ? nullptr : &it->second;
}

template <typename Out>
bool CopyFile(const std::map<std::string, WebFileEntry>& table, const std::string& data, std::string_view name,
              Out& out) {
  const WebFileEntry* entry = FindEntry(table, name);
  if (!entry) return false;
  const char* begin = data.data() + entry->offset;
  out.assign(begin, begin + entry->size);
  return !out.empty();
}

}  // namespace

bool CWmtsWebFiles::Load() {
  std::optional<std::string> names = LoadScrambledDataFile("wi");
  std::optional<std::string> data = LoadScrambledDataFile("wd");
  if (!names || !data) {
    Clear();
    return false;
  }
  return LoadFromBytes(*names, std::move(*data));
}

bool CWmtsWebFiles::LoadFromBytes(std::string_view names, std::string data) {
  std::map<std::string, WebFileEntry> table;
  uint64_t offset = 0;
  size_t pos = 0;
  while (pos < names.size()) {
    size_t end = names.find('\0', pos);
    if (end == std::string_view::npos || names.size() - end - 1 < 4) break;  // entry cut short
    uint32_t size = 0;
    std::memcpy(&size, names.data() + end + 1, 4);  // little-endian host (core/archive.h)
    if (offset + size > data.size() || offset + size > UINT32_MAX) {
      AppLog("web files: \"%s\" runs past the data block; the table ends before it",
             std::string(names.substr(pos, end - pos)).c_str());
      break;
    }
    table[std::string(names.substr(pos, end - pos))] = {size, static_cast<uint32_t>(offset)};
    offset += size;
    pos = end + 5;
  }
  bool loaded = !names.empty() && !data.empty();
  std::lock_guard<std::mutex> lock(lock_);
  if (loaded) {
    data_ = std::make_shared<const std::string>(std::move(data));
    table_ = std::move(table);
  } else {
    data_ = std::make_shared<const std::string>();
    table_.clear();
  }
  return loaded;
}

void CWmtsWebFiles::Clear() {
  std::lock_guard<std::mutex> lock(lock_);
  data_ = std::make_shared<const std::string>();
  table_.clear();
}

bool CWmtsWebFiles::GetFile(std::string_view name, std::vector<uint8_t>& out) const {
  std::lock_guard<std::mutex> lock(lock_);
  return CopyFile(table_, *data_, name, out);
}

bool CWmtsWebFiles::GetFile(std::string_view name, std::string& out) const {
  std::lock_guard<std::mutex> lock(lock_);
  return CopyFile(table_, *data_, name, out);
}

std::optional<WebFileView> CWmtsWebFiles::GetFileView(std::string_view name) const {
  std::lock_guard<std::mutex> lock(lock_);
  const WebFileEntry* entry = FindEntry(table_, name);
  if (!entry || entry->size == 0) return std::nullopt;
  return WebFileView{data_, entry->offset, entry->size};
}

size_t CWmtsWebFiles::FileCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return table_.size();
}

void FillMimeTypes(std::map<std::string, std::string>& table) {
  static const struct {
    const char* type;
    const char* extensions;
  } kTypes[] = {
      {"application/msword", "doc"},
      {"application/octet-stream", "bin dll exe"},
      {"application/pdf", "pdf"},
      {"application/pkcs7-mime", "p7c"},
      {"application/postscript", "ai eps ps"},
      {"application/vnd.fdf", "fdf"},
      {"application/x-compressed", "arj cab"},
      {"application/x-gzip", "gz"},
      {"application/x-java-class", "class"},
      {"application/x-javascript", "js"},
      {"application/x-lzh", "lzh"},
      {"application/x-ms-shortcut", "lnk"},
      {"application/x-tar", "tar"},
      {"application/x-winhelp", "hlp"},
      {"application/x-x509-ca-cert", "cert"},
      {"application/zip", "zip"},
      {"audio/aiff", "aif aifc aiff"},
      {"audio/basic", "au snd"},
      {"audio/midi", "mid rmi"},
      {"audio/mpeg", "mp3"},
      {"audio/voxware", "vox"},
      {"audio/wav", "wav"},
      {"audio/x-pn-realaudio", "ra ram"},
      {"image/bmp", "bmp"},
      {"image/gif", "gif"},
      {"image/jpeg", "jpeg jpg"},
      {"image/tiff", "tif tiff"},
      {"image/xbm", "xbm"},
      {"model/vrml", "wrl"},
      {"text/html", "htm html"},
      {"text/plain", "c cpp def h txt"},
      {"text/richtext", "rtf rtx"},
      {"text/x-java-source", "java"},
      {"text/css", "css"},
      {"video/mpeg", "mpeg mpg mpe"},
      {"video/msvideo", "avi"},
      {"video/quicktime", "mov qt"},
      {"wwwserver/html-ssi", "shtml"},
      {"wwwserver/isapi", "asa asp cfm dbm isa plx url cgi php wcgi"},
  };
  table.clear();
  for (const auto& entry : kTypes) {
    std::string_view list = entry.extensions;
    while (!list.empty()) {
      size_t space = list.find(' ');
      std::string_view ext = list.substr(0, space);
      table[std::string(ext)] = entry.type;
      list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
    }
  }
}

}  // namespace velmora
