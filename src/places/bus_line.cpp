// Bus-line records, their files, the page's answers and the station search.
#include "places/bus_line.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "platform/fs.h"
#include "platform/text.h"

namespace velmora {

namespace {

constexpr uint32_t kNoNumber = 0xFFFFFFFFu;

// A finite float of the archive (a record with NaN would draw nothing and search nowhere).
float FiniteF32(ArchiveReader& ar) {
  float v = ar.F32();
  if (!std::isfinite(v)) throw ArchiveError("a coordinate is not finite");
  return v;
}

bool ReadDouble(std::string_view s, double* v) {
  s = TrimAscii(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
  return ec == std::errc() && ptr == s.data() + s.size() && std::isfinite(*v);
}

std::vector<std::string_view> Split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
    if (at == std::string_view::npos) break;
    start = at + 1;
  }
  return parts;
}

bool ValidLngLat(double x, double y) { return std::fabs(y) <= 90 && std::fabs(x) <= 540; }

}  // namespace

// ---- records ----

void CBusLine::Serialize(ArchiveWriter& ar) const {
  ar.String(name);
  ar.F32(lng_offset);
  ar.F32(lat_offset);
  ar.U32(static_cast<uint32_t>(stations.size()));
  for (const BusStation& s : stations) {
    ar.String(s.name);
    ar.F32(s.lng);
    ar.F32(s.lat);
  }
  ar.U32(static_cast<uint32_t>(points.size()));
  for (const PointF& p : points) {
    ar.F32(p.x);
    ar.F32(p.y);
  }
}

void CBusLine::Serialize(ArchiveReader& ar) {
  name = ar.String();
  lng_offset = FiniteF32(ar);
  lat_offset = FiniteF32(ar);
  stations.resize(ar.Count(9));  // an empty name and two floats at least
  for (BusStation& s : stations) {
    s.name = ar.String();
    s.lng = FiniteF32(ar);
    s.lat = FiniteF32(ar);
  }
  points.resize(ar.Count(8));
  for (PointF& p : points) {
    p.x = FiniteF32(ar);
    p.y = FiniteF32(ar);
  }
}

void WriteStringArray(ArchiveWriter& ar, const std::vector<std::string>& strings) {
  if (strings.size() < 0xFFFF) {
    ar.U16(static_cast<uint16_t>(strings.size()));
  } else {
    ar.U16(0xFFFF);
    ar.U32(static_cast<uint32_t>(strings.size()));
  }
  for (const std::string& s : strings) ar.String(s);
}

std::vector<std::string> ReadStringArray(ArchiveReader& ar) {
  uint32_t count = ar.U16();
  if (count == 0xFFFF) count = ar.U32();
  if (count > ar.Remaining()) throw ArchiveError("string array count beyond the bytes left");
  std::vector<std::string> strings(count);
  for (std::string& s : strings) s = ar.String();
  return strings;
}

void CBusCity::Serialize(ArchiveWriter& ar) const {
  WriteStringArray(ar, line_names);
  ar.String(name);
  ar.U32(file_number);
}

void CBusCity::Serialize(ArchiveReader& ar) {
  line_names = ReadStringArray(ar);
  name = ar.String();
  file_number = ar.U32();
  if (file_number == kNoNumber) throw ArchiveError("a city has the index's number");
}

void BusLineDisplay::Serialize(ArchiveWriter& ar) const {
  ar.U32(line_color);
  ar.U32(line_width);
  ar.U32(show_names ? 1 : 0);
  ar.U32(dot_color);
  ar.U32(dot_width);
  name_style.Serialize(ar);
}

void BusLineDisplay::Serialize(ArchiveReader& ar) {
  line_color = ar.U32();
  line_width = ar.U32();
  show_names = ar.U32() != 0;
  dot_color = ar.U32();
  dot_width = ar.U32();
  if (line_width > 10 || dot_width > 10) throw ArchiveError("a width beyond 10");
  name_style.Serialize(ar);
}

// ---- files ----

CBusLineStore::CBusLineStore(std::string folder)
    : folder_(WithTrailingSlash(folder.empty() ? AppOptions().data_dir : std::move(folder))) {}

std::string CBusLineStore::CityFilePath(uint32_t number) const {
  char name[24];
  std::snprintf(name, sizeof name, "%d.bl", static_cast<int>(number));
  return folder_ + name;
}

std::string CBusLineStore::IndexPath() const { return folder_ + kBusIndexFile; }

CBusLineStore::Load CBusLineStore::Read(const std::string& path,
                                        const std::function<void(const std::vector<uint8_t>&)>& decode) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) return Load::kMissing;
  std::string error;
  auto bytes = ReadFileBytes(path, &error);
  if (bytes) {
    try {
      decode(*bytes);
      return Load::kOk;
    } catch (const ArchiveError& e) {
      error = e.what();
    }
  }
  // Set the file aside, so that the next save cannot write over what may still be rescued.
  const std::string aside = path + ".damaged";
  std::filesystem::rename(path, aside, ec);
  AppLog("bus lines: %s is damaged (%s)%s", path.c_str(), error.c_str(),
         ec ? ", and it cannot be set aside" : ", kept as .damaged");
  return Load::kDamaged;
}

