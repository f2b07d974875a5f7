#include "surface/screen_font.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/verify.h"

// Start and end of the TrueType file that embedded_font.S links in.
extern "C" const unsigned char quorvant_embedded_font_start[];
extern "C" const unsigned char quorvant_embedded_font_end[];

namespace quorvant {
namespace {

constexpr int EmPixels = 16;

// Glyph rendering:
// - FT_LOAD_TARGET_NORMAL with the face's own TrueType instructions under the
//   v40 interpreter, which snaps stems and edges vertically only: baselines,
//   x-heights and horizontal strokes land on whole pixels (crisp), while the
//   horizontal shapes keep their designed proportions. The interpreter
//   version is set explicitly so the look does not depend on how FreeType
//   was configured or on environment variables.
// - Grey-level coverage (FT_RENDER_MODE_NORMAL, 256 levels).
// - Embedded bitmaps ignored, so every size renders from the outlines.
// Advances do not come from the hinted metrics: they are the unhinted
// (linear) advance at 16 px rounded to whole pixels, so text widths depend on
// the face alone, not on the hinting engine.
constexpr FT_Int32 LoadFlags = FT_LOAD_RENDER | FT_LOAD_TARGET_NORMAL | FT_LOAD_NO_BITMAP;

// font units -> whole pixels at the 16 px em, halves rounded up.
int ScaleToPixels(long units, long units_per_em) {
  return static_cast<int>((units * EmPixels + units_per_em / 2) / units_per_em);
}

void* Allocate(FT_Memory, long size) { return std::malloc(static_cast<size_t>(size)); }
void Free(FT_Memory, void* block) { std::free(block); }
void* Reallocate(FT_Memory, long, long new_size, void* block) {
  return std::realloc(block, static_cast<size_t>(new_size));
}

}  // namespace

struct ScreenFont::FreeTypeHandles {
  FT_MemoryRec_ memory{nullptr, Allocate, Free, Reallocate};
  FT_Library library = nullptr;
  FT_Face face = nullptr;

  ~FreeTypeHandles() {
    if (face != nullptr) FT_Done_Face(face);
    if (library != nullptr) FT_Done_Library(library);
  }
};

std::basic_string_view<unsigned char> EmbeddedFontData() {
  const auto start = reinterpret_cast<std::uintptr_t>(quorvant_embedded_font_start);
  const auto end = reinterpret_cast<std::uintptr_t>(quorvant_embedded_font_end);
  return {quorvant_embedded_font_start, static_cast<size_t>(end - start)};
}

ScreenFont::ScreenFont() : handles_(std::make_unique<FreeTypeHandles>()) {
  // FT_New_Library with the default modules, rather than FT_Init_FreeType,
  // so that no FREETYPE_PROPERTIES environment variable changes the output.
  Verify(FT_New_Library(&handles_->memory, &handles_->library) == 0);
  FT_Add_Default_Modules(handles_->library);
  FT_UInt interpreter = TT_INTERPRETER_VERSION_40;
  // A FreeType without the v40 interpreter keeps its default; the glyphs are
  // then shaped a little differently but measure the same.
  (void)FT_Property_Set(handles_->library, "truetype", "interpreter-version", &interpreter);

  const std::basic_string_view<unsigned char> data = EmbeddedFontData();
  // The face is part of the binary, so failing to load it is a build fault.
  Verify(!data.empty());
  Verify(FT_New_Memory_Face(handles_->library, data.data(), static_cast<FT_Long>(data.size()), 0,
                            &handles_->face) == 0);
  FT_Face face = handles_->face;
  Verify(FT_Set_Pixel_Sizes(face, 0, EmPixels) == 0);

  // Classic text metrics: the cell spans the Windows ascent and descent; the
  // external leading is whatever line gap the horizontal header asks for
  // beyond that span.
  const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
  const auto* hhea = static_cast<const TT_HoriHeader*>(FT_Get_Sfnt_Table(face, FT_SFNT_HHEA));
  Verify(os2 != nullptr && hhea != nullptr && face->units_per_EM > 0);
  const long units_per_em = face->units_per_EM;
  const long win_span = static_cast<long>(os2->usWinAscent) + os2->usWinDescent;
  const long hhea_span = static_cast<long>(hhea->Ascender) - hhea->Descender;
  const long leading_units = std::max(0L, static_cast<long>(hhea->Line_Gap) - (win_span - hhea_span));
  height_ = ScaleToPixels(win_span, units_per_em);
  external_leading_ = ScaleToPixels(leading_units, units_per_em);
  ascent_ = ScaleToPixels(os2->usWinAscent, units_per_em);
}

ScreenFont::~ScreenFont() = default;

TextSize ScreenFont::Measure(std::u32string_view text) const {
  int width = 0;
  for (const char32_t code_point : text) width += GlyphFor(code_point).advance;
  return TextSize{width, height_};
}

const Glyph& ScreenFont::GlyphFor(char32_t code_point) const {
  const bool ascii = code_point < ascii_glyphs_.size();
  if (ascii && ascii_glyphs_[code_point] != nullptr) return *ascii_glyphs_[code_point];
  auto found = cache_.find(code_point);
  if (found == cache_.end()) found = cache_.emplace(code_point, Render(code_point)).first;
  if (ascii) ascii_glyphs_[code_point] = &found->second;
  return found->second;
}

Glyph ScreenFont::Render(char32_t code_point) const {
  Glyph glyph;
  // Code point 0 stands for a byte with no character: nothing, no room.
  if (code_point == 0) return glyph;
  FT_Face face = handles_->face;
  // FT_Load_Char loads .notdef for a character the face lacks.
  if (FT_Load_Char(face, code_point, LoadFlags) != 0) return glyph;
  const FT_GlyphSlot slot = face->glyph;
  glyph.advance = static_cast<int>((slot->linearHoriAdvance + 0x8000) >> 16);
  const FT_Bitmap& bitmap = slot->bitmap;
  if (bitmap.width == 0 || bitmap.rows == 0) return glyph;
  Verify(bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && bitmap.pitch > 0);
  glyph.left = slot->bitmap_left;
  glyph.top = ascent_ - slot->bitmap_top;
  glyph.width = static_cast<int>(bitmap.width);
  glyph.height = static_cast<int>(bitmap.rows);
  glyph.coverage.resize(static_cast<size_t>(glyph.width) * glyph.height);
  for (int row = 0; row < glyph.height; ++row) {
    std::memcpy(&glyph.coverage[static_cast<size_t>(row) * glyph.width],
                bitmap.buffer + static_cast<ptrdiff_t>(row) * bitmap.pitch, static_cast<size_t>(glyph.width));
  }
  return glyph;
}

}  // namespace quorvant
