// Satellite orbit model: element text parser, SGP4 propagation (near-earth equations, with the
// deep-space terms for periods of 225 minutes or more), sub-satellite point and date helpers.
// The equations and their numerical safeguards follow "Revisiting Spacetrack Report #3"
// (Vallado, Crawford, Hujsak, Kelso, 2006); the constants are the WGS-72 ones of the original
// report.
#include "terrain/sat_orbit.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/text.h"

namespace velmora {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
constexpr double kDegToRad = 0.017453292519943295;
constexpr double kRevPerDayToRadPerMin = 0.004363323129985824;  // 2π / 1440

// WGS-72, as the reference propagator has them. (A single-float earth radius, 6378.134765625,
// or a J2 of 0.0010826158 moves decaying orbits by up to hundreds of metres against it.)
constexpr double kAe = 6378.135;     // earth radius, km
constexpr double kMu = 398600.8;     // km³/s²
constexpr double kJ2 = 0.001082616;  // CK2 = J2 / 2 = 5.41308e-4
constexpr double kJ3 = -0.00000253881;
constexpr double kJ4 = -0.00000165597;  // 1.25 × CK4 = -0.46875 × J4, CK4 = 6.2098875e-7
constexpr double kJ3oJ2 = kJ3 / kJ2;    // -A3OVK2 / 2
constexpr double kCk4x125 = -0.46875 * kJ4;
constexpr double kE2 = 0.006694317778266723;  // flattening 1/298.26
constexpr double kAeE2 = kAe * kE2;
constexpr double kTwoThirds = 2.0 / 3.0;
// Divisor in place of 1 + cos i for inclinations within 1.5e-12 of 180 degrees.
constexpr double kInclinationDivisorFloor = 1.5e-12;

// XKE = sqrt(3600 µ / ae³) = 60 / sqrt(ae³ / µ): the mean motion unit, radians per minute.
const double kXke = 60.0 / std::sqrt(kAe * kAe * kAe / kMu);
const double kQoms2t = std::pow(42.0 / kAe, 4.0);  // ((120 - 78) / ae)⁴
const double kVelocityScale = kAe * kXke / 60.0;   // earth radii per XKE minute to km/s

// x reduced to [0, 2π).
inline double Mod2Pi(double x) { return x - std::floor(x / kTwoPi) * kTwoPi; }

// Angle of (cos, sin) in (-π/2, 3π/2]: atan(sin / cos), plus π when cos < 0. Every caller takes
// its sine and cosine or reduces it modulo 2π, except the stored right ascension of the position,
// which therefore lies in that range too (negative in the fourth quadrant).
inline double ArcTangent(double sin, double cos) {
  if (cos == 0.0) return sin > 0.0 ? kPi / 2.0 : 3.0 * kPi / 2.0;
  if (cos > 0.0) return std::atan(sin / cos);
  return std::atan(sin / cos) + kPi;
}

bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// Columns first..last (counted from 1) of a line; shorter lines give what they have.
std::string_view Columns(std::string_view line, size_t first, size_t last) {
  if (line.size() < first) return {};
  return line.substr(first - 1, std::min(line.size(), last) - (first - 1));
}

// A decimal field; a blank field is `blank_value` when given, else missing.
std::optional<double> NumberField(std::string_view line, size_t first, size_t last,
                                  std::optional<double> blank_value = std::nullopt) {
  std::string_view f = TrimAscii(Columns(line, first, last));
  if (f.empty()) return blank_value;
  return ParseDouble(f);
}

// Catalogue number: five digits, or a letter and four digits for numbers from 100000 (the
// letters I and O are not used).
std::optional<uint32_t> SatelliteNumberField(std::string_view line) {
  std::string_view f = TrimAscii(Columns(line, 3, 7));
  if (f.empty()) return std::nullopt;
  uint32_t base = 0;
  char c = f.front();
  if (c >= 'A' && c <= 'Z' && c != 'I' && c != 'O') {
    base = static_cast<uint32_t>(c - 'A' + 10);
    if (c > 'I') --base;
    if (c > 'O') --base;
    base *= 10000;
    f.remove_prefix(1);
    if (f.size() != 4) return std::nullopt;
  }
  uint32_t n = 0;
  auto r = std::from_chars(f.data(), f.data() + f.size(), n);
  if (r.ec != std::errc() || r.ptr != f.data() + f.size()) return std::nullopt;
  return base + n;
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

uint32_t RandomColor() {
  thread_local std::minstd_rand engine(std::random_device{}());
  uint32_t rgb = 0;
  for (int i = 0; i < 3; ++i) rgb = (rgb << 8) | static_cast<uint32_t>(engine() % 10 * 25 + 5);
  return 0xFF000000u | rgb;
}

std::string RandomIconPath() {
  thread_local std::minstd_rand engine(std::random_device{}());
  char name[32];
  std::snprintf(name, sizeof name, "images/sat%d.png", static_cast<int>(engine() % 5));
  return AppOptions().program_dir + name;
}

// ---- calendar ----------------------------------------------------------------------------------
// Days from 1970-01-01 of a proleptic Gregorian date (any month and day, normalised).
long long DaysFromCivil(long long y, long long m, long long d) {
  y += (m - 1) / 12;
  m = (m - 1) % 12 + 1;
  if (m <= 0) {
    m += 12;
    --y;
  }
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int* year, int* month, int* day) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const long long d = doy - (153 * mp + 2) / 5 + 1;
  const long long m = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int>(yoe + era * 400 + (m <= 2));
  *month = static_cast<int>(m);
  *day = static_cast<int>(d);
}

// The Julian date of January 0.0 of a year.
double JulianDateOfYear(int year) {
  const double y1 = year - 1;
  const double a = std::trunc(y1 / 100.0);
  const double b = 2.0 - a + std::trunc(a / 4.0);
  return std::trunc(365.25 * y1) + 428.0 + 1720994.5 + b;
}

constexpr double kUnixEpochJulian = 2440587.5;

}  // namespace

