#pragma once

#include <string>

namespace quorvant {

// The window's key vocabulary. It lives in base/ because the platform layer
// (surface/platform) makes these texts and browser/navigation reads them, and
// base/ is the one folder both may use (cmake/Layers.cmake).

// The key texts the input delivers: one character for character keys, Enter,
// Escape, Backspace and Tab; two for a navigation key (code 0, or a space from the
// on-screen keyboard, then the key's scan-code letter).
namespace key {
constexpr char Enter = '\r';
constexpr char Escape = '\x1b';
constexpr char Backspace = '\b';
constexpr char Tab = '\t';
// A navigation key: two characters, the last one the scan letter.
inline bool IsExtended(const std::string& k) { return k.size() == 2; }
inline char Last(const std::string& k) { return k.empty() ? '\0' : k.back(); }
inline bool Is(const std::string& k, char c) { return k.size() == 1 && k[0] == c; }
}  // namespace key

// The scan-code letters of the navigation keys (the keyboard's scan code as
// a character: Home is 71, "G").
namespace scan {
constexpr char Home = 'G';
constexpr char Up = 'H';
constexpr char PgUp = 'I';
constexpr char Left = 'K';
constexpr char Right = 'M';
constexpr char End = 'O';
constexpr char Down = 'P';
constexpr char PgDn = 'Q';
constexpr char Insert = 'R';
constexpr char Del = 'S';
constexpr char F1 = ';';  // F1..F10 follow in code order
constexpr char F11 = 'W';
constexpr char F12 = 'X';
// Not a key: the Encrypted icon delivers " F" (next encrypted file).
constexpr char Encrypted = 'F';
}  // namespace scan

// What a click on the Encrypted icon delivers.
inline const std::string EncryptedIconKey = std::string(" ") + scan::Encrypted;

}  // namespace quorvant
