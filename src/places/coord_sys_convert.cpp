// Coordinate-system text conversion, UTM zones of the slots and Gauss-Krüger bands.
#include "places/coord_sys_convert.h"

#include <cmath>
#include <optional>

#include "core/format.h"
#include "core/projection.h"
#include "core/settings.h"

namespace velmora {

std::string UtmZoneKey(int slot) { return "utm84_" + std::to_string(slot); }

int UtmZoneOfSlot(int slot) { return ProgramSettings().GetInt(UtmZoneKey(slot), kDefaultUtmZone); }

bool SetUtmZoneOfSlot(int slot, int zone) {
  if (!IsValidUtmZone(zone)) return false;
  ProgramSettings().SetInt(UtmZoneKey(slot), zone);
  return true;
}

int UtmZoneOfLongitude(double lng) {
  if (!std::isfinite(lng)) return 0;
  double wrapped = std::fmod(lng + 180.0, 360.0);
  if (wrapped < 0) wrapped += 360.0;
  if (lng == 180.0) return kMaxUtmZone;
  int zone = static_cast<int>(std::floor(wrapped / 6.0)) + 1;
  return zone > kMaxUtmZone ? kMaxUtmZone : zone;
}

double UtmCentralMeridian(int zone) { return zone * 6.0 - 183.0; }

GaussKrugerBand GaussKrugerBandOf(double lng, bool three_degree) {
  GaussKrugerBand b;
  if (!std::isfinite(lng)) return b;
  // Bands are counted from 0° both ways, so a western longitude has a negative band. A 3° band
  // is centred on its meridian (rounded down: -121.4° lies in band -40 around -120°, as 121.4°
  // lies in band 40 around 120°); a 6° band ends on its eastern edge (rounded up: 120° is in
  // band 20, -119° in band -19, both 3° west of the edge).
  if (three_degree) {
    b.band = static_cast<int>(std::floor(lng / 3.0 + 0.5));
    b.central_meridian = b.band * 3.0;
  } else {
    b.band = static_cast<int>(std::ceil(lng / 6.0));
    b.central_meridian = b.band * 6.0 - 3.0;
  }
  return b;
}

std::string CoordSysStatusText(const CoordSysResult& result) {
  switch (result.status) {
    case CoordSysStatus::kOk: return "";
    case CoordSysStatus::kEmptyInput: return "没有要转换的坐标";
    case CoordSysStatus::kSameSystem: return "源坐标系与目标坐标系相同";
    case CoordSysStatus::kBadSystem: return "坐标系无效";
    case CoordSysStatus::kBadSourceZone:
      return FormatC("源坐标系的UTM带号%d无效,带号必须在1到60之间", result.source_zone);
    case CoordSysStatus::kBadTargetZone:
      return FormatC("目标坐标系的UTM带号%d无效,带号必须在1到60之间", result.target_zone);
    case CoordSysStatus::kEmptySeparator: return "分隔符不能为空";
    case CoordSysStatus::kRefused: return "坐标系转换失败";
  }
  return "";
}

CoordSysResult ConvertCoordSystemText(std::string_view text, const CoordSysConvertOptions& options) {
  CoordSysResult result;
  if (!GetCoordSystem(options.source) || !GetCoordSystem(options.target)) {
    result.status = CoordSysStatus::kBadSystem;
    return result;
  }
  if (options.source == kCoordUtm) result.source_zone = UtmZoneOfSlot(kSlotConverterSource);
  if (options.target == kCoordUtm) result.target_zone = UtmZoneOfSlot(kSlotConverterTarget);
  if (options.source == kCoordUtm && !IsValidUtmZone(result.source_zone)) {
    result.status = CoordSysStatus::kBadSourceZone;
    return result;
  }
  if (options.target == kCoordUtm && !IsValidUtmZone(result.target_zone)) {
    result.status = CoordSysStatus::kBadTargetZone;
    return result;
  }
  if (MakeProjDefinition(options.source, kSlotConverterSource) ==
      MakeProjDefinition(options.target, kSlotConverterTarget)) {
    result.status = CoordSysStatus::kSameSystem;
    return result;
  }
  CCoordFieldSplitter splitter(options.separator);
  if (splitter.Empty()) {
    result.status = CoordSysStatus::kEmptySeparator;
    return result;
  }
  // Values are separated by one character; a longer separator never matches between them, so
  // every line becomes an error line (the skipped columns alone may use a longer one).
  size_t separator_chars = 0;
  for (char c : options.separator)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++separator_chars;
  const bool single_separator = separator_chars == 1;

  // Read every line first: PROJ converts the whole array in one call.
  struct Line {
    size_t number;
    std::string_view text;
    CoordLineError error;
  };
  std::vector<Line> lines;
  std::vector<double> xyz;
  ForEachCoordLine(text, [&](size_t number, std::string_view line) {
    std::string_view rest = line;
    CoordLineError error = CoordLineError::kNone;
    double v[3] = {0, 0, 0};
    bool found = false;
    if (!splitter.Skip(&rest, options.skip_columns) || !single_separator) {
      error = CoordLineError::kMissingSeparator;
    } else {
      std::string_view fx = splitter.Next(&rest, &found);
      if (!found) {
        error = CoordLineError::kMissingSeparator;
      } else {
        std::string_view fy = splitter.Next(&rest, &found);
        std::string_view fz = found ? splitter.Next(&rest, &found) : std::string_view();
        auto x = ParseDouble(fx), y = ParseDouble(fy);
        auto z = fz.empty() ? std::optional<double>(0.0) : ParseDouble(fz);
        if (!x || !y || !z) {
          error = CoordLineError::kBadValue;
        } else {
          v[0] = *x, v[1] = *y, v[2] = *z;
        }
      }
    }
    lines.push_back({number, line, error});
    if (error == CoordLineError::kNone) xyz.insert(xyz.end(), v, v + 3);
  });
  if (lines.empty()) {
    result.status = CoordSysStatus::kEmptyInput;
    return result;
  }

  const int count = static_cast<int>(xyz.size() / 3);
  if (count > 0) {
    int failed = 0;
    if (!TransformPoints(xyz.data(), count, options.source, options.target, true, &failed) && failed == 0) {
      result.status = CoordSysStatus::kRefused;
      return result;
    }
  }

  size_t k = 0;
  result.output.reserve(lines.size() * 48);
  char numbers[3 * kNumber14Chars + 2];
  for (const Line& line : lines) {
    CoordLineError error = line.error;
    if (error == CoordLineError::kNone) {
      const double* p = &xyz[3 * k++];
      if (!std::isfinite(p[0]) || !std::isfinite(p[1]) || p[0] == HUGE_VAL || p[1] == HUGE_VAL) {
        error = CoordLineError::kNotConvertible;
      } else {
        char* out = numbers;
        out = WriteNumber14(out, p[0]);
        *out++ = ',';
        out = WriteNumber14(out, p[1]);
        *out++ = ',';
        out = WriteNumber14(out, p[2]);
        result.output.append(numbers, out);
        ++result.points;
      }
    }
    if (error != CoordLineError::kNone) {
      result.issues.push_back({line.number, error});
      result.output += CoordErrorLine(line.number, error, line.text);
    }
    result.output += "\r\n";
  }
  return result;
}

}  // namespace velmora
