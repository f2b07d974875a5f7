#include "crypto/encrypted_name.h"

#include <algorithm>

namespace quorvant {

bool HasEncryptedSuffixShape(std::string_view name) {
  return name.size() >= EncryptedSuffixLength && name[name.size() - EncryptedSuffixLength] == ' ' &&
         name.back() == '[';
}

std::optional<EncryptedSuffix> SuffixOfName(std::string_view name) {
  if (!HasEncryptedSuffixShape(name)) return std::nullopt;
  EncryptedSuffix suffix;
  std::copy(name.end() - EncryptedSuffixLength, name.end(), suffix.begin());
  return suffix;
}

std::string EncryptedName(std::string_view plain_name, const EncryptedSuffix& suffix) {
  std::string name(plain_name);
  name.append(suffix.begin(), suffix.end());
  return name;
}

std::optional<std::string> PlainName(std::string_view encrypted_name) {
  if (!HasEncryptedSuffixShape(encrypted_name)) return std::nullopt;
  std::string name(encrypted_name.substr(0, encrypted_name.size() - EncryptedSuffixLength));
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

namespace {

bool HasSuffixShapeEndingIn(std::string_view name, char last) {
  return name.size() >= EncryptedSuffixLength && name[name.size() - EncryptedSuffixLength] == ' ' &&
         name.back() == last;
}

// The name without its suffix, unless nothing usable would remain.
std::optional<std::string> NameBeforeSuffix(std::string_view encrypted_name) {
  std::string name(encrypted_name.substr(0, encrypted_name.size() - EncryptedSuffixLength));
  if (name.empty() || name == "." || name == "..") return std::nullopt;
  return name;
}

}  // namespace

CipherFormat FormatOfSuffix(const EncryptedSuffix& suffix) {
  return suffix.back() == ']' ? CipherFormat::Strong : CipherFormat::Classic;
}

EncryptedSuffix MakeStrongSuffix(Clock& clock) {
  EncryptedSuffix suffix = MakeEncryptedSuffix(clock);
  suffix.back() = ']';
  return suffix;
}

bool HasStrongSuffixShape(std::string_view name) { return HasSuffixShapeEndingIn(name, ']'); }

std::optional<EncryptedSuffix> StrongSuffixOfName(std::string_view name) {
  if (!HasStrongSuffixShape(name)) return std::nullopt;
  EncryptedSuffix suffix;
  std::copy(name.end() - EncryptedSuffixLength, name.end(), suffix.begin());
  return suffix;
}

std::optional<std::string> StrongPlainName(std::string_view encrypted_name) {
  if (!HasStrongSuffixShape(encrypted_name)) return std::nullopt;
  return NameBeforeSuffix(encrypted_name);
}

}  // namespace quorvant
