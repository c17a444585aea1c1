// Deep-space terms of the orbit model for periods of 225 minutes or more: the secular and
// long-period perturbations by the moon and the sun, and the geopotential resonance of
// half-day (12 h) and one-day (24 h) orbits integrated from the epoch.
#pragma once

namespace velmora {

// What the deep-space set-up takes from the near-earth one.
struct SatDeepSpaceInput {
  double epoch_days = 0;  // days since 1950 January 0.0 (Julian date - 2433281.5)
  double gsto = 0;        // Greenwich sidereal time at the epoch, radians
  double ecco = 0, inclo = 0, nodeo = 0, argpo = 0, mo = 0;  // mean elements at the epoch
  double no = 0;  // mean motion with the Kozai correction removed, radians per minute
  double mdot = 0, argpdot = 0, nodedot = 0;  // secular rates of the near-earth model
  double xke = 0;
};

// The mean elements that the secular step updates.
struct SatMeanElements {
  double em = 0, argpm = 0, inclm = 0, mm = 0, nodem = 0, nm = 0;
};

class CSatDeepSpace {
 public:
  void Init(const SatDeepSpaceInput& in);

  // Lunar-solar secular rates and the resonance integration to t minutes after the epoch.
  // Not const: the integrator keeps its last step so that moving on in time does not start
  // again from the epoch (the result is the same either way).
  void Secular(double t, SatMeanElements* m);

  // Long-period lunar-solar periodics at t minutes after the epoch, applied to the elements.
  void Periodics(double t, double* ep, double* inclp, double* nodep, double* argpp,
                 double* mp) const;

 private:
  // Long-period periodic coefficients (solar, then lunar).
  double se2_ = 0, se3_ = 0, si2_ = 0, si3_ = 0, sl2_ = 0, sl3_ = 0, sl4_ = 0;
  double sgh2_ = 0, sgh3_ = 0, sgh4_ = 0, sh2_ = 0, sh3_ = 0;
  double ee2_ = 0, e3_ = 0, xi2_ = 0, xi3_ = 0, xl2_ = 0, xl3_ = 0, xl4_ = 0;
  double xgh2_ = 0, xgh3_ = 0, xgh4_ = 0, xh2_ = 0, xh3_ = 0;
  double zmol_ = 0, zmos_ = 0;
  // Secular rates.
  double dedt_ = 0, didt_ = 0, dmdt_ = 0, dnodt_ = 0, domdt_ = 0;
  // Resonance: 0 none, 1 one-day, 2 half-day.
  int irez_ = 0;
  double d2201_ = 0, d2211_ = 0, d3210_ = 0, d3222_ = 0, d4410_ = 0;
  double d4422_ = 0, d5220_ = 0, d5232_ = 0, d5421_ = 0, d5433_ = 0;
  double del1_ = 0, del2_ = 0, del3_ = 0;
  double xfact_ = 0, xlamo_ = 0;
  double gsto_ = 0, no_ = 0, argpo_ = 0, argpdot_ = 0;
  // Integrator state: time (minutes), mean longitude and mean motion reached.
  double atime_ = 0, xli_ = 0, xni_ = 0;
};

}  // namespace velmora
