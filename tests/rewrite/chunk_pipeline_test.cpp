// The chunk loop of a window (rewrite/chunk_pipeline.h) against a caller that
// records its steps: what the loop transforms, and the order of the steps,
// with the cipher on the caller's thread and on its own. The file run's
// tests (file_transform_test.cpp) compare whole runs of both kinds.

#include "rewrite/chunk_pipeline.h"
#include "rewrite/classic_windows.h"

#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

const EncryptedSuffix Suffix = {' ', 'p', 'i', 'p', 'e', '-', '0', '1', '['};
constexpr char Key[] = "chunk by chunk";

struct Step {
  char kind;  // 'r' read, 'a' ask, 'w' write
  std::int64_t at;
};

// A caller whose file is a vector: it reads from `file`, keeps what it is
// given to write in `written`, and logs every step. One read, ask or write
// can be made to fail or cancel.
class RecordingSteps final : public ChunkSteps {
 public:
  explicit RecordingSteps(const std::vector<std::uint8_t>& file) : written(file.size()), file_(file) {}

  std::vector<Step> steps;
  std::vector<std::uint8_t> written;
  bool off_the_callers_thread = false;
  std::optional<std::int64_t> cancel_at, fail_read_at, fail_write_at;

  Status Read(std::int64_t at, std::span<std::uint8_t> chunk) override {
    Log('r', at);
    if (fail_read_at == at) return Error{EIO, "read"};
    std::memcpy(chunk.data(), file_.data() + at, chunk.size());
    return {};
  }
  ProgressAnswer Ask(std::int64_t at) override {
    Log('a', at);
    return cancel_at == at ? ProgressAnswer::Cancel : ProgressAnswer::Continue;
  }
  Status Write(std::int64_t at, std::span<const std::uint8_t> chunk) override {
    Log('w', at);
    if (fail_write_at == at) return Error{ENOSPC, "write"};
    std::memcpy(written.data() + at, chunk.data(), chunk.size());
    return {};
  }

  std::vector<std::int64_t> OffsetsOf(char kind) const {
    std::vector<std::int64_t> offsets;
    for (const Step& step : steps) {
      if (step.kind == kind) offsets.push_back(step.at);
    }
    return offsets;
  }
  // Where the step of `kind` at `at` is in the log; -1 when it is not.
  std::ptrdiff_t IndexOf(char kind, std::int64_t at) const {
    const auto found = std::find_if(steps.begin(), steps.end(),
                                    [&](const Step& step) { return step.kind == kind && step.at == at; });
    return found == steps.end() ? -1 : found - steps.begin();
  }

 private:
  void Log(char kind, std::int64_t at) {
    if (std::this_thread::get_id() != caller_) off_the_callers_thread = true;
    steps.push_back({kind, at});
  }

  const std::vector<std::uint8_t>& file_;
  const std::thread::id caller_ = std::this_thread::get_id();
};

// A stretch of a file: [start, end) of `length` bytes in chunks of `chunk_blocks` blocks.
struct Stretch {
  const char* what;
  std::size_t length;
  std::int64_t chunk_blocks;
  std::int64_t start_block;
  std::optional<std::int64_t> end;  // the file's end when empty
};

void PrintTo(const Stretch& stretch, std::ostream* output) { *output << stretch.what; }

}  // namespace

void PrintTo(CipherThread placement, std::ostream* output) {
  *output << (placement == CipherThread::Own      ? "own thread"
              : placement == CipherThread::Caller ? "caller's thread"
                                                  : "auto");
}

namespace {

std::int32_t BlockLengthOf(std::size_t length) {
  return static_cast<std::int32_t>(std::clamp<std::size_t>(length, 1, MaxBlockLength));
}

// The stretch transformed one block after another on this thread, and the words after it.
std::vector<std::uint8_t> TransformedOneByOne(std::vector<std::uint8_t> data, std::int64_t start,
                                              std::int64_t end, std::int32_t block_length, KeyWords& words) {
  for (std::int64_t at = start; at < end; at += block_length) {
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(block_length, end - at));
    TransformBlock(std::span(data).subspan(static_cast<std::size_t>(at), size), block_length,
                   Direction::Encrypt, words);
  }
  return data;
}

KeyWords WordsAt(std::int64_t block) {
  KeyWords words = BuildKeyWords(Key, Suffix);
  SkipBlocks(words, MaxBlockLength, block);
  return words;
}

class ChunkPipelineTest : public ::testing::TestWithParam<std::tuple<Stretch, CipherThread>> {
 protected:
  void SetUp() override {
    const Stretch& stretch = std::get<0>(GetParam());
    file_ = testing::PatternBytes(stretch.length, static_cast<std::uint32_t>(stretch.length));
    block_ = BlockLengthOf(stretch.length);
    chunk_ = stretch.chunk_blocks * block_;
    start_ = stretch.start_block * block_;
    end_ = stretch.end.value_or(static_cast<std::int64_t>(stretch.length));
  }

