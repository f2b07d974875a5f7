#pragma once

// A file whose run was cut short, made for real: a child process runs the
// transform and dies (as by SIGKILL) just before its n-th fdatasync, leaving
// the file and its journal as a kill there would.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "rewrite/file_transform.h"
#include "tests/support/temp_folder.h"

namespace quorvant::testing {

class DyingCalls : public FileCalls {
 public:
  explicit DyingCalls(int die_at_sync) : die_at_sync_(die_at_sync) {}
  int SyncData(int descriptor) override {
    if (++syncs_ == die_at_sync_) _exit(0);
    return FileCalls::SyncData(descriptor);
  }

 private:
  int die_at_sync_;
  int syncs_ = 0;
};

// Runs `direction` on `name` with windows of two blocks and kills the run at
// its `die_at_sync`-th fdatasync (6 is in the second window).
inline void InterruptRun(const TempFolder& folder, const std::string& name, Direction direction,
                         const EncryptedSuffix& suffix, std::string_view key, int die_at_sync) {
  const pid_t child = fork();
  if (child == 0) {
    DyingCalls calls(die_at_sync);
    FileResult<OpenedFile> opened = OpenFileInFolder(folder.Fd(), name, calls);
    TransformSettings settings;
    settings.largest_window = 2 * MaxBlockLength;
    if (FailureOf(opened).outcome == FileOutcome::Done) {
      (void)TransformFile(*opened, direction, suffix, key, {}, calls, settings);
    }
    _exit(1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the run did not die where it should";
}

}  // namespace quorvant::testing