// ---- CSatOrbit ---------------------------------------------------------------------------------

CSatOrbit::CSatOrbit() : xke_(kXke), qoms2t_(kQoms2t) {}

CSatOrbit::CSatOrbit(const SatElements& elements) : CSatOrbit() { SetElements(elements); }

CSatOrbit::~CSatOrbit() = default;

int CSatOrbit::ParseTle(std::string_view text) { return ParseTle(text, nullptr); }

int CSatOrbit::ParseTle(std::string_view text, size_t* consumed) {
  size_t pos = 0;
  auto skip_ends = [&] {
    while (pos < text.size() && IsLineEnd(text[pos])) ++pos;
  };
  // The line from pos to the next CR or LF; false when the text ends first.
  auto read_line = [&](std::string_view* line) {
    size_t start = pos;
    while (pos < text.size() && !IsLineEnd(text[pos])) ++pos;
    *line = text.substr(start, pos - start);
    return pos < text.size();
  };
  auto looks_like = [](std::string_view line, char number) {
    return line.size() >= 2 && line[0] == number && line[1] == ' ';
  };

  skip_ends();
  std::string_view first, line1, line2;
  if (!read_line(&first)) return 0;
  std::string name;
  size_t after_first = pos;
  skip_ends();
  std::string_view probe;
  read_line(&probe);
  if (looks_like(first, '1') && looks_like(probe, '2')) {
    // A set without its name line.
    line1 = first;
    pos = after_first;
  } else {
    name = std::string(TrimAscii(first));
    pos = after_first;
    skip_ends();
    if (!read_line(&line1)) return 0;
  }
  skip_ends();
  read_line(&line2);  // the last line may end with the text
  if (!looks_like(line1, '1') || !looks_like(line2, '2')) return 0;
  // Every field the model needs must be there: line 1 to its drag term (column 61), line 2 to
  // the mean motion (column 63). The element set number (columns 65-68) reads as 0 when cut off.
  if (line1.size() < 61 || line2.size() < 63) return 0;

  SatElements e = elements_;
  auto number = SatelliteNumberField(line1);
  auto epoch = NumberField(line1, 19, 32);
  auto bstar_mantissa = NumberField(line1, 54, 59, 0.0);
  auto bstar_exponent = NumberField(line1, 60, 61, 0.0);
  auto element_set = NumberField(line1, 65, 68, 0.0);
  auto inclination = NumberField(line2, 9, 16);
  auto node = NumberField(line2, 18, 25);
  // The eccentricity's seven digits follow an implied decimal point; blanks count as zeros.
  std::string ecc_text(Columns(line2, 27, 33));
  for (char& c : ecc_text)
    if (c == ' ') c = '0';
  auto perigee = NumberField(line2, 35, 42);
  auto anomaly = NumberField(line2, 44, 51);
  auto motion = NumberField(line2, 53, 63);
  if (!number || !epoch || !bstar_mantissa || !bstar_exponent || !element_set || !inclination ||
      !node || !AllDigits(ecc_text) || !perigee || !anomaly || !motion)
    return 0;
  if (*epoch < 0.0 || *element_set < 0.0 || *element_set > 9999.0) return 0;
  auto ecc = ParseDouble(ecc_text);
  if (!ecc) return 0;

  e.satellite_number = *number;
  e.name = name.empty() ? std::string(TrimAscii(Columns(line1, 3, 7))) : name;
  e.epoch = *epoch;
  e.epoch_julian = TleEpochToJulian(*epoch);
  e.bstar = *bstar_mantissa * 1e-5 * std::pow(10.0, *bstar_exponent);
  e.element_set_number = static_cast<uint32_t>(*element_set);
  e.inclination = *inclination * kDegToRad;
  e.right_ascension = *node * kDegToRad;
  e.eccentricity = *ecc * 1e-7;
  e.argument_of_perigee = *perigee * kDegToRad;
  e.mean_anomaly = *anomaly * kDegToRad;
  e.mean_motion = *motion * kRevPerDayToRadPerMin;
  e.color = RandomColor();
  e.shown = 1;
  e.icon_path = RandomIconPath();

  SetElements(e);
  if (consumed) {
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    *consumed = pos;
  }
  return 1;
}

