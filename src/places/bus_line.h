// Bus lines: the records (CBusLine with its BusStation list, CBusCity), the display settings,
// their files in the data folder, the reading of the bus page's answers and the station search.
//
// Files (archive conventions: little-endian, strings with the archive length prefix, GBK):
//   "busline.dat"  u32 line colour, u32 line width, u32 show-names flag, u32 dot colour,
//                  u32 dot width, then the station-name text style (CTextStyle::Serialize).
//   "<n>.bl"       the lines of the city with file number n: u32 count, then per line its name,
//                  f32 longitude offset, f32 latitude offset, u32 station count and per station
//                  name, f32 longitude, f32 latitude, u32 point count and f32 longitude/latitude
//                  pairs.
//   "-1.bl"        the city index: u32 count of cities, u32 index of the current city, then per
//                  city its line names as a string array (count as u16, or 0xFFFF and a u32 when
//                  it is 0xFFFF or more; then the strings), its name and its file number (u32).
// Every count is checked against the bytes left, the current index against the city count, file
// numbers must not be 0xFFFFFFFF (the index's own name) and nothing may follow the records. A
// file that fails these checks is set aside as "<name>.damaged" and never written over; files are
// written to a temporary file and renamed.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/settings.h"
#include "core/text_style.h"
#include "places/data_object.h"

namespace velmora {

inline constexpr const char* kBusDisplayFile = "busline.dat";
inline constexpr const char* kBusIndexFile = "-1.bl";
// Registry profile section of the panel ("city", "layout") and its station search ("recent").
inline constexpr const char* kBusLineSection = "busline";

struct BusStation {
  std::string name;
  float lng = 0, lat = 0;
  bool operator==(const BusStation&) const = default;
};

class CBusLine : public CDataObject {
 public:
  std::string name;
  float lng_offset = 0, lat_offset = 0;  // added to every point and station when drawn
  std::vector<BusStation> stations;
  std::vector<PointF> points;  // the course, x longitude, y latitude

  void Serialize(ArchiveWriter& ar) const override;
  void Serialize(ArchiveReader& ar) override;
  bool operator==(const CBusLine& o) const {
    return name == o.name && lng_offset == o.lng_offset && lat_offset == o.lat_offset && stations == o.stations &&
           points == o.points;
  }
};

class CBusCity : public CDataObject {
 public:
  std::string name;
  std::vector<std::string> line_names;
  uint32_t file_number = 0;

  void Serialize(ArchiveWriter& ar) const override;
  void Serialize(ArchiveReader& ar) override;
  bool operator==(const CBusCity& o) const {
    return name == o.name && line_names == o.line_names && file_number == o.file_number;
  }
};

// A string array as the framework stores it: the count (u16, or 0xFFFF and a u32), the strings.
void WriteStringArray(ArchiveWriter& ar, const std::vector<std::string>& strings);
std::vector<std::string> ReadStringArray(ArchiveReader& ar);

struct BusLineDisplay {
  bool show_names = true;           // check 1131 "显示站名"
  uint32_t line_width = 3;          // combo 1210: 0 "无", 1-10
  uint32_t line_color = 0xFF0000FFu;
  uint32_t dot_width = 1;           // combo 1214: 0 "无" (no dots), 1-10
  uint32_t dot_color = 0xFFFF0000u;
  CTextStyle name_style;

  void Serialize(ArchiveWriter& ar) const;
  void Serialize(ArchiveReader& ar);
  bool operator==(const BusLineDisplay&) const = default;
};

// The bus files of one folder (the data folder by default).
class CBusLineStore {
 public:
  enum class Load { kOk, kMissing, kDamaged };

  explicit CBusLineStore(std::string folder = {});
  const std::string& Folder() const { return folder_; }
  std::string CityFilePath(uint32_t number) const;  // "%s%d.bl"
  std::string IndexPath() const;

  // The index; a missing file is an empty index. A damaged one is set aside (kDamaged) and the
  // result is empty.
  Load LoadIndex(std::vector<CBusCity>* cities, uint32_t* current);
  bool SaveIndex(const std::vector<CBusCity>& cities, uint32_t current);
  Load LoadCity(uint32_t number, std::vector<CBusLine>* lines);
  bool SaveCity(uint32_t number, const std::vector<CBusLine>& lines);
  bool DeleteCity(uint32_t number);
  Load LoadDisplay(BusLineDisplay* display);
  bool SaveDisplay(const BusLineDisplay& display);

  // A file number no city of the list uses (never 0xFFFFFFFF).
  static uint32_t NewFileNumber(const std::vector<CBusCity>& cities);

  static std::vector<uint8_t> EncodeIndex(const std::vector<CBusCity>& cities, uint32_t current);
  static void DecodeIndex(const std::vector<uint8_t>& bytes, std::vector<CBusCity>* cities, uint32_t* current);
  static std::vector<uint8_t> EncodeCity(const std::vector<CBusLine>& lines);
  static void DecodeCity(const std::vector<uint8_t>& bytes, std::vector<CBusLine>* lines);

 private:
  Load Read(const std::string& path, const std::function<void(const std::vector<uint8_t>&)>& decode);
  bool Write(const std::string& path, const std::vector<uint8_t>& bytes);
  std::string folder_;
};

// The bus page's answer: records separated by line feeds; a line record is
//   <line name>:<x>,<y>;<x>,<y>;...:<station>,<x>,<y>;<station>,<x>,<y>;...
// (fields by ':', numbers of a pair by ',', pairs and stations by ';'; a carriage return before
// a line feed is ignored). Blank records and records without a name are skipped, as are pairs
// that are not two finite numbers with a latitude within ±90. Names hold none of ":,;".
std::vector<CBusLine> ParseBusAnswer(std::string_view answer);

// A station search text: "(x1,y1)-(x2,y2)" a rectangle, "(x,y:r)" a point and a radius in
// metres, anything else a name.
struct StationQuery {
  enum class Kind { kName, kRect, kRadius } kind = Kind::kName;
  std::string name;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // rectangle corners, or the point (x1, y1)
  double radius_m = 0;
};
StationQuery ParseStationQuery(std::string_view text);
std::string FormatRectQuery(double x1, double y1, double x2, double y2);  // "(%f,%f)-(%f,%f)"
std::string FormatRadiusQuery(double x, double y, double radius_m);         // "(%f,%f:%f)"

struct StationHit {
  std::string line;
  BusStation station;  // with the line's offsets added
};
// Every station of `lines` that the query selects (positions are the stations' plus the line's
// offsets), in line and station order.
std::vector<StationHit> SearchStations(const std::vector<CBusLine>& lines, const StationQuery& query);

}  // namespace velmora
