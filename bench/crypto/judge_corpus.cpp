// How often the judge of a decrypted start lets a wrong key through, and how
// often it questions the right one, over a corpus of real files. Run by hand
// (bench/crypto/judge_corpus.sh makes the corpus); not part of the tests.
//
//   judge_corpus < list-of-paths
//
// Each file's first block is encrypted with a random key under a random
// suffix, then decrypted, in memory, with each kind of key below, and
// judged. Every file gets the same keys and suffixes in every build (the
// draws depend only on the file's place in the list), so two builds of the
// judge can be compared file by file.
//   right      the same key
//   slip       one character replaced by any other printable one
//   slip21     one character moved by 21 codes (which keeps the set-up's rotation
//              unless the sum wraps)
//   shared     a key of the same length whose first word differs (as
//              "right key" / "wrong key"), drawn until it shares the set-up's
//              rotation: at least 8 of the 12 key words equal
//   unrelated  any other key of 4..16 characters

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "crypto/key_judge.h"

namespace quorvant {
namespace {

using Bytes = std::vector<std::uint8_t>;

enum KeyKind { Right, Slip, Slip21, Shared, Unrelated, KindCount };
constexpr const char* KindNames[] = {"right", "slip", "slip21", "shared", "unrelated"};

// Sizes as the README speaks of them.
constexpr std::size_t SizeBounds[] = {1024, 4096, 16384, SIZE_MAX};
constexpr const char* SizeNames[] = {"< 1 KiB", "1-4 KiB", "4-16 KiB", ">= 16 KiB"};

char RandomPrintable(std::mt19937_64& random) { return static_cast<char>(32 + random() % 95); }

std::string RandomKey(std::mt19937_64& random, std::size_t length) {
  std::string key;
  for (std::size_t index = 0; index < length; ++index) key.push_back(RandomPrintable(random));
  return key;
}

EncryptedSuffix RandomSuffix(std::mt19937_64& random) {
  EncryptedSuffix suffix;
  suffix[0] = ' ';
  for (int index = 1; index <= 7; ++index) {
    suffix[index] = static_cast<std::uint8_t>(ValidNameChars[random() % ValidNameChars.size()]);
  }
  suffix[8] = '[';
  return suffix;
}

int SharedWords(const std::string& right, const std::string& wrong, const EncryptedSuffix& suffix) {
  const KeyWords a = BuildKeyWords(right, suffix), b = BuildKeyWords(wrong, suffix);
  int shared = 0;
  for (int index = 0; index < KeyWords::Count; ++index) shared += a.Words()[index] == b.Words()[index];
  return shared;
}

std::string WrongKey(KeyKind kind, const std::string& right, const EncryptedSuffix& suffix,
                     std::mt19937_64& random) {
  std::string wrong = right;
  switch (kind) {
    case Right: return right;
    case Slip: {
      const std::size_t at = random() % right.size();
      do wrong[at] = RandomPrintable(random);
      while (wrong[at] == right[at]);
      return wrong;
    }
    case Slip21: {
      const std::size_t at = random() % right.size();
      const int code = right[at];
      const bool up = code + 21 <= 126 && (code - 21 < 32 || random() % 2 == 0);
      wrong[at] = static_cast<char>(up ? code + 21 : code - 21);
      return wrong;
    }
    case Shared: {
      // The first word: up to the first space, at most the first five characters.
      const std::size_t word = std::min<std::size_t>({right.find(' '), 5, right.size()});
      for (int attempt = 0; attempt < 5000; ++attempt) {
        for (std::size_t at = 0; at < word; ++at) wrong[at] = static_cast<char>('a' + random() % 26);
        if (wrong != right && SharedWords(right, wrong, suffix) >= 8) return wrong;
      }
      return {};  // none found: this trial is left out
    }
    case Unrelated:
      do wrong = RandomKey(random, 4 + random() % 13);
      while (wrong == right);
      return wrong;
    case KindCount: break;
  }
  return {};
}

std::string KindOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return "(none)";
  std::string extension = name.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

struct Count {
  int passed = 0, total = 0;
};

int Run() {
  StartJudge judge;
  if (!judge.HasMagic()) std::fprintf(stderr, "warning: no magic database\n");
  std::array<Count, KindCount> by_kind{};
  std::array<std::array<Count, std::size(SizeBounds)>, KindCount> by_size{};
  std::map<std::string, std::array<Count, KindCount>> by_extension;
  std::string path;
  std::size_t index = 0, files = 0;
  while (std::getline(std::cin, path)) {
    std::mt19937_64 random(0x9e3779b97f4a7c15ull ^ index++);
    std::ifstream input(path, std::ios::binary);
    Bytes block(16384);
    input.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    block.resize(static_cast<std::size_t>(input.gcount()));
    if (block.size() < MinJudgedLength) continue;
    ++files;
    const std::size_t size_class =
        static_cast<std::size_t>(std::find_if(std::begin(SizeBounds), std::end(SizeBounds),
                                              [&](std::size_t bound) { return block.size() < bound; }) -
                                 std::begin(SizeBounds));
    const std::string right = RandomKey(random, 6 + random() % 10);
    const EncryptedSuffix suffix = RandomSuffix(random);
    Bytes encrypted = block;
    KeyWords words = BuildKeyWords(right, suffix);
    TransformBlock(encrypted, static_cast<std::int32_t>(encrypted.size()), Direction::Encrypt, words);
    for (int kind = 0; kind < KindCount; ++kind) {
      const std::string wrong = WrongKey(static_cast<KeyKind>(kind), right, suffix, random);
      if (wrong.empty()) continue;
      Bytes start = encrypted;
      KeyWords wrong_words = BuildKeyWords(wrong, suffix);
      TransformBlock(start, static_cast<std::int32_t>(start.size()), Direction::Decrypt, wrong_words);
      if (kind != Right && start == block) continue;  // the wrong key decrypted it all right
      const bool passed = judge.Judge(start).verdict == StartVerdict::LooksRight;
      for (Count* count : {&by_kind[kind], &by_size[kind][size_class], &by_extension[KindOf(path)][kind]}) {
        count->passed += passed;
        ++count->total;
      }
    }
  }
  std::printf("%zu files, %zu kinds\n\n", files, by_extension.size());
  std::printf("%-10s %16s   by size of the first block:", "key", "passed / judged");
  for (const char* name : SizeNames) std::printf(" %14s", name);
  std::printf("\n");
  for (int kind = 0; kind < KindCount; ++kind) {
    const Count& count = by_kind[kind];
    std::printf("%-10s %7d / %-6d %5.2f %%  %*s", KindNames[kind], count.passed, count.total,
                100.0 * count.passed / std::max(count.total, 1), 28, "");
    for (const Count& size : by_size[kind]) std::printf(" %6d / %-5d", size.passed, size.total);
    std::printf("\n");
  }
  std::printf("\nby kind of file (passed / judged): right, slip, slip21, shared, unrelated\n");
  for (const auto& [extension, counts] : by_extension) {
    std::printf("%-12s", extension.c_str());
    for (const Count& count : counts) std::printf(" %5d / %-5d", count.passed, count.total);
    std::printf("\n");
  }
  return 0;
}

}  // namespace
}  // namespace quorvant

int main() { return quorvant::Run(); }
