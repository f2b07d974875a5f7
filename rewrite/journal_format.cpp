#include "rewrite/journal_format.h"

#include <xxhash.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "base/verify.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_chunks.h"

namespace quorvant {

namespace {

constexpr std::array<std::uint8_t, 16> RunMagic = {'Q', 'U', 'O', 'R', 'V', 'A', 'N', 'T',
                                                   '-', 'J', 'O', 'U', 'R', 'N', 'A', 'L'};
constexpr std::array<std::uint8_t, 8> RecordMagic = {'Q', 'V', 'R', 'E', 'C', 'O', 'R', 'D'};
// 2: the run marks its file before its first change. 1 is still read.
// 3: a run of the strong format (its suffix ends in "]"), which earlier
// versions of the program must never take for a classic one.
constexpr std::uint32_t FormatVersion = 2;
constexpr std::uint32_t UnmarkedFormatVersion = 1;
constexpr std::uint32_t StrongFormatVersion = 3;
constexpr std::size_t HashLength = 16;
constexpr std::size_t LongestName = 255;

JournalHash HashOf(std::span<const std::uint8_t> bytes) {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits(bytes.data(), bytes.size()));
  JournalHash hash;
  std::memcpy(hash.data(), canonical.digest, hash.size());
  return hash;
}

// Fills a page field by field; Seal() closes it with the hash of what it holds.
class PageWriter {
 public:
  explicit PageWriter(JournalPage& page) : page_(page) {}
  void Bytes(std::span<const std::uint8_t> bytes) {
    Verify(at_ + bytes.size() + HashLength <= page_.size());
    if (bytes.empty()) return;  // an empty text's data may be null
    std::memcpy(page_.data() + at_, bytes.data(), bytes.size());
    at_ += bytes.size();
  }
  void Number(std::uint64_t value, int size) {
    Verify(at_ + static_cast<std::size_t>(size) + HashLength <= page_.size());
    for (int byte = 0; byte < size; ++byte) page_[at_++] = static_cast<std::uint8_t>(value >> (8 * byte));
  }
  // A length of two bytes, then the bytes.
  void Text(std::span<const std::uint8_t> bytes) {
    Number(bytes.size(), 2);
    Bytes(bytes);
  }
  void Seal() {
    const JournalHash hash = HashOf(std::span(page_).first(at_));
    Bytes(hash);
  }

 private:
  JournalPage& page_;
  std::size_t at_ = 0;
};

// Reads a page field by field; any field past the end makes the page unsound.
class PageReader {
 public:
  explicit PageReader(std::span<const std::uint8_t> page) : page_(page) {}
  void Bytes(std::span<std::uint8_t> out) {
    if (!Fits(out.size()) || out.empty()) return;
    std::memcpy(out.data(), page_.data() + at_, out.size());
    at_ += out.size();
  }
  std::uint64_t Number(int size) {
    if (!Fits(static_cast<std::size_t>(size))) return 0;
    std::uint64_t value = 0;
    for (int byte = size - 1; byte >= 0; --byte)
      value = (value << 8) | page_[at_ + static_cast<std::size_t>(byte)];
    at_ += static_cast<std::size_t>(size);
    return value;
  }
  std::vector<std::uint8_t> Text(std::size_t limit) {
    const std::size_t size = Number(2);
    if (size > limit) sound_ = false;
    std::vector<std::uint8_t> bytes(sound_ ? size : 0);
    Bytes(bytes);
    return bytes;
  }
  // Whether every field fitted and the closing hash matches them.
  bool Sealed() {
    if (!sound_) return false;
    const JournalHash expected = HashOf(page_.first(at_));
    JournalHash stored{};
    Bytes(stored);
    return sound_ && stored == expected;
  }

 private:
  bool Fits(std::size_t size) {
    if (!sound_ || page_.size() < HashLength || at_ + size > page_.size() - HashLength) sound_ = false;
    return sound_;
  }

