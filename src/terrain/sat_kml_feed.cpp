// The live satellite KML of the earth application: orbit lines, present positions, the worker.
#include "terrain/sat_kml_feed.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "core/log.h"
#include "exchange/kml_file.h"

namespace velmora {

namespace {

std::string Triple(double lng, double lat, double height_m) {
  return FormatFixed(lng, 6) + "," + FormatFixed(lat, 6) + "," + FormatFixed(height_m, 6);
}

// Position of the orbit at the date: false when the model gives none or a number is not finite.
bool PositionAt(CSatOrbit& orbit, double jd, double* lng, double* lat, double* height_m) {
  if (!orbit.ComputeAt(jd)) return false;
  const SatState& s = orbit.Last();
  *lng = s.longitude;
  *lat = s.latitude;
  *height_m = s.height * 1000.0;
  return std::isfinite(*lng) && std::isfinite(*lat) && std::isfinite(*height_m);
}

}  // namespace

double SatOrbitStepDays(const SatElements& sat) {
  if (!(sat.mean_motion > 0)) return 0;
  return (2 * M_PI / sat.mean_motion) / 1440.0 / 360.0;
}

std::vector<double> SatOrbitDates(const SatElements& sat, double now) {
  const double step = SatOrbitStepDays(sat);
  std::vector<double> dates;
  if (!(step > 0) || !std::isfinite(now)) return dates;
  dates.reserve(kSatOrbitPoints);
  const double first = now - kSatOrbitStepsBefore * step;
  for (int i = 0; i < kSatOrbitPoints; ++i) dates.push_back(first + i * step);
  return dates;
}

CSatKmlFeed::CSatKmlFeed(std::string folder) : folder_(std::move(folder)) {}

CSatKmlFeed::~CSatKmlFeed() { Stop(); }

void CSatKmlFeed::Sync(const std::vector<SatElements>& shown) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [&shown](const Entry& e) {
    return std::none_of(shown.begin(), shown.end(),
                        [&e](const SatElements& s) { return s.satellite_number == e.sat.satellite_number; });
  });
  for (const SatElements& s : shown) {
    const bool known = std::any_of(entries_.begin(), entries_.end(),
                                   [&s](const Entry& e) { return e.sat.satellite_number == s.satellite_number; });
    if (!known) entries_.push_back(Entry{s, CSatOrbit(s)});
  }
}

bool CSatKmlFeed::Show(const SatElements& sat, bool shown) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(entries_.begin(), entries_.end(),
                         [&sat](const Entry& e) { return e.sat.satellite_number == sat.satellite_number; });
  if (it != entries_.end() && !shown) {
    entries_.erase(it);
    return true;
  }
  if (it == entries_.end() && shown) {
    entries_.push_back(Entry{sat, CSatOrbit(sat)});
    return true;
  }
  return false;
}

size_t CSatKmlFeed::Count() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::vector<uint32_t> CSatKmlFeed::Numbers() const {
  std::lock_guard lock(mutex_);
  std::vector<uint32_t> out;
  for (const Entry& e : entries_) out.push_back(e.sat.satellite_number);
  return out;
}

void CSatKmlFeed::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

bool CSatKmlFeed::WriteOrbitFile(std::string* error) {
  FILE* f = OpenKmlFile(OrbitPath(), {}, error);
  if (!f) return false;
  std::fputs("<NetworkLink><name>orbit</name><refreshVisibility>1</refreshVisibility>\n", f);
  std::fprintf(f, "<Link><href>%s</href><refreshMode>onInterval</refreshMode>\n", kSatPositionFile);
  std::fputs("<refreshInterval>1</refreshInterval><viewRefreshTime>1</viewRefreshTime>", f);
  std::fputs("</Link></NetworkLink>\n", f);
  const double now = Now();
  {
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_) {
      std::string points;
      bool ok = true;
      for (double jd : SatOrbitDates(e.sat, now)) {
        double lng, lat, h;
        if (!PositionAt(e.orbit, jd, &lng, &lat, &h)) {
          ok = false;
          break;
        }
        points += Triple(lng, lat, h) + " ";
      }
      if (!ok || points.empty()) {
        AppLog("satellite %u (%s): no orbit line (no position)", e.sat.satellite_number, e.sat.name.c_str());
        continue;
      }
      std::fputs("<Placemark>\n", f);
      std::fprintf(f, "<name>%s</name>\n", KmlEscape(e.sat.name).c_str());
      // KML colours run alpha, blue, green, red.
      std::fprintf(f, "<Style><LineStyle> <color>%s</color> <width>2</width> </LineStyle></Style>\n",
                   KmlColor(e.sat.color).c_str());
      std::fputs("<LineString>\n<altitudeMode>relativeToGround</altitudeMode>\n<coordinates>\n", f);
      std::fputs(points.c_str(), f);
      std::fputs("</coordinates>\n</LineString>\n</Placemark>\n", f);
    }
  }
  return CloseKmlFile(f, error);
}

bool CSatKmlFeed::WritePositionFile(std::string* error) {
  FILE* f = OpenKmlFile(PositionPath(), {}, error);
  if (!f) return false;
  const double now = Now();
  {
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_) {
      double lng, lat, h;
      if (!PositionAt(e.orbit, now, &lng, &lat, &h)) continue;
      std::fputs("<Placemark>\n", f);
      std::fprintf(f, "<name>%s</name>\n", KmlEscape(e.sat.name).c_str());
      if (!e.sat.icon_path.empty())
        std::fprintf(f, "<Style><IconStyle><scale>10</scale><Icon><href>%s</href></Icon></IconStyle></Style>\n",
                     KmlEscape(e.sat.icon_path).c_str());
      std::fputs("<Point>\n<altitudeMode>relativeToGround</altitudeMode>\n", f);
      std::fprintf(f, "<coordinates>%s</coordinates>\n", Triple(lng, lat, h).c_str());
      std::fputs("</Point>\n</Placemark>\n", f);
    }
  }
  return CloseKmlFile(f, error);
}

bool CSatKmlFeed::Start() {
  return thread_.Start(kSatOrbitThreadName, [this] { Run(); });
}

bool CSatKmlFeed::Stop(unsigned ms) { return thread_.Stop(ms); }

int CSatKmlFeed::Rewrites() const {
  std::lock_guard lock(mutex_);
  return rewrites_;
}

void CSatKmlFeed::Run() {
  thread_.SignalReady();
  do {
    std::string error;
    if (WritePositionFile(&error)) {
      std::lock_guard lock(mutex_);
      ++rewrites_;
    } else {
      AppLog("%s: %s", kSatPositionFile, error.c_str());
    }
  } while (!thread_.WaitQuit(interval_ms_));
}

}  // namespace velmora
