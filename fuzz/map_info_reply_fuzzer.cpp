// Outside bytes of the map information tools: the bus-line files (the city index, a city's lines,
// the display settings), the bus page's answers, the "rings" of boundary replies and the weather
// service's region files. Whatever loads must store and load again to the same bytes; parsed
// points are finite and within the poles; rings hold at least two points.
#include <cmath>
#include <string_view>

#include "fuzz_support.h"
#include "places/boundary_query.h"
#include "places/bus_line.h"
#include "places/weather.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Setup();
  const std::vector<uint8_t> bytes(data, data + size);
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  std::vector<CBusCity> cities;
  uint32_t current = 0;
  try {
    CBusLineStore::DecodeIndex(bytes, &cities, &current);
    FUZZ_CHECK(cities.empty() ? current == 0 : current < cities.size());
    const std::vector<uint8_t> ours = CBusLineStore::EncodeIndex(cities, current);
    std::vector<CBusCity> again;
    uint32_t again_current = 0;
    CBusLineStore::DecodeIndex(ours, &again, &again_current);
    FUZZ_CHECK(CBusLineStore::EncodeIndex(again, again_current) == ours);
  } catch (const ArchiveError&) {
  }
  std::vector<CBusLine> lines;
  try {
    CBusLineStore::DecodeCity(bytes, &lines);
    for (const CBusLine& l : lines)
      for (const PointF& p : l.points) FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.y));
    const std::vector<uint8_t> ours = CBusLineStore::EncodeCity(lines);
    std::vector<CBusLine> again;
    CBusLineStore::DecodeCity(ours, &again);
    FUZZ_CHECK(CBusLineStore::EncodeCity(again) == ours);
  } catch (const ArchiveError&) {
  }
  try {
    BusLineDisplay display;
    ArchiveReader ar(bytes);
    display.Serialize(ar);
    FUZZ_CHECK(display.line_width <= 10 && display.dot_width <= 10);
  } catch (const ArchiveError&) {
  }

  for (const CBusLine& l : ParseBusAnswer(text)) {
    FUZZ_CHECK(!l.name.empty() && l.name.find(':') == std::string::npos);
    for (const PointF& p : l.points) FUZZ_CHECK(std::isfinite(p.x) && std::fabs(p.y) <= 90);
    for (const BusStation& s : l.stations) FUZZ_CHECK(!s.name.empty() && std::fabs(s.lat) <= 90);
  }
  SearchStations(ParseBusAnswer(text), ParseStationQuery(text));

  for (const auto& ring : ParseBoundaryRings(text)) {
    FUZZ_CHECK(ring.size() >= 2);
    for (const PointF& p : ring) FUZZ_CHECK(std::isfinite(p.x) && std::isfinite(p.y));
  }

  for (const WeatherItem& item : ParseWeatherRegion(text)) FUZZ_CHECK(!item.display.empty());
  const std::string_view element = FindWeatherElement(text, "101120201");
  if (!element.empty()) FUZZ_CHECK(element.front() == '<' && element.back() == '>');
  return 0;
}
