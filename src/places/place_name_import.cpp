// The KML import of the place-name database.
#include "places/place_name_import.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "places/kml_place_reader.h"
#include "places/place_name_db.h"
#include "platform/fs.h"

namespace velmora {
namespace {

using LevelTable = std::array<int, kPlaceLevelCount>;

// The parent of a place of `level`: the first set level from level - 1 downwards, never a
// provincial capital.
int ParentOf(const LevelTable& levels, int level) {
  for (int i = level - 1; i >= 0; --i)
    if (i != kPlaceCapital && levels[static_cast<size_t>(i)] != 0) return levels[static_cast<size_t>(i)];
  return 0;
}

// The files of an import: the path itself, or the "*.kml" files of a folder in name order.
std::vector<std::string> ImportFiles(const std::string& path, bool* folder_mode) {
  std::vector<std::string> files;
  std::error_code ec;
  *folder_mode = std::filesystem::is_directory(path, ec);
  if (!*folder_mode) {
    files.push_back(path);
    return files;
  }
  for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (!it->is_regular_file(type_ec)) continue;
    const std::string file = it->path().string();
    if (GetFileExtLower(file) == "kml") files.push_back(file);
  }
  if (ec) AppLog("place-name import: %s: %s", path.c_str(), ec.message().c_str());
  std::sort(files.begin(), files.end());
  return files;
}

enum class FileOutcome { kImported, kSkipped, kFailed, kStopped };

FileOutcome ImportFile(CPlaceNameDb& db, const std::string& file, int root_id, IPlaceImportSink& sink,
                       PlaceImportResult& result) {
  std::string error;
  const std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(file, &error);
  if (!bytes) {
    AppLog("place-name import: %s", error.c_str());
    return FileOutcome::kSkipped;
  }
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  CKmlPlaceReader reader(text);
  const std::string& province_name = reader.DocumentName();
  if (province_name.empty()) {
    AppLog("place-name import: %s names no province", file.c_str());
    return FileOutcome::kSkipped;
  }
  if (db.HasProvince(province_name)) return FileOutcome::kSkipped;  // imported before
  sink.AddLine(FormatC("import %s...", province_name.c_str()));
  if (!db.BeginImport()) return FileOutcome::kFailed;

  LevelTable levels{};
  levels[kPlaceCountry] = root_id;
  PlaceRecord province;
  province.type = kPlaceProvince;
  province.name = province_name;
  province.parent_id = root_id;
  int added = 0;
  bool failed = db.AddPlace(province, true) == 0;
  if (!failed) {
    levels[kPlaceProvince] = province.id;
    ++added;
  }
  int skipped = 0;
  KmlPlacemark mark;
  while (!failed && reader.Next(&mark)) {
    if (mark.level == 0) {
      ++skipped;
    } else {
      PlaceRecord place;
      place.type = mark.level;
      place.name = mark.name;
      place.lng = mark.lng;
      place.lat = mark.lat;
      place.west = mark.west;
      place.north = mark.north;
      place.east = mark.east;
      place.south = mark.south;
      place.parent_id = ParentOf(levels, mark.level);
      if (db.AddPlace(place, true) == 0) {
        failed = true;
        break;
      }
      ++added;
      levels[static_cast<size_t>(mark.level)] = place.id;
      for (int deeper = mark.level + 1; deeper < kPlaceLevelCount; ++deeper) levels[static_cast<size_t>(deeper)] = 0;
    }
    if (reader.Size() > 0) sink.SetProgress(static_cast<float>(reader.Position()) / static_cast<float>(reader.Size()));
    if (sink.StopRequested()) {
      db.EndImport(false);
      return FileOutcome::kStopped;
    }
  }
  if (failed || !db.EndImport(true)) {
    if (failed) db.EndImport(false);
    AppLog("place-name import: the places of %s could not be stored", file.c_str());
    return FileOutcome::kFailed;
  }
  sink.SetProgress(1.0f);
  result.places += added;
  result.placemarks_skipped += skipped;
  if (skipped > 0) AppLog("place-name import: %s: %d placemarks without a known style were left out", file.c_str(), skipped);
  return FileOutcome::kImported;
}

}  // namespace

PlaceImportResult ImportPlaceNameKml(CPlaceNameDb& db, const std::string& path, IPlaceImportSink& sink) {
  PlaceImportResult result;
  bool folder_mode = false;
  const std::vector<std::string> files = ImportFiles(path, &folder_mode);

  // The root: an existing row is rewritten and its id kept; without one the provinces have no
  // parent.
  PlaceRecord root;
  root.type = kPlaceCountry;
  root.name = kPlaceRootName;
  const int root_id = db.AddPlace(root, false);

  for (const std::string& file : files) {
    if (sink.StopRequested()) {
      result.stopped = true;
      break;
    }
    if (folder_mode) sink.AddLine(FormatC("import %s...", GetFileNamePart(file).c_str()));
    switch (ImportFile(db, file, root_id, sink, result)) {
      case FileOutcome::kImported: ++result.files; break;
      case FileOutcome::kSkipped: ++result.files_skipped; break;
      case FileOutcome::kFailed: ++result.files_failed; break;
      case FileOutcome::kStopped: result.stopped = true; break;
    }
    if (result.stopped) break;
  }
  return result;
}

}  // namespace velmora
