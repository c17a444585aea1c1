// Satellite orbit model: the two-line element record SatElements, CSatOrbit (element text parser,
// SGP4 propagation with the deep-space terms for long periods, sub-satellite point on the WGS-72
// ellipsoid) and the epoch and Julian date helpers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "terrain/sat_deep_space.h"

namespace velmora {

// Why a propagation gave no position. The numbers are those of the reference propagator.
enum SatStatus : int {
  kSatOk = 0,
  kSatEccentricity = 1,           // mean eccentricity left [0, 1) (drag took it out of range)
  kSatMeanMotion = 2,             // mean motion 0 or below
  kSatPerturbedEccentricity = 3,  // eccentricity with the lunar-solar periodics outside [0, 1]
  kSatSemiLatusRectum = 4,        // negative semi-latus rectum
  kSatDecayed = 6,                // the orbit has come below the earth's surface
  kSatBadElements = 7,            // elements unusable (not numbers, out of range) or no result
};

// One satellite's element set. The satellite library, the 3D objects and the orbit threads copy
// it whole.
struct SatElements {
  uint32_t satellite_number = 0;
  std::string name;
  double inclination = 0;      // radians
  double right_ascension = 0;  // of the ascending node, radians
  double eccentricity = 0;
  double argument_of_perigee = 0;  // radians
  double mean_anomaly = 0;         // radians
  double mean_motion = 0;          // radians per minute
  double epoch = 0;                // YYDDD.DDDDDDDD as read
  double bstar = 0;                // drag term, 1 / earth radii
  uint32_t element_set_number = 0;
  double epoch_julian = 0;      // the epoch as a Julian date (UTC)
  uint32_t color = 0xFF000000;  // ARGB
  uint32_t shown = 0;
  std::string icon_path;
};

// The last computed position.
struct SatState {
  double julian_date = 0;
  double latitude = 0;                   // degrees, geodetic on the WGS-72 ellipsoid
  double longitude = 0;                  // degrees, (-180, 180]
  double height = 0;                     // km above the ellipsoid
  double right_ascension = 0;            // of the position, radians (-π/2, 3π/2]
  double x = 0, y = 0, z = 0, r = 0;     // km, true equator mean equinox frame
  double vx = 0, vy = 0, vz = 0, v = 0;  // km/s
};

class CSatOrbit {
 public:
  CSatOrbit();
  explicit CSatOrbit(const SatElements& elements);
  virtual ~CSatOrbit();

  // Reads a name line and the two element lines (a set without the name line is read too, and
  // named by its satellite number). Returns 1 when read, 0 when rejected; a rejected text leaves
  // the object as it was. `consumed`, when given, receives the bytes read, up to and including
  // the line end of the second element line.
  int ParseTle(std::string_view text);
  int ParseTle(std::string_view text, size_t* consumed);

  // Takes an element record (from the satellite library) and prepares the model for it.
  void SetElements(const SatElements& elements);
  const SatElements& Elements() const { return elements_; }

  // Position and velocity at the Julian date (UTC) / at minutes since the epoch. On a failure the
  // status tells why and the last result is left unchanged.
  SatStatus Propagate(double julian_date);
  SatStatus PropagateMinutes(double minutes_since_epoch);
  // Longitude, latitude, height and right ascension of the last position at the Julian date.
  void ComputeGeodetic(double julian_date);
  // Propagate, then ComputeGeodetic. False (and the last result unchanged) when the model gives
  // no position at that date; see LastStatus().
  bool ComputeAt(double julian_date);
  // The last longitude, latitude and height as a point of the 3D globe.
  void GetXYZ(float* x, float* y, float* z) const;

  const SatState& Last() const { return last_; }
  SatStatus LastStatus() const { return last_status_; }
  bool IsDeepSpace() const { return deep_space_ != 0; }
  double Xke() const { return xke_; }
  double Qoms2t() const { return qoms2t_; }

 private:
  void InitModel();

  SatElements elements_;
  double xke_;
  double qoms2t_;
  uint32_t deep_space_ = 0;
  SatState last_;
  SatStatus last_status_ = kSatBadElements;

  // Model state prepared from the elements.
  SatStatus init_status_ = kSatBadElements;
  bool simple_drag_ = false;  // perigee below 220 km or deep space: drop the higher drag terms
  double ecco_ = 0, inclo_ = 0, nodeo_ = 0, argpo_ = 0, mo_ = 0, bstar_ = 0;
  double no_ = 0;  // mean motion without the Kozai correction, radians per minute
  double con41_ = 0, cc1_ = 0, cc4_ = 0, cc5_ = 0, d2_ = 0, d3_ = 0, d4_ = 0;
  double delmo_ = 0, eta_ = 0, argpdot_ = 0, omgcof_ = 0, sinmao_ = 0;
  double t2cof_ = 0, t3cof_ = 0, t4cof_ = 0, t5cof_ = 0;
  double x1mth2_ = 0, x7thm1_ = 0, mdot_ = 0, nodedot_ = 0;
  double xlcof_ = 0, xmcof_ = 0, nodecf_ = 0, aycof_ = 0;
  CSatDeepSpace deep_;
};

// ---- dates ------------------------------------------------------------------------------------
// Two-digit epoch years below 57 are 20YY, the others 19YY.
int TleEpochYear(double epoch);
// Date and time (UTC) to YYDDD.fraction.
double DateToTleEpoch(int year, int month, int day, int hour, int minute, double second);
// YYDDD.fraction to date and time, seconds rounded to whole ones (a time that rounds to 24:00:00
// is 00:00:00 of the next day; day numbers past the year's end run into the next year).
void TleEpochToDate(double epoch, int* year, int* month, int* day, int* hour, int* minute,
                    int* second);
// YYDDD.fraction to a Julian date.
double TleEpochToJulian(double epoch);
// The Julian date of a date and time (UTC) with any year, straight from the calendar.
double JulianDateFromUtc(int year, int month, int day, int hour, int minute, double second);
// The Julian date of the present moment (UTC), to the millisecond.
double JulianDateNow();

// ---- earth orientation and geodesy --------------------------------------------------------------
// Greenwich mean sidereal time at a Julian date (UT), radians [0, 2π).
double GreenwichSiderealTime(double julian_date);
// Longitude in degrees from the right ascension of a position and the sidereal time (radians):
// (theta - gmst) reduced to [0, 360), then values above 180 less 360.
double SiderealToLongitude(double theta, double gmst);
// Latitude (degrees) and height (km) above the WGS-72 ellipsoid of a point at distance `rxy`
// from the earth's axis and `z` above the equator (km).
void GeodeticLatitudeHeight(double rxy, double z, double* latitude, double* height);

}  // namespace velmora
