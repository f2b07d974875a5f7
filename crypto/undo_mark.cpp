#include "crypto/undo_mark.h"

#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "base/verify.h"
#include "base/wipe.h"

namespace quorvant {

namespace {

constexpr std::size_t SuffixOffset = 1;
constexpr std::size_t LengthOffset = 10;
constexpr std::size_t ModifiedOffset = 18;
constexpr std::size_t KeyIdOffset = 26;
constexpr std::size_t ContentOffset = 34;
constexpr std::size_t CheckOffset = 50;
static_assert(CheckOffset + KeyCheckLength == UndoMarkLength);
static_assert(sizeof(ContentTag) == crypto_onetimeauth_BYTES);
static_assert(sizeof(UndoMarkKey) == crypto_onetimeauth_KEYBYTES);

constexpr char MarkContext[] = "undomark";

// Reading the content a mebibyte at a time.
constexpr std::size_t ReadLength = std::size_t{1} << 20;

void PutInteger(std::uint8_t* at, std::int64_t value) {
  const auto bits = static_cast<std::uint64_t>(value);
  for (std::size_t byte = 0; byte < 8; ++byte) at[byte] = static_cast<std::uint8_t>(bits >> (8 * byte));
}

std::int64_t GetInteger(const std::uint8_t* at) {
  std::uint64_t bits = 0;
  for (std::size_t byte = 0; byte < 8; ++byte) bits |= std::uint64_t{at[byte]} << (8 * byte);
  return static_cast<std::int64_t>(bits);
}

// What the checksum covers before the content: version, suffix, length.
std::array<std::uint8_t, ModifiedOffset> Head(const EncryptedSuffix& suffix, std::int64_t length) {
  std::array<std::uint8_t, ModifiedOffset> head{};
  head[0] = UndoMarkVersion;
  std::memcpy(head.data() + SuffixOffset, suffix.data(), suffix.size());
  PutInteger(head.data() + LengthOffset, length);
  return head;
}

}  // namespace

std::array<std::uint8_t, UndoMarkLength> EncodeUndoMark(const UndoMark& mark) {
  std::array<std::uint8_t, UndoMarkLength> value{};
  const auto head = Head(mark.suffix, mark.length);
  std::memcpy(value.data(), head.data(), head.size());
  PutInteger(value.data() + ModifiedOffset, mark.modified_ns);
  PutInteger(value.data() + KeyIdOffset, static_cast<std::int64_t>(mark.key_id));
  std::memcpy(value.data() + ContentOffset, mark.content.data(), mark.content.size());
  std::memcpy(value.data() + CheckOffset, mark.key_check.data(), mark.key_check.size());
  return value;
}

std::optional<UndoMark> DecodeUndoMark(std::span<const std::uint8_t> value) {
  if (value.size() != UndoMarkLength || value[0] != UndoMarkVersion) return std::nullopt;
  UndoMark mark;
  std::memcpy(mark.suffix.data(), value.data() + SuffixOffset, mark.suffix.size());
  mark.length = GetInteger(value.data() + LengthOffset);
  mark.modified_ns = GetInteger(value.data() + ModifiedOffset);
  mark.key_id = static_cast<std::uint64_t>(GetInteger(value.data() + KeyIdOffset));
  if (mark.length < 0) return std::nullopt;
  std::memcpy(mark.content.data(), value.data() + ContentOffset, mark.content.size());
  std::memcpy(mark.key_check.data(), value.data() + CheckOffset, mark.key_check.size());
  return mark;
}

UndoMarkKey::UndoMarkKey(std::span<const std::uint8_t, 32> bytes) {
  std::memcpy(key_.data(), bytes.data(), key_.size());
}
UndoMarkKey::~UndoMarkKey() { Wipe(std::span(key_)); }
UndoMarkKey& UndoMarkKey::operator=(const UndoMarkKey& other) {
  key_ = other.key_;
  return *this;
}

Result<UndoMarkKey> DeriveUndoMarkKey(KeyDerivation& derivations, std::span<const std::uint8_t> check,
                                      std::uint64_t key_id) {
  std::array<std::uint8_t, DerivedKeyLength> subkey{};
  const Status derived = DeriveCheckSubkey(derivations, check, key_id, MarkContext, subkey);
  UndoMarkKey key(subkey);
  Wipe(std::span(subkey));
  if (!derived) return derived.error();
  return key;
}

std::uint64_t NewUndoMarkKeyId() {
  Verify(sodium_init() >= 0);
  std::uint64_t id = 0;
  randombytes_buf(&id, sizeof(id));
  return id;
}

ContentHasher::ContentHasher(const UndoMarkKey& key, const EncryptedSuffix& suffix, std::int64_t length) {
  Verify(sodium_init() >= 0);
  crypto_onetimeauth_init(&state_, key.Bytes().data());
  const auto head = Head(suffix, length);
  crypto_onetimeauth_update(&state_, head.data(), head.size());
}

ContentHasher::~ContentHasher() { sodium_memzero(&state_, sizeof(state_)); }

void ContentHasher::Update(std::span<const std::uint8_t> content) {
  crypto_onetimeauth_update(&state_, content.data(), content.size());
}

ContentTag ContentHasher::Final() {
  ContentTag tag{};
  crypto_onetimeauth_final(&state_, tag.data());
  return tag;
}

Result<ContentTag> TagContent(const UndoMarkKey& key, const EncryptedSuffix& suffix, std::int64_t length,
                              int descriptor, FileCalls& calls) {
  if (sodium_init() < 0) return Error{0, "start the checksum library"};
  ContentHasher hasher(key, suffix, length);
  // The content is plain text: the buffer is wiped after use.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::int64_t>(length, ReadLength)));
  Status read;
  for (std::int64_t at = 0; at < length && read; at += static_cast<std::int64_t>(buffer.size())) {
    const auto piece = std::span(buffer).first(static_cast<std::size_t>(std::min<std::int64_t>(
        length - at, static_cast<std::int64_t>(buffer.size()))));
    read = ReadExactly(calls, descriptor, piece, at, "the file");
    if (read) hasher.Update(piece);
  }
  Wipe(buffer.data(), buffer.size());
  if (!read) return read.error();
  return hasher.Final();
}

bool SameContent(const ContentTag& one, const ContentTag& other) {
  return crypto_verify_16(one.data(), other.data()) == 0;
}

Result<std::optional<UndoMark>> ReadUndoMark(int descriptor, FileCalls& calls) {
  std::array<std::uint8_t, UndoMarkLength + 1> value{};
  const ssize_t size = calls.GetAttribute(descriptor, UndoMarkAttributeName, value.data(), value.size());
  if (size < 0) {
    if (errno == ENODATA || errno == ERANGE || MeansNoUserAttributes(errno)) return std::optional<UndoMark>{};
    return Error::FromErrno("read the undo mark");
  }
  return DecodeUndoMark(std::span(value).first(static_cast<std::size_t>(size)));
}

Result<bool> WriteUndoMark(int descriptor, const UndoMark& mark, FileCalls& calls) {
  const auto value = EncodeUndoMark(mark);
  if (calls.SetAttribute(descriptor, UndoMarkAttributeName, value.data(), value.size()) == 0) return true;
  if (MeansNoUserAttributes(errno)) return false;
  return Error::FromErrno("store the undo mark");
}

Result<bool> RemoveUndoMark(int descriptor, FileCalls& calls) {
  if (calls.RemoveAttribute(descriptor, UndoMarkAttributeName) == 0) return true;
  if (errno == ENODATA || MeansNoUserAttributes(errno)) return false;
  return Error::FromErrno("remove the undo mark");
}

}  // namespace quorvant
