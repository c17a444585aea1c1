// Address libraries: trees of place names built from the geocoder replies that the address data
// download stored in a geocoder source's tile store, kept in "<data folder><id>.adr", and the
// export of the places of a region to a text or spreadsheet file.
//
// Each stored reply is read by the library reader of its geocoder into name paths (narrowest
// name first, one per result) and positions:
//   8    the geocoder's results: the components of each result (postal codes left out), its
//        location and the zoom of its bounds;
//   111  a reverse geocoding: "result":{...} with the location and the address components
//        street number, street, district, city and province (empty ones left out); each place of
//        a "results":[...] list after it becomes a path of its name, district, city, province;
//   112  a point-of-interest reply holding "status":"E...: each place's name with its "x" and
//        "y" (a path of one name).
// A result without a zoom takes the level of the tile it was fetched for. A reply that is none
// of these is unparsable: it is appended to "<work folder>Error <key>-<index>.htm".
//
// A result is merged into the tree along its path from the widest name: each name is found among
// the children of the record reached so far or created as a copy of the result's record (which
// carries the position); the narrowest name's record takes the result's position.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "places/address_record.h"
#include "places/data_object.h"

namespace velmora {

class CTileStore;

// The name paths of one reply's results, narrowest name first.
class CAddressGroup : public CDataObject {
 public:
  std::vector<std::vector<std::string>> paths;
};

// The positions of one reply's results (lng, lat, zoom of each record), parallel to the paths.
class CAddressItem : public CDataObject {
 public:
  std::vector<CAddressRecord> records;
};

// Reads one reply of geocoder `id`; results without a zoom get `zoom`. False when the reply is
// not of the geocoder's form (or the id is no geocoder); results read are appended either way.
bool ParseLibraryReply(int id, std::string_view reply, double zoom, CAddressGroup& group, CAddressItem& item);

// Merges every result of the group into the tree under `root`.
void MergeLibraryResults(CAddressRecord& root, const CAddressGroup& group, const CAddressItem& item);

// "<data folder><id>.adr" ("" data folder: the options' one).
std::string AddressLibraryPath(int id, const std::string& data_dir = "");

enum class LibraryLoad { kLoaded, kMissing, kDamaged };
// Loads the library file into `root` (its children replaced). A missing or damaged file leaves
// `root` as it was.
LibraryLoad LoadAddressLibrary(const std::string& path, CAddressRecord& root, std::string* error = nullptr);
// Writes the library atomically (a temporary file renamed over the old one).
bool SaveAddressLibrary(const std::string& path, const CAddressRecord& root, std::string* error = nullptr);

// "<work folder>Error <key>-<index>.htm", both numbers in full 64-bit.
std::string UnparsedReplyPath(const std::string& work_dir, uint64_t key, uint64_t index);

struct LibraryScan {
  uint64_t replies = 0;   // records read
  uint64_t parsed = 0;
  uint64_t unparsed = 0;  // appended to their error files
  bool completed = false; // every record was looked at (no stop)
};

struct LibraryScanHooks {
  std::function<bool()> stop;                                     // asked before each record
  std::function<void(uint64_t done, uint64_t total)> progress;    // after each record
  std::string work_dir;                                           // "" -> the options' work folder
};

// Reads every reply of the store in index order and hands each parsed one to `visit`.
LibraryScan ScanLibraryReplies(CTileStore& store, int id, const LibraryScanHooks& hooks,
                               const std::function<void(const CAddressGroup&, const CAddressItem&)>& visit);
// Builds a library from the store into `root` (which should be empty).
LibraryScan RebuildAddressLibrary(CTileStore& store, int id, CAddressRecord& root, const LibraryScanHooks& hooks);

// ---- export ----
struct ExportPlace {
  double lng = 0;
  double lat = 0;
  std::string name;  // the path's names from the widest, run together (UTF-8)
  bool operator==(const ExportPlace&) const = default;
};
struct ExportBox {
  double west = 0, north = 0, east = 0, south = 0;
  bool Contains(double lng, double lat) const;
};
// The places of the store's replies that lie inside the box, each name and position once, in
// the order first met. Places without a position ((0, 0)) are left out.
LibraryScan CollectExportPlaces(CTileStore& store, int id, const ExportBox& box, const LibraryScanHooks& hooks,
                                std::vector<ExportPlace>* out);
// One line "%f,%f : %s\r\n" per place (longitude, latitude, name in GBK), written atomically.
bool WriteExportText(const std::string& path, const std::vector<ExportPlace>& places, std::string* error = nullptr);
// A sheet with the header "序号", "经度", "纬度", "名称" and one row per place. The workbook is
// written as .xlsx (a ".xls" path becomes ".xlsx"): *saved_path is the file written.
bool WriteExportSheet(const std::string& path, const std::vector<ExportPlace>& places, std::string* saved_path,
                      std::string* error = nullptr);

}  // namespace velmora
