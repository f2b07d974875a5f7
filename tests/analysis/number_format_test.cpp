#include "analysis/number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace quorvant {
namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();
constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

struct FixedCase {
  double value;
  int decimals;
  const char* text;
};

TEST(NumberFormatTest, FixedDecimalsRoundTheExactBinaryValueHalfToEven) {
  const FixedCase cases[] = {
      // Exact halves go to the even digit.
      {0.125, 2, "0.12"},
      {0.375, 2, "0.38"},
      {0.0625, 3, "0.062"},
      {0.1875, 3, "0.188"},
      {2.5, 0, "2"},
      {3.5, 0, "4"},
      // Written as halves, but the double lies just below or above the half.
      {2.675, 2, "2.67"},          // 2.67499999999999982236...
      {1.0005, 3, "1.000"},        // 1.00049999999999994493...
      {0.0000015, 6, "0.000002"},  // 1.50000000000000003841e-06
      // The masks in use.
      {127.5, 4, "127.5000"},
      {255.0, 2, "255.00"},
      {8.0, 6, "8.000000"},
      {3.14159265358979, 9, "3.141592654"},
      {4.0, 9, "4.000000000"},
      {0.123456, 6, "0.123456"},
      {1234567.891, 2, "1234567.89"},  // no thousands separators
      {-0.759668, 6, "-0.759668"},
      // A value that shows as zero carries no sign.
      {-1e-9, 6, "0.000000"},
      {-0.0, 6, "0.000000"},
      {-0.0000004, 6, "0.000000"},
      // Not a number and infinities.
      {NotANumber, 6, "undefined"},
      {Infinity, 2, "undefined"},
      {-Infinity, 9, "undefined"},
  };
  for (const FixedCase& item : cases) {
    EXPECT_EQ(FormatFixed(item.value, item.decimals), item.text) << item.value << " with " << item.decimals;
  }
}

TEST(NumberFormatTest, WidestFiniteValuesKeepEveryDigit) {
  const std::string largest = FormatFixed(std::numeric_limits<double>::max(), 9);
  EXPECT_EQ(largest.size(), 309u + 10u);
  EXPECT_EQ(largest.substr(0, 6), "179769");
  EXPECT_EQ(largest.substr(largest.size() - 10), ".000000000");
  EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::max(), 2).size(), 1u + 309u + 3u);
  EXPECT_EQ(FormatGroupedRounded(1e20), "100 000 000 000 000 000 000");
}

TEST(NumberFormatTest, SignedMaskShowsTheMinusOfItsSecondSection) {
  EXPECT_EQ(FormatSignedFixed(-0.000099), "-0.000099");
  EXPECT_EQ(FormatSignedFixed(-1.0), "-1.000000");
  EXPECT_EQ(FormatSignedFixed(0.976654), "0.976654");
  EXPECT_EQ(FormatSignedFixed(0.0), "0.000000");
  EXPECT_EQ(FormatSignedFixed(-0.0000004), "0.000000");
  EXPECT_EQ(FormatSignedFixed(-0.0000006), "-0.000001");
  EXPECT_EQ(FormatSignedFixed(NotANumber), "undefined");
}

// An independent rounding of x = mantissa / 2^shift: the exact product
// mantissa · 10^decimals fits in 128 bits for the range drawn below.
std::string ExactFixed(double value, int decimals) {
  int exponent = 0;
  const double fraction = std::frexp(value, &exponent);
  const auto mantissa = static_cast<unsigned __int128>(std::ldexp(fraction, 53));
  const int shift = 53 - exponent;
  unsigned __int128 scaled = mantissa;
  for (int digit = 0; digit < decimals; ++digit) scaled *= 10;
  unsigned __int128 whole = scaled >> shift;
  const unsigned __int128 rest = scaled & ((static_cast<unsigned __int128>(1) << shift) - 1);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  if (rest > half || (rest == half && (whole & 1) == 1)) ++whole;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(whole % 10)));
    whole /= 10;
  } while (whole != 0);
  while (digits.size() < static_cast<std::size_t>(decimals) + 1) digits.insert(digits.begin(), '0');
  if (decimals == 0) return digits;
  return digits.substr(0, digits.size() - decimals) + "." + digits.substr(digits.size() - decimals);
}

TEST(NumberFormatTest, FixedDecimalsAgreeWithExactRoundingOnRandomValuesAndTies) {
  std::mt19937_64 random(20240229);
  std::uniform_real_distribution<double> exponent(-20.0, 20.0);
  for (int round = 0; round < 20000; ++round) {
    const double value = std::exp2(exponent(random));
    const int decimals = static_cast<int>(random() % 10);
    ASSERT_EQ(FormatFixed(value, decimals), ExactFixed(value, decimals)) << value << " " << decimals;
  }
  // odd / 2^(decimals + 1) ends in a 5 right after the last shown digit: an
  // exact tie at every decimal count.
  for (int decimals = 0; decimals <= 9; ++decimals) {
    for (int round = 0; round < 500; ++round) {
      const double odd = static_cast<double>(2 * (random() % 1000000) + 1);
      const double value = std::ldexp(odd, -(decimals + 1));
      ASSERT_EQ(FormatFixed(value, decimals), ExactFixed(value, decimals)) << value << " " << decimals;
    }
  }
}

TEST(NumberFormatTest, CountsAreGroupedInThreesWithoutLeadingSpaces) {
  const std::pair<std::uint64_t, const char*> cases[] = {
      {0, "0"},
      {7, "7"},
      {999, "999"},
      {1000, "1 000"},
      {100000, "100 000"},
      {1200005, "1 200 005"},
      {12345678, "12 345 678"},
      {999999999999999ULL, "999 999 999 999 999"},
      // Wider than the mask: every digit is kept.
      {18446744073709551615ULL, "18 446 744 073 709 551 615"},
  };
  for (const auto& [count, text] : cases) EXPECT_EQ(FormatGroupedCount(count), text);
}

TEST(NumberFormatTest, GroupedFromDoubleRoundsHalfToEven) {
  const std::pair<double, const char*> cases[] = {
      {128.0 / 256, "0"},  // "Expected value " of a 128-byte file
      {384.0 / 256, "2"},        {640.0 / 256, "2"},       {0.4999999999999999, "0"}, {3.5, "4"},
      {1000000.5, "1 000 000"},  {1234567.5, "1 234 568"}, {-1234.4, "-1 234"},       {-0.4, "0"},
      {NotANumber, "undefined"}, {Infinity, "undefined"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatGroupedRounded(value), text) << value;
}

TEST(NumberFormatTest, PlainNumbersAndTableColumns) {
  EXPECT_EQ(FormatPlain(16), " 16");
  EXPECT_EQ(FormatPlain(0), " 0");
  EXPECT_EQ(FormatPlain(-5), "-5");
  EXPECT_EQ(FormatPlain(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");

  const std::tuple<std::uint8_t, const char*, const char*> columns[] = {
      {0, "00000000", "00"},   {10, "00001010", "0A"},  {65, "01000001", "41"},
      {127, "01111111", "7F"}, {255, "11111111", "FF"},
  };
  for (const auto& [value, binary, hex] : columns) {
    EXPECT_EQ(FormatBinary8(value), binary);
    EXPECT_EQ(FormatHex2(value), hex);
  }
}

}  // namespace
}  // namespace quorvant
