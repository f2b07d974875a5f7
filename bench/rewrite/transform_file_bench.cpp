// transform_file_bench FILE [ROUNDS] [classic|strong]: the journaled file
// run alone, without the command-line tool around it: encrypts FILE in place
// and decrypts it back in the given format (default classic), ROUNDS times
// (default 5), once with the cipher on the caller's thread (the one-thread
// loop, which one usable core also gets) and once on a thread of its own,
// taking turns so that both meet the same disk and the same neighbours. The
// key check, and the strong format's key derivation, are made at their
// cheapest cost, so the times are those of the data path (for the strong
// format: its tail, its windows with their tags, and a decryption's check of
// every chunk before it). Prints each round and the median, minimum and
// maximum of each kind.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "crypto/encrypted_name.h"
#include "crypto/strong_trailer.h"
#include "rewrite/file_transform.h"

namespace {

using namespace quorvant;

constexpr char Key[] = "bench key";
const EncryptedSuffix ClassicSuffix = {' ', 'b', 'e', 'n', 'c', 'h', '0', '1', '['};
const EncryptedSuffix StrongSuffix = {' ', 'b', 'e', 'n', 'c', 'h', '0', '1', ']'};

// Runs one encryption or decryption of `name` in `folder`; its time in seconds, or -1.
double TimedRun(int folder, const std::string& name, Direction direction, const EncryptedSuffix& suffix,
                CipherThread placement, KeyChecker& checker) {
  const auto started = std::chrono::steady_clock::now();
  std::optional<FileResult<OpenedFile>> opened = OpenFileInFolder(folder, name);
  if (!*opened) {
    std::fprintf(stderr, "cannot open %s: %s\n", name.c_str(), opened->error().error.Describe().c_str());
    return -1;
  }
  TransformSettings settings;
  settings.key_checker = &checker;
  settings.cipher_thread = placement;
  const FileReport report = TransformFile(**opened, direction, suffix, Key, {}, settings);
  opened.reset();
  if (report.outcome != FileOutcome::Done) {
    std::fprintf(stderr, "%s: %s\n", name.c_str(), report.error.Describe().c_str());
    return -1;
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

void PrintSpread(const char* what, std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  std::printf("%-34s median %.3f s  min %.3f  max %.3f\n", what, seconds[seconds.size() / 2], seconds.front(),
              seconds.back());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: transform_file_bench FILE [ROUNDS] [classic|strong]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const std::string format = argc > 3 ? argv[3] : "classic";
  if (format != "classic" && format != "strong") {
    std::fprintf(stderr, "unknown format %s (classic or strong)\n", format.c_str());
    return 2;
  }
  const EncryptedSuffix& suffix = format == "strong" ? StrongSuffix : ClassicSuffix;
  const auto slash = path.rfind('/');
  const std::string folder_path = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int folder = open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    std::perror(folder_path.c_str());
    return 1;
  }
  KeyChecker checker(KeyCheckCost{MinKeyCheckPasses, MinKeyCheckMemoryMib}, MinStrongCost);
  const std::string encrypted = EncryptedName(name, suffix);

  struct Kind {
    const char* what;
    CipherThread placement;
    std::vector<double> encrypt, decrypt;
  };
  Kind kinds[] = {{"cipher on the caller's thread", CipherThread::Caller, {}, {}},
                  {"cipher on its own thread", CipherThread::Own, {}, {}}};
  for (int round = 0; round < rounds; ++round) {
    // Turns alternate which kind goes first, so neither always follows the other.
    for (int turn = 0; turn < 2; ++turn) {
      Kind& kind = kinds[(turn + round) % 2];
      const double encrypt = TimedRun(folder, name, Direction::Encrypt, suffix, kind.placement, checker);
      const double decrypt =
          encrypt < 0 ? -1 : TimedRun(folder, encrypted, Direction::Decrypt, suffix, kind.placement, checker);
      if (encrypt < 0 || decrypt < 0) return 1;
      kind.encrypt.push_back(encrypt);
      kind.decrypt.push_back(decrypt);
      std::printf("round %d  %-30s encrypt %.3f s  decrypt %.3f s\n", round + 1, kind.what, encrypt, decrypt);
      std::fflush(stdout);
    }
  }
  for (const Kind& kind : kinds) {
    PrintSpread((std::string("encrypt, ") + kind.what).c_str(), kind.encrypt);
    PrintSpread((std::string("decrypt, ") + kind.what).c_str(), kind.decrypt);
  }
  close(folder);
  return 0;
}
