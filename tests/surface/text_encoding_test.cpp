#include "surface/text_encoding.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace quorvant {
namespace {

constexpr char32_t Bad = 0xFFFD;

struct DecodeCase {
  const char* name;
  std::string bytes;
  std::u32string expected;
};

// Each byte that does not start a well-formed sequence becomes one U+FFFD and
// decoding goes on with the next byte.
const DecodeCase DecodeCases[] = {
    {"Ascii", "File 1.txt", U"File 1.txt"},
    {"TwoBytes", "\xC3\xA9t\xC3\xA9", U"\u00E9t\u00E9"},
    {"ThreeBytes", "\xE2\x82\xAC", U"\u20AC"},
    {"FourBytes", "\xF0\x9F\x98\x80", U"\U0001F600"},
    {"LargestCodePoint", "\xF4\x8F\xBF\xBF", U"\U0010FFFF"},
    {"LastBeforeSurrogates", "\xED\x9F\xBF", U"\uD7FF"},
    {"EmbeddedZero", std::string("a\0b", 3), std::u32string(U"a\0b", 3)},
    {"InvalidLeadByte",
     "a\xFF"
     "b",
     {U'a', Bad, U'b'}},
    {"FiveByteLead", "\xF8\x88\x80\x80\x80", {Bad, Bad, Bad, Bad, Bad}},
    {"StrayContinuation",
     "\x80"
     "a",
     {Bad, U'a'}},
    {"TruncatedAtEnd", "a\xE2\x82", {U'a', Bad, Bad}},
    {"TruncatedBeforeAscii",
     "\xE2\x82"
     "A",
     {Bad, Bad, U'A'}},
    {"OverlongSlash", "\xC0\xAF", {Bad, Bad}},
    {"OverlongThreeBytes", "\xE0\x80\xAF", {Bad, Bad, Bad}},
    {"OverlongFourBytes", "\xF0\x8F\xBF\xBF", {Bad, Bad, Bad, Bad}},
    {"Surrogate", "\xED\xA0\x80", {Bad, Bad, Bad}},
    {"AboveUnicode", "\xF4\x90\x80\x80", {Bad, Bad, Bad, Bad}},
    {"Latin1FileName", "caf\xE9.txt", {U'c', U'a', U'f', Bad, U'.', U't', U'x', U't'}},
};

void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

class DecodeUtf8Test : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8Test, DecodesStrictly) { EXPECT_EQ(DecodeUtf8(GetParam().bytes), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Cases, DecodeUtf8Test, ::testing::ValuesIn(DecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeUtf8Test, RoundTripsEveryWellFormedCase) {
  for (const DecodeCase& c : DecodeCases) {
    if (c.expected.find(Bad) == std::u32string::npos) {
      EXPECT_EQ(EncodeUtf8(c.expected), c.bytes) << c.name;
    }
  }
}

TEST(EncodeUtf8Test, WritesReplacementForWhatIsNoCharacter) {
  EXPECT_EQ(EncodeUtf8(std::u32string{char32_t{0xD800}, U'a', char32_t{0x110000}}),
            "\xEF\xBF\xBD"
            "a\xEF\xBF\xBD");
}

TEST(Cp1252Test, SpotChecks) {
  EXPECT_EQ(Cp1252ToCodePoint(0x80), U'\u20AC');
  EXPECT_EQ(Cp1252ToCodePoint(0x8A), U'\u0160');
  EXPECT_EQ(Cp1252ToCodePoint(0x96), U'\u2013');
  EXPECT_EQ(Cp1252ToCodePoint(0x99), U'\u2122');
  EXPECT_EQ(Cp1252ToCodePoint(0x9F), U'\u0178');
  EXPECT_EQ(Cp1252ToCodePoint(0x41), U'A');
  EXPECT_EQ(Cp1252ToCodePoint(0xA0), U'\u00A0');
  EXPECT_EQ(Cp1252ToCodePoint(0xE9), U'\u00E9');
  EXPECT_EQ(Cp1252ToCodePoint(0xFF), U'\u00FF');
  for (const std::uint8_t undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D})
    EXPECT_EQ(Cp1252ToCodePoint(undefined), 0u);
}

TEST(Cp1252Test, DefinedBytesMapToDistinctCharacters) {
  std::set<char32_t> seen;
  int defined = 0;
  for (int byte = 1; byte < 256; ++byte) {
    const char32_t code_point = Cp1252ToCodePoint(static_cast<std::uint8_t>(byte));
    if (code_point == 0) continue;
    ++defined;
    seen.insert(code_point);
    if (byte >= 0x80 && byte < 0xA0) {
      EXPECT_GT(code_point, 0xFFu) << byte;  // no C1 controls
    }
  }
  EXPECT_EQ(defined, 250);
  EXPECT_EQ(seen.size(), 250u);
}

TEST(Cp1252Test, ToUtf8DropsUndefinedBytes) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"
                         "5 \x81\x8D\x8F\x90\x9D"
                         "caf\xE9"),
            "\xE2\x82\xAC"
            "5 caf\xC3\xA9");
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0b", 3)), "ab");
  EXPECT_EQ(Cp1252ToUtf8("Encrypting"), "Encrypting");
}

}  // namespace
}  // namespace quorvant

namespace quorvant {
namespace {

// Typed characters become the byte the page gives them, and back.
TEST(Cp1252Test, TypedCharactersMapBackToTheirBytes) {
  for (int byte = 32; byte < 256; ++byte) {
    if (byte == 127) continue;
    const char32_t character = Cp1252ToCodePoint(static_cast<std::uint8_t>(byte));
    if (character == 0) continue;  // undefined in the page
    EXPECT_EQ(CodePointToCp1252(character), byte) << byte;
  }
  EXPECT_EQ(CodePointToCp1252(U'\t'), 0);
  EXPECT_EQ(CodePointToCp1252(U'\u007F'), 0);
  EXPECT_EQ(CodePointToCp1252(U'\u0081'), 0) << "a C1 control is not the page's 0x81";
  EXPECT_EQ(CodePointToCp1252(U'\u4E2D'), 0);
}

}  // namespace
}  // namespace quorvant
