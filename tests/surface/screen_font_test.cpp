#include "surface/screen_font.h"

#include <gtest/gtest.h>

#include <string>

#include "surface/text_encoding.h"

namespace quorvant {
namespace {

TEST(ScreenFontTest, ClassicMetricsOfTheBuiltInFace) {
  const ScreenFont font;
  EXPECT_EQ(font.Height(), 18);
  EXPECT_EQ(font.ExternalLeading(), 1);
  EXPECT_EQ(font.Ascent(), 14);
  EXPECT_EQ(font.Measure(U"").height, 18);
  EXPECT_EQ(font.Measure(U"").width, 0);
}

struct WidthCase {
  const char* text;
  int width;
};

// Widths the screen layout is built on (label value columns, the status
// offset). They follow from the face's advance widths alone.
const WidthCase WidthCases[] = {
    {"File ", 31},  // FileValueX = 51
    {"Size ", 36},  // SizeValueX = 56
    {"Key ", 34},  {"Statisting ", 76}, {"Encrypting", 84}, {"Erasing ", 63},
    {" ", 4},      {"0123456789", 90},  // every digit 9 pixels, so numbers line up
};

void PrintTo(const WidthCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class ScreenFontWidthTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(ScreenFontWidthTest, MeasuresTheLayoutWidths) {
  const ScreenFont font;
  EXPECT_EQ(font.Measure(DecodeUtf8(GetParam().text)).width, GetParam().width) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Cases, ScreenFontWidthTest, ::testing::ValuesIn(WidthCases));

TEST(ScreenFontTest, WidthsAddUpWithoutKerning) {
  // The face has kerning pairs for these; the screen font ignores them.
  const ScreenFont font;
  for (const std::u32string pair : {U"AV", U"To", U"LT", U"Yo", U"P,"}) {
    EXPECT_EQ(font.Measure(pair).width,
              font.Measure(pair.substr(0, 1)).width + font.Measure(pair.substr(1)).width);
  }
}

TEST(ScreenFontTest, PrintableAsciiFitsInsideTheCell) {
  // Nothing the program itself prints is cut by the one-row clip.
  const ScreenFont font;
  for (char32_t code_point = 33; code_point < 127; ++code_point) {
    const Glyph& glyph = font.GlyphFor(code_point);
    EXPECT_GT(glyph.advance, 0) << static_cast<char>(code_point);
    EXPECT_GT(glyph.width, 0) << static_cast<char>(code_point);
    EXPECT_GE(glyph.top, 0) << static_cast<char>(code_point);
    EXPECT_LE(glyph.top + glyph.height, font.Height()) << static_cast<char>(code_point);
    EXPECT_EQ(glyph.coverage.size(), static_cast<size_t>(glyph.width) * glyph.height);
  }
  EXPECT_EQ(font.GlyphFor(U' ').width, 0);  // spaces only fill their cell
}

TEST(ScreenFontTest, CodePointZeroTakesNoRoomAndMissingCharactersShow) {
  const ScreenFont font;
  EXPECT_EQ(font.GlyphFor(0).advance, 0);
  EXPECT_TRUE(font.GlyphFor(0).coverage.empty());
  EXPECT_EQ(font.Measure(std::u32string(U"A\0B", 3)).width, font.Measure(U"AB").width);

  // A character the face lacks, and the replacement character, draw a box.
  for (const char32_t code_point : {char32_t{0x4E2D}, char32_t{0xFFFD}}) {
    EXPECT_GT(font.GlyphFor(code_point).advance, 0);
    EXPECT_FALSE(font.GlyphFor(code_point).coverage.empty());
  }
}

TEST(ScreenFontTest, EmbeddedDataIsATrueTypeFile) {
  const std::basic_string_view<unsigned char> data = EmbeddedFontData();
  ASSERT_GT(data.size(), 1000u);
  EXPECT_EQ(data[0], 0x00);
  EXPECT_EQ(data[1], 0x01);
  EXPECT_EQ(data[2], 0x00);
  EXPECT_EQ(data[3], 0x00);
}

}  // namespace
}  // namespace quorvant