bool CBusLineStore::Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::error_code ec;
  // A damaged file that could not be set aside is never written over.
  if (std::filesystem::exists(path + ".damaged", ec) && std::filesystem::exists(path, ec)) {
    AppLog("bus lines: %s was damaged and is left as it is", path.c_str());
    return false;
  }
  std::string error;
  if (!WriteFileAtomic(path, bytes, &error)) {
    AppLog("bus lines: cannot write %s: %s", path.c_str(), error.c_str());
    return false;
  }
  return true;
}

std::vector<uint8_t> CBusLineStore::EncodeIndex(const std::vector<CBusCity>& cities, uint32_t current) {
  ArchiveWriter ar;
  ar.U32(static_cast<uint32_t>(cities.size()));
  ar.U32(current);
  for (const CBusCity& c : cities) c.Serialize(ar);
  return std::move(ar.Bytes());
}

void CBusLineStore::DecodeIndex(const std::vector<uint8_t>& bytes, std::vector<CBusCity>* cities,
                                uint32_t* current) {
  ArchiveReader ar(bytes);
  // A city takes a string-array count, an empty name and its number at least.
  const size_t count = ar.U32();
  if (count > (ar.Remaining() >= 4 ? (ar.Remaining() - 4) / 7 : 0)) throw ArchiveError("city count beyond the bytes left");
  std::vector<CBusCity> read(count);
  uint32_t index = ar.U32();
  if (count == 0 ? index != 0 : index >= count) throw ArchiveError("the current city is not in the index");
  for (CBusCity& c : read) c.Serialize(ar);
  if (!ar.AtEnd()) throw ArchiveError("bytes after the last city");
  *cities = std::move(read);
  *current = index;
}

std::vector<uint8_t> CBusLineStore::EncodeCity(const std::vector<CBusLine>& lines) {
  ArchiveWriter ar;
  ar.U32(static_cast<uint32_t>(lines.size()));
  for (const CBusLine& l : lines) l.Serialize(ar);
  return std::move(ar.Bytes());
}

void CBusLineStore::DecodeCity(const std::vector<uint8_t>& bytes, std::vector<CBusLine>* lines) {
  ArchiveReader ar(bytes);
  std::vector<CBusLine> read(ar.Count(17));  // name, two offsets, two counts
  for (CBusLine& l : read) l.Serialize(ar);
  if (!ar.AtEnd()) throw ArchiveError("bytes after the last line");
  *lines = std::move(read);
}

CBusLineStore::Load CBusLineStore::LoadIndex(std::vector<CBusCity>* cities, uint32_t* current) {
  cities->clear();
  *current = 0;
  return Read(IndexPath(), [&](const std::vector<uint8_t>& b) { DecodeIndex(b, cities, current); });
}

bool CBusLineStore::SaveIndex(const std::vector<CBusCity>& cities, uint32_t current) {
  for (const CBusCity& c : cities)
    if (c.file_number == kNoNumber) return false;
  if (cities.empty() ? current != 0 : current >= cities.size()) return false;
  return Write(IndexPath(), EncodeIndex(cities, current));
}

CBusLineStore::Load CBusLineStore::LoadCity(uint32_t number, std::vector<CBusLine>* lines) {
  lines->clear();
  if (number == kNoNumber) return Load::kMissing;
  return Read(CityFilePath(number), [&](const std::vector<uint8_t>& b) { DecodeCity(b, lines); });
}

bool CBusLineStore::SaveCity(uint32_t number, const std::vector<CBusLine>& lines) {
  if (number == kNoNumber) return false;
  return Write(CityFilePath(number), EncodeCity(lines));
}

bool CBusLineStore::DeleteCity(uint32_t number) {
  if (number == kNoNumber) return false;
  std::error_code ec;
  std::filesystem::remove(CityFilePath(number), ec);
  return !ec;
}

CBusLineStore::Load CBusLineStore::LoadDisplay(BusLineDisplay* display) {
  BusLineDisplay read;
  Load r = Read(folder_ + kBusDisplayFile, [&](const std::vector<uint8_t>& b) {
    ArchiveReader ar(b);
    read.Serialize(ar);
    if (!ar.AtEnd()) throw ArchiveError("bytes after the text style");
  });
  if (r == Load::kOk) *display = read;
  return r;
}

bool CBusLineStore::SaveDisplay(const BusLineDisplay& display) {
  ArchiveWriter ar;
  display.Serialize(ar);
  return Write(folder_ + kBusDisplayFile, ar.Bytes());
}

