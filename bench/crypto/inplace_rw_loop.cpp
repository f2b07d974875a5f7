// inplace_rw_loop FILE [--sync]: reads FILE and writes it back in place,
// 1 MiB at a time (the chunk size of the file process), then optionally
// fdatasyncs it: the file work of an encryption without the cipher.

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: inplace_rw_loop FILE [--sync]\n");
    return 2;
  }
  const bool sync = argc > 2 && std::strcmp(argv[2], "--sync") == 0;
  const int file = open(argv[1], O_RDWR | O_CLOEXEC);
  if (file < 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::vector<unsigned char> buffer(64 * 16384);
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
