// inplace_rw_loop FILE [--sync | --journal]: the file work of an encryption
// without the cipher, 1 MiB at a time (the chunk size of the file process).
//   (no option)  read FILE and write it back in place
//   --sync       the same, then fdatasync it once: a synced run's limit
//   --journal    a run that can be resumed after a crash: for each 64 MiB
//                window, first its old bytes are written to a side file in
//                FILE's folder and made durable (fdatasync), then the window
//                is rewritten in place and made durable; the side file is
//                removed at the end. Every byte is written twice and synced
//                once per window: the limit of a journaled run.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr off_t ChunkLength = 64 * 16384;
constexpr off_t WindowLength = off_t{64} << 20;

// Copies [begin, end) of `from` to `to` at `to_offset` onward, a chunk at a
// time. False (with a message) on an error.
bool CopyRange(int from, off_t begin, off_t end, int to, off_t to_offset,
               std::vector<unsigned char>& buffer) {
  for (off_t offset = begin; offset < end;) {
    const auto wanted = static_cast<size_t>(std::min<off_t>(ChunkLength, end - offset));
    const ssize_t count = pread(from, buffer.data(), wanted, offset);
    if (count <= 0) {
      std::perror("read");
      return false;
    }
    if (pwrite(to, buffer.data(), static_cast<size_t>(count), to_offset + (offset - begin)) != count) {
      std::perror("write");
      return false;
    }
    offset += count;
  }
  return true;
}

bool Sync(int file) {
  if (fdatasync(file) == 0) return true;
  std::perror("fdatasync");
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: inplace_rw_loop FILE [--sync | --journal]\n");
    return 2;
  }
  const std::string mode = argc > 2 ? argv[2] : "";
  const int file = open(argv[1], O_RDWR | O_CLOEXEC);
  if (file < 0) {
    std::perror(argv[1]);
    return 1;
  }
  const off_t length = lseek(file, 0, SEEK_END);
  std::vector<unsigned char> buffer(ChunkLength);

  if (mode == "--journal") {
    std::string side = argv[1];
    const auto slash = side.rfind('/');
    side = (slash == std::string::npos ? std::string() : side.substr(0, slash + 1)) + ".inplace-journal-" +
           std::to_string(getpid());
    const int journal = open(side.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (journal < 0) {
      std::perror(side.c_str());
      return 1;
    }
    bool ok = true;
    for (off_t window = 0; ok && window < length; window += WindowLength) {
      const off_t end = std::min(window + WindowLength, length);
      ok = CopyRange(file, window, end, journal, 0, buffer) && Sync(journal) &&
           CopyRange(file, window, end, file, window, buffer) && Sync(file);
    }
    close(journal);
    unlink(side.c_str());
    close(file);
    return ok ? 0 : 1;
  }

  if (!CopyRange(file, 0, length, file, 0, buffer)) return 1;
  if (mode == "--sync" && !Sync(file)) return 1;
  close(file);
  return 0;
}
