#include "cli/progress_text.h"

#include <cstdio>
#include <utility>

#include "cli/name_quoting.h"

namespace quorvant::cli {

namespace {

constexpr std::int64_t MillisecondsPerDay = 86'400'000;
constexpr std::int64_t RateAfterMilliseconds = 1000;

// One character of `text` from `position`: its length in bytes and the
// columns it takes on a terminal, erring on the wide side (from U+1100 on,
// where the wide East Asian characters begin, two), so that a line measured
// with it never wraps.
std::pair<std::size_t, std::size_t> CharacterAt(std::string_view text, std::size_t position) {
  char32_t code_point = 0;
  const std::size_t length = Utf8SequenceLength(text.substr(position), code_point);
  if (length == 0) return {1, 1};
  return {length, code_point >= 0x1100 ? 2u : 1u};
}

// The longest start of `text` of whole characters within `columns`.
std::string_view FirstColumns(std::string_view text, std::size_t columns) {
  std::size_t position = 0;
  while (position < text.size()) {
    const auto [length, width] = CharacterAt(text, position);
    if (width > columns) break;
    columns -= width;
    position += length;
  }
  return text.substr(0, position);
}

}  // namespace

std::size_t TextColumns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t position = 0; position < text.size();) {
    const auto [length, width] = CharacterAt(text, position);
    columns += width;
    position += length;
  }
  return columns;
}

std::string FormatByteCount(std::int64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  constexpr const char* Units[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // 1023.96 KiB would round to "1024.0 KiB": move up a unit before that.
  while (value >= 1023.95 && unit + 1 < std::size(Units)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, Units[unit]);
  return text;
}

std::string FormatDuration(std::int64_t seconds) {
  char text[32];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%d:%02d", static_cast<int>(seconds / 60),
                  static_cast<int>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600),
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  }
  return text;
}

std::string FormatProgressLine(std::string_view label, const ProgressPoint& point, std::size_t width) {
  std::string figures;
  if (point.syncing) {
    figures = "  100%  " + FormatByteCount(point.total) + "  syncing";
  } else {
    const std::int64_t percent =
        point.total > 0 ? static_cast<std::int64_t>(static_cast<__int128>(point.done) * 100 / point.total)
                        : 100;
    figures = "  " + std::to_string(percent) + "%  " + FormatByteCount(point.done) + " of " +
              FormatByteCount(point.total);
    if (point.elapsed_ms >= RateAfterMilliseconds && point.done > 0) {
      const double rate = static_cast<double>(point.done) * 1000.0 / static_cast<double>(point.elapsed_ms);
      const double seconds_left = static_cast<double>(point.total - point.done) / rate;
      // Whole seconds, rounded up: "0:00 left" only when nothing is left.
      auto whole_seconds = static_cast<std::int64_t>(seconds_left);
      if (static_cast<double>(whole_seconds) < seconds_left) ++whole_seconds;
      figures += "  " + FormatByteCount(static_cast<std::int64_t>(rate)) + "/s  " +
                 FormatDuration(whole_seconds) + " left";
    }
  }
  const std::size_t room = width > figures.size() ? width - figures.size() : 0;
  if (TextColumns(label) <= room) return std::string(label) + figures;
  constexpr std::string_view Cut = "...";
  const std::size_t kept = room > Cut.size() ? room - Cut.size() : 0;
  return std::string(FirstColumns(label, kept)) + std::string(Cut) + figures;
}

ProgressMeter::ProgressMeter(std::string label, Clock& clock, std::size_t width)
    : label_(std::move(label)), clock_(clock), width_(width) {}

std::int64_t ProgressMeter::Elapsed() {
  const std::int64_t now = clock_.MillisecondsSinceMidnight();
  if (!start_ms_) start_ms_ = now;
  std::int64_t elapsed = now - *start_ms_;
  // The clock gives the time of day: a run may go past midnight.
  if (elapsed < 0) elapsed += MillisecondsPerDay;
  return elapsed;
}

std::optional<std::string> ProgressMeter::Step(std::int64_t done, std::int64_t total) {
  const std::int64_t elapsed = Elapsed();
  if (drawn_ms_ && elapsed - *drawn_ms_ < RedrawMilliseconds) return std::nullopt;
  drawn_ms_ = elapsed;
  return FormatProgressLine(label_, ProgressPoint{done, total, elapsed, false}, width_);
}

std::string ProgressMeter::Syncing(std::int64_t total) {
  drawn_ms_ = Elapsed();
  return FormatProgressLine(label_, ProgressPoint{total, total, *drawn_ms_, true}, width_);
}

}  // namespace quorvant::cli
