#pragma once

// The eleven figures of a file's statistics: their labels, how they follow
// from the exact totals of one pass over the file, and their texts.

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvant {

inline constexpr std::size_t StatFigureCount = 11;

// Row order of the figures on the statistics screen and in the report.
enum class StatFigure : std::size_t {
  Entropy,
  ChiSquare,
  ArithmeticMean,
  MonteCarloPi,
  SerialCorrelation,
  BitZero,
  BitOne,
  BitTotal,
  BitZeroRatio,
  BitOneRatio,
  ExpectedValue,
};

// The labels exactly as the screen prints them, value directly after.
// clang-format off
inline constexpr std::array<std::string_view, StatFigureCount> StatLabels = {
    "Entropy ",
    "Chi square ",
    "Aritmetic mean ",
    "Monte carlo pi ",
    "Serial correlation ",
    "Bit zero ",
    "Bit one ",
    "Bit total ",
    "Bit 0 ratio ",
    "Bit 1 ratio ",
    "Expected value ",
};
// clang-format on

// Entry k is the number of one bits in the byte value k.
inline constexpr std::array<std::uint8_t, 256> BitCountTable = [] {
  std::array<std::uint8_t, 256> table{};
  for (unsigned value = 0; value < 256; ++value)
    table[value] = static_cast<std::uint8_t>(std::popcount(value));
  return table;
}();

// How often each byte value occurs, indexed by the value.
using ByteHistogram = std::array<std::uint64_t, 256>;

// The formatted figures, in StatFigure order.
using StatValueTexts = std::array<std::string, StatFigureCount>;

// Everything one pass over the bytes x0 .. x(n-1) of a file must gather; the
// figures follow from these alone.
struct ByteTotals {
  ByteHistogram ByteCounts{};
  std::uint64_t Length = 0;
  // 8 for every pair (x(2i), x(2i+1)) inside the quarter circle, the last byte
  // of an odd-length file paired with a 0.
  std::uint64_t CircleScore = 0;
  // Sum of xi · x((i + 1) mod n): each byte times the next, the last byte
  // times the first.
  unsigned __int128 SuccessorProductSum = 0;
};

// The figures as numbers. Figures that cannot be computed (a zero-length file,
// a serial correlation of equal bytes) are NaN and show as "undefined".
struct StatFigures {
  double Entropy = 0;
  double ChiSquare = 0;
  double ArithmeticMean = 0;
  double MonteCarloPi = 0;
  double SerialCorrelation = 0;
  std::uint64_t ZeroBits = 0;
  std::uint64_t OneBits = 0;
  std::uint64_t TotalBits = 0;
  double ZeroBitRatio = 0;  // share of zero bits, shown as "Bit 0 ratio "
  double OneBitRatio = 0;   // share of one bits, shown as "Bit 1 ratio "
  double ExpectedValue = 0;
};

// True when the cell centre (a + 0.5, b + 0.5) lies inside the circle of
// radius 256 around the origin; the left side is always even, never 65535.
constexpr bool PairInsideCircle(unsigned first, unsigned second) {
  return first * (first + 1) + second * (second + 1) < 65535;
}

StatFigures ComputeStatFigures(const ByteTotals& totals);

StatValueTexts FormatStatValues(const StatFigures& figures);

// What a finished run hands to the screen and the command-line tool.
struct FileStatistics {
  ByteHistogram ByteCounts{};
  StatFigures Figures;
  StatValueTexts StatValues;
};

FileStatistics ComputeFileStatistics(const ByteTotals& totals);

// One line per figure, the label immediately followed by its value, exactly
// as the screen shows them ("Entropy 7.999998"); with ReportCounts::Include
// then one line per byte value 0..255: the value in decimal, a space and its
// grouped count ("65 1 234").
enum class ReportCounts { Omit, Include };
std::string RenderStatisticsReport(const FileStatistics& statistics, ReportCounts counts);

}  // namespace quorvant
