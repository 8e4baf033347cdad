#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kopiensieb {
namespace {

// A text in and the text a function makes of it.
struct TextCase {
  std::string in;
  std::string out;
};

template <typename Function>
void ExpectEach(Function function, const std::vector<TextCase>& cases) {
  for (const TextCase& c : cases) {
    EXPECT_EQ(function(c.in), c.out) << "text \"" << c.in << "\"";
  }
}

TEST(LowerCaseTest, ShiftsAsciiCapitalsOnly) {
  ExpectEach(LowerCase, {{"ABCXYZ abcxyz @[`{ 019", "abcxyz abcxyz @[`{ 019"},
                         {"Bericht.BAK", "bericht.bak"},
                         {"", ""}});
}

TEST(LowerCaseTest, ShiftsTheWholeLatinCapitalBlockIncludingTimesAndSharpS) {
  ExpectEach(LowerCase, {{"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},  // ÄÖÜ
                         {"\xC3\x80", "\xC3\xA0"},                                  // À -> à
                         {"\xC3\x97", "\xC3\xB7"},                                  // × -> ÷
                         {"\xC3\x9F", "\xC3\xBF"},                                  // ß -> ÿ
                         // Already lower, or beyond the block: unchanged.
                         {"\xC3\xA4\xC3\xBF\xC3\xBF", "\xC3\xA4\xC3\xBF\xC3\xBF"},
                         // Other capitals (Ā U+0100, Ω U+03A9, А U+0410) are not shifted.
                         {"\xC4\x80\xCE\xA9\xD0\x90", "\xC4\x80\xCE\xA9\xD0\x90"}});
}

TEST(LowerCaseTest, LeavesInvalidAndUnrelatedBytesAlone) {
  ExpectEach(LowerCase,
             {// A lone C3 at the end, C3 before a byte outside 80..9F, bare continuation
              // bytes.
              {"A\xC3", "a\xC3"},
              {std::string("\xC3") + "A", std::string("\xC3") + "a"},
              {"\xC3\xC3\x84", "\xC3\xC3\xA4"},
              {"\x84\x9F\xFF\xC0\xDF", "\x84\x9F\xFF\xC0\xDF"},
              // Bytes that Windows-1252 would shift stay when not the second byte after C3.
              {"\xE2\x80\x9C", "\xE2\x80\x9C"},
              // Embedded NUL bytes are ordinary bytes.
              {std::string("A\0B", 3), std::string("a\0b", 3)}});
}

TEST(TrimSpacesTest, RemovesOnlySpacesAndOnlyAtTheEnds) {
  ExpectEach(TrimSpaces, {{"  *.bak *.tmp  ", "*.bak *.tmp"},
                          {"\t*.bak \t", "\t*.bak \t"},
                          {"   ", ""},
                          {"", ""},
                          {"x", "x"},
                          {" x ", "x"}});
}

TEST(FormatDecimalTest, SignedWithoutGroupingAcrossTheWholeRange) {
  EXPECT_EQ(FormatDecimal(0), "0");
  EXPECT_EQ(FormatDecimal(1536), "1536");
  EXPECT_EQ(FormatDecimal(-42), "-42");
  EXPECT_EQ(FormatDecimal(1234567890123), "1234567890123");
  EXPECT_EQ(FormatDecimal(std::numeric_limits<std::int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(FormatDecimal(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
}

TEST(FormatDecimalTest, AppendsBehindTheTextWithoutTouchingIt) {
  std::string text = "12 / ";
  AppendDecimal(text, 4294967306);  // 4 GiB + 10
  EXPECT_EQ(text, "12 / 4294967306");
}

struct LengthCase {
  std::string text;
  std::size_t position;
  std::size_t length;
};

void ExpectLengths(const std::vector<LengthCase>& cases) {
  for (const LengthCase& c : cases) {
    EXPECT_EQ(CharacterLength(c.text, c.position), c.length)
        << "text \"" << c.text << "\" at " << c.position;
  }
}

TEST(CharacterLengthTest, MeasuresValidSequencesOfEveryLength) {
  const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ä € 😀
  ExpectLengths({
      {text, 0, 1},
      {text, 1, 2},
      {text, 3, 3},
      {text, 6, 4},
      {text, text.size(), 0},
      {text, text.size() + 5, 0},
      // The edges of the valid ranges.
      {"\xC2\x80", 0, 2},          // U+0080
      {"\xDF\xBF", 0, 2},          // U+07FF
      {"\xE0\xA0\x80", 0, 3},      // U+0800
      {"\xED\x9F\xBF", 0, 3},      // U+D7FF
      {"\xEE\x80\x80", 0, 3},      // U+E000
      {"\xEF\xBF\xBF", 0, 3},      // U+FFFF
      {"\xF0\x90\x80\x80", 0, 4},  // U+10000
      {"\xF4\x8F\xBF\xBF", 0, 4},  // U+10FFFF
  });
}

TEST(CharacterLengthTest, TreatsEveryByteOfABrokenSequenceAsOneCharacter) {
  ExpectLengths({{"\xC0\x80", 0, 1},          // overlong NUL
                 {"\xC1\xBF", 0, 1},          // overlong
                 {"\xE0\x9F\xBF", 0, 1},      // overlong three-byte
                 {"\xF0\x8F\xBF\xBF", 0, 1},  // overlong four-byte
                 {"\xED\xA0\x80", 0, 1},      // surrogate U+D800
                 {"\xED\xBF\xBF", 0, 1},      // surrogate U+DFFF
                 {"\xF4\x90\x80\x80", 0, 1},  // U+110000
                 {"\xF5\x80\x80\x80", 0, 1},
                 {"\xFF", 0, 1},
                 {"\x80", 0, 1},  // bare continuation byte
                 {"\xC3", 0, 1},  // truncated at the end
                 {"\xE2\x82", 0, 1},
                 {"\xF0\x9F\x98", 0, 1},
                 {std::string("\xC3") + "a", 0, 1},  // interrupted by ASCII
                 {std::string("\xE2\x82") + "a", 0, 1}});
}

TEST(FirstCharactersTest, CutsBetweenCharactersNeverInsideOne) {
  EXPECT_EQ(FirstCharacters("äöü", 2), "äö");
  EXPECT_EQ(FirstCharacters("a\xE2\x82\xAC"
                            "b",
                            2),
            "a\xE2\x82\xAC");                              // a three-byte euro sign
  EXPECT_EQ(FirstCharacters("\xC3\xC3x", 2), "\xC3\xC3");  // broken bytes count one each
  EXPECT_EQ(FirstCharacters("ab", 5), "ab");
  EXPECT_EQ(FirstCharacters("ab", 0), "");
}

TEST(DisplayTextTest, KeepsValidTextAndMarksBrokenSequences) {
  const std::string mark = "\xEF\xBF\xBD";
  const std::string valid = std::string("Gr\xC3\xB6\xC3\x9F") + "e \xE2\x82\xAC";
  ExpectEach(DisplayText,
             {{valid, valid},
              {"", ""},
              {std::string("a\xFF") + "b", "a" + mark + "b"},
              // A Latin-1 name ("Größe" as single bytes): each byte a sequence of its own.
              {std::string("Gr\xF6\xDF") + "e", "Gr" + mark + mark + "e"},
              // A truncated sequence is one mark, as decoders recommended by Unicode show it.
              {"x\xE2\x82", "x" + mark},
              {std::string("\xF0\x9F\x98") + "a", mark + "a"},
              // Overlongs and surrogates: no valid prefix, so one mark per byte.
              {"\xC0\x80", mark + mark},
              {"\xED\xA0\x80", mark + mark + mark}});
  // Whatever comes in, what goes out is valid UTF-8 throughout.
  const std::string shown = DisplayText("\x80\xC3\xC3\xA4\xF4\x90\xE0\xA0");
  for (std::size_t position = 0; position < shown.size();) {
    const std::size_t length = CharacterLength(shown, position);
    ASSERT_TRUE(length > 1 || static_cast<unsigned char>(shown[position]) < 0x80) << position;
    position += length;
  }
  EXPECT_EQ(shown, mark + mark + "\xC3\xA4" + mark + mark + mark);
}

TEST(TypedLowerCaseTest, LowersOneCharacterAtATimeAndKeepsBrokenBytes) {
  ExpectEach(TypedLowerCase,
             {
                 {"*.BAK Tmp", "*.bak tmp"},
                 {"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},  // ÄÖÜ
                 {"\xC4\xB0", "i"},                                         // İ: no dot above
                 {"\xE1\xBA\x9E", "\xC3\x9F"},                              // ẞ -> ß
                 {"\xCE\xA3", "\xCF\x83"},                                  // Σ -> σ, also last
                 {"\xE2\x84\xAA", "k"},                                     // Kelvin sign
                 {"\xC3\x9F \xC4\xB1 09", "\xC3\x9F \xC4\xB1 09"},          // nothing to lower
                 {std::string("A\xFF") + "B\xC3", std::string("a\xFF") + "b\xC3"},  // broken stay
             });
}

TEST(DisplayRowTextTest, ShowsControlCharactersAsTheirPicturesOnOneLine) {
  const std::string mark = "\xEF\xBF\xBD";
  ExpectEach(DisplayRowText, {{"a.txt", "a.txt"},
                              {"", ""},
                              {"zeile1\nzeile2.txt", "zeile1\xE2\x90\x8Azeile2.txt"},  // U+240A
                              {"a\rb",
                               "a\xE2\x90\x8D"
                               "b"},                                           // U+240D
                              {"tab\there", "tab\xE2\x90\x89here"},            // U+2409
                              {std::string("nul\0x", 5), "nul\xE2\x90\x80x"},  // U+2400
                              {"\x1F", "\xE2\x90\x9F"},                        // U+241F
                              {"del\x7F", "del\xE2\x90\xA1"},                  // U+2421, not U+247F
                              {" ~", " ~"},  // the printable edges stay
                              {"\xC3\x9C"
                               "bersicht",
                               "\xC3\x9C"
                               "bersicht"},
                              // Broken sequences are marked as DisplayText marks them; the
                              // control after one still becomes its picture.
                              {"\xFF\n", mark + "\xE2\x90\x8A"},
                              // A picture already in a name stays what it is.
                              {"\xE2\x90\x8A", "\xE2\x90\x8A"}});
  // Every C0 control becomes one three-byte picture, and nothing in the result breaks a line.
  for (int code = 0; code < 0x20; ++code) {
    const std::string shown = DisplayRowText(std::string(1, static_cast<char>(code)));
    ASSERT_EQ(shown.size(), 3U) << code;
    EXPECT_EQ(static_cast<unsigned char>(shown[2]), 0x80 + code) << code;
  }
}

}  // namespace
}  // namespace kopiensieb
