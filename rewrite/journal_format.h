#pragma once

// The journal of a file run, on disk. A run that changes a file keeps one in
// the file's folder, named "quorvant-journal-<run id in hex>": the file
// carries the same id as its run's mark (rewrite/run_mark.h), so the file
// leads to its journal, and the journal of a deleted file can never be
// taken for that of a later file with its inode. Where the file system keeps
// no user attributes (no mark), and for journals of earlier versions of the
// program, the name is "quorvant-journal-<inode>" instead (inode numbers
// survive renames). The browser never lists a journal, as its name begins
// with the program's name.
//
// Layout, all integers little-endian:
//   [0, 4096)              run header, written once
//   [4096, 8192)           record page 0: the records with even sequence numbers
//   [8192, 12288)          record page 1: the odd ones
//   [12288, 12288 + slot)  image slot: the bytes a window of the file is to hold
//
// A record says "window [offset, offset + length) of the file is to hold the
// image in the slot; once it does, the run's boundary is done_after". Each
// page ends with an XXH3-128 of the bytes before it, and the record holds
// the image's XXH3-128, so a torn page or image is recognised, never
// trusted. The checksums guard against tearing, not against forgery.
//
// The journal never holds the key, the key words, any keystream or a hash of
// the plain content: only what the file's name and key check attribute show
// anyway, and the window images, which are the file's own bytes.

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/cipher.h"

namespace quorvant {

inline constexpr std::int64_t JournalPageSize = 4096;
inline constexpr std::int64_t JournalImageOffset = 3 * JournalPageSize;
inline constexpr std::string_view JournalNamePrefix = "quorvant-journal-";
// A journal is written under this extra suffix and renamed only once its run
// header is durable, so a journal under its real name always has a whole
// header. A draft left behind changed nothing and is simply replaced.
inline constexpr std::string_view JournalDraftSuffix = ".new";
// The longest key check a journal carries.
inline constexpr std::size_t MaxJournalKeyCheckLength = 512;

using JournalHash = std::array<std::uint8_t, 16>;
using RunId = std::array<std::uint8_t, 16>;

// The journal's name of a file without a mark: for its inode.
std::string JournalName(ino_t inode);
// The journal's name of a run that marks its file: for the run.
std::string JournalName(const RunId& run);
// The run a journal's name is for; nothing for any other name, drafts included.
std::optional<RunId> RunOfJournalName(std::string_view name);
// Added to the name of a journal found to be another file's, when it is set
// aside (it then no longer names any inode's journal).
inline constexpr std::string_view OrphanJournalSuffix = ".orphan";
// The inode a journal's name is for; nothing for any other name, drafts included.
std::optional<ino_t> InodeOfJournalName(std::string_view name);
// Whether `name` is a journal's: for a run or an inode, or one of these set
// aside (OrphanJournalSuffix). Drafts are not.
bool IsJournalName(std::string_view name);

// What a later run needs to finish or undo this one.
struct JournalRunHeader {
  RunId run_id{};  // random: records of an earlier run of the same inode never count
  Direction direction = Direction::Encrypt;
  EncryptedSuffix suffix{};
  std::int64_t length = 0;
  // min(length, MaxBlockLength); for the strong format MaxBlockLength,
  // whose windows start on its chunks instead.
  std::int32_t block_length = 0;
  std::uint64_t inode = 0;
  // The image slot's size: a multiple of JournalPageSize, at least one block
  // (except for an empty file). Windows are the largest multiple of the
  // block length that fits.
  std::int64_t slot_length = 0;
  std::string old_name;                 // the name before the run
  std::string new_name;                 // the name the run gives
  // The same bytes as the key check attribute; for the strong format (a
  // suffix ending in "]"), the file's trailer, which proves the key and
  // holds the wrapped file key (crypto/strong_trailer.h).
  std::vector<std::uint8_t> key_check;
  // A decryption of a file that carried a key check attribute: an undo puts
  // the check back.
  bool had_key_check = false;
  // The run marks its file (rewrite/run_mark.h); journals of earlier
  // versions of the program did not.
  bool marks_file = true;
  // A strong run that turns a classic file into a strong one in one go: its
  // data start as the classic cipher's (the old name's suffix keys them),
  // and the classic file's key check, if it had one, is kept here so that an
  // undo can put it back.
  bool converts_classic = false;
  std::vector<std::uint8_t> classic_check;

  bool operator==(const JournalRunHeader&) const = default;
};

// The strong format's data length of a run of it (the plaintext length its
// trailer holds); nothing for a classic run.
std::optional<std::int64_t> StrongDataLength(const JournalRunHeader& header);
// Whether a file of `length` bytes may be the run's file: its length at the
// run's start, or, for the strong format, anything from its data length to
// its data with the tag table and trailer (the run grows or cuts it).
bool RunMayHaveLength(const JournalRunHeader& header, std::int64_t length);

enum class JournalPhase : std::uint8_t {
  Forward = 1,  // the run itself: the boundary rises
  Undo = 2,     // taking it back: the boundary falls
};

// What a record's image does in place. Journals of earlier versions hold
// windows only; the step shares the phase's byte (high half), so their
// records read as before.
enum class JournalStep : std::uint8_t {
  Window = 0,  // the image is the window's new bytes (and its side bytes)
  // Steps that change the file's length at the end of its data, at `offset`,
  // for a format that keeps more after its data; the boundary does not move.
  Tail = 1,  // the image is written at `offset`: the file grows to offset + length
  Cut = 2,   // the file is cut to `offset`; the image is what was cut, for an undo
};

struct JournalRecord {
  std::uint64_t sequence = 0;  // 1, 2, 3, ...: record n is on page n mod 2
  JournalPhase phase = JournalPhase::Forward;
  JournalStep step = JournalStep::Window;
  std::int64_t offset = 0;  // the window of the file
  std::int64_t length = 0;
  std::int64_t done_after = 0;  // the run's boundary once the image is in place
  JournalHash image_hash{};

  bool operator==(const JournalRecord&) const = default;
};

// Where record `sequence` keeps its page.
inline std::int64_t JournalRecordOffset(std::uint64_t sequence) {
  return JournalPageSize * (1 + static_cast<std::int64_t>(sequence % 2));
}
inline std::int64_t JournalFileLength(const JournalRunHeader& header) {
  return JournalImageOffset + header.slot_length;
}
// The longest window the slot holds: a whole number of blocks, so that every
// window, going forward or back, starts on a block.
std::int64_t JournalWindowLength(const JournalRunHeader& header);

using JournalPage = std::array<std::uint8_t, JournalPageSize>;

JournalPage EncodeRunHeader(const JournalRunHeader& header);
// Nothing unless the page is a whole, sound run header.
std::optional<JournalRunHeader> DecodeRunHeader(std::span<const std::uint8_t> page);

JournalPage EncodeRecord(const JournalRecord& record, const RunId& run_id);
// Nothing unless the page is a whole record of the run `header` describes,
// for a window inside the file. (The caller checks that it was read from the
// page its sequence number puts it on.)
std::optional<JournalRecord> DecodeRecord(std::span<const std::uint8_t> page, const JournalRunHeader& header);

// XXH3-128 of an image, fed as it is written.
class ImageHash {
 public:
  ImageHash();
  ~ImageHash();
  ImageHash(const ImageHash&) = delete;
  ImageHash& operator=(const ImageHash&) = delete;

  void Add(std::span<const std::uint8_t> data);
  JournalHash Finish() const;

 private:
  void* state_;
};

}  // namespace quorvant
