#include "analysis/statistics_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/analysis/statistics_fixtures.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::Bytes;
using testing::TempFolder;

struct ReferenceCase {
  std::string name;
  std::string generator;
  std::vector<std::string> labels;
  std::vector<std::string> texts;
  std::vector<double> numbers;
  ByteHistogram byte_counts{};
};

// Reads tests/data/stats_reference.txt (see stats_reference.py for its form).
std::vector<ReferenceCase> ReadReferenceCases() {
  std::ifstream in(QUORVANT_SOURCE_DIR "/tests/data/stats_reference.txt");
  EXPECT_TRUE(in.good());
  std::vector<ReferenceCase> cases;
  ReferenceCase current;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    if (line.rfind("case ", 0) == 0) {
      current = ReferenceCase();
      std::istringstream words(line.substr(5));
      words >> current.name;
      std::getline(words >> std::ws, current.generator);
    } else if (fields[0] == "value" && fields.size() == 3) {
      current.labels.push_back(fields[1]);
      current.texts.push_back(fields[2]);
    } else if (fields[0] == "number" && fields.size() == 3) {
      current.numbers.push_back(std::stod(fields[2]));
    } else if (fields[0] == "counts") {
      std::istringstream pairs(fields.size() > 1 ? fields[1] : "");
      for (std::string pair; pairs >> pair;) {
        const auto colon = pair.find(':');
        current.byte_counts[std::stoul(pair.substr(0, colon))] = std::stoull(pair.substr(colon + 1));
      }
    } else if (fields[0] == "end") {
      cases.push_back(current);
    } else {
      ADD_FAILURE() << "unreadable reference line: " << line;
    }
  }
  return cases;
}

std::vector<double> FigureNumbers(const StatFigures& figures) {
  return {figures.Entropy,
          figures.ChiSquare,
          figures.ArithmeticMean,
          figures.MonteCarloPi,
          figures.SerialCorrelation,
          static_cast<double>(figures.ZeroBits),
          static_cast<double>(figures.OneBits),
          static_cast<double>(figures.TotalBits),
          figures.ZeroBitRatio,
          figures.OneBitRatio,
          figures.ExpectedValue};
}

FileStatistics StatisticsOf(int file, std::uint64_t length, std::size_t chunk_length) {
  auto result = ComputeStatisticsInChunks(file, length, chunk_length, nullptr);
  EXPECT_TRUE(result.ok()) << (result.ok() ? "" : result.error().Describe());
  if (!result.ok() || !result.value().has_value()) return {};
  return **result;
}

// The figures of small files against values worked out independently from
// their definitions, read whole and in 7-byte chunks.
TEST(StatisticsEngineTest, FiguresMatchTheIndependentReference) {
  const std::vector<ReferenceCase> cases = ReadReferenceCases();
  ASSERT_GE(cases.size(), 15u);
  TempFolder folder;
  for (const ReferenceCase& reference : cases) {
    SCOPED_TRACE(reference.name + " (" + reference.generator + ")");
    ASSERT_EQ(reference.texts.size(), StatFigureCount);
    ASSERT_EQ(reference.numbers.size(), StatFigureCount);
    for (std::size_t index = 0; index < StatFigureCount; ++index) {
      EXPECT_EQ(reference.labels[index], StatLabels[index]);
    }
    const Bytes bytes = testing::GenerateBytes(reference.generator);
    const UniqueFd file(folder.WriteAndOpen(reference.name, bytes));
    for (const std::size_t chunk_length : {StatisticsChunkLength, std::size_t{7}}) {
      SCOPED_TRACE("chunk " + std::to_string(chunk_length));
      const FileStatistics statistics = StatisticsOf(file.Get(), bytes.size(), chunk_length);
      EXPECT_EQ(statistics.ByteCounts, reference.byte_counts);
      const std::vector<double> numbers = FigureNumbers(statistics.Figures);
      for (std::size_t index = 0; index < StatFigureCount; ++index) {
        SCOPED_TRACE(StatLabels[index]);
        EXPECT_EQ(statistics.StatValues[index], reference.texts[index]);
        if (std::isnan(reference.numbers[index])) {
          EXPECT_TRUE(std::isnan(numbers[index])) << numbers[index];
        } else {
          EXPECT_NEAR(numbers[index], reference.numbers[index],
                      1e-12 * std::max(1.0, std::fabs(numbers[index])));
        }
      }
    }
  }
}

