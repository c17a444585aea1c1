// Address libraries: the library readers of the three geocoders' replies, the tree merge, the
// library file, the rebuild from a tile store and the region export.
#include "places/address_library.h"

#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <tuple>
#include <utility>

#include "core/archive.h"
#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "exchange/excel_auto.h"
#include "places/geo_result.h"
#include "places/reply_scan.h"
#include "platform/fs.h"
#include "platform/text.h"
#include "tiles/tile_key.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

using reply_scan::npos;

void AddResult(std::vector<std::string> path, double lng, double lat, double zoom, CAddressGroup& group,
               CAddressItem& item) {
  std::erase_if(path, [](const std::string& name) { return name.empty(); });
  if (path.empty()) return;
  CAddressRecord record;
  record.lng = lng;
  record.lat = lat;
  record.zoom = zoom;
  group.paths.push_back(std::move(path));
  item.records.push_back(std::move(record));
}

// The first key `name` whose value opens with `open` ('{' or '['), from `from`: the value's
// position after the bracket, npos when none.
size_t FindOpenedValue(std::string_view text, std::string_view name, char open, size_t from, size_t limit) {
  size_t value = npos;
  for (size_t key = reply_scan::FindKeyValue(text, name, from, limit, &value); key != npos;
       key = reply_scan::FindKeyValue(text, name, key + 1, limit, &value)) {
    if (value < text.size() && text[value] == open) return value + 1;
  }
  return npos;
}

bool ParseGeocoderLibrary(std::string_view reply, double zoom, CAddressGroup& group, CAddressItem& item) {
  std::string storage;
  const std::string_view text = reply_scan::Utf8Text(reply, storage);
  if (FindOpenedValue(text, "results", '[', 0, npos) == npos) return false;
  std::deque<GeoResult> results;
  if (!ParseGeocoderReply(reply, results)) return false;
  // The parser fills at the front: the reply's order is from the back.
  for (auto it = results.rbegin(); it != results.rend(); ++it) {
    std::vector<std::string> path;
    for (auto c = it->components.rbegin(); c != it->components.rend(); ++c) path.push_back(c->name);
    AddResult(std::move(path), it->lng, it->lat, it->zoom > 0 ? it->zoom : zoom, group, item);
  }
  return true;
}

bool ParseReverseGeocodeLibrary(std::string_view reply, double zoom, CAddressGroup& group, CAddressItem& item) {
  std::string storage;
  const std::string_view text = reply_scan::Utf8Text(reply, storage);
  const size_t result = FindOpenedValue(text, "result", '{', 0, npos);
  if (result == npos) return false;
  // The result's own keys lie before a list of further places, when there is one.
  const size_t list = FindOpenedValue(text, "results", '[', result, npos);
  const size_t result_end = list == npos ? text.size() : list;
  double lng = 0, lat = 0;
  size_t end = 0;
  if (const size_t location = FindOpenedValue(text, "location", '{', result, result_end); location != npos) {
    const size_t close = std::min(text.find('}', location), result_end);
    if (reply_scan::NumberValue(text, "lng", location, close, &lng, &end)) lng = reply_scan::LngOrZero(lng);
    if (reply_scan::NumberValue(text, "lat", location, close, &lat, &end)) lat = reply_scan::LatOrZero(lat);
  }
  std::string city, district, province, street, number;
  const size_t components = FindOpenedValue(text, "addressComponent", '{', result, result_end);
  if (components != npos) {
    const size_t close = std::min(text.find('}', components), result_end);
    reply_scan::StringValue(text, "city", components, close, &city, &end);
    reply_scan::StringValue(text, "district", components, close, &district, &end);
    reply_scan::StringValue(text, "province", components, close, &province, &end);
    reply_scan::StringValue(text, "street", components, close, &street, &end);
    reply_scan::StringValue(text, "street_number", components, close, &number, &end);
  }
  AddResult({number, street, district, city, province}, lng, lat, zoom, group, item);
  if (list == npos) return true;
  size_t pos = list;
  for (;;) {
    std::string name;
    size_t after = 0;
    if (!reply_scan::StringValue(text, "name", pos, npos, &name, &after)) break;
    // A place's keys lie before the next place's name.
    const size_t limit = reply_scan::FindKeyValue(text, "name", after, npos, nullptr);
    double place_lng = 0, place_lat = 0;
    size_t lng_end = 0, lat_end = 0;
    if (!reply_scan::NumberValue(text, "lng", after, limit, &place_lng, &lng_end) ||
        !reply_scan::NumberValue(text, "lat", after, limit, &place_lat, &lat_end))
      break;
    AddResult({name, district, city, province}, reply_scan::LngOrZero(place_lng), reply_scan::LatOrZero(place_lat),
              zoom, group, item);
    pos = std::max(lng_end, lat_end);
  }
  return true;
}

