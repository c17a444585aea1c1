// The coordinate-system converter's work: lines of "x,y,z" text converted between the systems of
// the coordinate-system table through the cached PROJ objects of core/projection, the UTM zones
// of the conversion slots ("utm84_<slot>"), and the zone and band arithmetic of the zone dialog.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "places/coord_format.h"

namespace velmora {

// ---- zones and bands ----
inline constexpr int kMinUtmZone = 1;
inline constexpr int kMaxUtmZone = 60;
inline bool IsValidUtmZone(int zone) { return zone >= kMinUtmZone && zone <= kMaxUtmZone; }
// The program-settings key of a slot's UTM zone: "utm84_<slot>".
std::string UtmZoneKey(int slot);
// The zone stored for a slot (51 when none is stored).
int UtmZoneOfSlot(int slot);
// Stores a slot's zone; false (nothing stored) for a zone outside 1-60.
bool SetUtmZoneOfSlot(int slot, int zone);
// The UTM zone of a longitude: 120° E is in zone 51. 180° belongs to zone 60; 0 for NaN.
int UtmZoneOfLongitude(double lng);
// The central meridian of a UTM zone.
double UtmCentralMeridian(int zone);

// A Gauss-Krüger band: its number and central meridian in degrees.
struct GaussKrugerBand {
  int band = 0;
  double central_meridian = 0;
};
// The 3° band (three_degree) or the 6° band of a longitude, counted from 0° both ways (western
// bands are negative): 6° bands end on their eastern edge (120° is in band 20, meridian 117°;
// -119° in band -19, meridian -117°); a 3° band is centred on its meridian (121.4° is in band
// 40, meridian 120°; -121.4° in band -40, meridian -120°).
GaussKrugerBand GaussKrugerBandOf(double lng, bool three_degree);

// ---- text conversion ----
struct CoordSysConvertOptions {
  int source = 0;  // index in the coordinate-system table
  int target = 1;
  // Between the values of an input line: one character (a longer one finds no values, so every
  // line is an error line); skipped columns are found by the whole text.
  std::string separator = ",";
  int skip_columns = 0;
};

enum class CoordSysStatus {
  kOk,              // converted (some lines may still be reported in `issues`)
  kEmptyInput,      // nothing but blank lines
  kSameSystem,      // source and target are the same definition: nothing to convert
  kBadSystem,       // an index outside the table
  kBadSourceZone,   // the source is UTM with a zone outside 1-60
  kBadTargetZone,   // the target is UTM with a zone outside 1-60
  kEmptySeparator,
  kRefused,         // PROJ refused the pair of definitions
};

struct CoordSysResult {
  CoordSysStatus status = CoordSysStatus::kOk;
  std::string output;  // "x,y,z\r\n" per line, or an error line
  size_t points = 0;   // lines converted
  std::vector<CoordLineIssue> issues;
  int source_zone = 0;  // the zones in use when a system is UTM (0 otherwise)
  int target_zone = 0;
};

// The message for a status other than kOk ("" for kOk).
std::string CoordSysStatusText(const CoordSysResult& result);

// Reads "x<sep>y[<sep>z]" lines (after skipping columns; z is 0 when missing, further values are
// ignored), converts them from the source to the target system with the converter's slots (0
// and 1) and writes "x,y,z", each number as FormatNumber14 prints it. A line that cannot be read,
// or a point PROJ cannot convert, becomes an error line and an entry of `issues`.
CoordSysResult ConvertCoordSystemText(std::string_view text, const CoordSysConvertOptions& options);

}  // namespace velmora
