#pragma once

// The key and encrypted-name suffixes the file-run tests encrypt with.

#include <string>

#include "crypto/cipher.h"

namespace quorvant::testing {

inline constexpr char Key[] = "correct horse";
inline constexpr EncryptedSuffix Suffix = {' ', 'A', 'b', '3', '~', ' ', 'x', '!', '['};
inline const std::string SuffixText(Suffix.begin(), Suffix.end());
// The same salt characters, for the strong format.
inline constexpr EncryptedSuffix StrongSuffix = {' ', 'A', 'b', '3', '~', ' ', 'x', '!', ']'};

}  // namespace quorvant::testing
