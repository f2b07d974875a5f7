#include "browser/folder_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "base/clock.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::TempFolder;

// What the input wait would see: the watch's descriptor ready to wake it.
bool WakesTheWait(const FolderWatch& watch) {
  if (watch.WaitFd() < 0) return false;
  pollfd wake{watch.WaitFd(), POLLIN, 0};
  return poll(&wake, 1, 0) == 1;
}

constexpr std::int64_t Nfs = 0x6969;

// ---------------------------------------------------------------------------
// A local folder: the kernel reports every change, so only a report asks for a
// listing and the wait needs no time limit.

class FolderWatchTest : public ::testing::Test {
 protected:
  // The first question always says yes; tests start after it.
  void SetUp() override {
    if (watch_.Mode() == WatchMode::Untrusted) GTEST_SKIP() << "/tmp is on a network file system here";
    ASSERT_EQ(watch_.Mode(), WatchMode::Trusted) << watch_.Problem()->Describe();
    EXPECT_EQ(watch_.MsUntilRescan(clock_), 0);
    EXPECT_TRUE(watch_.MustRescan(clock_));
    EXPECT_FALSE(watch_.MustRescan(clock_));
  }

  // A change right after one that was acted on would be held: tests of
  // single changes let that time pass, with nothing to wait for meanwhile.
  void EndQuietPeriod() {
    EXPECT_EQ(watch_.MsUntilRescan(clock_), -1);
    clock_.Advance(FolderWatch::QuietMs);
    EXPECT_FALSE(watch_.MustRescan(clock_));
  }

  TempFolder folder_;
  TestClock clock_;
  FolderWatch watch_{folder_.Fd()};
};

TEST_F(FolderWatchTest, QuietFolderIsNeverRelisted) {
  for (int hour = 0; hour < 30; ++hour) {
    clock_.Advance(3'600'000);
    EXPECT_EQ(watch_.MsUntilRescan(clock_), -1) << "no deadline: the wait sleeps until a report";
    EXPECT_FALSE(WakesTheWait(watch_));
    EXPECT_FALSE(watch_.MustRescan(clock_));
  }
}

TEST_F(FolderWatchTest, EveryKindOfChangeWakesTheWaitAndAsksForOneRescan) {
  struct Change {
    const char* label;
    void (*make)(TempFolder& folder);
  };
  const Change changes[] = {
      {"create", [](TempFolder& folder) { folder.Write("new.txt", 0); }},
      {"grow", [](TempFolder& folder) { folder.Append("new.txt", 5); }},
      {"rename", [](TempFolder& folder) { folder.Rename("new.txt", "new.txt Ab3xZ9q["); }},
      {"chmod",
       [](TempFolder& folder) { ASSERT_EQ(chmod(folder.PathOf("new.txt Ab3xZ9q[").c_str(), 0600), 0); }},
      {"delete", [](TempFolder& folder) { folder.Remove("new.txt Ab3xZ9q["); }},
      {"make folder", [](TempFolder& folder) { folder.MakeFolder("sub"); }},
  };
  for (const Change& change : changes) {
    change.make(folder_);
    EXPECT_TRUE(WakesTheWait(watch_)) << change.label;
    EXPECT_TRUE(watch_.MustRescan(clock_)) << change.label;
    EXPECT_FALSE(WakesTheWait(watch_)) << change.label << ": reports were not drained";
    EXPECT_FALSE(watch_.MustRescan(clock_)) << change.label;
    EndQuietPeriod();
  }
}

TEST_F(FolderWatchTest, ManyReportsAreDrainedInOneQuestion) {
  // Far more reports than one read takes.
  for (int i = 0; i < 300; ++i) folder_.Write("file with a rather long name " + std::to_string(i), 1);
  EXPECT_TRUE(watch_.MustRescan(clock_));
  EXPECT_FALSE(watch_.MustRescan(clock_));
}

