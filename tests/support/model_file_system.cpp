#include "tests/support/model_file_system.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quorvant::testing {

namespace {

int Fail(int code) {
  errno = code;
  return -1;
}

std::size_t PagesOf(std::size_t size) { return (size + ModelPageSize - 1) / ModelPageSize; }

}  // namespace

void Apply(ModelState& state, const ModelOp& op, const std::set<std::size_t>* only_pages) {
  using Kind = ModelOp::Kind;
  switch (op.kind) {
    case Kind::Write: {
      ModelFile& file = state.files.at(op.inode);
      const std::size_t start = static_cast<std::size_t>(op.offset);
      if (file.current.size() < start + op.data.size()) {
        file.current.resize(start + op.data.size(), 0);
        file.size_unsynced = true;
      }
      // Page by page, as the page cache takes a write.
      for (std::size_t at = 0; at < op.data.size();) {
        const std::size_t position = start + at;
        const std::size_t page = position / ModelPageSize;
        const std::size_t size = std::min(op.data.size() - at, (page + 1) * ModelPageSize - position);
        if (only_pages == nullptr || only_pages->count(page - start / ModelPageSize) != 0) {
          std::memcpy(file.current.data() + position, op.data.data() + at, size);
          file.unsynced_pages.insert(page);
        }
        at += size;
      }
      break;
    }
    case Kind::Resize: {
      ModelFile& file = state.files.at(op.inode);
      const auto size = static_cast<std::size_t>(op.offset);
      for (std::size_t page = std::min(size, file.current.size()) / ModelPageSize;
           page < PagesOf(std::max(size, file.current.size())); ++page) {
        file.unsynced_pages.insert(page);
      }
      file.current.resize(size, 0);
      file.size_unsynced = true;
      break;
    }
    case Kind::SyncData:
    case Kind::Sync: {
      ModelFile& file = state.files.at(op.inode);
      file.durable = file.current;
      file.unsynced_pages.clear();
      file.size_unsynced = false;
      if (op.kind == Kind::Sync) {
        file.durable_attributes = file.attributes;
        file.attributes_unsynced = false;
      }
      break;
    }
    case Kind::SyncFolder:
      state.durable_names = state.names;
      state.unsynced_names.clear();
      break;
    case Kind::Link:
      state.files.try_emplace(op.inode);  // a new file comes with its first name
      state.next_inode = std::max(state.next_inode, op.inode + 1);
      state.names[op.other] = op.inode;
      state.unsynced_names.push_back({NameChange::Kind::Link, "", op.other, op.inode});
      break;
    case Kind::Unlink:
      state.names.erase(op.name);
      state.unsynced_names.push_back({NameChange::Kind::Unlink, op.name, "", op.inode});
      break;
    case Kind::Rename:
      state.names.erase(op.name);
      state.names[op.other] = op.inode;
      state.unsynced_names.push_back({NameChange::Kind::Rename, op.name, op.other, op.inode});
      break;
    case Kind::SetAttribute: {
      ModelFile& file = state.files.at(op.inode);
      file.attributes[op.name] = op.data;
      file.attributes_unsynced = true;
      break;
    }
    case Kind::RemoveAttribute: {
      ModelFile& file = state.files.at(op.inode);
      file.attributes.erase(op.name);
      file.attributes_unsynced = true;
      break;
    }
  }
}

ModelState Replay(const ModelState& start, const std::vector<ModelOp>& log, std::size_t count) {
  ModelState state = start;
  for (std::size_t index = 0; index < count && index < log.size(); ++index) Apply(state, log[index]);
  return state;
}

