#include "browser/folder_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/clock.h"
#include "tests/support/temp_folder.h"

namespace quorvant {
namespace {

using testing::TempFolder;

class FolderWatchTest : public ::testing::Test {
 protected:
  // The first question always says yes; tests start after it.
  void SetUp() override {
    ASSERT_EQ(watch_.Mode(), WatchMode::Inotify) << watch_.Problem()->Describe();
    EXPECT_TRUE(watch_.MustRescan(clock_));
    EXPECT_FALSE(watch_.MustRescan(clock_));
  }

  TempFolder folder_;
  TestClock clock_;
  FolderWatch watch_{folder_.Fd()};
};

TEST_F(FolderWatchTest, QuietFolderIsRelistedOnlyOnceASecond) {
  clock_.Advance(999);
  EXPECT_FALSE(watch_.MustRescan(clock_));
  clock_.Advance(1);
  EXPECT_TRUE(watch_.MustRescan(clock_));
  clock_.Advance(24);
  EXPECT_FALSE(watch_.MustRescan(clock_));
  clock_.Advance(976);
  EXPECT_TRUE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, EveryKindOfChangeAsksForOneRescan) {
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
    clock_.Advance(24);
    EXPECT_TRUE(watch_.MustRescan(clock_)) << change.label;
    clock_.Advance(24);
    EXPECT_FALSE(watch_.MustRescan(clock_)) << change.label << ": reports were not drained";
  }
}

TEST_F(FolderWatchTest, ManyReportsAreDrainedInOneQuestion) {
  // Far more reports than one read takes.
  for (int i = 0; i < 300; ++i) folder_.Write("file with a rather long name " + std::to_string(i), 1);
  EXPECT_TRUE(watch_.MustRescan(clock_));
  EXPECT_FALSE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, ChangeBetweenQuestionAndScanIsNotLost) {
  clock_.Advance(500);
  EXPECT_FALSE(watch_.MustRescan(clock_));
  // The scan that would follow is running when another program writes.
  folder_.Write("late.txt", 1);
  clock_.Advance(24);
  EXPECT_TRUE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, RenamedFolderIsStillWatched) {
  const std::string moved = folder_.Path() + "-moved";
  ASSERT_EQ(rename(folder_.Path().c_str(), moved.c_str()), 0);
  EXPECT_TRUE(watch_.MustRescan(clock_));
  EXPECT_FALSE(watch_.MustRescan(clock_));
  EXPECT_EQ(watch_.Mode(), WatchMode::Inotify);
  folder_.Write("after the move", 1);  // through the descriptor, which follows the folder
  EXPECT_TRUE(watch_.MustRescan(clock_));
  ASSERT_EQ(rename(moved.c_str(), folder_.Path().c_str()), 0);
}

TEST_F(FolderWatchTest, SafetyNetSurvivesMidnight) {
  clock_.Set(86'400'000 - 100);
  EXPECT_TRUE(watch_.MustRescan(clock_));  // a jump of hours
  clock_.Set(100);                         // 200 ms later, on the next day
  EXPECT_FALSE(watch_.MustRescan(clock_));
  clock_.Advance(799);
  EXPECT_FALSE(watch_.MustRescan(clock_));
  clock_.Advance(1);
  EXPECT_TRUE(watch_.MustRescan(clock_));
}

TEST_F(FolderWatchTest, MovedWatchKeepsWatching) {
  FolderWatch moved = std::move(watch_);
  folder_.Write("x", 1);
  EXPECT_TRUE(moved.MustRescan(clock_));
  EXPECT_FALSE(moved.MustRescan(clock_));
}

// ---------------------------------------------------------------------------
// Without a watch, every question says yes, so the listing stays current.

void ExpectEveryQuestionSaysYes(FolderWatch& watch) {
  TestClock clock;
  for (int cycle = 0; cycle < 5; ++cycle) {
    EXPECT_TRUE(watch.MustRescan(clock)) << "cycle " << cycle;
    clock.Advance(24);
  }
}

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
  ASSERT_EQ(watch.Mode(), WatchMode::Inotify);
  TestClock clock;
  EXPECT_TRUE(watch.MustRescan(clock));
  EXPECT_FALSE(watch.MustRescan(clock));

  ASSERT_EQ(rmdir(pattern), 0);
  EXPECT_TRUE(watch.MustRescan(clock));
  EXPECT_EQ(watch.Mode(), WatchMode::PollEveryCycle);
  EXPECT_TRUE(watch.Problem().has_value());
  ExpectEveryQuestionSaysYes(watch);
}

TEST(FolderWatchFallback, NotAFolder) {
  TempFolder folder;
  folder.Write("file", 1);
  const int file_fd = openat(folder.Fd(), "file", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(file_fd, 0);
  FolderWatch watch(file_fd);
  close(file_fd);
  EXPECT_EQ(watch.Mode(), WatchMode::PollEveryCycle);
  ASSERT_TRUE(watch.Problem().has_value());
  EXPECT_EQ(watch.Problem()->code, ENOTDIR);
  ExpectEveryQuestionSaysYes(watch);
}

TEST(FolderWatchFallback, NoDescriptor) {
  FolderWatch watch(-1);
  EXPECT_EQ(watch.Mode(), WatchMode::PollEveryCycle);
  EXPECT_TRUE(watch.Problem().has_value());
  ExpectEveryQuestionSaysYes(watch);
}

TEST(FolderWatchFallback, PollingAskedFor) {
  TempFolder folder;
  FolderWatch watch(folder.Fd(), WatchMode::PollEveryCycle);
  EXPECT_EQ(watch.Mode(), WatchMode::PollEveryCycle);
  EXPECT_FALSE(watch.Problem().has_value());
  ExpectEveryQuestionSaysYes(watch);
}

}  // namespace
}  // namespace quorvant
