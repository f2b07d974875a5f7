#pragma once

// stats --json: a file's figures as one line of JSON, for scripts.
//
//   {"file":"all.bin","entropy":8.000000,"chi_square":0.00,...,"expected_value":1}
//
// The figures are those the window shows, with the same decimals, as plain
// numbers (no digit groups); a figure that cannot be computed (the entropy
// of an empty file) is null. With the counts, "counts" is an array of the
// 256 counts, indexed by byte value. The keys stay as they are: scripts
// depend on them.

#include <array>
#include <string>
#include <string_view>

#include "analysis/stat_figures.h"

namespace quorvant::cli {

// The keys, in StatFigure order.
// clang-format off
inline constexpr std::array<std::string_view, StatFigureCount> StatJsonKeys = {
    "entropy",
    "chi_square",
    "arithmetic_mean",
    "monte_carlo_pi",
    "serial_correlation",
    "bit_zero",
    "bit_one",
    "bit_total",
    "bit_0_ratio",
    "bit_1_ratio",
    "expected_value",
};
// clang-format on

// `text` as a JSON string: quotes and backslashes escaped, control
// characters (C1 ones too) as \n, \t or \u00XX, bytes that are not UTF-8 as U+FFFD.
std::string JsonString(std::string_view text);

// One line, ending in "\n". `file` is the path as given.
std::string StatisticsJson(std::string_view file, const FileStatistics& statistics, ReportCounts counts);

}  // namespace quorvant::cli
