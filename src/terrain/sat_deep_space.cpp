// Deep-space terms of the orbit model (lunar-solar perturbations and geopotential resonance),
// after the published deep-space equations with the corrections of "Revisiting Spacetrack
// Report #3" (Vallado, Crawford, Hujsak, Kelso, 2006).
#include "terrain/sat_deep_space.h"

#include <cmath>

namespace velmora {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;

// Lunar and solar constants.
constexpr double kZes = 0.01675;
constexpr double kZel = 0.05490;
constexpr double kC1ss = 2.9864797e-6;
constexpr double kC1l = 4.7968065e-7;
constexpr double kZsinis = 0.39785416;
constexpr double kZcosis = 0.91744867;
constexpr double kZcosgs = 0.1945905;
constexpr double kZsings = -0.98088458;
constexpr double kZns = 1.19459e-5;
constexpr double kZnl = 1.5835218e-4;

// Resonance constants.
constexpr double kQ22 = 1.7891679e-6;
constexpr double kQ31 = 2.1460748e-6;
constexpr double kQ33 = 2.2123015e-7;
constexpr double kRoot22 = 1.7891679e-6;
constexpr double kRoot44 = 7.3636953e-9;
constexpr double kRoot54 = 2.1765803e-9;
constexpr double kRoot32 = 3.7393792e-7;
constexpr double kRoot52 = 1.1428639e-7;
constexpr double kRptim = 4.37526908801129966e-3;  // earth rotation, radians per minute
constexpr double kFasx2 = 0.13130908;
constexpr double kFasx4 = 2.8843198;
constexpr double kFasx6 = 0.37448087;
constexpr double kG22 = 5.7686396;
constexpr double kG32 = 0.95240898;
constexpr double kG44 = 1.8014998;
constexpr double kG52 = 1.0508330;
constexpr double kG54 = 4.4108898;
constexpr double kStep = 720.0;      // integrator step, minutes
constexpr double kStep2 = 259200.0;  // kStep² / 2

// Inclinations this close to 0 or 180 degrees drop the node terms (the division by sin i).
constexpr double kNodeInclinationLimit = 5.2359877e-2;

// The terms of one perturbing body (sun or moon) at the epoch.
struct BodyTerms {
  double s1, s2, s3, s4, s5, s6, s7;
  double z1, z2, z3, z11, z12, z13, z21, z22, z23, z31, z32, z33;
};

BodyTerms ComputeBodyTerms(double zcosg, double zsing, double zcosi, double zsini, double zcosh,
                           double zsinh, double cc, double xnoi, double em, double emsq,
                           double betasq, double rtemsq, double sinim, double cosim, double sinomm,
                           double cosomm) {
  BodyTerms b;
  double a1 = zcosg * zcosh + zsing * zcosi * zsinh;
  double a3 = -zsing * zcosh + zcosg * zcosi * zsinh;
  double a7 = -zcosg * zsinh + zsing * zcosi * zcosh;
  double a8 = zsing * zsini;
  double a9 = zsing * zsinh + zcosg * zcosi * zcosh;
  double a10 = zcosg * zsini;
  double a2 = cosim * a7 + sinim * a8;
  double a4 = cosim * a9 + sinim * a10;
  double a5 = -sinim * a7 + cosim * a8;
  double a6 = -sinim * a9 + cosim * a10;

  double x1 = a1 * cosomm + a2 * sinomm;
  double x2 = a3 * cosomm + a4 * sinomm;
  double x3 = -a1 * sinomm + a2 * cosomm;
  double x4 = -a3 * sinomm + a4 * cosomm;
  double x5 = a5 * sinomm;
  double x6 = a6 * sinomm;
  double x7 = a5 * cosomm;
  double x8 = a6 * cosomm;

  b.z31 = 12.0 * x1 * x1 - 3.0 * x3 * x3;
  b.z32 = 24.0 * x1 * x2 - 6.0 * x3 * x4;
  b.z33 = 12.0 * x2 * x2 - 3.0 * x4 * x4;
  b.z1 = 3.0 * (a1 * a1 + a2 * a2) + b.z31 * emsq;
  b.z2 = 6.0 * (a1 * a3 + a2 * a4) + b.z32 * emsq;
  b.z3 = 3.0 * (a3 * a3 + a4 * a4) + b.z33 * emsq;
  b.z11 = -6.0 * a1 * a5 + emsq * (-24.0 * x1 * x7 - 6.0 * x3 * x5);
  b.z12 =
      -6.0 * (a1 * a6 + a3 * a5) + emsq * (-24.0 * (x2 * x7 + x1 * x8) - 6.0 * (x3 * x6 + x4 * x5));
  b.z13 = -6.0 * a3 * a6 + emsq * (-24.0 * x2 * x8 - 6.0 * x4 * x6);
  b.z21 = 6.0 * a2 * a5 + emsq * (24.0 * x1 * x5 - 6.0 * x3 * x7);
  b.z22 =
      6.0 * (a4 * a5 + a2 * a6) + emsq * (24.0 * (x2 * x5 + x1 * x6) - 6.0 * (x4 * x7 + x3 * x8));
  b.z23 = 6.0 * a4 * a6 + emsq * (24.0 * x2 * x6 - 6.0 * x4 * x8);
  b.z1 = b.z1 + b.z1 + betasq * b.z31;
  b.z2 = b.z2 + b.z2 + betasq * b.z32;
  b.z3 = b.z3 + b.z3 + betasq * b.z33;
  b.s3 = cc * xnoi;
  b.s2 = -0.5 * b.s3 / rtemsq;
  b.s4 = b.s3 * rtemsq;
  b.s1 = -15.0 * em * b.s4;
  b.s5 = x1 * x3 + x2 * x4;
  b.s6 = x2 * x3 + x1 * x4;
  b.s7 = x2 * x4 - x1 * x3;
  return b;
}

}  // namespace

