#pragma once

// A model file system behind the system-call seam, for crash tests. It holds
// one folder; each file keeps what a read sees now ("current") and what
// would survive a power loss ("durable"), page by page, and the folder keeps
// its current and durable names.
//
// Every change goes into a log. A test runs the code under test once to the
// end, then rebuilds the state at any point of the log (Replay), optionally
// with only some pages of the next write applied (a kill during a large
// pwrite), and loses power there (PowerLoss): every page written since its
// file's last sync, every unsynced size and attribute change, and every name
// change since the folder's last fsync is kept or dropped at random, each on
// its own. That is harsher than any real file system (ext4 keeps name
// changes in order), which is the point. Nothing has to unwind through the
// code under test.
//
// Descriptors are real ones (of /dev/null), so that code closing them with
// close() is harmless; the model maps them to its files.

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "files/file_calls.h"

namespace quorvant::testing {

inline constexpr std::size_t ModelPageSize = 4096;

struct ModelFile {
  std::vector<std::uint8_t> current, durable;
  std::set<std::size_t> unsynced_pages;
  bool size_unsynced = false;
  std::map<std::string, std::vector<std::uint8_t>> attributes, durable_attributes;
  bool attributes_unsynced = false;
};

struct NameChange {
  enum class Kind { Link, Unlink, Rename } kind;
  std::string from, to;  // Link: `to` gets the inode; Unlink: `from` goes; Rename: `from` becomes `to`
  std::uint64_t inode = 0;
};

struct ModelState {
  std::map<std::uint64_t, ModelFile> files;
  std::map<std::string, std::uint64_t> names, durable_names;
  std::vector<NameChange> unsynced_names;
  std::uint64_t next_inode = 100;
};

struct ModelOp {
  enum class Kind {
    Write,
    Resize,
    SyncData,
    Sync,
    SyncFolder,
    Link,
    Unlink,
    Rename,
    SetAttribute,
    RemoveAttribute
  };
  Kind kind;
  std::uint64_t inode = 0;
  std::int64_t offset = 0;  // Write: where; Resize: the new size
  std::vector<std::uint8_t> data;
  std::string name, other;
};

inline ModelOp MakeOp(ModelOp::Kind kind, std::uint64_t inode = 0, std::int64_t offset = 0,
                      std::vector<std::uint8_t> data = {}, std::string name = {}, std::string other = {}) {
  return ModelOp{kind, inode, offset, std::move(data), std::move(name), std::move(other)};
}

// Applies one change. `only_pages`, for a Write: just these pages of it
// (indexes counted within the write), as a kill in the middle of it leaves.
void Apply(ModelState& state, const ModelOp& op, const std::set<std::size_t>* only_pages = nullptr);
// The state after the first `count` changes of `log`.
ModelState Replay(const ModelState& start, const std::vector<ModelOp>& log, std::size_t count);
// What a power loss leaves of `state`; files left without a name are gone.
ModelState PowerLoss(const ModelState& state, std::uint64_t seed);

class ModelFileSystem : public FileCalls {
 public:
  explicit ModelFileSystem(ModelState state = {}) : state_(std::move(state)) {}
  ~ModelFileSystem() override;
  ModelFileSystem(const ModelFileSystem&) = delete;
  ModelFileSystem& operator=(const ModelFileSystem&) = delete;

  const ModelState& State() const { return state_; }
  const std::vector<ModelOp>& Log() const { return log_; }
  // A durable file, made outside the log.
  void MakeFile(const std::string& name, std::vector<std::uint8_t> content,
                std::map<std::string, std::vector<std::uint8_t>> attributes = {});
  // A descriptor of the folder, for OpenFileInFolder.
  int FolderDescriptor();

  // Faults: the n-th change (counting from 1) fails with EIO and changes nothing.
  int fail_change = 0;
  // fallocate that would grow the files by more than this in all fails with ENOSPC.
  std::int64_t free_space = INT64_MAX;
  // False: renameat2 knows no RENAME_NOREPLACE (EINVAL), as on some file systems.
  bool rename_noreplace = true;

  int OpenAt(int folder, const char* name, int flags) override;
  int CreateAt(int folder, const char* name, int flags, mode_t mode) override;
  int StatAt(int folder, const char* name, struct stat* status, int flags) override;
  int Stat(int descriptor, struct stat* status) override;
  int ChangeMode(int descriptor, mode_t mode) override;
  int Control(int descriptor, int command, int argument) override;
  int Lock(int descriptor, int operation) override;
  ssize_t ReadAt(int descriptor, void* data, std::size_t size, off_t offset) override;
  ssize_t WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) override;
  int SyncData(int descriptor) override;
  int Sync(int descriptor) override;
  int RenameAt(int folder, const char* from, const char* to, unsigned flags) override;
  int LinkAt(int folder, const char* from, const char* to) override;
  int UnlinkAt(int folder, const char* name) override;
  ssize_t Random(void* data, std::size_t size) override;
  // The model's files are its own: no other process can have one open (the
  // real /proc would be asked about the model's made-up inode numbers).
  bool OtherProcessHasOpen(dev_t, ino_t) override { return false; }
  ssize_t GetAttribute(int descriptor, const char* name, void* value, std::size_t size) override;
  int SetAttribute(int descriptor, const char* name, const void* value, std::size_t size) override;
  int RemoveAttribute(int descriptor, const char* name) override;
  int Allocate(int descriptor, int mode, off_t offset, off_t length) override;
  int Truncate(int descriptor, off_t length) override;
  int FolderSpace(int descriptor, struct statvfs* space) override;
  // A hint that makes nothing durable: a no-op here.
  int StartWriteback(int, off_t, off_t) override { return 0; }

 private:
  struct Handle {
    bool folder = false;
    std::uint64_t inode = 0;
  };
  int NewHandle(Handle handle);
  const Handle* Find(int descriptor) const;
  ModelFile* FileOf(int descriptor);
  void FillStatus(std::uint64_t inode, struct stat* status) const;
  // Logs and applies a change; false (errno EIO) when it is the one to fail.
  bool Change(ModelOp op);

  ModelState state_;
  std::vector<ModelOp> log_;
  std::map<int, Handle> handles_;
  int changes_ = 0;
  std::mt19937_64 random_{42};
};

}  // namespace quorvant::testing