void CSatOrbit::SetElements(const SatElements& elements) {
  elements_ = elements;
  InitModel();
  last_ = SatState();
  last_status_ = kSatBadElements;
}

void CSatOrbit::InitModel() {
  const SatElements& el = elements_;
  init_status_ = kSatOk;
  deep_space_ = 0;
  simple_drag_ = false;
  ecco_ = el.eccentricity;
  inclo_ = el.inclination;
  nodeo_ = el.right_ascension;
  argpo_ = el.argument_of_perigee;
  mo_ = el.mean_anomaly;
  bstar_ = el.bstar;

  for (double v : {ecco_, inclo_, nodeo_, argpo_, mo_, bstar_, el.mean_motion, el.epoch_julian}) {
    if (!std::isfinite(v)) {
      init_status_ = kSatBadElements;
      return;
    }
  }
  if (!(el.mean_motion > 0.0)) {
    init_status_ = kSatMeanMotion;
    return;
  }
  if (ecco_ < 0.0 || ecco_ >= 1.0) {
    init_status_ = kSatEccentricity;
    return;
  }

  // ---- recover the original mean motion and semi-major axis from the Kozai mean motion ----
  const double eccsq = ecco_ * ecco_;
  const double omeosq = 1.0 - eccsq;
  const double rteosq = std::sqrt(omeosq);
  const double cosio = std::cos(inclo_);
  const double cosio2 = cosio * cosio;
  const double ak = std::pow(kXke / el.mean_motion, kTwoThirds);
  const double d1 = 0.75 * kJ2 * (3.0 * cosio2 - 1.0) / (rteosq * omeosq);
  double del = d1 / (ak * ak);
  const double adel = ak * (1.0 - del * del - del * (1.0 / 3.0 + 134.0 * del * del / 81.0));
  del = d1 / (adel * adel);
  no_ = el.mean_motion / (1.0 + del);

  const double ao = std::pow(kXke / no_, kTwoThirds);
  const double sinio = std::sin(inclo_);
  const double po = ao * omeosq;
  const double con42 = 1.0 - 5.0 * cosio2;
  con41_ = -con42 - cosio2 - cosio2;
  const double posq = po * po;
  const double rp = ao * (1.0 - ecco_);

  simple_drag_ = rp < 220.0 / kAe + 1.0;
  double sfour = 78.0 / kAe + 1.0;
  double qzms24 = kQoms2t;
  const double perigee = (rp - 1.0) * kAe;
  // Perigees below 156 km move the density reference height s (to 20 km below 98 km).
  if (perigee < 156.0) {
    sfour = perigee < 98.0 ? 20.0 : perigee - 78.0;
    const double q = (120.0 - sfour) / kAe;
    qzms24 = q * q * q * q;
    sfour = sfour / kAe + 1.0;
  }
  const double pinvsq = 1.0 / posq;
  const double tsi = 1.0 / (ao - sfour);
  eta_ = ao * ecco_ * tsi;
  const double etasq = eta_ * eta_;
  const double eeta = ecco_ * eta_;
  const double psisq = std::fabs(1.0 - etasq);
  const double coef = qzms24 * std::pow(tsi, 4.0);
  const double coef1 = coef / std::pow(psisq, 3.5);
  const double cc2 = coef1 * no_ *
                     (ao * (1.0 + 1.5 * etasq + eeta * (4.0 + etasq)) +
                      0.375 * kJ2 * tsi / psisq * con41_ * (8.0 + 3.0 * etasq * (8.0 + etasq)));
  cc1_ = bstar_ * cc2;
  // The eccentricity divides these two drag terms; a near-circular orbit has neither.
  double cc3 = 0.0;
  if (ecco_ > 1.0e-4) cc3 = -2.0 * coef * tsi * kJ3oJ2 * no_ * sinio / ecco_;
  x1mth2_ = 1.0 - cosio2;
  cc4_ = 2.0 * no_ * coef1 * ao * omeosq *
         (eta_ * (2.0 + 0.5 * etasq) + ecco_ * (0.5 + 2.0 * etasq) -
          kJ2 * tsi / (ao * psisq) *
              (-3.0 * con41_ * (1.0 - 2.0 * eeta + etasq * (1.5 - 0.5 * eeta)) +
               0.75 * x1mth2_ * (2.0 * etasq - eeta * (1.0 + etasq)) * std::cos(2.0 * argpo_)));
  cc5_ = 2.0 * coef1 * ao * omeosq * (1.0 + 2.75 * (etasq + eeta) + eeta * etasq);
  const double cosio4 = cosio2 * cosio2;
  const double temp1 = 1.5 * kJ2 * pinvsq * no_;
  const double temp2 = 0.5 * temp1 * kJ2 * pinvsq;
  const double temp3 = kCk4x125 * pinvsq * pinvsq * no_;
  mdot_ = no_ + 0.5 * temp1 * rteosq * con41_ +
          0.0625 * temp2 * rteosq * (13.0 - 78.0 * cosio2 + 137.0 * cosio4);
  argpdot_ = -0.5 * temp1 * con42 + 0.0625 * temp2 * (7.0 - 114.0 * cosio2 + 395.0 * cosio4) +
             temp3 * (3.0 - 36.0 * cosio2 + 49.0 * cosio4);
  const double xhdot1 = -temp1 * cosio;
  nodedot_ =
      xhdot1 + (0.5 * temp2 * (4.0 - 19.0 * cosio2) + 2.0 * temp3 * (3.0 - 7.0 * cosio2)) * cosio;
  omgcof_ = bstar_ * cc3 * std::cos(argpo_);
  xmcof_ = 0.0;
  if (ecco_ > 1.0e-4) xmcof_ = -kTwoThirds * coef * bstar_ / eeta;
  nodecf_ = 3.5 * omeosq * xhdot1 * cc1_;
  t2cof_ = 1.5 * cc1_;
  const double one_plus_cos =
      std::fabs(cosio + 1.0) > kInclinationDivisorFloor ? 1.0 + cosio : kInclinationDivisorFloor;
  xlcof_ = -0.25 * kJ3oJ2 * sinio * (3.0 + 5.0 * cosio) / one_plus_cos;
  aycof_ = -0.5 * kJ3oJ2 * sinio;
  const double delmotemp = 1.0 + eta_ * std::cos(mo_);
  delmo_ = delmotemp * delmotemp * delmotemp;
  sinmao_ = std::sin(mo_);
  x7thm1_ = 7.0 * cosio2 - 1.0;

  if (kTwoPi / no_ >= 225.0) {
    deep_space_ = 1;
    simple_drag_ = true;
    SatDeepSpaceInput in;
    in.epoch_days = el.epoch_julian - 2433281.5;
    in.gsto = GreenwichSiderealTime(el.epoch_julian);
    in.ecco = ecco_;
    in.inclo = inclo_;
    in.nodeo = nodeo_;
    in.argpo = argpo_;
    in.mo = mo_;
    in.no = no_;
    in.mdot = mdot_;
    in.argpdot = argpdot_;
    in.nodedot = nodedot_;
    in.xke = kXke;
    deep_.Init(in);
  }

  if (!simple_drag_) {
    const double cc1sq = cc1_ * cc1_;
    d2_ = 4.0 * ao * tsi * cc1sq;
    const double temp = d2_ * tsi * cc1_ / 3.0;
    d3_ = (17.0 * ao + sfour) * temp;
    d4_ = 0.5 * temp * ao * tsi * (221.0 * ao + 31.0 * sfour) * cc1_;
    t3cof_ = d2_ + 2.0 * cc1sq;
    t4cof_ = 0.25 * (3.0 * d3_ + cc1_ * (12.0 * d2_ + 10.0 * cc1sq));
    t5cof_ = 0.2 *
             (3.0 * d4_ + 12.0 * cc1_ * d3_ + 6.0 * d2_ * d2_ + 15.0 * cc1sq * (2.0 * d2_ + cc1sq));
  } else {
    d2_ = d3_ = d4_ = t3cof_ = t4cof_ = t5cof_ = 0.0;
  }

  for (double v :
       {no_, cc1_, cc4_, cc5_, mdot_, argpdot_, nodedot_, xmcof_, d2_, d3_, d4_, t5cof_, eta_}) {
    if (!std::isfinite(v)) {
      init_status_ = kSatBadElements;
      return;
    }
  }
}

