// The window engine with a format whose windows have side bytes elsewhere in
// the file (as tags after the data): the side bytes go through the slot with
// the data, a window torn in either part is written whole again by the
// recovery, and the data stays within its range.

#include "rewrite/window_engine.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "../support/faulty_calls.h"
#include "../support/temp_folder.h"
#include "crypto/encrypted_name.h"

namespace quorvant {
namespace {

using testing::FaultyCalls;
using testing::PatternBytes;
using testing::TempFolder;

constexpr std::int64_t Unit = 32768;   // the format's chunk
constexpr std::int64_t SideEach = 4;   // side bytes per chunk
constexpr std::int64_t DataLength = 5 * Unit + 1000;
constexpr std::int64_t Chunks = 6;
constexpr std::int64_t SideStart = DataLength;  // the side table follows the data
constexpr std::int64_t FileLength = DataLength + Chunks * SideEach;

// Adds 1 to every byte going forward (takes it back going back); each
// chunk's side bytes are its index and three bytes of a sum of its new bytes.
class SideCipher final : public WindowCipher {
 public:
  std::int64_t Alignment() const override { return Unit; }
  ByteRange SideRange(std::int64_t start, std::int64_t end, Direction direction) const override {
    if (direction != Direction::Encrypt) return {};
    const std::int64_t first = start / Unit;
    const std::int64_t last = (end + Unit - 1) / Unit;
    return {SideStart + first * SideEach, (last - first) * SideEach};
  }
  std::int64_t SideLengthFor(std::int64_t window) const override { return (window / Unit + 1) * SideEach; }
  FileStatus Begin(std::int64_t start, std::int64_t /*end*/, Direction direction) override {
    chunk_ = start / Unit;
    direction_ = direction;
    sides_.clear();
    return {};
  }
  void Turn(std::span<std::uint8_t> chunk) override {
    for (std::size_t at = 0; at < chunk.size(); at += Unit) {
      std::uint32_t sum = 0;
      for (std::size_t i = at; i < std::min(chunk.size(), at + Unit); ++i) {
        chunk[i] = static_cast<std::uint8_t>(chunk[i] + (direction_ == Direction::Encrypt ? 1 : -1));
        sum = sum * 31 + chunk[i];
      }
      sides_.insert(sides_.end(), {static_cast<std::uint8_t>(chunk_++), static_cast<std::uint8_t>(sum),
                                   static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum >> 16)});
    }
  }
  void Side(std::span<std::uint8_t> side) override {
    ASSERT_EQ(side.size(), sides_.size());
    std::copy(sides_.begin(), sides_.end(), side.begin());
  }
  void Keep(std::int64_t) override {}

 private:
  std::int64_t chunk_ = 0;
  Direction direction_ = Direction::Encrypt;
  std::vector<std::uint8_t> sides_;
};

class AnyTime final : public WindowGuard {
 public:
  FileStatus MayWrite(JournalPhase, std::int64_t) override { return {}; }
  void Wrote(bool /*resized*/) override {}
};

// The file as the run should leave it: data moved on by one, the side table
// filled in by a cipher that saw it all.
std::vector<std::uint8_t> Expected(const std::vector<std::uint8_t>& before) {
  std::vector<std::uint8_t> after = before;
  SideCipher cipher;
  (void)cipher.Begin(0, DataLength, Direction::Encrypt);
  cipher.Turn(std::span(after).first(DataLength));
  std::vector<std::uint8_t> side(Chunks * SideEach);
  cipher.Side(side);
  std::copy(side.begin(), side.end(), after.begin() + SideStart);
  return after;
}

struct Rig {
  TempFolder folder;
  FaultyCalls calls;
  std::vector<std::uint8_t> before;
  std::optional<OpenedFile> file;
  std::optional<JournalFile> journal;
  SideCipher cipher;
  AnyTime guard;

  // The file: `length` bytes (the data and what follows it, if any).
  explicit Rig(std::int64_t length = FileLength) : before(PatternBytes(length, 5)) {
    folder.Write("data", before);
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), "data", calls);
    EXPECT_EQ(FailureOf(opened).outcome, FileOutcome::Done);
    file = std::move(*opened);
    JournalRunHeader header;
    header.direction = Direction::Encrypt;
    header.suffix = *SuffixOfName("data abcdefg[");
    header.length = length;
    header.block_length = file->BlockLength();
    header.inode = static_cast<std::uint64_t>(file->Inode());
    header.old_name = "data";
    header.new_name = "data abcdefg[";
    // Two chunks of data and their side bytes per window.
    JournalResult made = CreateJournal(*file, header, 3 * Unit, calls);
    EXPECT_TRUE(made) << (made ? "" : made.error().failure.error.Describe());
    if (made) journal = std::move(*made);
  }
  // Through the run's own descriptor: an open of the name would wait for the
  // run's lease to be broken.
  std::vector<std::uint8_t> Content() const {
    struct stat status {};
    EXPECT_EQ(fstat(file->Descriptor(), &status), 0);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(status.st_size));
    EXPECT_EQ(pread(file->Descriptor(), bytes.data(), bytes.size(), 0), status.st_size);
    return bytes;
  }
  WindowEngine Engine() {
    WindowSettings settings;
    settings.data_length = DataLength;
    settings.blocks_per_chunk = 1;
    settings.cipher_thread = CipherThread::Caller;
    return WindowEngine(*file, calls, *journal, cipher, guard, settings);
  }
};