// A number held in a string value (`"x":"120.3"`).
bool QuotedNumber(std::string_view text, std::string_view name, size_t from, size_t limit, double* value,
                  size_t* end) {
  size_t at = npos;
  if (reply_scan::FindKeyValue(text, name, from, limit, &at) == npos) return false;
  if (at >= text.size() || text[at] != '"') return false;
  return reply_scan::NumberAt(text, at + 1, value, end);
}

bool ParsePoiLibrary(std::string_view reply, double zoom, CAddressGroup& group, CAddressItem& item) {
  std::string storage;
  const std::string_view text = reply_scan::Utf8Text(reply, storage);
  if (text.find("\"status\":\"E") == npos) return false;
  size_t pos = 0;
  for (;;) {
    std::string name;
    size_t after = 0;
    if (!reply_scan::StringValue(text, "name", pos, npos, &name, &after)) break;
    const size_t limit = reply_scan::FindKeyValue(text, "name", after, npos, nullptr);
    double x = 0, y = 0;
    size_t x_end = 0, y_end = 0;
    if (!QuotedNumber(text, "x", after, limit, &x, &x_end) || !QuotedNumber(text, "y", after, limit, &y, &y_end))
      break;
    AddResult({name}, reply_scan::LngOrZero(x), reply_scan::LatOrZero(y), zoom, group, item);
    pos = std::max(x_end, y_end);
  }
  return true;
}

std::string JoinedName(const std::vector<std::string>& narrowest_first) {
  std::string name;
  for (auto it = narrowest_first.rbegin(); it != narrowest_first.rend(); ++it) name += *it;
  return name;
}

bool AppendBytes(const std::string& path, std::string_view bytes) {
  std::FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace

bool ParseLibraryReply(int id, std::string_view reply, double zoom, CAddressGroup& group, CAddressItem& item) {
  switch (id) {
    case 8: return ParseGeocoderLibrary(reply, zoom, group, item);
    case 111: return ParseReverseGeocodeLibrary(reply, zoom, group, item);
    case 112: return ParsePoiLibrary(reply, zoom, group, item);
    default: return false;
  }
}

void MergeLibraryResults(CAddressRecord& root, const CAddressGroup& group, const CAddressItem& item) {
  const size_t n = std::min(group.paths.size(), item.records.size());
  for (size_t i = 0; i < n; ++i) {
    const std::vector<std::string>& path = group.paths[i];
    const CAddressRecord& result = item.records[i];
    CAddressRecord* node = &root;
    for (auto name = path.rbegin(); name != path.rend() && node != nullptr; ++name)
      node = node->FindOrAddChild(*name, result);
    if (node != nullptr && node != &root) {
      node->lng = result.lng;
      node->lat = result.lat;
      node->zoom = result.zoom;
    }
  }
}

std::string AddressLibraryPath(int id, const std::string& data_dir) {
  return (data_dir.empty() ? AppOptions().data_dir : data_dir) + FormatC("%d.adr", id);
}

LibraryLoad LoadAddressLibrary(const std::string& path, CAddressRecord& root, std::string* error) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return LibraryLoad::kMissing;
  std::string why;
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path, &why);
  if (!bytes) {
    if (error) *error = why;
    return LibraryLoad::kDamaged;
  }
  try {
    ArchiveReader ar(*bytes);
    root.Serialize(ar);  // damaged bytes leave the record as it was
    return LibraryLoad::kLoaded;
  } catch (const ArchiveError& e) {
    if (error) *error = e.what();
    return LibraryLoad::kDamaged;
  }
}

bool SaveAddressLibrary(const std::string& path, const CAddressRecord& root, std::string* error) {
  ArchiveWriter ar;
  root.Serialize(ar);
  return ar.SaveToFile(path, error);
}