  std::span<const std::uint8_t> page_;
  std::size_t at_ = 0;
  bool sound_ = true;
};

std::span<const std::uint8_t> BytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool IsPlainName(const std::string& name) {
  return !name.empty() && name.size() <= LongestName && name != "." && name != ".." &&
         name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

}  // namespace

std::string JournalName(ino_t inode) { return std::string(JournalNamePrefix) + std::to_string(inode); }

std::string JournalName(const RunId& run) {
  constexpr char Digits[] = "0123456789abcdef";
  std::string name(JournalNamePrefix);
  for (const std::uint8_t byte : run) {
    name += Digits[byte >> 4];
    name += Digits[byte & 15];
  }
  return name;
}

std::optional<RunId> RunOfJournalName(std::string_view name) {
  if (!name.starts_with(JournalNamePrefix)) return std::nullopt;
  const std::string_view digits = name.substr(JournalNamePrefix.size());
  RunId run{};
  if (digits.size() != 2 * run.size()) return std::nullopt;
  const auto value = [](char digit) -> int {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
  };
  for (std::size_t at = 0; at < run.size(); ++at) {
    const int high = value(digits[2 * at]);
    const int low = value(digits[2 * at + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    run[at] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return run;
}

bool IsJournalName(std::string_view name) {
  if (name.ends_with(OrphanJournalSuffix)) name.remove_suffix(OrphanJournalSuffix.size());
  return RunOfJournalName(name) || InodeOfJournalName(name);
}

std::optional<ino_t> InodeOfJournalName(std::string_view name) {
  if (!name.starts_with(JournalNamePrefix)) return std::nullopt;
  const std::string_view digits = name.substr(JournalNamePrefix.size());
  if (digits.empty() || digits.size() > 20 || (digits.size() > 1 && digits[0] == '0')) return std::nullopt;
  ino_t inode = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), inode);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return inode;
}

std::int64_t JournalWindowLength(const JournalRunHeader& header) {
  if (header.block_length <= 0) return 0;
  return header.slot_length / header.block_length * header.block_length;
}

JournalPage EncodeRunHeader(const JournalRunHeader& header) {
  Verify(header.key_check.size() <= MaxJournalKeyCheckLength);
  JournalPage page{};
  PageWriter out(page);
  out.Bytes(RunMagic);
  const bool strong = FormatOfSuffix(header.suffix) == CipherFormat::Strong;
  Verify(!strong || header.marks_file);
  out.Number(strong ? StrongFormatVersion : header.marks_file ? FormatVersion : UnmarkedFormatVersion, 4);
  out.Bytes(header.run_id);
  out.Number(header.direction == Direction::Encrypt ? 0 : 1, 1);
  out.Bytes(header.suffix);
  out.Number(static_cast<std::uint64_t>(header.length), 8);
  out.Number(static_cast<std::uint64_t>(header.block_length), 4);
  out.Number(header.inode, 8);
  out.Number(static_cast<std::uint64_t>(header.slot_length), 8);
  out.Text(BytesOf(header.old_name));
  out.Text(BytesOf(header.new_name));
  out.Text(header.key_check);
  out.Number(header.had_key_check ? 1 : 0, 1);
  if (strong) {
    out.Number(header.converts_classic ? 1 : 0, 1);
    out.Text(header.classic_check);
  }
  out.Seal();
  return page;
}

std::optional<JournalRunHeader> DecodeRunHeader(std::span<const std::uint8_t> page) {
  PageReader in(page);
  std::array<std::uint8_t, 16> magic{};
  in.Bytes(magic);
  const std::uint64_t version = in.Number(4);
  JournalRunHeader header;
  in.Bytes(header.run_id);
  const std::uint64_t direction = in.Number(1);
  header.direction = direction == 0 ? Direction::Encrypt : Direction::Decrypt;
  in.Bytes(header.suffix);
  header.length = static_cast<std::int64_t>(in.Number(8));
  header.block_length = static_cast<std::int32_t>(in.Number(4));
  header.inode = in.Number(8);
  header.slot_length = static_cast<std::int64_t>(in.Number(8));
  const std::vector<std::uint8_t> old_name = in.Text(LongestName);
  const std::vector<std::uint8_t> new_name = in.Text(LongestName);
  header.old_name.assign(old_name.begin(), old_name.end());
  header.new_name.assign(new_name.begin(), new_name.end());
  header.key_check = in.Text(MaxJournalKeyCheckLength);
  const std::uint64_t had_key_check = in.Number(1);
  header.had_key_check = had_key_check == 1;
  const bool strong = FormatOfSuffix(header.suffix) == CipherFormat::Strong;
  std::uint64_t converts = 0;
  if (strong) {
    converts = in.Number(1);
    header.converts_classic = converts == 1;
    header.classic_check = in.Text(MaxJournalKeyCheckLength);
  }
  if (!in.Sealed() || magic != RunMagic ||
      (version != FormatVersion && version != UnmarkedFormatVersion && version != StrongFormatVersion) ||
      (version == StrongFormatVersion) != strong || direction > 1 || had_key_check > 1 || converts > 1 ||
      (header.converts_classic && (direction != 0 || !HasEncryptedSuffixShape(header.old_name)))) {
    return std::nullopt;
  }
  header.marks_file = version != UnmarkedFormatVersion;
  // Sound figures only: everything below trusts them.
  const std::int64_t block_length = strong ? MaxBlockLength : std::min<std::int64_t>(header.length, MaxBlockLength);
  const bool sound =
      header.length >= 0 && header.block_length == block_length &&
      header.slot_length > 0 && header.slot_length % JournalPageSize == 0 &&
      header.slot_length >= header.block_length && header.slot_length <= (std::int64_t{1} << 40) &&
      IsPlainName(header.old_name) && IsPlainName(header.new_name) && header.old_name != header.new_name;
  if (!sound) return std::nullopt;
  if (strong) {
    // The trailer is the file's own: its data length fits the run's length.
    const std::optional<std::int64_t> data = StrongDataLength(header);
    const std::int64_t start_length =
        !data ? -1
              : header.direction == Direction::Encrypt ? *data
                                                       : static_cast<std::int64_t>(StrongEncryptedLength(*data));
    if (start_length != header.length) return std::nullopt;
  }
  return header;
}

std::optional<std::int64_t> StrongDataLength(const JournalRunHeader& header) {
  if (FormatOfSuffix(header.suffix) != CipherFormat::Strong || header.key_check.size() != StrongTrailerLength) {
    return std::nullopt;
  }
  StrongTrailerBytes bytes{};
  std::copy(header.key_check.begin(), header.key_check.end(), bytes.begin());
  const std::uint64_t length = DecodeStrongTrailer(bytes).plain_length;
  if (!StrongChecksumHolds(bytes) || length > MaxStrongPlainLength) return std::nullopt;
  return static_cast<std::int64_t>(length);
}

bool RunMayHaveLength(const JournalRunHeader& header, std::int64_t length) {
  const std::optional<std::int64_t> data = StrongDataLength(header);
  if (!data) return length == header.length;
  return length >= *data && length <= static_cast<std::int64_t>(StrongEncryptedLength(*data));
}

JournalPage EncodeRecord(const JournalRecord& record, const RunId& run_id) {
  JournalPage page{};
  PageWriter out(page);
  out.Bytes(RecordMagic);
  out.Bytes(run_id);
  out.Number(record.sequence, 8);
  out.Number(static_cast<std::uint8_t>(static_cast<std::uint8_t>(record.step) << 4 |
                                        static_cast<std::uint8_t>(record.phase)),
             1);
  out.Number(static_cast<std::uint64_t>(record.offset), 8);
  out.Number(static_cast<std::uint64_t>(record.length), 8);
  out.Number(static_cast<std::uint64_t>(record.done_after), 8);
  out.Bytes(record.image_hash);
  out.Seal();
  return page;
}

std::optional<JournalRecord> DecodeRecord(std::span<const std::uint8_t> page,
                                          const JournalRunHeader& header) {
  PageReader in(page);
  std::array<std::uint8_t, 8> magic{};
  RunId run_id{};
  in.Bytes(magic);
  in.Bytes(run_id);
  JournalRecord record;
  record.sequence = in.Number(8);
  const std::uint64_t phase_and_step = in.Number(1);
  const std::uint64_t phase = phase_and_step & 0x0f;
  const std::uint64_t step = phase_and_step >> 4;
  record.phase = static_cast<JournalPhase>(phase);
  record.step = static_cast<JournalStep>(step);
  record.offset = static_cast<std::int64_t>(in.Number(8));
  record.length = static_cast<std::int64_t>(in.Number(8));
  record.done_after = static_cast<std::int64_t>(in.Number(8));
  in.Bytes(record.image_hash);
  if (!in.Sealed() || magic != RecordMagic || run_id != header.run_id || (phase != 1 && phase != 2) || step > 2) {
    return std::nullopt;
  }
  if (record.step != JournalStep::Window) {
    // At the end of the data: where the file starts (an encryption's
    // growth) or ends (a decryption's cut) the run; the boundary at 0 or
    // all the way up.
    const bool sound = record.sequence > 0 && record.offset >= 0 && record.length > 0 &&
                       record.length <= header.slot_length &&
                       (record.offset == header.length || record.offset + record.length == header.length) &&
                       (record.done_after == 0 || record.done_after == record.offset);
    if (!sound) return std::nullopt;
    return record;
  }
  // A window of this file, starting on a block, that fits the slot; the
  // boundary at its end going forward, at its start going back.
  const bool forward = record.phase == JournalPhase::Forward;
  const bool sound = record.sequence > 0 && record.offset >= 0 && record.length > 0 &&
                     record.length <= JournalWindowLength(header) &&
                     record.offset <= header.length - record.length &&
                     record.offset % header.block_length == 0 &&
                     record.done_after == (forward ? record.offset + record.length : record.offset);
  if (!sound) return std::nullopt;
  return record;
}

ImageHash::ImageHash() : state_(XXH3_createState()) {
  Verify(state_ != nullptr);
  XXH3_128bits_reset(static_cast<XXH3_state_t*>(state_));
}

ImageHash::~ImageHash() { XXH3_freeState(static_cast<XXH3_state_t*>(state_)); }

void ImageHash::Add(std::span<const std::uint8_t> data) {
  XXH3_128bits_update(static_cast<XXH3_state_t*>(state_), data.data(), data.size());
}

JournalHash ImageHash::Finish() const {
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(static_cast<const XXH3_state_t*>(state_)));
  JournalHash hash;
  std::memcpy(hash.data(), canonical.digest, hash.size());
  return hash;
}

}  // namespace quorvant