void CSatDeepSpace::Init(const SatDeepSpaceInput& in) {
  *this = CSatDeepSpace();
  gsto_ = in.gsto;
  no_ = in.no;
  argpo_ = in.argpo;
  argpdot_ = in.argpdot;

  // ---- common lunar-solar terms at the epoch ----
  const double nm = in.no;
  const double em = in.ecco;
  const double snodm = std::sin(in.nodeo), cnodm = std::cos(in.nodeo);
  const double sinomm = std::sin(in.argpo), cosomm = std::cos(in.argpo);
  const double sinim = std::sin(in.inclo), cosim = std::cos(in.inclo);
  const double emsq = em * em;
  const double betasq = 1.0 - emsq;
  const double rtemsq = std::sqrt(betasq);

  // Days since 1999 December 31.0, the reference of the lunar and solar theories.
  const double day = in.epoch_days + 18261.5;
  const double xnodce = std::fmod(4.5236020 - 9.2422029e-4 * day, kTwoPi);
  const double stem = std::sin(xnodce), ctem = std::cos(xnodce);
  const double zcosil = 0.91375164 - 0.03568096 * ctem;
  const double zsinil = std::sqrt(1.0 - zcosil * zcosil);
  const double zsinhl = 0.089683511 * stem / zsinil;
  const double zcoshl = std::sqrt(1.0 - zsinhl * zsinhl);
  const double gam = 5.8351514 + 0.0019443680 * day;
  double zx = 0.39785416 * stem / zsinil;
  double zy = zcoshl * ctem + 0.91744867 * zsinhl * stem;
  zx = std::atan2(zx, zy);
  zx = gam + zx - xnodce;
  const double zcosgl = std::cos(zx), zsingl = std::sin(zx);

  const double xnoi = 1.0 / nm;
  const BodyTerms sun =
      ComputeBodyTerms(kZcosgs, kZsings, kZcosis, kZsinis, cnodm, snodm, kC1ss, xnoi, em, emsq,
                       betasq, rtemsq, sinim, cosim, sinomm, cosomm);
  const BodyTerms moon =
      ComputeBodyTerms(zcosgl, zsingl, zcosil, zsinil, zcoshl * cnodm + zsinhl * snodm,
                       snodm * zcoshl - cnodm * zsinhl, kC1l, xnoi, em, emsq, betasq, rtemsq, sinim,
                       cosim, sinomm, cosomm);

  zmol_ = std::fmod(4.7199672 + 0.22997150 * day - gam, kTwoPi);
  zmos_ = std::fmod(6.2565837 + 0.017201977 * day, kTwoPi);

  se2_ = 2.0 * sun.s1 * sun.s6;
  se3_ = 2.0 * sun.s1 * sun.s7;
  si2_ = 2.0 * sun.s2 * sun.z12;
  si3_ = 2.0 * sun.s2 * (sun.z13 - sun.z11);
  sl2_ = -2.0 * sun.s3 * sun.z2;
  sl3_ = -2.0 * sun.s3 * (sun.z3 - sun.z1);
  sl4_ = -2.0 * sun.s3 * (-21.0 - 9.0 * emsq) * kZes;
  sgh2_ = 2.0 * sun.s4 * sun.z32;
  sgh3_ = 2.0 * sun.s4 * (sun.z33 - sun.z31);
  sgh4_ = -18.0 * sun.s4 * kZes;
  sh2_ = -2.0 * sun.s2 * sun.z22;
  sh3_ = -2.0 * sun.s2 * (sun.z23 - sun.z21);

  ee2_ = 2.0 * moon.s1 * moon.s6;
  e3_ = 2.0 * moon.s1 * moon.s7;
  xi2_ = 2.0 * moon.s2 * moon.z12;
  xi3_ = 2.0 * moon.s2 * (moon.z13 - moon.z11);
  xl2_ = -2.0 * moon.s3 * moon.z2;
  xl3_ = -2.0 * moon.s3 * (moon.z3 - moon.z1);
  xl4_ = -2.0 * moon.s3 * (-21.0 - 9.0 * emsq) * kZel;
  xgh2_ = 2.0 * moon.s4 * moon.z32;
  xgh3_ = 2.0 * moon.s4 * (moon.z33 - moon.z31);
  xgh4_ = -18.0 * moon.s4 * kZel;
  xh2_ = -2.0 * moon.s2 * moon.z22;
  xh3_ = -2.0 * moon.s2 * (moon.z23 - moon.z21);

  // ---- secular rates and resonance ----
  irez_ = 0;
  if (0.0034906585 < nm && nm < 0.0052359877) irez_ = 1;
  if (8.26e-3 <= nm && nm <= 9.24e-3 && em >= 0.5) irez_ = 2;

  const bool near_polar_node =
      in.inclo < kNodeInclinationLimit || in.inclo > kPi - kNodeInclinationLimit;

  const double ses = sun.s1 * kZns * sun.s5;
  const double sis = sun.s2 * kZns * (sun.z11 + sun.z13);
  const double sls = -kZns * sun.s3 * (sun.z1 + sun.z3 - 14.0 - 6.0 * emsq);
  const double sghs = sun.s4 * kZns * (sun.z31 + sun.z33 - 6.0);
  double shs = -kZns * sun.s2 * (sun.z21 + sun.z23);
  if (near_polar_node) shs = 0.0;
  if (sinim != 0.0) shs = shs / sinim;
  const double sgs = sghs - cosim * shs;

  dedt_ = ses + moon.s1 * kZnl * moon.s5;
  didt_ = sis + moon.s2 * kZnl * (moon.z11 + moon.z13);
  dmdt_ = sls - kZnl * moon.s3 * (moon.z1 + moon.z3 - 14.0 - 6.0 * emsq);
  const double sghl = moon.s4 * kZnl * (moon.z31 + moon.z33 - 6.0);
  double shll = -kZnl * moon.s2 * (moon.z21 + moon.z23);
  if (near_polar_node) shll = 0.0;
  domdt_ = sgs + sghl;
  dnodt_ = shs;
  if (sinim != 0.0) {
    domdt_ = domdt_ - cosim / sinim * shll;
    dnodt_ = dnodt_ + shll / sinim;
  }

  if (irez_ == 0) return;

  const double theta = std::fmod(in.gsto, kTwoPi);
  const double aonv = std::pow(nm / in.xke, 2.0 / 3.0);
  if (irez_ == 2) {
    // Half-day resonance (eccentric 12-hour orbits).
    const double cosisq = cosim * cosim;
    const double e = in.ecco;
    const double esq = e * e;
    const double eoc = e * esq;
    const double g201 = -0.306 - (e - 0.64) * 0.440;
    double g211, g310, g322, g410, g422, g520, g521, g532, g533;
    if (e <= 0.65) {
      g211 = 3.616 - 13.2470 * e + 16.2900 * esq;
      g310 = -19.302 + 117.3900 * e - 228.4190 * esq + 156.5910 * eoc;
      g322 = -18.9068 + 109.7927 * e - 214.6334 * esq + 146.5816 * eoc;
      g410 = -41.122 + 242.6940 * e - 471.0940 * esq + 313.9530 * eoc;
      g422 = -146.407 + 841.8800 * e - 1629.014 * esq + 1083.4350 * eoc;
      g520 = -532.114 + 3017.977 * e - 5740.032 * esq + 3708.2760 * eoc;
    } else {
      g211 = -72.099 + 331.819 * e - 508.738 * esq + 266.724 * eoc;
      g310 = -346.844 + 1582.851 * e - 2415.925 * esq + 1246.113 * eoc;
      g322 = -342.585 + 1554.908 * e - 2366.899 * esq + 1215.972 * eoc;
      g410 = -1052.797 + 4758.686 * e - 7193.992 * esq + 3651.957 * eoc;
      g422 = -3581.690 + 16178.110 * e - 24462.770 * esq + 12422.520 * eoc;
      if (e > 0.715)
        g520 = -5149.66 + 29936.92 * e - 54087.36 * esq + 31324.56 * eoc;
      else
        g520 = 1464.74 - 4664.75 * e + 3763.64 * esq;
    }
    if (e < 0.7) {
      g533 = -919.22770 + 4988.6100 * e - 9064.7700 * esq + 5542.21 * eoc;
      g521 = -822.71072 + 4568.6173 * e - 8491.4146 * esq + 5337.524 * eoc;
      g532 = -853.66600 + 4690.2500 * e - 8624.7700 * esq + 5341.4 * eoc;
    } else {
      g533 = -37995.780 + 161616.52 * e - 229838.20 * esq + 109377.94 * eoc;
      g521 = -51752.104 + 218913.95 * e - 309468.16 * esq + 146349.42 * eoc;
      g532 = -40023.880 + 170470.89 * e - 242699.48 * esq + 115605.82 * eoc;
    }
    const double sini2 = sinim * sinim;
    const double f220 = 0.75 * (1.0 + 2.0 * cosim + cosisq);
    const double f221 = 1.5 * sini2;
    const double f321 = 1.875 * sinim * (1.0 - 2.0 * cosim - 3.0 * cosisq);
    const double f322 = -1.875 * sinim * (1.0 + 2.0 * cosim - 3.0 * cosisq);
    const double f441 = 35.0 * sini2 * f220;
    const double f442 = 39.3750 * sini2 * sini2;
    const double f522 = 9.84375 * sinim *
                        (sini2 * (1.0 - 2.0 * cosim - 5.0 * cosisq) +
                         0.33333333 * (-2.0 + 4.0 * cosim + 6.0 * cosisq));
    const double f523 = sinim * (4.92187512 * sini2 * (-2.0 - 4.0 * cosim + 10.0 * cosisq) +
                                 6.56250012 * (1.0 + 2.0 * cosim - 3.0 * cosisq));
    const double f542 =
        29.53125 * sinim * (2.0 - 8.0 * cosim + cosisq * (-12.0 + 8.0 * cosim + 10.0 * cosisq));
    const double f543 =
        29.53125 * sinim * (-2.0 - 8.0 * cosim + cosisq * (12.0 + 8.0 * cosim - 10.0 * cosisq));
    const double xno2 = nm * nm;
    const double ainv2 = aonv * aonv;
    double temp1 = 3.0 * xno2 * ainv2;
    double temp = temp1 * kRoot22;
    d2201_ = temp * f220 * g201;
    d2211_ = temp * f221 * g211;
    temp1 = temp1 * aonv;
    temp = temp1 * kRoot32;
    d3210_ = temp * f321 * g310;
    d3222_ = temp * f322 * g322;
    temp1 = temp1 * aonv;
    temp = 2.0 * temp1 * kRoot44;
    d4410_ = temp * f441 * g410;
    d4422_ = temp * f442 * g422;
    temp1 = temp1 * aonv;
    temp = temp1 * kRoot52;
    d5220_ = temp * f522 * g520;
    d5232_ = temp * f523 * g532;
    temp = 2.0 * temp1 * kRoot54;
    d5421_ = temp * f542 * g521;
    d5433_ = temp * f543 * g533;
    xlamo_ = std::fmod(in.mo + in.nodeo + in.nodeo - theta - theta, kTwoPi);
    xfact_ = in.mdot + dmdt_ + 2.0 * (in.nodedot + dnodt_ - kRptim) - in.no;
  } else {
    // One-day resonance (geosynchronous orbits).
    const double g200 = 1.0 + emsq * (-2.5 + 0.8125 * emsq);
    const double g310 = 1.0 + 2.0 * emsq;
    const double g300 = 1.0 + emsq * (-6.0 + 6.60937 * emsq);
    const double f220 = 0.75 * (1.0 + cosim) * (1.0 + cosim);
    const double f311 = 0.9375 * sinim * sinim * (1.0 + 3.0 * cosim) - 0.75 * (1.0 + cosim);
    double f330 = 1.0 + cosim;
    f330 = 1.875 * f330 * f330 * f330;
    const double d1 = 3.0 * nm * nm * aonv * aonv;
    del2_ = 2.0 * d1 * f220 * g200 * kQ22;
    del3_ = 3.0 * d1 * f330 * g300 * kQ33 * aonv;
    del1_ = d1 * f311 * g310 * kQ31 * aonv;
    const double xpidot = in.argpdot + in.nodedot;
    xlamo_ = std::fmod(in.mo + in.nodeo + in.argpo - theta, kTwoPi);
    xfact_ = in.mdot + xpidot - kRptim + dmdt_ + domdt_ + dnodt_ - in.no;
  }
  xli_ = xlamo_;
  xni_ = in.no;
  atime_ = 0.0;
}

