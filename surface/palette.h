#pragma once

#include <array>
#include <cstdint>

namespace quorvant {

// 0x00BBGGRR, red in the low byte. Two negative values have a meaning in
// DrawBox: ForegroundOutline and NoFill.
using Colour = std::int32_t;

constexpr Colour ForegroundOutline = -1;
constexpr Colour NoFill = -2;

constexpr Colour Black = 0x000000;
constexpr Colour Grey = 0x808080;
constexpr Colour DarkGrey = 0xA9A9A9;
constexpr Colour DimGrey = 0x696969;
constexpr Colour SlateGrey = 0x4F4F2F;
constexpr Colour Brown = 0x2A2AA5;
constexpr Colour Silver = 0xC0C0C0;
constexpr Colour Lavender = 0xFFD8EF;

// Indexed by a file's encrypted flag (0 plain, 1 encrypted). Entry 0 also
// colours header values, entry 1 transient alerts.
constexpr std::array<Colour, 2> FileColours = {DarkGrey, Brown};

// Indexed by StateIndex of the key's hidden state: the key text is drawn in
// the background colour while hidden, so it still takes its room.
constexpr std::array<Colour, 2> KeyTextColours = {Silver, Black};

// Indexed by StateIndex of the key's hidden state: the Show|Hide indicator's
// fill.
constexpr std::array<Colour, 2> ShowHideFill = {DarkGrey, Black};

// The tables above are indexed 0 for off, 1 for on.
constexpr int StateIndex(bool on) { return on ? 1 : 0; }

constexpr std::uint8_t RedOf(Colour c) { return static_cast<std::uint8_t>(c & 0xFF); }
constexpr std::uint8_t GreenOf(Colour c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
constexpr std::uint8_t BlueOf(Colour c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }

}  // namespace quorvant