// More changes than the kernel queues: it drops the rest and says so. The
// one listing after that is what makes the table right again.
TEST_F(FolderWatchTest, OverflowedQueueAsksForARescanAndWatchingGoesOn) {
  int queue_limit = 0;
  std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> queue_limit;
  if (queue_limit <= 0 || queue_limit > 65536) GTEST_SKIP() << "queue limit " << queue_limit;
  // Each new file is reported twice: created, and closed after writing.
  for (int i = 0; i < queue_limit / 2 + 64; ++i) folder_.Write(std::to_string(i), 0);
  EXPECT_TRUE(WakesTheWait(watch_));
  EXPECT_TRUE(watch_.MustRescan(clock_));
  EXPECT_FALSE(watch_.MustRescan(clock_));
  EXPECT_EQ(watch_.Mode(), WatchMode::Trusted);
  EndQuietPeriod();
  folder_.Write("after the overflow", 1);
  EXPECT_TRUE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, ChangeBetweenQuestionAndScanIsNotLost) {
  clock_.Advance(500);
  EXPECT_FALSE(watch_.MustRescan(clock_));
  // The scan that would follow is running when another program writes.
  folder_.Write("late.txt", 1);
  EXPECT_TRUE(WakesTheWait(watch_));
  EXPECT_TRUE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, RenamedFolderIsStillWatched) {
  const std::string moved = folder_.Path() + "-moved";
  ASSERT_EQ(rename(folder_.Path().c_str(), moved.c_str()), 0);
  EXPECT_TRUE(watch_.MustRescan(clock_));
  EXPECT_FALSE(watch_.MustRescan(clock_));
  EXPECT_EQ(watch_.Mode(), WatchMode::Trusted);
  EndQuietPeriod();
  folder_.Write("after the move", 1);  // through the descriptor, which follows the folder
  EXPECT_TRUE(watch_.MustRescan(clock_));
  ASSERT_EQ(rename(moved.c_str(), folder_.Path().c_str()), 0);
}

TEST_F(FolderWatchTest, MovedWatchKeepsWatching) {
  FolderWatch moved = std::move(watch_);
  folder_.Write("x", 1);
  EXPECT_TRUE(moved.MustRescan(clock_));
  EXPECT_FALSE(moved.MustRescan(clock_));
}

// ---------------------------------------------------------------------------
// The listing the watch keeps up to date: how many whole listings a change
// costs, counted as they begin.

class FolderListingTest : public ::testing::Test {
 public:
  std::uint64_t SizeOf(const std::string& name) const {
    for (const FileEntry& entry : table_.entries) {
      if (entry.name == name) return entry.size;
    }
    return 0;
  }
  bool Listed(const std::string& name) const {
    for (const FileEntry& entry : table_.entries) {
      if (entry.name == name) return true;
    }
    return false;
  }

 protected:
  // Two listed files, and what is never listed: an empty file, a hidden
  // one, a folder.
  void SetUp() override {
    folder_.Write("a", 10);
    folder_.Write("b", 20);
    folder_.Write("empty", 0);
    folder_.Write(".keep", 1);
    folder_.MakeFolder("sub");
    if (watch_.Mode() == WatchMode::Untrusted) GTEST_SKIP() << "/tmp is on a network file system here";
    ASSERT_EQ(watch_.Mode(), WatchMode::Trusted);
    ASSERT_TRUE(watch_.Update(clock_, folder_.Fd(), table_).Changed);
    ASSERT_EQ(listings_, 1);
    ASSERT_EQ(table_.FileCount(), 2);
    // The files were made after the watch began: their reports are held for
    // a while, and taken in already.
    clock_.Advance(FolderWatch::QuietMs);
    ASSERT_FALSE(Update().Changed);
    ASSERT_EQ(watch_.MsUntilRescan(clock_), -1);
  }

  ListingUpdate Update() { return watch_.Update(clock_, folder_.Fd(), table_); }

  TempFolder folder_;
  TestClock clock_;
  int listings_ = 0;
  int open_error_ = 0;  // the errno the next listings fail with; 0: they succeed
  const FolderWatchSeam seam_{nullptr, FolderScanSeam{nullptr, [this] {
                                                        ++listings_;
                                                        return open_error_;
                                                      }}};
  FolderWatch watch_{folder_.Fd(), &seam_};
  FileTable table_;
};

// However many changes came, one listing takes them all in, and the quiet
// period that follows ends without another.
TEST_F(FolderListingTest, BurstOfChangesIsOneListing) {
  for (int i = 0; i < 200; ++i) folder_.Write("new " + std::to_string(i), 1);
  folder_.Remove("a");
  EXPECT_TRUE(Update().Changed);
  EXPECT_EQ(listings_, 2);
  EXPECT_EQ(table_.FileCount(), 201);
  EXPECT_FALSE(Update().Changed);
  clock_.Advance(FolderWatch::QuietMs);
  EXPECT_FALSE(Update().Changed);
  EXPECT_EQ(listings_, 2);
  EXPECT_EQ(watch_.MsUntilRescan(clock_), -1) << "idle again: only a report ends the wait";
}

