// The import of administrative places from KML files into the place-name database: one file, or
// every "*.kml" file of a folder (the extension in any case, in name order). Each file is one
// province: its document name is the province, and a province already in the database skips the
// file. Its placemarks are added with a parent found by their level:
//   the level table holds, per level, the id of the place of that level added last; a place of
//   level t gets as parent the first level from t - 1 downwards whose id is set, a provincial
//   capital (3) never being a parent (level 2 is the file's province, level 0 the root
//   "中国" when the database has one).
//   A new place of level t forgets the places of the levels below it (t + 1 ...), so that a
//   county never lands under a county-level city of the previous city. The table starts empty
//   for each file.
// A placemark without a recognised style has no level and is left out (counted). The rows of one
// file are written in one transaction: a file that fails, or an import stopped half way through
// a file, leaves nothing of that file, so importing it again later brings the whole province.
// Runs on the "ImportAddrName" worker; reports through the sink.
#pragma once
#include <string>

namespace velmora {

class CPlaceNameDb;

class IPlaceImportSink {
 public:
  virtual ~IPlaceImportSink() = default;
  // A status line ("import 山东省...").
  virtual void AddLine(const std::string& line) { (void)line; }
  // Position in the current file, 0 to 1.
  virtual void SetProgress(float fraction) { (void)fraction; }
  // Asked after every place: true ends the import.
  virtual bool StopRequested() { return false; }
};

struct PlaceImportResult {
  int files = 0;               // files whose places were added
  int files_skipped = 0;       // unreadable, nameless, or a province already present
  int files_failed = 0;        // the database refused a write: the file's rows were taken back
  int places = 0;              // places added (provinces included)
  int placemarks_skipped = 0;  // placemarks without a recognised style
  bool stopped = false;        // the sink asked to stop
};

// Imports `path` (a KML file, or a folder of them) into `db`.
PlaceImportResult ImportPlaceNameKml(CPlaceNameDb& db, const std::string& path, IPlaceImportSink& sink);

}  // namespace velmora