ModelState PowerLoss(const ModelState& state, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  const auto coin = [&random] { return (random() & 1) != 0; };
  ModelState after;
  after.next_inode = state.next_inode;

  // Names: each change since the folder's last fsync survives or not, on its own.
  after.names = state.durable_names;
  for (const NameChange& change : state.unsynced_names) {
    if (!coin()) continue;
    const auto names = [&](const std::string& name) {
      const auto found = after.names.find(name);
      return found != after.names.end() && found->second == change.inode;
    };
    switch (change.kind) {
      case NameChange::Kind::Link:
        if (after.names.count(change.to) == 0) after.names[change.to] = change.inode;
        break;
      case NameChange::Kind::Unlink:
        if (names(change.from)) after.names.erase(change.from);
        break;
      case NameChange::Kind::Rename:
        if (names(change.from) && after.names.count(change.to) == 0) {
          after.names.erase(change.from);
          after.names[change.to] = change.inode;
        }
        break;
    }
  }
  after.durable_names = after.names;

  // Contents: each unsynced page and size, and the attributes, likewise.
  for (const auto& [inode, file] : state.files) {
    ModelFile kept;
    kept.durable = file.durable;
    if (file.size_unsynced && coin()) kept.durable.resize(file.current.size(), 0);
    for (const std::size_t page : file.unsynced_pages) {
      if (!coin()) continue;
      const std::size_t start = page * ModelPageSize;
      const std::size_t end = std::min({start + ModelPageSize, kept.durable.size(), file.current.size()});
      if (start < end) std::memcpy(kept.durable.data() + start, file.current.data() + start, end - start);
    }
    kept.durable_attributes = file.durable_attributes;
    if (file.attributes_unsynced && coin()) kept.durable_attributes = file.attributes;
    kept.current = kept.durable;
    kept.attributes = kept.durable_attributes;
    after.files[inode] = std::move(kept);
  }
  // Files that kept no name are gone.
  std::set<std::uint64_t> named;
  for (const auto& [name, inode] : after.names) named.insert(inode);
  std::erase_if(after.files, [&](const auto& entry) { return named.count(entry.first) == 0; });
  return after;
}

ModelFileSystem::~ModelFileSystem() {
  for (const auto& [descriptor, handle] : handles_) ::close(descriptor);
}

void ModelFileSystem::MakeFile(const std::string& name, std::vector<std::uint8_t> content,
                               std::map<std::string, std::vector<std::uint8_t>> attributes) {
  const std::uint64_t inode = state_.next_inode++;
  ModelFile& file = state_.files[inode];
  file.current = file.durable = std::move(content);
  file.attributes = file.durable_attributes = std::move(attributes);
  state_.names[name] = state_.durable_names[name] = inode;
}

int ModelFileSystem::NewHandle(Handle handle) {
  const int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return -1;
  handles_[descriptor] = handle;  // a number used again takes the new meaning
  return descriptor;
}

int ModelFileSystem::FolderDescriptor() { return NewHandle({true, 0}); }

const ModelFileSystem::Handle* ModelFileSystem::Find(int descriptor) const {
  const auto found = handles_.find(descriptor);
  return found == handles_.end() ? nullptr : &found->second;
}

ModelFile* ModelFileSystem::FileOf(int descriptor) {
  const Handle* handle = Find(descriptor);
  if (handle == nullptr || handle->folder) return nullptr;
  const auto found = state_.files.find(handle->inode);
  return found == state_.files.end() ? nullptr : &found->second;
}

void ModelFileSystem::FillStatus(std::uint64_t inode, struct stat* status) const {
  std::memset(status, 0, sizeof *status);
  status->st_dev = 1;
  status->st_ino = inode;
  status->st_mode = S_IFREG | 0600;
  const auto found = state_.files.find(inode);
  status->st_size = found == state_.files.end() ? 0 : static_cast<off_t>(found->second.current.size());
  status->st_nlink = static_cast<nlink_t>(std::count_if(
      state_.names.begin(), state_.names.end(), [&](const auto& entry) { return entry.second == inode; }));
}

bool ModelFileSystem::Change(ModelOp op) {
  if (++changes_ == fail_change) {
    errno = EIO;
    return false;
  }
  Apply(state_, op);
  log_.push_back(std::move(op));
  return true;
}

int ModelFileSystem::OpenAt(int folder, const char* name, int flags) {
  const Handle* handle = Find(folder);
  if (handle == nullptr || !handle->folder) return Fail(EBADF);
  if (std::strcmp(name, ".") == 0) return NewHandle({true, 0});
  const auto found = state_.names.find(name);
  if (found == state_.names.end()) {
    if ((flags & O_CREAT) == 0) return Fail(ENOENT);
    const std::uint64_t inode = state_.next_inode;
    if (!Change(MakeOp(ModelOp::Kind::Link, inode, 0, {}, "", name))) return -1;
    return NewHandle({false, inode});
  }
  if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0) return Fail(EEXIST);
  return NewHandle({false, found->second});
}