// Another program makes a file every 10 ms for a second: one listing at the
// first, then one at the end of each quiet period, not one per file.
TEST_F(FolderListingTest, SteadyStreamIsListedOncePerQuietPeriod) {
  for (int i = 0; i < 100; ++i) {
    folder_.Write("log " + std::to_string(i), 1);
    // The input wait would sleep until the watch's next deadline, or until
    // the next change where that comes first.
    const int due_ms = watch_.MsUntilRescan(clock_);
    if (due_ms == 0 || WakesTheWait(watch_)) (void)Update();
    clock_.Advance(10);
  }
  clock_.Advance(FolderWatch::QuietMs);
  (void)Update();
  EXPECT_EQ(table_.FileCount(), 102);
  EXPECT_EQ(listings_, 1 + 1 + 1000 / FolderWatch::QuietMs);
}

TEST_F(FolderListingTest, CreatedDuringTheQuietPeriodIsListedAtItsEnd) {
  folder_.Write("first", 1);
  ASSERT_TRUE(Update().Changed);
  EXPECT_EQ(watch_.MsUntilRescan(clock_), -1) << "no timer after a lone change";
  clock_.Advance(40);
  folder_.Write("second", 1);
  EXPECT_TRUE(WakesTheWait(watch_));
  EXPECT_FALSE(Update().Changed);
  EXPECT_FALSE(Listed("second"));
  folder_.Write("third", 1);
  EXPECT_FALSE(WakesTheWait(watch_)) << "while reports are held, more do not wake the wait";
  EXPECT_EQ(watch_.MsUntilRescan(clock_), FolderWatch::QuietMs - 40);
  clock_.Advance(FolderWatch::QuietMs - 41);
  EXPECT_FALSE(Update().Changed);
  clock_.Advance(1);
  EXPECT_EQ(watch_.MsUntilRescan(clock_), 0);
  EXPECT_TRUE(Update().Changed);
  EXPECT_TRUE(Listed("second"));
  EXPECT_TRUE(Listed("third"));
  EXPECT_EQ(listings_, 3);
}

// What each kind of change costs: a look at one file, a whole listing, or
// nothing at all.
struct ChangeCost {
  const char* label;
  std::function<void(TempFolder&)> make;
  int listings;  // whole listings it causes
  bool changed;
  std::function<bool(const FolderListingTest&)> holds = nullptr;
};

class ChangeCostTest : public FolderListingTest, public ::testing::WithParamInterface<ChangeCost> {};

void PrintTo(const ChangeCost& c, std::ostream* out) { *out << c.label; }