SatStatus CSatOrbit::Propagate(double julian_date) {
  return PropagateMinutes((julian_date - elements_.epoch_julian) * 1440.0);
}

SatStatus CSatOrbit::PropagateMinutes(double t) {
  if (init_status_ != kSatOk) return last_status_ = init_status_;
  if (!std::isfinite(t)) return last_status_ = kSatBadElements;

  // ---- secular gravity and atmospheric drag ----
  const double xmdf = mo_ + mdot_ * t;
  const double argpdf = argpo_ + argpdot_ * t;
  const double nodedf = nodeo_ + nodedot_ * t;
  double argpm = argpdf;
  double mm = xmdf;
  const double t2 = t * t;
  double nodem = nodedf + nodecf_ * t2;
  double tempa = 1.0 - cc1_ * t;
  double tempe = bstar_ * cc4_ * t;
  double templ = t2cof_ * t2;
  if (!simple_drag_) {
    const double delomg = omgcof_ * t;
    const double delmtemp = 1.0 + eta_ * std::cos(xmdf);
    const double delm = xmcof_ * (delmtemp * delmtemp * delmtemp - delmo_);
    const double temp = delomg + delm;
    mm = xmdf + temp;
    argpm = argpdf - temp;
    const double t3 = t2 * t;
    const double t4 = t3 * t;
    tempa = tempa - d2_ * t2 - d3_ * t3 - d4_ * t4;
    tempe = tempe + bstar_ * cc5_ * (std::sin(mm) - sinmao_);
    templ = templ + t3cof_ * t3 + t4 * (t4cof_ + t * t5cof_);
  }

  double nm = no_;
  double em = ecco_;
  double inclm = inclo_;
  if (deep_space_) {
    SatMeanElements m{em, argpm, inclm, mm, nodem, nm};
    deep_.Secular(t, &m);
    em = m.em;
    argpm = m.argpm;
    inclm = m.inclm;
    mm = m.mm;
    nodem = m.nodem;
    nm = m.nm;
  }
  if (!(nm > 0.0)) return last_status_ = kSatMeanMotion;

  const double ratio = kXke / nm;
  const double am = std::cbrt(ratio * ratio) * tempa * tempa;
  nm = kXke / (am * std::sqrt(am));
  em = em - tempe;
  if (!(em < 1.0 && em >= -0.001)) return last_status_ = kSatEccentricity;
  if (em < 1.0e-6) em = 1.0e-6;
  mm = mm + no_ * templ;
  double xlm = mm + argpm + nodem;

  // The node keeps its sign here: the low-inclination periodics below use its value itself.
  nodem = std::fmod(nodem, kTwoPi);
  argpm = Mod2Pi(argpm);
  xlm = Mod2Pi(xlm);
  mm = Mod2Pi(xlm - argpm - nodem);

  // ---- lunar-solar periodics ----
  double ep = em;
  double xincp = inclm;
  double argpp = argpm;
  double nodep = nodem;
  double mp = mm;
  double sinip, cosip;
  double aycof = aycof_, xlcof = xlcof_, con41 = con41_, x1mth2 = x1mth2_, x7thm1 = x7thm1_;
  if (deep_space_) {
    deep_.Periodics(t, &ep, &xincp, &nodep, &argpp, &mp);
    if (xincp < 0.0) {
      xincp = -xincp;
      nodep += kPi;
      argpp -= kPi;
    }
    if (ep < 0.0 || ep > 1.0) return last_status_ = kSatPerturbedEccentricity;
    sinip = std::sin(xincp);
    cosip = std::cos(xincp);
    aycof = -0.5 * kJ3oJ2 * sinip;
    const double one_plus_cos =
        std::fabs(cosip + 1.0) > kInclinationDivisorFloor ? 1.0 + cosip : kInclinationDivisorFloor;
    xlcof = -0.25 * kJ3oJ2 * sinip * (3.0 + 5.0 * cosip) / one_plus_cos;
    const double cosisq = cosip * cosip;
    con41 = 3.0 * cosisq - 1.0;
    x1mth2 = 1.0 - cosisq;
    x7thm1 = 7.0 * cosisq - 1.0;
  } else {
    sinip = std::sin(inclm);
    cosip = std::cos(inclm);
  }

  // ---- long-period periodics ----
  const double axnl = ep * std::cos(argpp);
  double temp = 1.0 / (am * (1.0 - ep * ep));
  const double aynl = ep * std::sin(argpp) + temp * aycof;
  const double xl = mp + argpp + nodep + temp * xlcof * axnl;

  // ---- Kepler's equation: Newton steps limited to 0.95 rad so that very eccentric orbits do
  // not diverge; the sine and cosine are those of the final anomaly ----
  const double u = Mod2Pi(xl - nodep);
  double eo1 = u;
  double sineo1 = 0, coseo1 = 0, step = 0;
  bool converged = false;
  for (int k = 0; k < 10; ++k) {
    sineo1 = std::sin(eo1);
    coseo1 = std::cos(eo1);
    step = (u - aynl * coseo1 + axnl * sineo1 - eo1) / (1.0 - coseo1 * axnl - sineo1 * aynl);
    if (std::fabs(step) >= 0.95) step = step > 0.0 ? 0.95 : -0.95;
    eo1 += step;
    if (std::fabs(step) <= 1.0e-6) {
      converged = true;
      break;
    }
  }
  if (converged) {
    // sin and cos of eo1 from those before the last step (|step| ≤ 1e-6: second order suffices).
    const double half_sq = 0.5 * step * step;
    const double s = sineo1 + coseo1 * step - sineo1 * half_sq;
    const double c = coseo1 - sineo1 * step - coseo1 * half_sq;
    sineo1 = s;
    coseo1 = c;
  } else {
    sineo1 = std::sin(eo1);
    coseo1 = std::cos(eo1);
  }

  // ---- short-period preliminary quantities ----
  const double ecose = axnl * coseo1 + aynl * sineo1;
  const double esine = axnl * sineo1 - aynl * coseo1;
  const double el2 = axnl * axnl + aynl * aynl;
  const double pl = am * (1.0 - el2);
  if (!(pl >= 0.0)) return last_status_ = kSatSemiLatusRectum;

  const double rl = am * (1.0 - ecose);
  const double rdotl = std::sqrt(am) * esine / rl;
  const double rvdotl = std::sqrt(pl) / rl;
  const double betal = std::sqrt(1.0 - el2);
  temp = esine / (1.0 + betal);
  const double sinu = am / rl * (sineo1 - aynl - axnl * temp);
  const double cosu = am / rl * (coseo1 - axnl + aynl * temp);
  double su = ArcTangent(sinu, cosu);
  const double sin2u = (cosu + cosu) * sinu;
  const double cos2u = 1.0 - 2.0 * sinu * sinu;
  temp = 1.0 / pl;
  const double temp1 = 0.5 * kJ2 * temp;
  const double temp2 = temp1 * temp;

  // ---- short-period periodics ----
  const double mrt = rl * (1.0 - 1.5 * temp2 * betal * con41) + 0.5 * temp1 * x1mth2 * cos2u;
  su = su - 0.25 * temp2 * x7thm1 * sin2u;
  const double xnode = nodep + 1.5 * temp2 * cosip * sin2u;
  const double xinc = xincp + 1.5 * temp2 * cosip * sinip * cos2u;
  const double mvt = rdotl - nm * temp1 * x1mth2 * sin2u / kXke;
  const double rvdot = rvdotl + nm * temp1 * (x1mth2 * cos2u + 1.5 * con41) / kXke;

  // ---- orientation vectors ----
  const double sinsu = std::sin(su), cossu = std::cos(su);
  const double snod = std::sin(xnode), cnod = std::cos(xnode);
  const double sini = std::sin(xinc), cosi = std::cos(xinc);
  const double xmx = -snod * cosi;
  const double xmy = cnod * cosi;
  const double ux = xmx * sinsu + cnod * cossu;
  const double uy = xmy * sinsu + snod * cossu;
  const double uz = sini * sinsu;
  const double vx = xmx * cossu - cnod * sinsu;
  const double vy = xmy * cossu - snod * sinsu;
  const double vz = sini * cossu;

  if (mrt < 1.0) return last_status_ = kSatDecayed;

  const double rkm = mrt * kAe;
  const double vscale = kVelocityScale;
  SatState s = last_;
  s.x = rkm * ux;
  s.y = rkm * uy;
  s.z = rkm * uz;
  s.vx = (mvt * ux + rvdot * vx) * vscale;
  s.vy = (mvt * uy + rvdot * vy) * vscale;
  s.vz = (mvt * uz + rvdot * vz) * vscale;
  s.r = std::sqrt(s.x * s.x + s.y * s.y + s.z * s.z);
  s.v = std::sqrt(s.vx * s.vx + s.vy * s.vy + s.vz * s.vz);
  if (!std::isfinite(s.r) || !std::isfinite(s.v)) return last_status_ = kSatBadElements;
  last_ = s;
  return last_status_ = kSatOk;
}

