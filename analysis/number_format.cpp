#include "analysis/number_format.h"

#include <charconv>
#include <cmath>

#include "base/verify.h"

namespace quorvant {
namespace {

// std::to_chars expands the exact binary value of the double and rounds it
// to nearest with an exact tie going to the even digit, which is precisely
// the rounding the masks ask for; unlike printf it never takes the decimal
// point from the locale.
std::string PrintFixed(double value, int decimals) {
  // The widest finite double has 309 digits before the point.
  char text[512];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  Verify(error == std::errc());
  return std::string(text, static_cast<std::size_t>(end - text));
}

// "-0.000" shows a sign that belongs to no visible digit: drop it.
void DropSignOfZero(std::string& text) {
  if (text.empty() || text.front() != '-') return;
  if (text.find_first_not_of("0.", 1) == std::string::npos) text.erase(0, 1);
}

// Inserts one space between groups of three digits, counted from the right,
// after an optional sign. `digits` holds only the digits 0..9, at least one.
std::string GroupDigits(std::string_view digits, std::string_view sign = {}) {
  std::string grouped(sign);
  grouped.reserve(sign.size() + digits.size() + digits.size() / 3);
  for (std::size_t index = 0; index < digits.size(); ++index) {
    if (index > 0 && (digits.size() - index) % 3 == 0) grouped.push_back(' ');
    grouped.push_back(digits[index]);
  }
  return grouped;
}

}  // namespace

std::string FormatFixed(double value, int decimals) {
  Verify(decimals >= 0 && decimals <= 17);
  if (!std::isfinite(value)) return std::string(UndefinedText);
  std::string text = PrintFixed(value, decimals);
  DropSignOfZero(text);
  return text;
}

std::string FormatSignedFixed(double value) { return FormatFixed(value, 6); }

std::string FormatGroupedCount(std::uint64_t count) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, count);
  Verify(error == std::errc());
  return GroupDigits(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

std::string FormatGroupedRounded(double value) {
  if (!std::isfinite(value)) return std::string(UndefinedText);
  std::string text = PrintFixed(value, 0);
  DropSignOfZero(text);
  if (text.front() == '-') return GroupDigits(std::string_view(text).substr(1), "-");
  return GroupDigits(text);
}

std::string FormatPlain(std::int64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  Verify(error == std::errc());
  std::string text(digits, static_cast<std::size_t>(end - digits));
  if (value >= 0) text.insert(text.begin(), ' ');
  return text;
}

std::string FormatBinary8(std::uint8_t value) {
  std::string text(8, '0');
  for (int bit = 0; bit < 8; ++bit) {
    if ((value >> bit) & 1) text[static_cast<std::size_t>(7 - bit)] = '1';
  }
  return text;
}

std::string FormatHex2(std::uint8_t value) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  return {Digits[value >> 4], Digits[value & 15]};
}

}  // namespace quorvant