// Sizes around one and two progress pieces, read in chunks from one byte up:
// the figures must not depend on how the file is read.
TEST(StatisticsEngineTest, ChunkSizeDoesNotChangeTheResults) {
  TempFolder folder;
  for (const std::size_t length : {16383, 16384, 16385, 32767, 32768, 32769}) {
    SCOPED_TRACE("length " + std::to_string(length));
    const Bytes bytes = testing::LcgBytes(length, length);
    const UniqueFd file(folder.WriteAndOpen("size" + std::to_string(length), bytes));
    const FileStatistics whole = StatisticsOf(file.Get(), length, StatisticsChunkLength);
    for (const std::size_t chunk_length : {1, 2, 3, 4096, 16383, 16384, 16385, 65536}) {
      SCOPED_TRACE("chunk " + std::to_string(chunk_length));
      const FileStatistics chunked = StatisticsOf(file.Get(), length, chunk_length);
      EXPECT_EQ(chunked.ByteCounts, whole.ByteCounts);
      EXPECT_EQ(chunked.StatValues, whole.StatValues);
      EXPECT_EQ(chunked.Figures.SerialCorrelation, whole.Figures.SerialCorrelation);
      EXPECT_EQ(chunked.Figures.MonteCarloPi, whole.Figures.MonteCarloPi);
    }
  }
}

struct ProgressCase {
  std::uint64_t length;
  std::vector<std::int64_t> offsets;
};

TEST(StatisticsEngineTest, ProgressComesOncePerFullPieceOfLargerFiles) {
  const ProgressCase cases[] = {
      {1, {}},
      {16384, {}},
      {16385, {0}},
      {32767, {0}},
      {32768, {0, 16384}},
      {49152, {0, 16384, 32768}},
      {100000, {0, 16384, 32768, 49152, 65536, 81920}},
  };
  TempFolder folder;
  for (const ProgressCase& item : cases) {
    const Bytes bytes = testing::LcgBytes(3, item.length);
    const UniqueFd file(folder.WriteAndOpen("progress" + std::to_string(item.length), bytes));
    for (const std::size_t chunk_length : {std::size_t{1000}, std::size_t{16384}, StatisticsChunkLength}) {
      SCOPED_TRACE("length " + std::to_string(item.length) + " chunk " + std::to_string(chunk_length));
      std::vector<std::int64_t> offsets;
      const auto result = ComputeStatisticsInChunks(file.Get(), item.length, chunk_length,
                                                    [&](std::int64_t offset, std::int64_t last_offset) {
                                                      EXPECT_EQ(last_offset, std::int64_t(item.length) - 1);
                                                      offsets.push_back(offset);
                                                      return ProgressAnswer::Continue;
                                                    });
      ASSERT_TRUE(result.ok());
      EXPECT_TRUE(result.value().has_value());
      EXPECT_EQ(offsets, item.offsets);
    }
  }
}

TEST(StatisticsEngineTest, CancelProducesNoFiguresAndStopsAsking) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(9, 100000);
  const UniqueFd file(folder.WriteAndOpen("cancel", bytes));
  for (const int cancel_at : {1, 2, 6}) {
    SCOPED_TRACE("cancel at call " + std::to_string(cancel_at));
    int calls = 0;
    const auto result = ComputeStatistics(file.Get(), bytes.size(), [&](std::int64_t, std::int64_t) {
      return ++calls == cancel_at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
    });
    ASSERT_TRUE(result.ok());
    EXPECT_FALSE(result.value().has_value());
    EXPECT_EQ(calls, cancel_at);
  }
}

TEST(StatisticsEngineTest, ReadsFromTheStartWhateverTheFilePosition) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(4, 5000);
  const UniqueFd file(folder.WriteAndOpen("position", bytes));
  const FileStatistics before = StatisticsOf(file.Get(), bytes.size(), StatisticsChunkLength);
  ASSERT_EQ(lseek(file.Get(), 1234, SEEK_SET), 1234);
  const FileStatistics after = StatisticsOf(file.Get(), bytes.size(), StatisticsChunkLength);
  EXPECT_EQ(after.StatValues, before.StatValues);
  EXPECT_EQ(lseek(file.Get(), 0, SEEK_CUR), 1234);
}

TEST(StatisticsEngineTest, ReadFailuresAreErrorsNotFigures) {
  TempFolder folder;
  const Bytes bytes = testing::LcgBytes(8, 3000);
  const UniqueFd file(folder.WriteAndOpen("short", bytes));
  const UniqueFd directory(open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));

  struct FailureCase {
    const char* what;
    int file;
    std::uint64_t length;
    int code;
  };
  const FailureCase cases[] = {
      {"closed descriptor", -1, 100, EBADF},
      {"folder", directory.Get(), 100, EISDIR},
      {"file shorter than the length", file.Get(), bytes.size() + 1, 0},
      {"length beyond 2^60", file.Get(), MaxStatisticsLength + 1, EFBIG},
  };
  for (const FailureCase& item : cases) {
    SCOPED_TRACE(item.what);
    const auto result = ComputeStatistics(item.file, item.length, nullptr);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().code, item.code) << result.error().Describe();
  }
}

}  // namespace
}  // namespace quorvant
