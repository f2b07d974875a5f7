#pragma once

// The run's watch over other programs: before each window, before a
// window's record, and before the run's last step, the file must still be
// the run's alone. Going forward: its lease unbroken (OpenedElsewhere when
// another program asked to open it; that program waits meanwhile), or,
// where it has no lease, no other process with it open as far as /proc
// shows (OpenedElsewhere); still one name (LinkedElsewhere); its length
// unchanged (ChangedElsewhere). An undo only needs the file to reach the end
// of what it writes next: it never writes past the file's end. Whatever it
// sees that another program may have done (a length changed; another
// process with the file open, which with a lease means the lease ran out)
// makes an undone run "changed elsewhere", never "as before". So does a
// file modified since the run's own last write: a program that got in once
// the lease ran out may have written and closed the file between two looks.
// (The system stamps times in steps of a few milliseconds: a write in the
// same step as the run's own goes unseen by this look.)

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>

#include "files/file_calls.h"
#include "files/opened_file.h"
#include "rewrite/window_engine.h"

namespace quorvant {

class FileWatch final : public WindowGuard {
 public:
  FileWatch(const OpenedFile& file, FileCalls& calls) : file_(file), calls_(calls) {}

  FileStatus MayWrite(JournalPhase phase, std::int64_t end) override;
  void Wrote(bool resized) override;
  // For a resume: the file may have both of its run's names (a crash inside
  // the link + unlink of a rename); any other name is a second name.
  FileStatus OnlyTheRunsNames(const std::string& old_name, const std::string& new_name);
  // Looks once more at the end of an undo: whoever has the file open now,
  // and its length.
  void LookAtTheEnd();
  // Whether anything seen says another program may have changed the file.
  bool ChangedElsewhere() const { return changed_elsewhere_; }

 private:
  const OpenedFile& file_;
  FileCalls& calls_;
  // The file's length as the run left it.
  std::int64_t Length() const { return length_ ? *length_ : file_.Length(); }

  bool changed_elsewhere_ = false;
  std::optional<std::int64_t> length_;
  // When the file was last modified, as the run last saw it.
  std::optional<struct timespec> modified_;

  void SeeModified(const struct stat& status);
};

}  // namespace quorvant