TEST_P(ChangeCostTest, CostsWhatItMust) {
  const ChangeCost& c = GetParam();
  c.make(folder_);
  EXPECT_EQ(Update().Changed, c.changed);
  EXPECT_EQ(listings_ - 1, c.listings);
  if (c.holds) {
    EXPECT_TRUE(c.holds(*this));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, ChangeCostTest,
    ::testing::Values(
        ChangeCost{"Appended", [](TempFolder& f) { f.Append("a", 5); }, 0, true,
                   [](const FolderListingTest& t) { return t.SizeOf("a") == 15 && t.SizeOf("b") == 20; }},
        ChangeCost{"Truncated", [](TempFolder& f) { ASSERT_EQ(truncate(f.PathOf("b").c_str(), 3), 0); }, 0,
                   true, [](const FolderListingTest& t) { return t.SizeOf("b") == 3; }},
        ChangeCost{"Touched", [](TempFolder& f) { ASSERT_EQ(utimensat(f.Fd(), "a", nullptr, 0), 0); }, 0,
                   true},
        ChangeCost{"ModeChanged", [](TempFolder& f) { ASSERT_EQ(chmod(f.PathOf("a").c_str(), 0600), 0); }, 0,
                   true},
        ChangeCost{"Emptied", [](TempFolder& f) { f.Write("a", 0); }, 1, true,
                   [](const FolderListingTest& t) { return !t.Listed("a"); }},
        ChangeCost{"RenamedOver",
                   [](TempFolder& f) {
                     f.Write("c", 7);
                     f.Rename("c", "a");
                   },
                   1, true, [](const FolderListingTest& t) { return t.SizeOf("a") == 7 && !t.Listed("c"); }},
        ChangeCost{"Created", [](TempFolder& f) { f.Write("c", 1); }, 1, true,
                   [](const FolderListingTest& t) { return t.Listed("c"); }},
        ChangeCost{"Removed", [](TempFolder& f) { f.Remove("b"); }, 1, true,
                   [](const FolderListingTest& t) { return !t.Listed("b"); }},
        ChangeCost{"GrownFromEmpty", [](TempFolder& f) { f.Append("empty", 4); }, 1, true,
                   [](const FolderListingTest& t) { return t.SizeOf("empty") == 4; }},
        ChangeCost{"HiddenFileAppended", [](TempFolder& f) { f.Append(".keep", 10); }, 0, false},
        ChangeCost{"FolderInsideTouched",
                   [](TempFolder& f) { ASSERT_EQ(chmod(f.PathOf("sub").c_str(), 0700), 0); }, 0, false}),
    [](const ::testing::TestParamInfo<ChangeCost>& info) { return std::string(info.param.label); });

// The program's own change is listed at once, with the reports before it.
TEST_F(FolderListingTest, ListNowTakesInEarlierReports) {
  folder_.Remove("a");
  EXPECT_TRUE(watch_.ListNow(clock_, folder_.Fd(), table_).Changed);
  EXPECT_EQ(listings_, 2);
  EXPECT_FALSE(Listed("a"));
  EXPECT_FALSE(Update().Changed) << "the removal was reported before the listing took it in";
  EXPECT_EQ(listings_, 2);
}

// A folder that cannot be read keeps the listing it had; the problem is
// told once, and the listing is tried again once a second until it works.
TEST_F(FolderListingTest, FailedListingKeepsTheTable) {
  open_error_ = EACCES;
  folder_.Write("c", 1);
  ListingUpdate update = Update();
  EXPECT_FALSE(update.Changed);
  EXPECT_TRUE(update.ProblemBegan);
  ASSERT_TRUE(watch_.ListingProblem().has_value());
  EXPECT_EQ(watch_.ListingProblem()->code, EACCES);
  EXPECT_EQ(table_.FileCount(), 2);
  EXPECT_TRUE(watch_.TakeUntoldProblem());
  EXPECT_FALSE(watch_.TakeUntoldProblem());

  EXPECT_EQ(watch_.MsUntilRescan(clock_), 1000) << "tried again in a second";
  clock_.Advance(999);
  EXPECT_FALSE(Update().Changed);
  EXPECT_EQ(listings_, 2);
  clock_.Advance(1);
  update = Update();
  EXPECT_FALSE(update.ProblemBegan) << "the same problem goes on";
  EXPECT_EQ(listings_, 3);
  EXPECT_FALSE(watch_.TakeUntoldProblem());

  open_error_ = 0;
  clock_.Advance(1000);
  EXPECT_TRUE(Update().Changed);
  EXPECT_EQ(table_.FileCount(), 3);
  EXPECT_FALSE(watch_.ListingProblem().has_value());
  EXPECT_EQ(watch_.MsUntilRescan(clock_), -1) << "idle again";
}

// A folder that is gone holds no file: it lists as empty, no problem.
TEST_F(FolderListingTest, RemovedFolderListsAsEmpty) {
  std::filesystem::remove_all(folder_.Path());
  EXPECT_TRUE(Update().Changed);
  EXPECT_EQ(table_.FileCount(), 0);
  EXPECT_FALSE(watch_.ListingProblem().has_value());
}

// ---------------------------------------------------------------------------
// Where reports cannot be trusted, the folder is also listed once a second,
// and the wait is limited to the time left until then.

void ExpectOnceASecond(FolderWatch& watch, TestClock& clock) {
  EXPECT_TRUE(watch.MustRescan(clock));
  for (int second = 0; second < 3; ++second) {
    EXPECT_EQ(watch.MsUntilRescan(clock), 1000);
    clock.Advance(999);
    EXPECT_EQ(watch.MsUntilRescan(clock), 1);
    EXPECT_FALSE(watch.MustRescan(clock));
    clock.Advance(1);
    EXPECT_EQ(watch.MsUntilRescan(clock), 0);
    EXPECT_TRUE(watch.MustRescan(clock)) << "second " << second;
  }
}

TEST(FolderWatchRemote, NetworkFileSystemIsListedOnceASecondAndOnReports) {
  TempFolder folder;
  const FolderWatchSeam network{[](int) { return Nfs; }};
  FolderWatch watch(folder.Fd(), &network);
  ASSERT_EQ(watch.Mode(), WatchMode::Untrusted);
  TestClock clock;
  ExpectOnceASecond(watch, clock);
  clock.Advance(300);
  folder.Write("seen here", 1);
  EXPECT_TRUE(WakesTheWait(watch)) << "local reports still wake the wait";
  EXPECT_TRUE(watch.MustRescan(clock));
  EXPECT_EQ(watch.MsUntilRescan(clock), 1000);
}

TEST(FolderWatchRemote, SafetyNetSurvivesMidnight) {
  TempFolder folder;
  const FolderWatchSeam network{[](int) { return Nfs; }};
  FolderWatch watch(folder.Fd(), &network);
  TestClock clock;
  clock.Set(86'400'000 - 100);
  EXPECT_TRUE(watch.MustRescan(clock));
  clock.Set(100);  // 200 ms later, on the next day
  EXPECT_FALSE(watch.MustRescan(clock));
  EXPECT_EQ(watch.MsUntilRescan(clock), 800);
  clock.Advance(799);
  EXPECT_FALSE(watch.MustRescan(clock));
  clock.Advance(1);
  EXPECT_TRUE(watch.MustRescan(clock));
}

TEST(FolderWatchRemote, UnknownFileSystemTypeCountsAsRemote) {
  TempFolder folder;
  const FolderWatchSeam unreadable{[](int) { return std::int64_t{-1}; }};
  FolderWatch watch(folder.Fd(), &unreadable);
  EXPECT_EQ(watch.Mode(), WatchMode::Untrusted);
}

TEST(FolderWatchRemote, FileSystemTypes) {
  struct Case {
    std::int64_t type;
    bool remote;
    const char* name;
  } cases[] = {
      {0x6969, true, "nfs"},        {0xFF534D42, true, "cifs"}, {0xFE534D42, true, "smb2"},
      {0x517B, true, "smb"},        {0x65735546, true, "fuse"}, {0x01021997, true, "9p"},
      {0x00C36400, true, "ceph"},   {0xEF53, false, "ext4"},    {0x01021994, false, "tmpfs"},
      {0x9123683E, false, "btrfs"}, {0x58465342, false, "xfs"}, {0x794C7630, false, "overlay"},
      {0x4D44, false, "vfat"},
  };
  for (const Case& c : cases) EXPECT_EQ(IsRemoteFileSystem(c.type), c.remote) << c.name;
}

// ---------------------------------------------------------------------------
// Without a watch, the folder is listed once a second, so the listing stays
// current.

// While the folder is open the kernel keeps it alive and reports no removal
// (its files' removals are reported instead); once the last reference is gone
// the watch is dropped and no report would ever come again.
TEST(FolderWatchFallback, RemovedFolder) {
  char pattern[] = "/tmp/quorvant-browser-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const int folder_fd = open(pattern, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder_fd, 0);
  FolderWatch watch(folder_fd);
  close(folder_fd);
  ASSERT_NE(watch.Mode(), WatchMode::Polling);
  TestClock clock;
  EXPECT_TRUE(watch.MustRescan(clock));
  EXPECT_FALSE(watch.MustRescan(clock));

  ASSERT_EQ(rmdir(pattern), 0);
  EXPECT_TRUE(WakesTheWait(watch));
  EXPECT_TRUE(watch.MustRescan(clock));
  EXPECT_EQ(watch.Mode(), WatchMode::Polling);
  EXPECT_EQ(watch.WaitFd(), -1);
  EXPECT_TRUE(watch.Problem().has_value());
  clock.Advance(1000);
  ExpectOnceASecond(watch, clock);
}

TEST(FolderWatchFallback, NotAFolder) {
  TempFolder folder;
  folder.Write("file", 1);
  const int file_fd = openat(folder.Fd(), "file", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file_fd, 0);
  FolderWatch watch(file_fd);
  close(file_fd);
  EXPECT_EQ(watch.Mode(), WatchMode::Polling);
  ASSERT_TRUE(watch.Problem().has_value());
  EXPECT_EQ(watch.Problem()->code, ENOTDIR);
  TestClock clock;
  ExpectOnceASecond(watch, clock);
}

TEST(FolderWatchFallback, NoDescriptor) {
  FolderWatch watch(-1);
  EXPECT_EQ(watch.Mode(), WatchMode::Polling);
  EXPECT_TRUE(watch.Problem().has_value());
  TestClock clock;
  ExpectOnceASecond(watch, clock);
}

}  // namespace
}  // namespace quorvant
