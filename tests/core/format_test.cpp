// Locale-free number texts, degrees-minutes-seconds and path parts.
#include "core/format.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <limits>
#include <locale>

namespace velmora {
namespace {

TEST(Format, NumberTexts) {
  const std::pair<double, const char*> cases[] = {
      {120.5, "120.5"},   {120.0, "120"}, {-2.25, "-2.25"},          {123456789.125, "123456789.125"},
      {1e20, "100000000000000000000"},    {-0.0, "0"},               {-1e-16, "0"},  // rounds to zero
      {1e-14, "0.00000000000001"},        {std::nan(""), "nan"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatNumber14(value), text) << text;
  EXPECT_EQ(FormatNumber3(-0.5), "-0.500");
  EXPECT_EQ(FormatFixed(1e308, 60).size(), 309u + 1u + 60u);  // no overflow of the buffer
  EXPECT_EQ(FormatFixed(2.5, -3), "2");                        // precision clamped, round-half-even
  std::string long_text(5000, 'x');
  EXPECT_EQ(FormatC("<%s>", long_text.c_str()), "<" + long_text + ">");  // no length limit
}

// The numbers must not follow a German locale, whichever way the program or a library set it.
TEST(Format, NumbersIgnoreAGermanLocale) {
  const char* old = std::setlocale(LC_ALL, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  std::locale saved_global = std::locale::global(std::locale("de_DE.UTF-8"));
  char probe[32];
  std::snprintf(probe, sizeof probe, "%.1f", 120.5);
  EXPECT_STREQ(probe, "120,5");  // the locale is really in effect for printf

  EXPECT_EQ(FormatNumber14(120.5), "120.5");
  EXPECT_EQ(FormatNumber3(3.5), "3.500");
  EXPECT_EQ(FormatC("%f|%.2f|%g", 120.5, 0.25, 1.5), "120.500000|0.25|1.5");
  EXPECT_EQ(FormatDms(120.5), "120°30′00.0000");
  EXPECT_EQ(ParseDouble("120.5"), 120.5);
  EXPECT_FALSE(ParseDouble("120,5"));
  double d = 0;
  EXPECT_TRUE(ParseDms("120°30′15.5″", &d));
  // After FormatC the thread's locale is the program's again.
  std::snprintf(probe, sizeof probe, "%.1f", 120.5);
  EXPECT_STREQ(probe, "120,5");

  std::locale::global(saved_global);
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(Format, DmsTextAndRounding) {
  EXPECT_EQ(FormatDms(-33.8688), "-33°52′07.6800");
  EXPECT_EQ(FormatDms(1.0 / 3600.0 * 5.25), "0°00′05.2500");
  // 10°59′59.99999″ prints as 11°, not as 10°59′60.0000.
  EXPECT_EQ(FormatDms(10 + 59.0 / 60 + 59.99999 / 3600), "11°00′00.0000");
  EXPECT_EQ(FormatDms(10 + 59.0 / 60 + 59.99994 / 3600), "10°59′59.9999");
  // A negative value that rounds to zero has no sign; one that does not, keeps it.
  EXPECT_EQ(FormatDms(-1e-12), "0°00′00.0000");
  EXPECT_EQ(FormatDms(-0.5), "-0°30′00.0000");
  // Absurd inputs produce text, not undefined behaviour.
  EXPECT_EQ(FormatDms(1e300).substr(0, 4), "1000");
  EXPECT_EQ(FormatDms(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(FormatDms(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(Format, ParseDmsReadsTheScanfForm) {
  const std::pair<const char*, double> good[] = {
      {"120°30′15.5″", 120 + 30 / 60.0 + 15.5 / 3600.0},
      {"120°30′15.5", 120 + 30 / 60.0 + 15.5 / 3600.0},      // the second mark is optional
      {" 120° 30′ 15.5″ ", 120 + 30 / 60.0 + 15.5 / 3600.0},  // spaces where scanf skips them
      {"36°5'7\"", 36 + 5 / 60.0 + 7 / 3600.0},
      {"-0°30′0″", -0.5},  // the sign belongs to the whole angle, also when the degrees are zero
      {"-33°52′07.6800", -33.8688},
  };
  for (const auto& [text, value] : good) {
    double d = 0;
    ASSERT_TRUE(ParseDms(text, &d)) << text;
    EXPECT_NEAR(d, value, 1e-12) << text;
  }
  double untouched = 42;
  for (const char* bad : {"", "abc", "120", "120°30′", "120.5°30′0″", "120°60′0″", "120°-1′0″", "120°30′60″",
                          "120°30′nan″", "120°30′inf″", "120°30′15″N", "120 °30′15″", "- 120°30′15″",
                          "--1°0′0″", "120°30′15″″"}) {
    EXPECT_FALSE(ParseDms(bad, &untouched)) << bad;
  }
  EXPECT_EQ(untouched, 42);
  for (double v : {0.0, -1.0, 45.123456789, -179.999999, 89.99999999, 0.00001}) {
    double back = 1e9;
    ASSERT_TRUE(ParseDms(FormatDms(v), &back)) << FormatDms(v);
    EXPECT_NEAR(back, v, 0.00005 / 3600.0 + 1e-12) << FormatDms(v);
  }
}

TEST(Format, SplitDegreesRoundedCarries) {
  DmsParts p;
  ASSERT_TRUE(SplitDegreesRounded(-(10 + 59.0 / 60 + 59.99996 / 3600), 4, &p));
  EXPECT_TRUE(p.negative);
  EXPECT_EQ(p.degrees, 11);
  EXPECT_EQ(p.minutes, 0);
  EXPECT_EQ(p.seconds, 0);
  EXPECT_EQ(p.fraction, 0);
  ASSERT_TRUE(SplitDegreesRounded(120 + 23 / 60.0 + 45.56 / 3600, 2, &p));
  EXPECT_EQ(p.degrees, 120);
  EXPECT_EQ(p.minutes, 23);
  EXPECT_EQ(p.seconds, 45);
  EXPECT_EQ(p.fraction, 56);
  ASSERT_TRUE(SplitDegreesRounded(-1e-9, 4, &p));
  EXPECT_FALSE(p.negative);  // rounds to zero
  ASSERT_TRUE(SplitDegreesRounded(0.5, 0, &p));
  EXPECT_EQ(p.minutes, 30);
  for (double bad : {std::nan(""), HUGE_VAL, 1e300}) EXPECT_FALSE(SplitDegreesRounded(bad, 4, &p));
  EXPECT_FALSE(SplitDegreesRounded(1, 10, &p));
  // ParseDms with the user's marks reads what they write.
  double v = 0;
  ASSERT_TRUE(ParseDms("120d30'15.5\"", DmsMarks{"d", "'", "\""}, &v));
  EXPECT_NEAR(v, 120 + 30 / 60.0 + 15.5 / 3600, 1e-12);
  ASSERT_TRUE(ParseDms("-0度30分0", DmsMarks{"度", "分", "秒"}, &v));
  EXPECT_EQ(v, -0.5);
  ASSERT_TRUE(ParseDms("120 30 15", DmsMarks{"", "", ""}, &v));
  EXPECT_NEAR(v, 120 + 30 / 60.0 + 15 / 3600.0, 1e-12);
  EXPECT_FALSE(ParseDms("120°30′15″", DmsMarks{"d", "'", "\""}, &v));
}

TEST(Format, FastDecimalReadingEqualsFromChars) {
  // The fast path and std::from_chars side by side over texts of every shape: long mantissas,
  // many decimals, leading zeros, signs, exponents, bare points and trailing text.
  std::mt19937_64 rng(2024);
  auto digits = [&](int n) {
    std::string d;
    for (int i = 0; i < n; ++i) d += static_cast<char>('0' + rng() % 10);
    return d;
  };
  std::vector<std::string> texts = {"0", "-0", "0.", ".5", ".", "-", "+1", "", "1e5", "1E-3", "9007199254740993",
                                    "9007199254740992", "0.30000000000000004", "120.39598888888889", "nan", "inf",
                                    "00000000000000000000001.5", "1.00000000000000000000001", "36.2096,120", "1..2"};
  for (int i = 0; i < 200000; ++i) {
    std::string t;
    if (rng() % 4 == 0) t += '-';
    t += digits(static_cast<int>(rng() % 20));
    if (rng() % 3 != 0) {
      t.push_back('.');
      t.append(digits(static_cast<int>(rng() % 26)));
    }
    if (rng() % 20 == 0) {
      t.push_back('e');
      t.append(std::to_string(static_cast<int>(rng() % 40) - 20));
    }
    if (rng() % 10 == 0) t += "x7";
    texts.push_back(t);
  }
  for (const std::string& t : texts) {
    double fast = 42, plain = 42;
    auto a = FromCharsDouble(t.data(), t.data() + t.size(), &fast);
    auto b = std::from_chars(t.data(), t.data() + t.size(), plain);
    ASSERT_EQ(a.ec, b.ec) << t;
    ASSERT_EQ(a.ptr, b.ptr) << t;
    ASSERT_EQ(std::memcmp(&fast, &plain, sizeof fast), 0) << t;  // the same bits, the sign of zero too
  }
}

TEST(Format, FastFixedPrintingEqualsToChars) {
  std::mt19937_64 rng(108);
  std::vector<double> values = {0.0, -0.0, 0.5, 1.5, 2.5, -2.5, 1.0 / 512, 0.001953125, 0.125, 0.0625, 1e-9,
                                5e-9, 4.999999999e-9, 999999999.99999999, 1e9, 123456789.123456789,
                                120.39598888888889, 36.2096, -179.99999999, 0.1, 0.7, 1e-300, 5e-324};
  for (int i = 0; i < 200000; ++i) {
    double v;
    switch (rng() % 5) {
      case 0: v = std::uniform_real_distribution<double>(-180, 180)(rng); break;
      case 4: v = std::uniform_real_distribution<double>(-1e7, 1e7)(rng); break;  // metres
      case 1: v = std::ldexp(static_cast<double>(rng() % 100000), -static_cast<int>(rng() % 40)); break;  // dyadic ties
      case 2: v = std::uniform_real_distribution<double>(-1e10, 1e10)(rng); break;
      default: v = static_cast<double>(rng() % 2000000) / 1e6 + 0.5e-8 * (rng() % 3); break;
    }
    values.push_back(v);
  }
  for (double v : values) {
    for (int precision = 0; precision <= 15; ++precision) {
      char fast[64], plain[64];
      auto a = ToCharsFixed(fast, fast + sizeof fast, v, precision);
      auto b = std::to_chars(plain, plain + sizeof plain, v, std::chars_format::fixed, precision);
      ASSERT_EQ(a.ec, b.ec);
      ASSERT_EQ(std::string(fast, a.ptr), std::string(plain, b.ptr)) << v << " " << precision;
    }
  }
}

TEST(Format, SplitDegreesTruncates) {
  int d = -1, m = -1;
  float s = -1;
  EXPECT_FALSE(SplitDegrees(-33.8688, &d, &m, &s));
  EXPECT_EQ(d, 33);
  EXPECT_EQ(m, 52);
  EXPECT_NEAR(s, 7.68f, 1e-3f);
  // Out-of-range inputs stay defined.
  EXPECT_TRUE(SplitDegrees(1e300, &d, &m, &s));
  EXPECT_EQ(d, 2147483647);
  EXPECT_TRUE(SplitDegrees(std::nan(""), &d, &m, &s));
  EXPECT_EQ(d, 0);
}

TEST(Format, ParseNumbersAndPathParts) {
  EXPECT_EQ(ParseDouble(" 12.5 "), 12.5);
  EXPECT_EQ(ParseDouble(".5"), 0.5);
  for (const char* bad : {"", " ", "12,5", "1.5x", "nan", "inf", "1e999", "0x10"}) EXPECT_FALSE(ParseDouble(bad)) << bad;
  EXPECT_EQ(ParseInt(" -42 "), -42);
  for (const char* bad : {"", "1.0", "12a", "99999999999999999999"}) EXPECT_FALSE(ParseInt(bad)) << bad;

  EXPECT_EQ(GetFileExtLower("c:\\maps\\x.JPG"), "jpg");
  EXPECT_EQ(GetFileExtLower("/a.d/file"), "");
  EXPECT_EQ(GetFileExtLower("name."), "");
  EXPECT_EQ(GetFileExtLower("地图.KML"), "kml");
  EXPECT_EQ(GetFileNamePart("c:\\maps\\x.jpg"), "x.jpg");
  EXPECT_EQ(GetFileNamePart("/a/b/"), "");
}

}  // namespace
}  // namespace velmora