  ChunkLoopResult RunOn(RecordingSteps& steps, KeyWords& words, ImageHash& hash) {
    // The classic cipher, as a run's windows turn it.
    class WordsCipher final : public ChunkCipher {
     public:
      WordsCipher(KeyWords& words, std::int32_t block) : words_(words), block_(block) {}
      void Turn(std::span<std::uint8_t> chunk) override {
        TransformBlocks(chunk, block_, Direction::Encrypt, words_);
      }

     private:
      KeyWords& words_;
      const std::int32_t block_;
    } cipher(words, block_);
    ChunkPipeline pipeline(static_cast<std::size_t>(chunk_), std::get<1>(GetParam()));
    EXPECT_EQ(pipeline.HasOwnThread(), std::get<1>(GetParam()) == CipherThread::Own);
    return pipeline.Run(start_, end_, chunk_, block_, cipher, hash, steps);
  }

  std::vector<std::int64_t> ChunkStarts() const {
    std::vector<std::int64_t> starts;
    for (std::int64_t at = start_; at < end_; at += chunk_) starts.push_back(at);
    return starts;
  }
  std::vector<std::int64_t> BlockStarts() const {
    std::vector<std::int64_t> starts;
    for (std::int64_t at = start_; at < end_; at += block_) starts.push_back(at);
    return starts;
  }
  std::int64_t ChunkOf(std::int64_t at) const { return start_ + (at - start_) / chunk_ * chunk_; }

  std::vector<std::uint8_t> file_;
  std::int32_t block_ = 0;
  std::int64_t chunk_ = 0, start_ = 0, end_ = 0;
};

// Chunked, and with the cipher on either thread, the stretch holds what the
// block cipher gives one block after another; the words end where it
// leaves them, and the hash is that of the new bytes.
TEST_P(ChunkPipelineTest, TransformsLikeOneBlockAfterAnother) {
  KeyWords words = WordsAt(std::get<0>(GetParam()).start_block);
  KeyWords reference_words = words;
  const std::vector<std::uint8_t> reference =
      TransformedOneByOne(file_, start_, end_, block_, reference_words);
  ImageHash hash;
  RecordingSteps steps(file_);
  const ChunkLoopResult result = RunOn(steps, words, hash);
  ASSERT_EQ(result.end, ChunkLoopEnd::Done);
  EXPECT_TRUE(
      std::equal(steps.written.begin() + start_, steps.written.begin() + end_, reference.begin() + start_))
      << "the new bytes differ";
  EXPECT_TRUE(std::equal(words.Words().begin(), words.Words().end(), reference_words.Words().begin()));
  ImageHash expected;
  expected.Add(std::span(reference).subspan(static_cast<std::size_t>(start_),
                                            static_cast<std::size_t>(end_ - start_)));
  EXPECT_EQ(hash.Finish(), expected.Finish());
  EXPECT_FALSE(steps.off_the_callers_thread);
}

// The steps come in the order of one thread, each chunk read, asked for
// block by block, then written; with the cipher on its own thread, the next
// chunk is read before this one is written (while the cipher turns it).
TEST_P(ChunkPipelineTest, KeepsTheOrderOfOneThreadButReadsAheadBesideTheCipher) {
  KeyWords words = WordsAt(std::get<0>(GetParam()).start_block);
  ImageHash hash;
  RecordingSteps steps(file_);
  ASSERT_EQ(RunOn(steps, words, hash).end, ChunkLoopEnd::Done);
  EXPECT_EQ(steps.OffsetsOf('r'), ChunkStarts());
  EXPECT_EQ(steps.OffsetsOf('w'), ChunkStarts());
  EXPECT_EQ(steps.OffsetsOf('a'), BlockStarts());
  for (const std::int64_t block : BlockStarts()) {
    const std::int64_t chunk = ChunkOf(block);
    EXPECT_LT(steps.IndexOf('r', chunk), steps.IndexOf('a', block)) << block;
    EXPECT_LT(steps.IndexOf('a', block), steps.IndexOf('w', chunk)) << block;
    if (chunk > start_) {
      EXPECT_LT(steps.IndexOf('w', chunk - chunk_), steps.IndexOf('a', block)) << block;
    }
  }
  const bool reads_ahead = std::get<1>(GetParam()) == CipherThread::Own;
  for (const std::int64_t chunk : ChunkStarts()) {
    if (chunk + chunk_ < end_) {
      EXPECT_EQ(steps.IndexOf('r', chunk + chunk_) < steps.IndexOf('w', chunk), reads_ahead) << chunk;
    }
  }
  EXPECT_FALSE(steps.off_the_callers_thread);
}