void CSatOrbit::ComputeGeodetic(double julian_date) {
  const double theta = ArcTangent(last_.y, last_.x);
  const double gmst = GreenwichSiderealTime(julian_date);
  double latitude = 0, height = 0;
  GeodeticLatitudeHeight(std::sqrt(last_.x * last_.x + last_.y * last_.y), last_.z, &latitude,
                         &height);
  last_.julian_date = julian_date;
  last_.longitude = SiderealToLongitude(theta, gmst);
  last_.latitude = latitude;
  last_.height = height;
  last_.right_ascension = theta;
}

bool CSatOrbit::ComputeAt(double julian_date) {
  if (!std::isfinite(julian_date)) {
    last_status_ = kSatBadElements;
    return false;
  }
  const SatState before = last_;
  if (Propagate(julian_date) != kSatOk) return false;
  ComputeGeodetic(julian_date);
  if (!std::isfinite(last_.latitude) || !std::isfinite(last_.longitude) ||
      !std::isfinite(last_.height)) {
    last_ = before;
    last_status_ = kSatBadElements;
    return false;
  }
  return true;
}

void CSatOrbit::GetXYZ(float* x, float* y, float* z) const {
  LngLatToXYZ(static_cast<float>(last_.longitude), static_cast<float>(last_.latitude),
              static_cast<float>(last_.height), x, y, z);
}