void CSatDeepSpace::Secular(double t, SatMeanElements* m) {
  const double theta = std::fmod(gsto_ + t * kRptim, kTwoPi);
  m->em += dedt_ * t;
  m->inclm += didt_ * t;
  m->argpm += domdt_ * t;
  m->nodem += dnodt_ * t;
  m->mm += dmdt_ * t;
  if (irez_ == 0) return;

  // Euler-Maclaurin integration of the resonance in steps of 720 minutes, restarting from the
  // epoch when t lies on the other side of it or before the step reached last time.
  if (atime_ == 0.0 || t * atime_ <= 0.0 || std::fabs(t) < std::fabs(atime_)) {
    atime_ = 0.0;
    xni_ = no_;
    xli_ = xlamo_;
  }
  const double delt = t > 0.0 ? kStep : -kStep;
  double xndt = 0, xnddt = 0, xldot = 0, ft = 0;
  for (;;) {
    if (irez_ != 2) {
      xndt = del1_ * std::sin(xli_ - kFasx2) + del2_ * std::sin(2.0 * (xli_ - kFasx4)) +
             del3_ * std::sin(3.0 * (xli_ - kFasx6));
      xldot = xni_ + xfact_;
      xnddt = del1_ * std::cos(xli_ - kFasx2) + 2.0 * del2_ * std::cos(2.0 * (xli_ - kFasx4)) +
              3.0 * del3_ * std::cos(3.0 * (xli_ - kFasx6));
      xnddt *= xldot;
    } else {
      const double xomi = argpo_ + argpdot_ * atime_;
      const double x2omi = xomi + xomi;
      const double x2li = xli_ + xli_;
      xndt = d2201_ * std::sin(x2omi + xli_ - kG22) + d2211_ * std::sin(xli_ - kG22) +
             d3210_ * std::sin(xomi + xli_ - kG32) + d3222_ * std::sin(-xomi + xli_ - kG32) +
             d4410_ * std::sin(x2omi + x2li - kG44) + d4422_ * std::sin(x2li - kG44) +
             d5220_ * std::sin(xomi + xli_ - kG52) + d5232_ * std::sin(-xomi + xli_ - kG52) +
             d5421_ * std::sin(xomi + x2li - kG54) + d5433_ * std::sin(-xomi + x2li - kG54);
      xldot = xni_ + xfact_;
      xnddt =
          d2201_ * std::cos(x2omi + xli_ - kG22) + d2211_ * std::cos(xli_ - kG22) +
          d3210_ * std::cos(xomi + xli_ - kG32) + d3222_ * std::cos(-xomi + xli_ - kG32) +
          d5220_ * std::cos(xomi + xli_ - kG52) + d5232_ * std::cos(-xomi + xli_ - kG52) +
          2.0 * (d4410_ * std::cos(x2omi + x2li - kG44) + d4422_ * std::cos(x2li - kG44) +
                 d5421_ * std::cos(xomi + x2li - kG54) + d5433_ * std::cos(-xomi + x2li - kG54));
      xnddt *= xldot;
    }
    if (std::fabs(t - atime_) < kStep) {
      ft = t - atime_;
      break;
    }
    xli_ += xldot * delt + xndt * kStep2;
    xni_ += xndt * delt + xnddt * kStep2;
    atime_ += delt;
  }

  m->nm = xni_ + xndt * ft + xnddt * ft * ft * 0.5;
  const double xl = xli_ + xldot * ft + xndt * ft * ft * 0.5;
  if (irez_ != 1)
    m->mm = xl - 2.0 * m->nodem + 2.0 * theta;
  else
    m->mm = xl - m->nodem - m->argpm + theta;
}