// A cancel at any block stops the loop there: nothing of that block's chunk
// is written, everything before it is, and no block after it is asked for.
TEST_P(ChunkPipelineTest, ACancelStopsBeforeItsChunkIsWritten) {
  for (const std::int64_t cancel_at : BlockStarts()) {
    SCOPED_TRACE("cancel at " + std::to_string(cancel_at));
    KeyWords words = WordsAt(std::get<0>(GetParam()).start_block);
    KeyWords reference_words = words;
    const std::vector<std::uint8_t> reference =
        TransformedOneByOne(file_, start_, end_, block_, reference_words);
    ImageHash hash;
    RecordingSteps steps(file_);
    steps.cancel_at = cancel_at;
    EXPECT_EQ(RunOn(steps, words, hash).end, ChunkLoopEnd::Cancelled);
    EXPECT_EQ(steps.steps.back().kind, 'a');
    EXPECT_EQ(steps.steps.back().at, cancel_at);
    std::vector<std::int64_t> written;
    for (std::int64_t chunk = start_; chunk < ChunkOf(cancel_at); chunk += chunk_) written.push_back(chunk);
    EXPECT_EQ(steps.OffsetsOf('w'), written);
    EXPECT_TRUE(std::equal(steps.written.begin() + start_, steps.written.begin() + ChunkOf(cancel_at),
                           reference.begin() + start_));
  }
}

// A failed read is reported where one thread would have read: after the
// previous chunk is written, before any block of its own is asked for. A
// failed write stops the loop at once.
TEST_P(ChunkPipelineTest, AFailureStopsWhereOneThreadWouldStop) {
  for (const std::int64_t chunk : ChunkStarts()) {
    for (const char failing : {'r', 'w'}) {
      SCOPED_TRACE(std::string(failing == 'r' ? "read" : "write") + " fails at " + std::to_string(chunk));
      KeyWords words = WordsAt(std::get<0>(GetParam()).start_block);
      ImageHash hash;
      RecordingSteps steps(file_);
      (failing == 'r' ? steps.fail_read_at : steps.fail_write_at) = chunk;
      const ChunkLoopResult result = RunOn(steps, words, hash);
      EXPECT_EQ(result.end, failing == 'r' ? ChunkLoopEnd::ReadFailed : ChunkLoopEnd::WriteFailed);
      EXPECT_EQ(result.error.code, failing == 'r' ? EIO : ENOSPC);
      std::vector<std::int64_t> written;
      for (std::int64_t before = start_; before < chunk; before += chunk_) written.push_back(before);
      if (failing == 'w') written.push_back(chunk);
      EXPECT_EQ(steps.OffsetsOf('w'), written);
      const std::vector<std::int64_t> asked = steps.OffsetsOf('a');
      const std::int64_t last_asked = failing == 'r' ? chunk : std::min(end_, chunk + chunk_);
      EXPECT_TRUE(asked.empty() || asked.back() < last_asked);
      if (failing == 'w') {
        EXPECT_EQ(steps.steps.back().kind, 'w');
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Stretches, ChunkPipelineTest,
    ::testing::Combine(
        ::testing::Values(Stretch{"three chunks and a short block", 5 * MaxBlockLength + 100, 2, 0,
                                  std::nullopt},
                          Stretch{"a block a chunk", 4 * MaxBlockLength + 1, 1, 0, std::nullopt},
                          Stretch{"one chunk", 3 * MaxBlockLength, 64, 0, std::nullopt},
                          Stretch{"a window in the middle", 12 * MaxBlockLength, 2, 3, 9 * MaxBlockLength},
                          Stretch{"a file shorter than a block", 1000, 64, 0, std::nullopt},
                          Stretch{"nothing", 4 * MaxBlockLength, 2, 2, 2 * MaxBlockLength}),
        ::testing::Values(CipherThread::Caller, CipherThread::Own)),
    [](const ::testing::TestParamInfo<std::tuple<Stretch, CipherThread>>& info) {
      std::string name = std::string(std::get<0>(info.param).what) +
                         (std::get<1>(info.param) == CipherThread::Own ? " own thread" : " callers thread");
      for (char& character : name) {
        if (!std::isalnum(static_cast<unsigned char>(character))) character = '_';
      }
      return name;
    });

// Auto gives the cipher a thread of its own only where the process may run
// on two cores: on one, the thread could only take turns with the caller's.
TEST(ChunkPipelinePlacementTest, AutoFollowsTheUsableCores) {
  cpu_set_t allowed;
  ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
  EXPECT_EQ(ChunkPipeline(MaxBlockLength, CipherThread::Auto).HasOwnThread(), CPU_COUNT(&allowed) >= 2);

  int first = 0;
  while (!CPU_ISSET(first, &allowed)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_FALSE(ChunkPipeline(MaxBlockLength, CipherThread::Auto).HasOwnThread());
  EXPECT_TRUE(ChunkPipeline(MaxBlockLength, CipherThread::Own).HasOwnThread());
  EXPECT_FALSE(ChunkPipeline(MaxBlockLength, CipherThread::Caller).HasOwnThread());
  ASSERT_EQ(sched_setaffinity(0, sizeof allowed, &allowed), 0);
}

}  // namespace
}  // namespace quorvant