std::string UnparsedReplyPath(const std::string& work_dir, uint64_t key, uint64_t index) {
  return work_dir + FormatC("Error %llu-%llu.htm", static_cast<unsigned long long>(key),
                            static_cast<unsigned long long>(index));
}

LibraryScan ScanLibraryReplies(CTileStore& store, int id, const LibraryScanHooks& hooks,
                               const std::function<void(const CAddressGroup&, const CAddressItem&)>& visit) {
  LibraryScan scan;
  const std::string work_dir = hooks.work_dir.empty() ? AppOptions().work_dir : hooks.work_dir;
  const uint64_t total = store.GetCount();
  std::vector<uint8_t> bytes;
  bool folder_ready = false;
  for (uint64_t i = 0; i < total; ++i) {
    if (hooks.stop && hooks.stop()) return scan;
    uint64_t key = 0;
    if (store.ReadByIndex(i, &key, bytes)) {
      ++scan.replies;
      const std::string_view reply(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      CAddressGroup group;
      CAddressItem item;
      if (ParseLibraryReply(id, reply, TileKeyZoom(key), group, item)) {
        ++scan.parsed;
        visit(group, item);
      } else {
        ++scan.unparsed;
        if (!folder_ready) folder_ready = EnsureFolder(work_dir);
        const std::string path = UnparsedReplyPath(work_dir, key, i);
        if (!AppendBytes(path, reply)) AppLog("address library: cannot write %s", path.c_str());
      }
    }
    if (hooks.progress) hooks.progress(i + 1, total);
  }
  scan.completed = true;
  return scan;
}

LibraryScan RebuildAddressLibrary(CTileStore& store, int id, CAddressRecord& root, const LibraryScanHooks& hooks) {
  return ScanLibraryReplies(store, id, hooks, [&root](const CAddressGroup& group, const CAddressItem& item) {
    MergeLibraryResults(root, group, item);
  });
}

bool ExportBox::Contains(double lng, double lat) const {
  const double w = std::min(west, east), e = std::max(west, east);
  const double s = std::min(south, north), n = std::max(south, north);
  return lng >= w && lng <= e && lat >= s && lat <= n;
}

LibraryScan CollectExportPlaces(CTileStore& store, int id, const ExportBox& box, const LibraryScanHooks& hooks,
                                std::vector<ExportPlace>* out) {
  std::set<std::tuple<std::string, double, double>> seen;
  return ScanLibraryReplies(store, id, hooks, [&](const CAddressGroup& group, const CAddressItem& item) {
    const size_t n = std::min(group.paths.size(), item.records.size());
    for (size_t i = 0; i < n; ++i) {
      const CAddressRecord& r = item.records[i];
      if ((r.lng == 0 && r.lat == 0) || !box.Contains(r.lng, r.lat)) continue;
      ExportPlace place{r.lng, r.lat, JoinedName(group.paths[i])};
      if (seen.emplace(place.name, place.lng, place.lat).second) out->push_back(std::move(place));
    }
  });
}

bool WriteExportText(const std::string& path, const std::vector<ExportPlace>& places, std::string* error) {
  std::string text;
  for (const ExportPlace& p : places) {
    text += FormatFixed(p.lng, 6);
    text += ',';
    text += FormatFixed(p.lat, 6);
    text += " : ";
    text += Utf8ToAnsi(p.name);
    text += "\r\n";
  }
  return WriteFileAtomic(path, text.data(), text.size(), error);
}

bool WriteExportSheet(const std::string& path, const std::vector<ExportPlace>& places, std::string* saved_path,
                      std::string* error) {
  CExcelAuto sheet;
  sheet.Open();
  const char* header[] = {"序号", "经度", "纬度", "名称"};
  for (int c = 0; c < 4; ++c) sheet.SetData(0, c, header[c]);
  int row = 1;
  for (const ExportPlace& p : places) {
    sheet.SetNumber(row, 0, row);
    sheet.SetNumber(row, 1, p.lng);
    sheet.SetNumber(row, 2, p.lat);
    sheet.SetData(row, 3, p.name);
    ++row;
  }
  if (!sheet.Save(path, saved_path)) {
    if (error) *error = sheet.LastError();
    return false;
  }
  return true;
}

}  // namespace velmora