int ModelFileSystem::CreateAt(int folder, const char* name, int flags, mode_t) {
  return OpenAt(folder, name, flags | O_CREAT);
}

int ModelFileSystem::StatAt(int folder, const char* name, struct stat* status, int) {
  if (Find(folder) == nullptr) return Fail(EBADF);
  const auto found = state_.names.find(name);
  if (found == state_.names.end()) return Fail(ENOENT);
  FillStatus(found->second, status);
  return 0;
}

int ModelFileSystem::Stat(int descriptor, struct stat* status) {
  const Handle* handle = Find(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  if (handle->folder) {
    std::memset(status, 0, sizeof *status);
    status->st_dev = 1;
    status->st_mode = S_IFDIR | 0700;
    return 0;
  }
  FillStatus(handle->inode, status);
  return 0;
}

int ModelFileSystem::ChangeMode(int, mode_t) { return 0; }

int ModelFileSystem::Control(int, int command, int) {
  switch (command) {
    case F_GETLEASE: return F_WRLCK;
    case F_GETFL: return O_RDWR;
    default: return 0;
  }
}

int ModelFileSystem::Lock(int, int) { return 0; }

ssize_t ModelFileSystem::ReadAt(int descriptor, void* data, std::size_t size, off_t offset) {
  const ModelFile* file = FileOf(descriptor);
  if (file == nullptr) return Fail(EBADF);
  const auto start = static_cast<std::size_t>(offset);
  if (start >= file->current.size()) return 0;
  const std::size_t count = std::min(size, file->current.size() - start);
  std::memcpy(data, file->current.data() + start, count);
  return static_cast<ssize_t>(count);
}

ssize_t ModelFileSystem::WriteAt(int descriptor, const void* data, std::size_t size, off_t offset) {
  const Handle* handle = Find(descriptor);
  if (FileOf(descriptor) == nullptr) return Fail(EBADF);
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (!Change(MakeOp(ModelOp::Kind::Write, handle->inode, offset,
                     std::vector<std::uint8_t>(bytes, bytes + size)))) {
    return -1;
  }
  return static_cast<ssize_t>(size);
}

int ModelFileSystem::SyncData(int descriptor) {
  const Handle* handle = Find(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  if (handle->folder) return Change(MakeOp(ModelOp::Kind::SyncFolder)) ? 0 : -1;
  if (FileOf(descriptor) == nullptr) return Fail(EBADF);
  return Change(MakeOp(ModelOp::Kind::SyncData, handle->inode)) ? 0 : -1;
}

int ModelFileSystem::Sync(int descriptor) {
  const Handle* handle = Find(descriptor);
  if (handle == nullptr) return Fail(EBADF);
  if (handle->folder) return Change(MakeOp(ModelOp::Kind::SyncFolder)) ? 0 : -1;
  if (FileOf(descriptor) == nullptr) return Fail(EBADF);
  return Change(MakeOp(ModelOp::Kind::Sync, handle->inode)) ? 0 : -1;
}

int ModelFileSystem::RenameAt(int folder, const char* from, const char* to, unsigned flags) {
  if (Find(folder) == nullptr) return Fail(EBADF);
  if ((flags & RENAME_NOREPLACE) != 0 && !rename_noreplace) return Fail(EINVAL);
  const auto found = state_.names.find(from);
  if (found == state_.names.end()) return Fail(ENOENT);
  if (std::strlen(to) > 255) return Fail(ENAMETOOLONG);
  // The code under test never replaces a file, and the model never does either.
  if (state_.names.count(to) != 0) return Fail((flags & RENAME_NOREPLACE) != 0 ? EEXIST : ENOTSUP);
  return Change(MakeOp(ModelOp::Kind::Rename, found->second, 0, {}, from, to)) ? 0 : -1;
}

int ModelFileSystem::LinkAt(int folder, const char* from, const char* to) {
  if (Find(folder) == nullptr) return Fail(EBADF);
  const auto found = state_.names.find(from);
  if (found == state_.names.end()) return Fail(ENOENT);
  if (state_.names.count(to) != 0) return Fail(EEXIST);
  return Change(MakeOp(ModelOp::Kind::Link, found->second, 0, {}, "", to)) ? 0 : -1;
}

int ModelFileSystem::UnlinkAt(int folder, const char* name) {
  if (Find(folder) == nullptr) return Fail(EBADF);
  const auto found = state_.names.find(name);
  if (found == state_.names.end()) return Fail(ENOENT);
  return Change(MakeOp(ModelOp::Kind::Unlink, found->second, 0, {}, name)) ? 0 : -1;
}

ssize_t ModelFileSystem::Random(void* data, std::size_t size) {
  auto* bytes = static_cast<std::uint8_t*>(data);
  for (std::size_t index = 0; index < size; ++index) bytes[index] = static_cast<std::uint8_t>(random_());
  return static_cast<ssize_t>(size);
}

ssize_t ModelFileSystem::GetAttribute(int descriptor, const char* name, void* value, std::size_t size) {
  const ModelFile* file = FileOf(descriptor);
  if (file == nullptr) return Fail(EBADF);
  const auto found = file->attributes.find(name);
  if (found == file->attributes.end()) return Fail(ENODATA);
  if (size == 0) return static_cast<ssize_t>(found->second.size());
  if (size < found->second.size()) return Fail(ERANGE);
  std::memcpy(value, found->second.data(), found->second.size());
  return static_cast<ssize_t>(found->second.size());
}

int ModelFileSystem::SetAttribute(int descriptor, const char* name, const void* value, std::size_t size) {
  const Handle* handle = Find(descriptor);
  if (FileOf(descriptor) == nullptr) return Fail(EBADF);
  const auto* bytes = static_cast<const std::uint8_t*>(value);
  return Change(MakeOp(ModelOp::Kind::SetAttribute, handle->inode, 0,
                       std::vector<std::uint8_t>(bytes, bytes + size), name))
             ? 0
             : -1;
}

int ModelFileSystem::RemoveAttribute(int descriptor, const char* name) {
  const Handle* handle = Find(descriptor);
  const ModelFile* file = FileOf(descriptor);
  if (file == nullptr) return Fail(EBADF);
  if (file->attributes.count(name) == 0) return Fail(ENODATA);
  return Change(MakeOp(ModelOp::Kind::RemoveAttribute, handle->inode, 0, {}, name)) ? 0 : -1;
}

int ModelFileSystem::Allocate(int descriptor, int mode, off_t offset, off_t length) {
  const Handle* handle = Find(descriptor);
  const ModelFile* file = FileOf(descriptor);
  if (file == nullptr) return Fail(EBADF);
  if (mode != 0) return Fail(EOPNOTSUPP);
  const auto end = static_cast<std::size_t>(offset + length);
  if (end <= file->current.size()) return 0;  // the model's files have no holes
  const auto growth = static_cast<std::int64_t>(end - file->current.size());
  if (growth > free_space) return Fail(ENOSPC);
  if (!Change(MakeOp(ModelOp::Kind::Resize, handle->inode, static_cast<std::int64_t>(end)))) return -1;
  free_space -= growth;
  return 0;
}

int ModelFileSystem::Truncate(int descriptor, off_t length) {
  const Handle* handle = Find(descriptor);
  const ModelFile* file = FileOf(descriptor);
  if (file == nullptr) return Fail(EBADF);
  const auto growth = length - static_cast<std::int64_t>(file->current.size());
  if (growth > free_space) return Fail(ENOSPC);
  if (!Change(MakeOp(ModelOp::Kind::Resize, handle->inode, static_cast<std::int64_t>(length)))) return -1;
  // A cut gives its space back, up to the model's "unlimited".
  free_space = growth < 0 && free_space > INT64_MAX + growth ? INT64_MAX : free_space - growth;
  return 0;
}

int ModelFileSystem::FolderSpace(int, struct statvfs* space) {
  std::memset(space, 0, sizeof *space);
  space->f_bsize = space->f_frsize = ModelPageSize;
  space->f_bavail = space->f_bfree = static_cast<fsblkcnt_t>(
      std::min<std::int64_t>(free_space, INT64_C(1) << 40) / static_cast<std::int64_t>(ModelPageSize));
  space->f_namemax = 255;
  return 0;
}

}  // namespace quorvant::testing
