// CWmtsWebFiles: the map publishing server's embedded web files (the example page template, its
// script and the OpenLayers library), read from the scrambled data files "wi" (name table) and
// "wd" (data block); and the server's table of MIME types by file extension.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

struct WebFileEntry {
  uint32_t size = 0;
  uint32_t offset = 0;  // of the file's first byte in the data block
};

// A web file's bytes without a copy: the data block it lies in stays alive while the view is
// held, also when the files are loaded again meanwhile.
struct WebFileView {
  std::shared_ptr<const std::string> block;
  size_t offset = 0;
  size_t size = 0;
  const char* data() const { return block->data() + offset; }
};

class CWmtsWebFiles {
 public:
  CWmtsWebFiles() = default;
  virtual ~CWmtsWebFiles() = default;
  CWmtsWebFiles(const CWmtsWebFiles&) = delete;
  CWmtsWebFiles& operator=(const CWmtsWebFiles&) = delete;

  // Reads "wi" and "wd" through the scrambled-file loader; true when both hold bytes.
  bool Load();
  // The same from the plain bytes of the two files. The name table is a run of entries, each a
  // NUL-terminated name and a 32-bit little-endian size; a trailing entry cut short is ignored,
  // and an entry whose bytes would run past the data block ends the table (logged). Offsets
  // follow from the sizes. True when both texts are non-empty.
  bool LoadFromBytes(std::string_view names, std::string data);
  void Clear();

  // The file's bytes. Leading '/' of the name are skipped; the rest is looked up as it is (case
  // counts). True when the file exists and holds at least one byte.
  bool GetFile(std::string_view name, std::vector<uint8_t>& out) const;
  bool GetFile(std::string_view name, std::string& out) const;
  // The same as a view into the data block (no copy); nothing when GetFile would be false.
  std::optional<WebFileView> GetFileView(std::string_view name) const;
  size_t FileCount() const;

 private:
  mutable std::mutex lock_;
  std::shared_ptr<const std::string> data_ = std::make_shared<const std::string>();
  std::map<std::string, WebFileEntry> table_;
};

// Fills the table (cleared first) with the server's 69 extensions and their MIME types; where an
// extension was listed twice the later type stands. "png" has no entry.
void FillMimeTypes(std::map<std::string, std::string>& table);

}  // namespace velmora
