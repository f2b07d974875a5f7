#pragma once

// The number formats every screen prints with. Only a handful of masks occur
// in the program, so each has its own small function instead of a general
// mask interpreter:
//
//   "0.00" "0.0000" "0.000000" "0.000000000"  FormatFixed(value, 2 / 4 / 6 / 9)
//   "0.000000;-0.000000"                       FormatSignedFixed(value)
//   "### ### ### ### ###", "### ### ### ###"   FormatGroupedCount(count),
//     with the leading spaces removed          FormatGroupedRounded(value)
//   plain number (" 16", "-5")                 FormatPlain(value)
//   statistics table columns                   FormatBinary8(byte), FormatHex2(byte)
//
// Rounding works on the exact binary value of the double: its exact decimal
// expansion is rounded at the last shown digit, an exact half going to the
// even digit (0.125 → "0.12", 0.375 → "0.38"; 2.675 is really
// 2.67499999999999982236431605997495353221893310546875 and gives "2.67").

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvant {

// Shown in place of a figure that is not a number or infinite.
inline constexpr std::string_view UndefinedText = "undefined";

// Fixed point with exactly `decimals` decimals (0..17) and at least one digit
// before the point, "-" before a negative value, no separators. A value that
// rounds to zero shows without a sign ("0.000000", never "-0.000000").
std::string FormatFixed(double value, int decimals);

// "0.000000;-0.000000": a value below zero is printed as its magnitude after
// the "-" of the second section. The visible result equals FormatFixed(value, 6),
// including the rule that a value rounding to zero carries no sign.
std::string FormatSignedFixed(double value);

// A count in digit groups of three from the right, one space between groups,
// nothing before the first digit: 1200005 → "1 200 005", 0 → "0". Both count
// masks give the same text; a value wider than the mask keeps all its digits.
std::string FormatGroupedCount(std::uint64_t count);

// As FormatGroupedCount, for a value first rounded to a whole number with an
// exact half going to the even number (0.5 → "0", 1.5 → "2", 2.5 → "2").
// A negative value gets a "-" before its first group.
std::string FormatGroupedRounded(double value);

// The program's plain number format: one space before a non-negative number,
// "-" before a negative one (16 → " 16", -5 → "-5").
std::string FormatPlain(std::int64_t value);

// Eight binary digits with leading zeros: 65 → "01000001".
std::string FormatBinary8(std::uint8_t value);

// Two upper-case hexadecimal digits: 65 → "41", 10 → "0A".
std::string FormatHex2(std::uint8_t value);

}  // namespace quorvant
