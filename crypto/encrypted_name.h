#pragma once

// What an encrypted file's name looks like: the plain name followed by the
// nine-byte suffix " " + seven salt characters + "[". Names are bytes.

#include <optional>
#include <string>
#include <string_view>

#include "base/clock.h"
#include "crypto/cipher.h"

namespace quorvant {

inline constexpr std::size_t EncryptedSuffixLength = 9;

// At least nine bytes, the ninth from the end a space and the last "[". This
// alone marks a file as encrypted, whatever it contains.
bool HasEncryptedSuffixShape(std::string_view name);

// The last nine bytes of a name of that shape.
std::optional<EncryptedSuffix> SuffixOfName(std::string_view name);

// The name an encryption gives: `plain_name` followed by the suffix.
std::string EncryptedName(std::string_view plain_name, const EncryptedSuffix& suffix);

// The name a decryption gives: the name without its last nine bytes. Nothing
// when the name has no suffix or nothing usable would remain ("", "." or "..").
std::optional<std::string> PlainName(std::string_view encrypted_name);

// The two formats a file may be encrypted in: the program's own keystream
// format, and the strong one (crypto/strong_format.h). The suffix's last byte
// tells which a run writes or reads: "[" classic, "]" strong.
enum class CipherFormat { Classic, Strong };
CipherFormat FormatOfSuffix(const EncryptedSuffix& suffix);

// Names of the strong format (crypto/strong_format.h): the same nine-byte
// shape, but ending in "]" instead of "[". The shape only proposes the
// format; the file's trailer decides.

// A fresh suffix " " + seven salt characters + "]", the salt drawn exactly as
// MakeEncryptedSuffix draws it.
EncryptedSuffix MakeStrongSuffix(Clock& clock);

// At least nine bytes, the ninth from the end a space and the last "]".
bool HasStrongSuffixShape(std::string_view name);

// The last nine bytes of a name of the strong shape.
std::optional<EncryptedSuffix> StrongSuffixOfName(std::string_view name);

// The name a strong decryption gives: the name without its last nine bytes.
// Nothing when the name has no strong suffix or nothing usable would remain.
// (EncryptedName appends either kind of suffix.)
std::optional<std::string> StrongPlainName(std::string_view encrypted_name);

}  // namespace quorvant
