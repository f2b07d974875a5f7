// inplace_rw_loop FILE [--sync | --journaled]: reads FILE and writes it back
// in place, 1 MiB at a time (the chunk size of the file process), then
// optionally fdatasyncs it: the file work of an encryption without the
// cipher.
//
// --journaled is the least a crash-safe in-place run can cost: for each
// 64 MiB window, the window's bytes are first copied to a side file in the
// same folder and synced there, then the window is written back in place
// and the file synced. The tool's journaled run does that much I/O plus one
// record page per window.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr off_t Chunk = 64 * 16384;
constexpr off_t Window = off_t{64} << 20;

bool Fail(const char* what) {
  std::perror(what);
  return false;
}

// Reads [at, at + size) of `from` and writes it at `to_offset` of `to`, chunk by chunk.
bool Copy(int from, off_t at, off_t size, int to, off_t to_offset, std::vector<unsigned char>& buffer) {
  for (off_t done = 0; done < size;) {
    const auto count = static_cast<size_t>(std::min(Chunk, size - done));
    if (pread(from, buffer.data(), count, at + done) != static_cast<ssize_t>(count)) return Fail("read");
    if (pwrite(to, buffer.data(), count, to_offset + done) != static_cast<ssize_t>(count))
      return Fail("write");
    done += static_cast<off_t>(count);
  }
  return true;
}

bool Journaled(int file, const std::string& path, std::vector<unsigned char>& buffer) {
  const std::string side_path = path + ".journal-bench";
  const int side = open(side_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (side < 0) return Fail(side_path.c_str());
  const off_t length = lseek(file, 0, SEEK_END);
  bool ok = length >= 0 && fallocate(side, 0, 0, std::min(Window, length)) == 0;
  for (off_t at = 0; ok && at < length; at += Window) {
    const off_t size = std::min(Window, length - at);
    ok = Copy(file, at, size, side, 0, buffer) && (fdatasync(side) == 0 || Fail("fdatasync")) &&
         Copy(file, at, size, file, at, buffer) && (fdatasync(file) == 0 || Fail("fdatasync"));
  }
  close(side);
  unlink(side_path.c_str());
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: inplace_rw_loop FILE [--sync | --journaled]\n");
    return 2;
  }
  const bool sync = argc > 2 && std::strcmp(argv[2], "--sync") == 0;
  const bool journaled = argc > 2 && std::strcmp(argv[2], "--journaled") == 0;
  const int file = open(argv[1], O_RDWR | O_CLOEXEC);
  if (file < 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(Chunk));
  if (journaled) return Journaled(file, argv[1], buffer) ? 0 : 1;
  off_t offset = 0;
  for (;;) {
    const ssize_t count = pread(file, buffer.data(), buffer.size(), offset);
    if (count < 0) {
      std::perror("read");
      return 1;
    }
    if (count == 0) break;
    if (pwrite(file, buffer.data(), static_cast<size_t>(count), offset) != count) {
      std::perror("write");
      return 1;
    }
    offset += count;
  }
  if (sync && fdatasync(file) != 0) {
    std::perror("fdatasync");
    return 1;
  }
  close(file);
  return 0;
}
