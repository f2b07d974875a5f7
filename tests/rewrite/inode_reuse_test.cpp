// On a small ext4 of its own, where a deleted file's inode goes to the next
// file made: a run cut short, its half-done file deleted by hand and a new
// file of the same name and length made in its place. The old run's journal
// must never touch the new file, nor block it.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../support/interrupted_run.h"
#include "../support/sample_key.h"
#include "../support/temp_folder.h"
#include "base/clock.h"
#include "rewrite/admission.h"
#include "rewrite/file_transform.h"

namespace quorvant {
namespace {

using testing::Key;
using testing::PatternBytes;
using testing::Suffix;
using testing::SuffixText;
using testing::TempFolder;

// A 32 MiB ext4 image mounted through a loop device, for this test alone.
class OwnExt4 {
 public:
  OwnExt4() {
    const std::string image = place_.PathOf("ext4.img");
    mount_point_ = place_.PathOf("mounted");
    const std::string make = "truncate -s 32M '" + image + "' && mkfs.ext4 -q -F '" + image +
                             "' >/dev/null 2>&1 && mkdir '" + mount_point_ + "' && mount -o loop '" + image +
                             "' '" + mount_point_ + "' 2>/dev/null";
    mounted_ = geteuid() == 0 && std::system(make.c_str()) == 0;
  }
  ~OwnExt4() {
    if (mounted_) umount2(mount_point_.c_str(), MNT_DETACH);
  }
  bool Mounted() const { return mounted_; }
  const std::string& Path() const { return mount_point_; }

 private:
  TempFolder place_;
  std::string mount_point_;
  bool mounted_ = false;
};

ino_t InodeOf(const TempFolder& folder, const std::string& name) {
  struct stat status {};
  EXPECT_EQ(stat(folder.PathOf(name).c_str(), &status), 0);
  return status.st_ino;
}

TEST(InodeReuse, AJournalOfADeletedFileNeverTouchesTheFileThatGotItsInode) {
  OwnExt4 disk;
  if (!disk.Mounted()) GTEST_SKIP() << "needs root, mkfs.ext4 and a loop device to mount an ext4 of its own";
  std::vector<std::uint8_t> replacement;
  ino_t old_inode = 0;
  {
    TempFolder folder(disk.Path());
    const std::vector<std::uint8_t> original = PatternBytes(5 * MaxBlockLength + 300, 1);
    folder.Write("disk.img", original);
    old_inode = InodeOf(folder, "disk.img");
    testing::InterruptRun(folder, "disk.img", Direction::Encrypt, Suffix, Key, 6);
    ASSERT_EQ(unlink(folder.PathOf("disk.img" + SuffixText).c_str()), 0);
    replacement = PatternBytes(original.size(), 2);
    folder.Write("disk.img", replacement);
    EXPECT_EQ(InodeOf(folder, "disk.img"), old_inode) << "ext4 gave the new file another inode this time";

    FileCalls calls;
    std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder.Fd(), "disk.img", calls);
    ASSERT_EQ(FailureOf(*opened).outcome, FileOutcome::Done);
    // Not taken for the half-done file: Enter would encrypt it afresh.
    TestClock clock;
    const FileResult<Admission> admitted = AdmitFile(**opened, FileIntent::ByName, clock, calls);
    ASSERT_TRUE(admitted) << admitted.error().error.Describe();
    EXPECT_FALSE(admitted->interrupted);
    EXPECT_EQ(admitted->direction, Direction::Encrypt);
    // And a resume with the old run's key finds nothing of its own to do.
    const FileReport resumed = ResumeFile(**opened, Key, ResumeMode::Finish, {}, calls);
    EXPECT_EQ(resumed.outcome, FileOutcome::NothingToResume) << resumed.error.Describe();
    opened.reset();
    EXPECT_EQ(folder.Read("disk.img"), replacement);
  }
}

}  // namespace
}  // namespace quorvant