uint32_t CBusLineStore::NewFileNumber(const std::vector<CBusCity>& cities) {
  uint32_t next = 0;
  for (const CBusCity& c : cities)
    if (c.file_number != kNoNumber && c.file_number >= next) next = c.file_number + 1;
  if (next >= 0x7FFFFFFFu) {
    // Numbers ran up to the end: take the lowest free one.
    next = 0;
    bool used = true;
    while (used) {
      used = false;
      for (const CBusCity& c : cities)
        if (c.file_number == next) used = true, ++next;
    }
  }
  return next;
}

// ---- answers ----

std::vector<CBusLine> ParseBusAnswer(std::string_view answer) {
  std::vector<CBusLine> lines;
  for (std::string_view record : Split(answer, '\n')) {
    if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
    if (TrimAscii(record).empty()) continue;
    std::vector<std::string_view> fields = Split(record, ':');
    CBusLine line;
    line.name = std::string(TrimAscii(fields[0]));
    if (line.name.empty()) continue;
    if (fields.size() > 1) {
      for (std::string_view pair : Split(fields[1], ';')) {
        std::vector<std::string_view> xy = Split(pair, ',');
        double x, y;
        if (xy.size() >= 2 && ReadDouble(xy[0], &x) && ReadDouble(xy[1], &y) && ValidLngLat(x, y))
          line.points.push_back(PointF{float(x), float(y)});
      }
    }
    if (fields.size() > 2) {
      for (std::string_view item : Split(fields[2], ';')) {
        std::vector<std::string_view> parts = Split(item, ',');
        double x, y;
        if (parts.size() >= 3 && !TrimAscii(parts[0]).empty() && ReadDouble(parts[1], &x) &&
            ReadDouble(parts[2], &y) && ValidLngLat(x, y))
          line.stations.push_back(BusStation{std::string(TrimAscii(parts[0])), float(x), float(y)});
      }
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// ---- station search ----

StationQuery ParseStationQuery(std::string_view text) {
  StationQuery q;
  std::string_view t = TrimAscii(text);
  q.name = std::string(t);
  double v[5];
  // "(x1,y1)-(x2,y2)"
  if (t.size() > 2 && t.front() == '(' && t.back() == ')') {
    size_t mid = t.find(")-(");
    if (mid != std::string_view::npos) {
      std::vector<std::string_view> a = Split(t.substr(1, mid - 1), ',');
      std::vector<std::string_view> b = Split(t.substr(mid + 3, t.size() - mid - 4), ',');
      if (a.size() == 2 && b.size() == 2 && ReadDouble(a[0], &v[0]) && ReadDouble(a[1], &v[1]) &&
          ReadDouble(b[0], &v[2]) && ReadDouble(b[1], &v[3])) {
        q.kind = StationQuery::Kind::kRect;
        q.x1 = std::min(v[0], v[2]), q.x2 = std::max(v[0], v[2]);
        q.y1 = std::max(v[1], v[3]), q.y2 = std::min(v[1], v[3]);
        return q;
      }
    }
    // "(x,y:r)"
    std::string_view inner = t.substr(1, t.size() - 2);
    size_t colon = inner.find(':');
    if (colon != std::string_view::npos) {
      std::vector<std::string_view> a = Split(inner.substr(0, colon), ',');
      if (a.size() == 2 && ReadDouble(a[0], &v[0]) && ReadDouble(a[1], &v[1]) &&
          ReadDouble(inner.substr(colon + 1), &v[2]) && v[2] >= 0) {
        q.kind = StationQuery::Kind::kRadius;
        q.x1 = v[0], q.y1 = v[1], q.radius_m = v[2];
        return q;
      }
    }
  }
  return q;
}

std::string FormatRectQuery(double x1, double y1, double x2, double y2) {
  return FormatC("(%f,%f)-(%f,%f)", x1, y1, x2, y2);
}

std::string FormatRadiusQuery(double x, double y, double radius_m) {
  return FormatC("(%f,%f:%f)", x, y, radius_m);
}

std::vector<StationHit> SearchStations(const std::vector<CBusLine>& lines, const StationQuery& q) {
  std::vector<StationHit> hits;
  if (q.kind == StationQuery::Kind::kName && q.name.empty()) return hits;
  for (const CBusLine& line : lines) {
    for (const BusStation& s : line.stations) {
      const double x = double(s.lng) + line.lng_offset, y = double(s.lat) + line.lat_offset;
      bool in = false;
      switch (q.kind) {
        case StationQuery::Kind::kRect: in = x >= q.x1 && x <= q.x2 && y <= q.y1 && y >= q.y2; break;
        case StationQuery::Kind::kRadius: in = GreatCircleDistance(q.x1, q.y1, x, y, kEarthRadiusM) <= q.radius_m; break;
        case StationQuery::Kind::kName: in = s.name.find(q.name) != std::string::npos; break;
      }
      if (in) hits.push_back(StationHit{line.name, BusStation{s.name, float(x), float(y)}});
    }
  }
  return hits;
}

}  // namespace velmora
