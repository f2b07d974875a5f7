// quorvant-cli verify: checks every chunk of strong files against its tag,
// reading only, with a progress bar; Ctrl-C stops inside a file. A file is
// opened read-only and never locked, renamed or written, whatever is found.

#include <cerrno>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/unique_fd.h"
#include "cli/command.h"
#include "cli/failure_text.h"
#include "cli/file_argument.h"
#include "cli/name_quoting.h"
#include "cli/progress_bar.h"
#include "cli/transform_files.h"
#include "crypto/encrypted_name.h"
#include "crypto/strong_format.h"
#include "files/file_calls.h"

namespace quorvant::cli {

namespace {

// A strong file open for reading, with what its end says.
struct StrongFileEnd {
  UniqueFd opened;
  StrongEnd end;
};

// Opens the file and reads its end; a failure, or an end that cannot be
// verified, is reported and gives nothing.
std::optional<StrongFileEnd> ReadEndOf(const FileArgument& file, Messages& messages) {
  std::optional<ReadOnlyFile> opened = OpenForReading(file, messages);
  if (!opened) return std::nullopt;
  FileCalls calls;
  // The name says strong, so a trailer a little before the end is looked for
  // too: appended bytes and a cut trailer are then named as such.
  Result<StrongEnd> end =
      ReadStrongEnd(calls, opened->descriptor.Get(), opened->length, file.path, TrailerSearch::NearEnd);
  if (!end.ok()) {
    messages.FileFailure(file.path, DescribeFailure(FileOutcome::ReadError, end.error()));
    return std::nullopt;
  }
  if (end->kind != StrongEndKind::Sound) {
    messages.FileFailure(file.path, "damaged or cut: " + std::string(DescribeStrongEnd(*end)));
    return std::nullopt;
  }
  return StrongFileEnd{std::move(opened->descriptor), std::move(*end)};
}

// The master keys of one command, by salt and cost: files encrypted in one
// run share their salt, and each Argon2id derivation costs about a second.
// The keys wipe themselves when the cache ends.
class MasterKeyCache {
 public:
  Result<StrongMasterKey, StrongKeyFailure> Derive(std::string_view key_text,
                                                   std::span<const std::uint8_t, 16> salt, StrongCost cost) {
    StrongSalt salt_bytes{};
    std::copy(salt.begin(), salt.end(), salt_bytes.begin());
    const Index index{salt_bytes, cost.passes, cost.memory_kib};
    if (const auto found = keys_.find(index); found != keys_.end()) return found->second;
    Result<StrongMasterKey, StrongKeyFailure> derived = DeriveStrongMasterKey(key_text, salt, cost);
    if (derived.ok()) keys_.emplace(index, *derived);
    return derived;
  }

 private:
  using Index = std::tuple<StrongSalt, std::uint32_t, std::uint32_t>;
  std::map<Index, StrongMasterKey> keys_;
};

std::string DescribeKeyFailure(StrongKeyFailure failure) {
  switch (failure) {
    case StrongKeyFailure::WrongKey: return "wrong key; nothing was changed";
    case StrongKeyFailure::TrailerMac: return "damaged: its trailer fails its check with this key";
    case StrongKeyFailure::OutOfMemory: return "not enough memory to derive the key; nothing was changed";
    case StrongKeyFailure::CostRefused:
      return "damaged or cut: its trailer holds a key cost outside the limits";
    case StrongKeyFailure::NotSound: break;
  }
  return "damaged or cut: its trailer cannot be used";
}

bool VerifyOne(const FileArgument& file, const KeyText& key, MasterKeyCache& keys, CommandContext& context) {
  Messages& messages = context.messages;
  // Read again: the file may have changed since its end was first looked at.
  std::optional<StrongFileEnd> read = ReadEndOf(file, messages);
  if (!read) return false;
  const Result<StrongChunkCipher, StrongKeyFailure> cipher =
      OpenStrongEnd(read->end, key.View(),
                    [&](std::string_view key_text, std::span<const std::uint8_t, 16> salt, StrongCost cost) {
                      return keys.Derive(key_text, salt, cost);
                    });
  if (!cipher.ok()) {
    messages.FileFailure(file.path, DescribeKeyFailure(cipher.error()));
    return false;
  }
  FileCalls calls;
  // The bar follows the chunks as they are read; a cancel stops inside the
  // file, which nothing has changed.
  ProgressBar bar("Verifying " + QuoteName(file.name), context.clock, messages);
  const auto plain_length = static_cast<std::int64_t>(cipher->PlainLength());
  const ProgressFunction progress = FollowOnBar(bar, context.signals, plain_length);
  StrongVerifySettings settings;
  settings.progress = &progress;
  const FileResult<std::vector<StrongByteRange>> damaged =
      VerifyStrongChunks(calls, read->opened.Get(), *cipher, file.path, settings);
  bar.Clear();
  if (!damaged.ok()) {
    if (damaged.error().outcome == FileOutcome::Cancelled) {
      messages.FileFailure(file.path, "cancelled; not verified");
    } else {
      messages.FileFailure(file.path, DescribeFailure(FileOutcome::ReadError, damaged.error().error));
    }
    return false;
  }
  if (!damaged->empty()) {
    messages.FileFailure(file.path, "damaged: " + DescribeStrongDamage(*damaged));
    return false;
  }
  messages.Result("verified " + QuoteName(file.path));
  return true;
}

// Whether the file is a strong file whose end can be verified; anything else
// is reported. Looked at before the key is asked for, so that nobody types
// a key for files that cannot use it.
bool NeedsTheKey(const FileArgument& file, Messages& messages) {
  if (HasEncryptedSuffixShape(file.name)) {
    messages.FileFailure(file.path, "the classic format carries nothing to verify");
    return false;
  }
  if (!HasStrongSuffixShape(file.name)) {
    messages.FileFailure(file.path, "not an encrypted name (no \" \" + 7 characters + \"]\" at its end)");
    return false;
  }
  return ReadEndOf(file, messages).has_value();
}

}  // namespace

// quorvant-cli verify FILE...
int VerifyCommand(const CommandLine& line, CommandContext& context) {
  std::vector<FileArgument> files;
  for (FileArgument& file : CheckFileArguments(line.files, context.messages)) {
    if (NeedsTheKey(file, context.messages)) files.push_back(std::move(file));
  }
  const bool any_failed = files.size() != line.files.size();
  if (files.empty()) return ExitFailure;
  MasterKeyCache keys;
  return RunWithKey(
      line, context, files, KeyConfirmation::Once, any_failed, "not verified",
      [&](const FileArgument& file, const KeyText& key) { return VerifyOne(file, key, keys, context); });
}

}  // namespace quorvant::cli
