// The file run's steps for the strong format: its key, the tail that its
// encryption adds after the data and its decryption cuts. See rewrite/file_run.h.

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "crypto/strong_format.h"
#include "rewrite/file_run.h"

namespace quorvant {

namespace {

Failure StrongKeyRefusal(StrongKeyFailure failure, const std::string& name) {
  switch (failure) {
    case StrongKeyFailure::WrongKey:
      return Failure{FileOutcome::WrongKey, Error{0, "the key is not the one " + name + " was encrypted with"}};
    case StrongKeyFailure::TrailerMac:
      return Failure{FileOutcome::Damaged, Error{0, "its trailer fails its check with this key"}};
    case StrongKeyFailure::OutOfMemory:
      return Failure{FileOutcome::NoMemory, Error{ENOMEM, "derive the key of " + name}};
    case StrongKeyFailure::CostRefused:
      return Failure{FileOutcome::DamagedOrCut, Error{0, "its trailer holds a key cost outside the limits"}};
    case StrongKeyFailure::NotSound: break;
  }
  return Failure{FileOutcome::DamagedOrCut, Error{0, "its trailer cannot be used"}};
}

}  // namespace

std::int64_t Run::DataLength() const {
  return strong_cipher_ ? static_cast<std::int64_t>(strong_cipher_->PlainLength()) : Length();
}

FileResult<std::int64_t> Run::LengthNow() {
  struct stat status {};
  if (calls_.Stat(file_.Descriptor(), &status) != 0) {
    return Failure{FileOutcome::ReadError, Error::FromErrno("stat " + file_.Name())};
  }
  return static_cast<std::int64_t>(status.st_size);
}

// Opens a trailer with the key: the master key comes from the run's key
// checker, which keeps it for the command's other files.
FileResult<StrongChunkCipher> Run::OpenTrailer(const StrongTrailerBytes& trailer, std::string_view key_text) {
  if (!StrongChecksumHolds(trailer)) return StrongKeyRefusal(StrongKeyFailure::NotSound, file_.Name());
  const StrongTrailer fields = DecodeStrongTrailer(trailer);
  const Result<StrongMasterKey, StrongKeyFailure> master = checker_.StrongMaster(key_text, fields.salt, fields.cost);
  if (!master) return StrongKeyRefusal(master.error(), file_.Name());
  Result<StrongChunkCipher, StrongKeyFailure> cipher = OpenStrongTrailer(*master, trailer);
  if (!cipher) return StrongKeyRefusal(cipher.error(), file_.Name());
  return std::move(*cipher);
}

// A new strong run's key: an encryption seals a fresh trailer; a decryption
// opens the file's (a wrong key stops here, for certain) and checks every
// chunk before anything changes, with the settings' check progress (a cancel
// there leaves the file as it was). The trailer goes into the journal's header.
FileStatus Run::TakeStrongKey(JournalRunHeader& header, std::string_view key_text) {
  header.block_length = MaxBlockLength;
  if (header.direction == Direction::Encrypt) {
    StrongCost cost = checker_.NewStrongCost();
    StrongFreshParts parts = DrawStrongFreshParts();
    parts.salt = checker_.NewStrongSalt();
    Result<StrongMasterKey, StrongKeyFailure> master = checker_.StrongMaster(key_text, parts.salt, cost);
    if (!master && master.error() == StrongKeyFailure::OutOfMemory &&
        cost.memory_kib > FallbackStrongCost.memory_kib) {
      // Less memory makes each guess cheaper for an attacker, so it is said.
      cost = FallbackStrongCost;
      master = checker_.StrongMaster(key_text, parts.salt, cost);
      if (master) {
        report_.note = "the key derivation could not have " + std::to_string(checker_.NewStrongCost().memory_kib / 1024) +
                       " MiB of memory and used " + std::to_string(cost.memory_kib / 1024) + " MiB";
      }
    }
    if (!master) return StrongKeyRefusal(master.error(), file_.Name());
    StrongSealed sealed = SealStrongFile(*master, parts, cost, static_cast<std::uint64_t>(Length()));
    header.key_check.assign(sealed.trailer.begin(), sealed.trailer.end());
    strong_cipher_.emplace(std::move(sealed.cipher));
    return {};
  }
  const Result<StrongEnd> end =
      ReadStrongEnd(calls_, file_.Descriptor(), Length(), file_.Name(), TrailerSearch::NearEnd);
  if (!end) return Failure{FileOutcome::ReadError, end.error()};
  if (end->kind != StrongEndKind::Sound) {
    return Failure{FileOutcome::DamagedOrCut, Error{0, std::string(DescribeStrongEnd(*end))}};
  }
  FileResult<StrongChunkCipher> cipher = OpenTrailer(end->bytes, key_text);
  if (!cipher) return cipher.error();
  StrongVerifySettings verify;
  verify.progress = &settings_.check_progress;
  const FileResult<std::vector<StrongByteRange>> damaged =
      VerifyStrongChunks(calls_, file_.Descriptor(), *cipher, file_.Name(), verify);
  if (!damaged) return damaged.error();
  if (!damaged->empty()) return Failure{FileOutcome::Damaged, Error{0, DescribeStrongDamage(*damaged)}};
  header.key_check.assign(end->bytes.begin(), end->bytes.end());
  strong_cipher_.emplace(std::move(*cipher));
  return {};
}

FileResult<bool> Run::TakeClassicKey(JournalRunHeader& header, std::string_view key_text) {
  JournalRunHeader classic = header;
  classic.direction = Direction::Decrypt;
  classic.suffix = *SuffixOfName(file_.Name());
  // The strong trailer proves the key to a resume: no new classic check is
  // made, and the file's own goes back on as it was should the run be undone.
  const FileResult<bool> looks_right = JudgeDecryptionKey(classic, key_text, &header.classic_check);
  if (!looks_right) return looks_right.error();
  header.converts_classic = true;
  start_words_ = BuildKeyWords(key_text, classic.suffix);
  return *looks_right;
}

// A resumed strong run's key, proved by the trailer its journal keeps.
FileStatus Run::OpenStrongRun(std::string_view key_text) {
  if (Header().key_check.size() != StrongTrailerLength) {
    return Failure{FileOutcome::JournalDamaged, Error{0, journal_->Name() + " holds no usable trailer"}};
  }
  StrongTrailerBytes trailer{};
  std::copy(Header().key_check.begin(), Header().key_check.end(), trailer.begin());
  FileResult<StrongChunkCipher> cipher = OpenTrailer(trailer, key_text);
  if (!cipher) {
    if (cipher.error().outcome == FileOutcome::WrongKey) {
      return Failure{FileOutcome::WrongKey, Error{0, "the key is not the one of the interrupted run"}};
    }
    return cipher.error();
  }
  strong_cipher_.emplace(std::move(*cipher));
  return {};
}

JournalSlotNeeds Run::SlotNeeds() const {
  if (!strong_cipher_) return {};
  const auto tail = static_cast<std::int64_t>(StrongEncryptedLength(strong_cipher_->PlainLength())) - DataLength();
  return JournalSlotNeeds{StrongChunkLength, DataLength(), StrongTagLength, tail,
                          Header().direction == Direction::Encrypt ? tail : 0};
}

// An encryption's first step: the tag table (its tags come with the
// windows) and the sound trailer after the data, before any byte changes,
// so that the wrapped file key never lives in the journal alone.
FileStatus Run::GrowTail() {
  const FileResult<std::int64_t> length = LengthNow();
  if (!length) return length.error();
  if (*length != DataLength()) return {};
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(strong_cipher_->ChunkCount() * StrongTagLength));
  // An empty file has no window, but one chunk of no bytes: its tag comes now.
  if (DataLength() == 0) strong_cipher_->EncryptChunks(0, {}, tail);
  tail.insert(tail.end(), Header().key_check.begin(), Header().key_check.end());
  return engine_->Grow(JournalPhase::Forward, tail);
}

// A decryption's last step, or an encryption's undo's: the file cut to its
// data, what is cut kept in the journal.
FileStatus Run::CutTail(JournalPhase phase) {
  const FileResult<std::int64_t> length = LengthNow();
  if (!length) return length.error();
  if (*length == DataLength()) return {};
  return engine_->Cut(phase);
}

}  // namespace quorvant
