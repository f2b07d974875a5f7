#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvant {

// Decodes UTF-8; every byte that does not start a valid sequence becomes
// U+FFFD, so any file name can be shown.
std::u32string DecodeUtf8(std::string_view bytes);

// The character a byte stands for in Windows-1252; codes the page leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to 0, which draws as nothing.
char32_t Cp1252ToCodePoint(std::uint8_t byte);

// The Windows-1252 byte of a typed character, or 0 for the control codes
// (below 32, 127 and 128..159) and for characters the page lacks.
std::uint8_t CodePointToCp1252(char32_t code_point);

// A byte string of the program's 8-bit texts (Windows-1252) as UTF-8.
std::string Cp1252ToUtf8(std::string_view bytes);

std::string EncodeUtf8(std::u32string_view text);

}  // namespace quorvant
