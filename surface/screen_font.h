#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvant {

struct TextSize {
  int width = 0;
  int height = 0;
};

// One rendered glyph: an 8-bit coverage bitmap placed relative to the pen
// position on the text's top line.
struct Glyph {
  int advance = 0;  // whole pixels at the 16 px em
  int left = 0;     // bitmap x relative to the pen
  int top = 0;      // bitmap y relative to the text's top edge
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> coverage;  // width * height, 0..255
};

// The one screen font: the bold sans-serif face built into the binary,
// rendered by FreeType at a 16 px em with grey-level anti-aliasing and no
// kerning. Heights follow the classic text metrics: the cell height is
// round((winAscent + winDescent) * 16 / unitsPerEm) and the external leading
// the line gap the face adds beyond that. A glyph's advance is the face's
// unhinted advance at 16 px rounded to whole pixels, so widths depend on the
// face alone.
//
// Glyphs are rendered on first use and cached per code point; the cache makes
// the font single-threaded (the drawing thread owns it). Code point 0 is an
// empty glyph of zero advance; a code point the face lacks gets the face's
// .notdef glyph, so an unknown character still takes room and shows.
class ScreenFont {
 public:
  ScreenFont();
  ~ScreenFont();
  ScreenFont(const ScreenFont&) = delete;
  ScreenFont& operator=(const ScreenFont&) = delete;

  int Height() const { return height_; }
  int ExternalLeading() const { return external_leading_; }
  int Ascent() const { return ascent_; }

  // Width is the sum of the glyph advances; height is Height() for any text,
  // including the empty one.
  TextSize Measure(std::u32string_view text) const;
  const Glyph& GlyphFor(char32_t code_point) const;

 private:
  struct FreeTypeHandles;
  Glyph Render(char32_t code_point) const;

  std::unique_ptr<FreeTypeHandles> handles_;
  int height_ = 0;
  int external_leading_ = 0;
  int ascent_ = 0;
  mutable std::unordered_map<char32_t, Glyph> cache_;
  // Direct lookup for ASCII, which is nearly all the program prints (long
  // runs of padding spaces among it). Points into cache_, whose elements
  // never move.
  mutable std::array<const Glyph*, 128> ascii_glyphs_{};
};

// The face's TrueType bytes, linked into the binary.
std::basic_string_view<unsigned char> EmbeddedFontData();

}  // namespace quorvant
