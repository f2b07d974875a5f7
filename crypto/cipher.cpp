#include "crypto/cipher.h"

#include <endian.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "base/verify.h"
#include "base/wipe.h"

namespace quorvant {

namespace {

constexpr int ExpandedKeyLength = 84;  // 7 bytes for each of the 12 words
constexpr int WindowStep = 7;          // windows step by 7 but cover 8 bytes

// Both words are below WordModulus, so one conditional subtraction reduces
// their sum; this is the same as (a + b) mod (2^62 - 1).
inline std::uint64_t AddWords(std::uint64_t first, std::uint64_t second) {
  const std::uint64_t sum = first + second;
  return sum >= WordModulus ? sum - WordModulus : sum;
}

inline std::uint64_t LoadLittleEndian(const std::uint8_t* bytes) {
  std::uint64_t value;
  std::memcpy(&value, bytes, sizeof value);
  return le64toh(value);
}

inline void StoreLittleEndian(std::uint8_t* bytes, std::uint64_t value) {
  value = htole64(value);
  std::memcpy(bytes, &value, sizeof value);
}

// Moves the first `amount` bytes to the end, in order (new[i] = old[(i + amount) mod L]).
// A copy through a stack buffer is several times faster than std::rotate on bytes.
void RotateLeft(std::span<std::uint8_t> block, std::size_t amount) {
  const std::size_t length = block.size();
  if (amount == 0 || amount >= length) return;
  std::uint8_t saved[MaxBlockLength];
  std::uint8_t* data = block.data();
  const std::size_t rest = length - amount;
  if (amount <= rest) {
    std::memcpy(saved, data, amount);
    std::memmove(data, data + amount, rest);
    std::memcpy(data + rest, saved, amount);
  } else {
    std::memcpy(saved, data + amount, rest);
    std::memmove(data + rest, data, amount);
    std::memcpy(data, saved, rest);
  }
}

void RotateRight(std::span<std::uint8_t> block, std::size_t amount) {
  if (amount == 0) return;
  RotateLeft(block, block.size() - amount);
}

// One window that lies wholly inside the block, word index K of the cycle.
//
// Each window's 8 bytes overlap the next window's first byte. Rather than load
// a byte the previous store has just written (a stalled store-to-load
// forward), every window's data is loaded before the previous window is
// stored, and the previous word's top byte (`carry`) is folded into lane 0.
// The stores land in order, so the overlapping byte ends as
// data ^ top byte of one word ^ low byte of the next, exactly as if each
// window were applied to memory in turn.
template <std::size_t K>
inline void FullWindow(std::array<std::uint64_t, KeyWords::Count>& words, std::uint8_t* at,
                       std::uint64_t& ahead, std::uint64_t& carry) {
  words[K] = AddWords(words[K], words[KeyWords::Count - 1 - K]);
  const std::uint64_t value = ahead ^ words[K] ^ carry;
  ahead = LoadLittleEndian(at + WindowStep);
  StoreLittleEndian(at, value);
  carry = words[K] >> 56;
}

template <std::size_t... K>
inline void FullCycle(std::array<std::uint64_t, KeyWords::Count>& words, std::uint8_t* at,
                      std::uint64_t& ahead, std::uint64_t& carry, std::index_sequence<K...>) {
  (FullWindow<K>(words, at + WindowStep * K, ahead, carry), ...);
}

// Runs `window_count` windows over `length` bytes starting with word index 0.
void ApplyKeystream(std::uint8_t* data, std::size_t length, std::int64_t window_count,
                    std::array<std::uint64_t, KeyWords::Count>& key_words) {
  // Working on a local copy lets the compiler keep the words in registers.
  std::array<std::uint64_t, KeyWords::Count> words = key_words;
  const std::int64_t signed_length = static_cast<std::int64_t>(length);
  // Windows whose 8 bytes all exist.
  const std::int64_t full_windows =
      std::min(window_count, signed_length >= 8 ? (signed_length - 8) / WindowStep + 1 : 0);

  std::int64_t window = 0;
  int word_index = 0;
  if (full_windows > 0) {
    std::uint64_t ahead = LoadLittleEndian(data);
    std::uint64_t carry = 0;
    // Whole cycles of twelve, as long as the window after the cycle is also
    // whole (the last window of a cycle loads its successor's bytes).
    while (window + KeyWords::Count < full_windows) {
      FullCycle(words, data + WindowStep * window, ahead, carry, std::make_index_sequence<KeyWords::Count>());
      window += KeyWords::Count;
    }
    for (; window < full_windows; ++window) {
      std::uint8_t* at = data + WindowStep * window;
      words[word_index] = AddWords(words[word_index], words[KeyWords::Count - 1 - word_index]);
      const std::uint64_t value = ahead ^ words[word_index] ^ carry;
      if (window + 1 < full_windows) ahead = LoadLittleEndian(at + WindowStep);
      StoreLittleEndian(at, value);
      carry = words[word_index] >> 56;
      word_index = word_index == KeyWords::Count - 1 ? 0 : word_index + 1;
    }
  }
  // The rest: at most one window that runs past the end, then windows that
  // start beyond the data (a short last block) and only advance the words.
  for (; window < window_count; ++window) {
    words[word_index] = AddWords(words[word_index], words[KeyWords::Count - 1 - word_index]);
    const std::size_t start = static_cast<std::size_t>(WindowStep * window);
    for (std::size_t lane = 0; lane < 8 && start + lane < length; ++lane) {
      data[start + lane] ^= static_cast<std::uint8_t>(words[word_index] >> (8 * lane));
    }
    word_index = word_index == KeyWords::Count - 1 ? 0 : word_index + 1;
  }
  key_words = words;
  Wipe(std::span(words));
}

}  // namespace

EncryptedSuffix MakeEncryptedSuffix(Clock& clock) {
  EncryptedSuffix suffix;
  suffix.fill(' ');
  suffix[8] = '[';
  constexpr std::int64_t CharCount = static_cast<std::int64_t>(ValidNameChars.size());
  for (std::int64_t position = 2; position <= 8; ++position) {
    // frac(T / i) = (t mod 1000 i) / 1000 i for T = t / 1000 seconds, so
    // 86 frac(T / i) = numerator / denominator exactly, and rounding half to
    // even is done on integers.
    const std::int64_t milliseconds = clock.MillisecondsSinceMidnight();
    const std::int64_t denominator = 1000 * position;
    const std::int64_t numerator = CharCount * (milliseconds % denominator);
    std::int64_t rounded = numerator / denominator;
    const std::int64_t twice_remainder = 2 * (numerator % denominator);
    if (twice_remainder > denominator || (twice_remainder == denominator && rounded % 2 == 1)) ++rounded;
    const std::int64_t pick = rounded - 8;  // 1-based; negative counts from the end
    if (pick > 0) {
      suffix[position - 1] = static_cast<std::uint8_t>(ValidNameChars[pick - 1]);
    } else if (pick < 0) {
      suffix[position - 1] = static_cast<std::uint8_t>(ValidNameChars[CharCount + pick]);
    }
    // pick == 0: the position keeps its space.
  }
  return suffix;
}

bool IsValidKeyText(std::string_view key_text) {
  if (key_text.empty() || key_text.size() > static_cast<std::size_t>(MaxKeyLength)) return false;
  return std::all_of(key_text.begin(), key_text.end(), [](char character) {
    const auto code = static_cast<unsigned char>(character);
    return code >= 32 && code <= 126;
  });
}

KeyWords KeyWords::FromWords(const std::array<std::uint64_t, Count>& words) {
  KeyWords key_words;
  for (std::size_t index = 0; index < words.size(); ++index) {
    Verify(words[index] < WordModulus);
    key_words.words_[index] = words[index];
  }
  return key_words;
}

void KeyWords::Wipe() { quorvant::Wipe(std::span(words_)); }

bool KeyWords::IsWiped() const {
  return std::all_of(words_.begin(), words_.end(), [](std::uint64_t word) { return word == 0; });
}

KeyWords BuildKeyWords(std::string_view key_text, std::span<const std::uint8_t, 9> suffix) {
  Verify(!key_text.empty() && key_text.size() <= static_cast<std::size_t>(MaxKeyLength));
  // 0-based below: expanded[i - 1] is E[i], suffix[i - 1] is S[i].
  std::array<std::uint8_t, ExpandedKeyLength> expanded{};
  std::memcpy(expanded.data(), key_text.data(), key_text.size());
  std::memcpy(expanded.data() + key_text.size(), suffix.data() + 1, 7);  // the salt, S[2..8]

  for (int position = 1; position <= ExpandedKeyLength; ++position) {
    // S[(i mod 7) + 1]: the leading space for multiples of 7, else a salt byte.
    const int mixed = expanded[position - 1] + suffix[position % 7] + position;
    expanded[position - 1] = static_cast<std::uint8_t>(mixed & 0xFF);
  }

  // The rotation reads the 7-byte groups big-endian...
  std::uint64_t rotation = 0;
  for (int group = 0; group < KeyWords::Count; ++group) {
    std::uint64_t value = 0;
    for (int offset = 0; offset < 7; ++offset) value = (value << 8) | expanded[7 * group + offset];
    rotation += value % ExpandedKeyLength;
  }
  rotation %= ExpandedKeyLength;
  std::rotate(expanded.begin(), expanded.end() - static_cast<std::ptrdiff_t>(rotation), expanded.end());

  // ...and the words read them little-endian; both orders belong to the format.
  KeyWords key_words;
  for (int group = 0; group < KeyWords::Count; ++group) {
    std::uint64_t value = 0;
    for (int offset = 6; offset >= 0; --offset) value = (value << 8) | expanded[7 * group + offset];
    key_words.words_[group] = value;
  }
  Wipe(std::span(expanded));
  return key_words;
}

void TransformBlock(std::span<std::uint8_t> block, std::int32_t block_length, Direction direction,
                    KeyWords& key_words) {
  Verify(block_length >= 1 && block_length <= MaxBlockLength);
  Verify(!block.empty() && block.size() <= static_cast<std::size_t>(block_length));
  // The rotation is fixed before any word of this block changes.
  const std::size_t rotation = key_words.words_[KeyWords::Count - 1] % block.size();
  if (direction == Direction::Decrypt) RotateRight(block, rotation);
  // The window count follows B, not the block's own length.
  const std::int64_t window_count =
      block_length <= 8 ? 1 : (block_length - 8 + WindowStep - 1) / WindowStep + 1;
  ApplyKeystream(block.data(), block.size(), window_count, key_words.words_);
  if (direction == Direction::Encrypt) RotateLeft(block, rotation);
}

void SkipBlocks(KeyWords& key_words, std::int32_t block_length, std::int64_t block_count) {
  Verify(block_length >= 1 && block_length <= MaxBlockLength && block_count >= 0);
  const std::int64_t window_count =
      block_length <= 8 ? 1 : (block_length - 8 + WindowStep - 1) / WindowStep + 1;
  std::array<std::uint64_t, KeyWords::Count> words = key_words.words_;
  for (std::int64_t block = 0; block < block_count; ++block) {
    // Every block starts its cycle of words at index 0, as ApplyKeystream does.
    std::int64_t window = 0;
    for (; window + KeyWords::Count <= window_count; window += KeyWords::Count) {
      for (int k = 0; k < KeyWords::Count; ++k) words[k] = AddWords(words[k], words[KeyWords::Count - 1 - k]);
    }
    for (int k = 0; window < window_count; ++window, ++k) {
      words[k] = AddWords(words[k], words[KeyWords::Count - 1 - k]);
    }
  }
  key_words.words_ = words;
  Wipe(std::span(words));
}

}  // namespace quorvant