void CSatDeepSpace::Periodics(double t, double* ep, double* inclp, double* nodep, double* argpp,
                              double* mp) const {
  double zm = zmos_ + kZns * t;
  double zf = zm + 2.0 * kZes * std::sin(zm);
  double sinzf = std::sin(zf);
  double f2 = 0.5 * sinzf * sinzf - 0.25;
  double f3 = -0.5 * sinzf * std::cos(zf);
  const double ses = se2_ * f2 + se3_ * f3;
  const double sis = si2_ * f2 + si3_ * f3;
  const double sls = sl2_ * f2 + sl3_ * f3 + sl4_ * sinzf;
  const double sghs = sgh2_ * f2 + sgh3_ * f3 + sgh4_ * sinzf;
  const double shs = sh2_ * f2 + sh3_ * f3;
  zm = zmol_ + kZnl * t;
  zf = zm + 2.0 * kZel * std::sin(zm);
  sinzf = std::sin(zf);
  f2 = 0.5 * sinzf * sinzf - 0.25;
  f3 = -0.5 * sinzf * std::cos(zf);
  const double sel = ee2_ * f2 + e3_ * f3;
  const double sil = xi2_ * f2 + xi3_ * f3;
  const double sll = xl2_ * f2 + xl3_ * f3 + xl4_ * sinzf;
  const double sghl = xgh2_ * f2 + xgh3_ * f3 + xgh4_ * sinzf;
  const double shll = xh2_ * f2 + xh3_ * f3;
  const double pe = ses + sel;
  const double pinc = sis + sil;
  const double pl = sls + sll;
  double pgh = sghs + sghl;
  double ph = shs + shll;

  *inclp += pinc;
  *ep += pe;
  const double sinip = std::sin(*inclp);
  const double cosip = std::cos(*inclp);

  if (*inclp >= 0.2) {
    ph /= sinip;
    pgh -= cosip * ph;
    *argpp += pgh;
    *nodep += ph;
    *mp += pl;
    return;
  }

  // Low inclination: apply the periodics to the node through the inclination vector (Lyddane).
  // The node keeps its sign when reduced: the mean longitude below takes it at face value, as the
  // reference propagator does.
  const double sinop = std::sin(*nodep);
  const double cosop = std::cos(*nodep);
  double alfdp = sinip * sinop;
  double betdp = sinip * cosop;
  const double dalf = ph * cosop + pinc * cosip * sinop;
  const double dbet = -ph * sinop + pinc * cosip * cosop;
  alfdp += dalf;
  betdp += dbet;
  *nodep = std::fmod(*nodep, kTwoPi);
  const double xls = *mp + *argpp + pl + pgh + (cosip - pinc * sinip) * *nodep;
  const double xnoh = *nodep;
  *nodep = std::atan2(alfdp, betdp);
  if (std::fabs(xnoh - *nodep) > kPi) {
    if (*nodep < xnoh)
      *nodep += kTwoPi;
    else
      *nodep -= kTwoPi;
  }
  *mp += pl;
  *argpp = xls - *mp - cosip * *nodep;
}

}  // namespace velmora
