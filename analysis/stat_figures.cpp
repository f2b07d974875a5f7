#include "analysis/stat_figures.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "analysis/number_format.h"

namespace quorvant {
namespace {

constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

using Wide = unsigned __int128;

// Converts a difference of two exact non-negative sums to double without
// losing its sign.
double SignedDifference(Wide minuend, Wide subtrahend) {
  if (minuend >= subtrahend) return static_cast<double>(minuend - subtrahend);
  return -static_cast<double>(subtrahend - minuend);
}

// The serial correlation coefficient of each byte with the next one (the last
// with the first): (n·t1 − t2²) ÷ (n·t3 − t2²). The sums are exact; below
// 2^55 bytes every product fits in 128 bits (t1, t3 < 2^16·n and t2 < 2^8·n),
// so only the final division rounds.
double SerialCorrelation(std::uint64_t length, Wide successor_sum, Wide value_sum, Wide square_sum) {
  if (length < (std::uint64_t{1} << 55)) {
    const Wide value_sum_squared = value_sum * value_sum;
    const Wide scaled_squares = Wide{length} * square_sum;
    // n·t3 ≥ t2² always (Cauchy–Schwarz); it is equal exactly when all bytes are.
    if (scaled_squares == value_sum_squared) return NotANumber;
    return SignedDifference(Wide{length} * successor_sum, value_sum_squared) /
           static_cast<double>(scaled_squares - value_sum_squared);
  }
  // Files this large exist only as sparse files on a few filesystems; long
  // double keeps 64 bits of each sum, which is plenty for six decimals.
  const long double count = static_cast<long double>(length);
  const long double sum = static_cast<long double>(value_sum);
  const long double divisor = count * static_cast<long double>(square_sum) - sum * sum;
  if (divisor == 0) return NotANumber;
  return static_cast<double>((count * static_cast<long double>(successor_sum) - sum * sum) / divisor);
}

}  // namespace

StatFigures ComputeStatFigures(const ByteTotals& totals) {
  StatFigures figures;
  const std::uint64_t length = totals.Length;
  figures.TotalBits = 8 * length;
  figures.ExpectedValue = static_cast<double>(length) / 256;
  if (length == 0) {
    // Every figure that divides by the length has nothing to describe.
    figures.Entropy = figures.ChiSquare = figures.ArithmeticMean = NotANumber;
    figures.MonteCarloPi = figures.SerialCorrelation = NotANumber;
    figures.ZeroBitRatio = figures.OneBitRatio = NotANumber;
    return figures;
  }

  const double length_real = static_cast<double>(length);
  const double expected = length_real / 256;
  Wide value_sum = 0;
  Wide square_sum = 0;
  double chi_square_sum = 0;
  double entropy_sum = 0;
  for (unsigned value = 0; value < 256; ++value) {
    const std::uint64_t count = totals.ByteCounts[value];
    value_sum += Wide{value} * count;
    square_sum += Wide{value * value} * count;
    figures.OneBits += BitCountTable[value] * count;
    const double deviation = static_cast<double>(count) - expected;
    chi_square_sum += deviation * deviation / expected;
    // A value that does not occur adds nothing (p · log2 p → 0).
    const double share = static_cast<double>(count) / length_real;
    if (share > 0) entropy_sum += share * std::log2(share);
  }
  figures.ZeroBits = figures.TotalBits - figures.OneBits;

  figures.Entropy = -entropy_sum;
  figures.ChiSquare = chi_square_sum;
  figures.ArithmeticMean = static_cast<double>(value_sum) / length_real;
  // The score grows by 8 per pair, about L ÷ 2 pairs, so score ÷ (L − 1)
  // estimates 4 × the share of pairs inside the quarter circle. One byte gives
  // an infinite quotient, which the cap at 4 takes in.
  figures.MonteCarloPi =
      length == 1 ? 4.0 : std::min(static_cast<double>(totals.CircleScore) / (length_real - 1), 4.0);
  figures.SerialCorrelation = SerialCorrelation(length, totals.SuccessorProductSum, value_sum, square_sum);
  const double total_bits = static_cast<double>(figures.TotalBits);
  figures.ZeroBitRatio = static_cast<double>(figures.ZeroBits) / total_bits;
  figures.OneBitRatio = static_cast<double>(figures.OneBits) / total_bits;
  return figures;
}

StatValueTexts FormatStatValues(const StatFigures& figures) {
  StatValueTexts values;
  auto set = [&values](StatFigure figure, std::string text) {
    values[static_cast<std::size_t>(figure)] = std::move(text);
  };
  set(StatFigure::Entropy, FormatFixed(figures.Entropy, 6));
  set(StatFigure::ChiSquare, FormatFixed(figures.ChiSquare, 2));
  set(StatFigure::ArithmeticMean, FormatFixed(figures.ArithmeticMean, 4));
  set(StatFigure::MonteCarloPi, FormatFixed(figures.MonteCarloPi, 9));
  set(StatFigure::SerialCorrelation, FormatSignedFixed(figures.SerialCorrelation));
  set(StatFigure::BitZero, FormatGroupedCount(figures.ZeroBits));
  set(StatFigure::BitOne, FormatGroupedCount(figures.OneBits));
  set(StatFigure::BitTotal, FormatGroupedCount(figures.TotalBits));
  set(StatFigure::BitZeroRatio, FormatFixed(figures.ZeroBitRatio, 6));
  set(StatFigure::BitOneRatio, FormatFixed(figures.OneBitRatio, 6));
  set(StatFigure::ExpectedValue, FormatGroupedRounded(figures.ExpectedValue));
  return values;
}

FileStatistics ComputeFileStatistics(const ByteTotals& totals) {
  FileStatistics statistics;
  statistics.ByteCounts = totals.ByteCounts;
  statistics.Figures = ComputeStatFigures(totals);
  statistics.StatValues = FormatStatValues(statistics.Figures);
  return statistics;
}

std::string RenderStatisticsReport(const FileStatistics& statistics, ReportCounts counts) {
  std::string report;
  for (std::size_t index = 0; index < StatFigureCount; ++index) {
    report += StatLabels[index];
    report += statistics.StatValues[index];
    report += '\n';
  }
  if (counts == ReportCounts::Include) {
    for (std::size_t value = 0; value < statistics.ByteCounts.size(); ++value) {
      report += std::to_string(value);
      report += ' ';
      report += FormatGroupedCount(statistics.ByteCounts[value]);
      report += '\n';
    }
  }
  return report;
}

}  // namespace quorvant
