// CSatKmlFeed: the shown satellites as live KML for the earth application. The orbit file "s.kml"
// holds one orbit line per satellite (360 points around the present moment) and a network link to
// "c.kml", which the worker "OrbitCalcThread" rewrites with each satellite's present position at
// its interval (1000 ms); the globe refreshes the link on the same interval, so the placemarks
// move. Both files are written whole under a temporary name and renamed (the KML file writer), so
// a reader never sees half a file.
//
// The set of satellites is changed on the user-interface thread and read by the worker, both under
// the feed's lock. A satellite is known by its number (the record's first field). Numbers go out
// locale-free; a satellite whose propagation gives no finite position is left out of the file it
// is being written to.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "terrain/sat_orbit.h"

namespace velmora {

inline constexpr char kSatOrbitFile[] = "s.kml";
inline constexpr char kSatPositionFile[] = "c.kml";
inline constexpr char kSatOrbitThreadName[] = "OrbitCalcThread";
inline constexpr unsigned kSatPositionIntervalMs = 1000;
inline constexpr unsigned kSatStopLimitMs = 3000;
// Points of an orbit line, and how many steps of it lie before the present moment.
inline constexpr int kSatOrbitPoints = 360;
inline constexpr int kSatOrbitStepsBefore = 120;

// The step of an orbit line in days: the orbital period (2π / mean motion, minutes) / 1440 / 360.
double SatOrbitStepDays(const SatElements& sat);
// The 360 Julian dates of an orbit line: from 120 steps before `now` on, one step apart.
std::vector<double> SatOrbitDates(const SatElements& sat, double now);

// The side-bar satellite library as the earth views see it: the satellites switched on.
class ISatelliteLibrary {
 public:
  virtual ~ISatelliteLibrary() = default;
  virtual std::vector<SatElements> ShownSatellites() const = 0;
};

class CSatKmlFeed {
 public:
  using Clock = std::function<double()>;  // the present moment as a Julian date (UTC)

  // The files go into `folder` (ending in '/').
  explicit CSatKmlFeed(std::string folder);
  ~CSatKmlFeed();
  CSatKmlFeed(const CSatKmlFeed&) = delete;
  CSatKmlFeed& operator=(const CSatKmlFeed&) = delete;

  // Tests: another clock than JulianDateNow, another interval than 1000 ms. Before Start.
  void SetClock(Clock clock) { clock_ = std::move(clock); }
  void SetInterval(unsigned ms) { interval_ms_ = ms; }

  // The set becomes the satellites of `shown`: those no longer in it are dropped, new ones added
  // (a copy each), kept ones left as they are.
  void Sync(const std::vector<SatElements>& shown);
  // Adds a copy of the satellite (`shown`) or drops it (not shown); true when the set changed.
  bool Show(const SatElements& sat, bool shown);
  size_t Count() const;
  std::vector<uint32_t> Numbers() const;
  void Clear();

  std::string OrbitPath() const { return folder_ + kSatOrbitFile; }
  std::string PositionPath() const { return folder_ + kSatPositionFile; }
  // Writes "s.kml" / "c.kml" for the set at the clock's present moment; false (reason in *error)
  // when the file could not be written (the old one then stays).
  bool WriteOrbitFile(std::string* error = nullptr);
  bool WritePositionFile(std::string* error = nullptr);

  // Starts "OrbitCalcThread" (false when it runs already or cannot start).
  bool Start();
  // Asks the thread to end and waits up to `ms`; false when it had not ended by then.
  bool Stop(unsigned ms = kSatStopLimitMs);
  bool IsRunning() const { return thread_.IsRunning(); }
  // Rewrites of "c.kml" by the thread so far.
  int Rewrites() const;

 private:
  struct Entry {
    SatElements sat;
    CSatOrbit orbit;
  };
  void Run();
  double Now() const { return clock_ ? clock_() : JulianDateNow(); }

  std::string folder_;
  Clock clock_;
  unsigned interval_ms_ = kSatPositionIntervalMs;
  mutable std::mutex mutex_;  // the satellite lock: guards entries_ and rewrites_
  std::vector<Entry> entries_;
  int rewrites_ = 0;
  CWorkThread thread_;
};

}  // namespace velmora
