#include "cli/stats_json.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvant::cli {
namespace {

TEST(StatsJsonTest, NamesBecomeValidJsonStrings) {
  const std::pair<std::string, std::string> cases[] = {
      {"report.txt", "\"report.txt\""},
      {"a.txt oqF;sA^[", "\"a.txt oqF;sA^[\""},
      {"say \"hi\"\\", "\"say \\\"hi\\\"\\\\\""},
      {"two\nlines\tand\x1b\x7f", "\"two\\nlines\\tand\\u001b\\u007f\""},
      {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
      {"\xc2\x85", "\"\\u0085\""},
      {"bad\xff", "\"bad\\ufffd\""},
  };
  for (const auto& [name, json] : cases) EXPECT_EQ(JsonString(name), json) << name;
}

// The figures as the window shows them, without digit groups; a figure that
// cannot be computed is null, never the word the window shows.
TEST(StatsJsonTest, FiguresArePlainNumbers) {
  FileStatistics statistics;
  statistics.StatValues = {"8.000000", "0.00",   "127.5000", "4.000000000", "-0.047240", "35 100",
                           "27 300",   "62 400", "0.562500", "undefined",   "1 234 567"};
  statistics.ByteCounts[65] = 1'234'567;
  EXPECT_EQ(StatisticsJson("f", statistics, ReportCounts::Omit),
            "{\"file\":\"f\",\"entropy\":8.000000,\"chi_square\":0.00,\"arithmetic_mean\":127.5000,"
            "\"monte_carlo_pi\":4.000000000,\"serial_correlation\":-0.047240,\"bit_zero\":35100,"
            "\"bit_one\":27300,\"bit_total\":62400,\"bit_0_ratio\":0.562500,\"bit_1_ratio\":null,"
            "\"expected_value\":1234567}\n");
  const std::string with_counts = StatisticsJson("f", statistics, ReportCounts::Include);
  std::string counts = ",\"counts\":[";
  for (int value = 0; value < 256; ++value)
    counts += std::string(value > 0 ? "," : "") + (value == 65 ? "1234567" : "0");
  EXPECT_NE(with_counts.find(counts + "]}\n"), std::string::npos) << with_counts;
}

}  // namespace
}  // namespace quorvant::cli