TEST(WindowEngineSides, ForwardWritesTheDataAndTheirSideBytes) {
  Rig rig;
  WindowEngine engine = rig.Engine();
  ASSERT_TRUE(engine.Forward());
  EXPECT_EQ(engine.Done(), DataLength);
  EXPECT_EQ(rig.Content(), Expected(rig.before));
  // And back: the data as before (the side table is the format's to drop).
  ASSERT_TRUE(engine.Undo());
  const std::vector<std::uint8_t> undone = rig.Content();
  EXPECT_TRUE(std::equal(undone.begin(), undone.begin() + DataLength, rig.before.begin()));
}

// A write in place that fails part-way, in the data or in the side bytes of
// the second window: the recovery writes that window whole, data and side.
TEST(WindowEngineSides, RecoveryWritesATornWindowWholeWithItsSideBytes) {
  for (const std::int64_t torn_at : {2 * Unit, SideStart + 2 * SideEach}) {
    SCOPED_TRACE(torn_at);
    Rig rig;
    const int file_descriptor = rig.file->Descriptor();
    bool failed = false;
    rig.calls.write_fault = [&](int descriptor, off_t offset) {
      if (failed || descriptor != file_descriptor || offset != torn_at) return 0;
      failed = true;
      return EIO;
    };
    {
      WindowEngine engine = rig.Engine();
      EXPECT_FALSE(engine.Forward());
      ASSERT_TRUE(failed);
      ASSERT_TRUE(engine.TornWindow().has_value());
    }
    WindowEngine recovering = rig.Engine();
    const FileResult<JournalPhase> phase = recovering.Recover(false);
    ASSERT_TRUE(phase) << phase.error().error.Describe();
    EXPECT_EQ(recovering.Done(), 4 * Unit);
    ASSERT_TRUE(recovering.Forward());
    EXPECT_EQ(rig.Content(), Expected(rig.before));
  }
}

// A format that keeps more after its data: the side table and a trailer.
const std::vector<std::uint8_t> Trailer = {'T', 'R', 'A', 'I', 'L', 'E', 'R', '!'};
std::vector<std::uint8_t> Tail() {
  std::vector<std::uint8_t> tail(Chunks * SideEach, 0);
  tail.insert(tail.end(), Trailer.begin(), Trailer.end());
  return tail;
}

// An encryption of such a format: the file grows first, then the windows;
// its undo takes the windows back and cuts the file to what it was.
TEST(WindowEngineLength, GrowthAndItsUndoGiveTheFileBackExactly) {
  Rig rig(DataLength);
  WindowEngine engine = rig.Engine();
  ASSERT_TRUE(engine.Grow(JournalPhase::Forward, Tail()));
  ASSERT_TRUE(engine.Forward());
  std::vector<std::uint8_t> expected = rig.before;
  expected.resize(FileLength);
  expected.insert(expected.end(), Trailer.begin(), Trailer.end());
  expected = Expected(expected);
  EXPECT_EQ(rig.Content(), expected);

  ASSERT_TRUE(engine.Undo());
  ASSERT_TRUE(engine.Cut(JournalPhase::Undo));
  EXPECT_EQ(rig.Content(), rig.before);
}

// A crash while the tail is written: the recovery writes it whole.
TEST(WindowEngineLength, ATornGrowthIsWrittenWholeByTheRecovery) {
  Rig rig(DataLength);
  const int file_descriptor = rig.file->Descriptor();
  rig.calls.write_fault = [&](int descriptor, off_t) { return descriptor == file_descriptor ? EIO : 0; };
  {
    WindowEngine engine = rig.Engine();
    EXPECT_FALSE(engine.Grow(JournalPhase::Forward, Tail()));
  }
  rig.calls.write_fault = nullptr;
  WindowEngine recovering = rig.Engine();
  const FileResult<JournalPhase> phase = recovering.Recover(false);
  ASSERT_TRUE(phase) << phase.error().error.Describe();
  EXPECT_EQ(*phase, JournalPhase::Forward);
  EXPECT_EQ(recovering.Done(), 0);
  std::vector<std::uint8_t> grown = rig.before;
  const std::vector<std::uint8_t> tail = Tail();
  grown.insert(grown.end(), tail.begin(), tail.end());
  EXPECT_EQ(rig.Content(), grown);
}

// A decryption's last step cuts what follows the data; after a crash there,
// the recovery knows it, and its undo puts every byte back.
TEST(WindowEngineLength, ACutIsKnownAfterACrashAndUndoneExactly) {
  Rig rig(FileLength + static_cast<std::int64_t>(Trailer.size()));
  {
    WindowEngine engine = rig.Engine();
    ASSERT_TRUE(engine.Cut(JournalPhase::Forward));
    EXPECT_EQ(rig.Content(), std::vector<std::uint8_t>(rig.before.begin(), rig.before.begin() + DataLength));
  }
  WindowEngine recovering = rig.Engine();
  ASSERT_TRUE(recovering.Recover(false));
  ASSERT_TRUE(recovering.NewestIsCut());
  ASSERT_TRUE(recovering.UndoCut());
  EXPECT_EQ(rig.Content(), rig.before);
}

}  // namespace
}  // namespace quorvant