// ---- dates -------------------------------------------------------------------------------------

int TleEpochYear(double epoch) {
  // Epochs are below 100000; anything else (not a number, out of range) keeps two digits too.
  double years = std::trunc(epoch * 0.001);
  if (!(years >= 0.0 && years < 100.0))
    years = std::isfinite(years) ? std::fmod(std::fabs(years), 100.0) : 0.0;
  const int yy = static_cast<int>(years);
  return yy < 57 ? 2000 + yy : 1900 + yy;
}

double DateToTleEpoch(int year, int month, int day, int hour, int minute, double second) {
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  static const int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
  int day_of_year = kDaysBefore[month - 1] + day;
  if (month > 2 && year % 4 == 0) ++day_of_year;
  int yy = year % 100;
  if (yy < 0) yy += 100;
  return yy * 1000.0 + day_of_year + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

void TleEpochToDate(double epoch, int* year, int* month, int* day, int* hour, int* minute,
                    int* second) {
  if (!std::isfinite(epoch) || epoch < 0.0) epoch = 0.0;
  const int start_year = TleEpochYear(epoch);
  const double whole = std::trunc(epoch);
  long long day_number = static_cast<long long>(std::fmod(whole, 1000.0));
  long long seconds = static_cast<long long>(std::trunc((epoch - whole) * 86400.0 + 0.45));
  // A fraction that rounds up to a whole day is midnight of the next day, not 24:00:00.
  day_number += seconds / 86400;
  seconds %= 86400;
  // Day n of the year is January n; numbers past the year's end run on into the next year.
  CivilFromDays(DaysFromCivil(start_year, 1, 1) + day_number - 1, year, month, day);
  *hour = static_cast<int>(seconds / 3600);
  *minute = static_cast<int>(seconds % 3600 / 60);
  *second = static_cast<int>(seconds % 60);
}

double TleEpochToJulian(double epoch) {
  return JulianDateOfYear(TleEpochYear(epoch)) + std::fmod(epoch, 1000.0);
}

double JulianDateFromUtc(int year, int month, int day, int hour, int minute, double second) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day));
  return kUnixEpochJulian + days + (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

double JulianDateNow() {
  const auto now = std::chrono::system_clock::now();
  const long long ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const long long day = (ms >= 0 ? ms : ms - 86399999) / 86400000;
  const long long ms_of_day = ms - day * 86400000;
  return kUnixEpochJulian + static_cast<double>(day) + static_cast<double>(ms_of_day) / 86400000.0;
}

// ---- earth orientation and geodesy --------------------------------------------------------------

double GreenwichSiderealTime(double julian_date) {
  // Seconds of sidereal time (IAU 1982) from the date's 0h UT plus the turn since then.
  const double ut = (julian_date + 0.5) - std::floor(julian_date + 0.5);
  const double t = (julian_date - ut - 2451545.0) / 36525.0;
  double g = 24110.54841 + t * (8640184.812866 + t * (0.093104 - t * 6.2e-6));
  g = g + 86636.555366976 * ut;
  g = g - std::floor(g / 86400.0) * 86400.0;
  return g * 7.27220521664304e-5;
}

double SiderealToLongitude(double theta, double gmst) {
  double longitude = Mod2Pi(theta - gmst) / kDegToRad;
  if (longitude > 180.0) longitude -= 360.0;
  return longitude;
}

void GeodeticLatitudeHeight(double rxy, double z, double* latitude, double* height) {
  double phi = std::atan2(z, rxy);
  double c = 1.0;
  for (int i = 0; i < 50; ++i) {
    const double s = std::sin(phi);
    c = 1.0 / std::sqrt(1.0 - kE2 * s * s);
    const double next = std::atan2(z + kAeE2 * c * s, rxy);
    const double change = std::fabs(next - phi);
    phi = next;
    if (change < 1e-10) break;
  }
  const double s = std::sin(phi);
  c = 1.0 / std::sqrt(1.0 - kE2 * s * s);
  const double cosphi = std::cos(phi);
  // Near the poles r / cos φ loses all precision (and is 0/0 over them): use z instead.
  if (std::fabs(cosphi) > 0.1)
    *height = rxy / cosphi - kAe * c;
  else
    *height = z / s - kAe * c * (1.0 - kE2);
  *latitude = phi / kDegToRad;
}

}  // namespace velmora
