#include "common/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace kopiensieb {
namespace {

TEST(LowerCaseTest, ShiftsAsciiCapitalsOnly) {
  EXPECT_EQ(LowerCase("ABCXYZ abcxyz @[`{ 019"), "abcxyz abcxyz @[`{ 019");
  EXPECT_EQ(LowerCase("Bericht.BAK"), "bericht.bak");
  EXPECT_EQ(LowerCase(""), "");
}

TEST(LowerCaseTest, ShiftsTheWholeLatinCapitalBlockIncludingTimesAndSharpS) {
  EXPECT_EQ(LowerCase("\xC3\x84\xC3\x96\xC3\x9C"), "\xC3\xA4\xC3\xB6\xC3\xBC");  // ÄÖÜ -> äöü
  EXPECT_EQ(LowerCase("\xC3\x80"), "\xC3\xA0");                                  // À -> à
  EXPECT_EQ(LowerCase("\xC3\x97"), "\xC3\xB7");                                  // × -> ÷
  EXPECT_EQ(LowerCase("\xC3\x9F"), "\xC3\xBF");                                  // ß -> ÿ
  // Already lower, or beyond the block: unchanged.
  EXPECT_EQ(LowerCase("\xC3\xA4\xC3\xBF\xC3\xBF"), "\xC3\xA4\xC3\xBF\xC3\xBF");
  // Other capitals (Ā U+0100, Ω U+03A9, А U+0410) are outside the shifted range.
  EXPECT_EQ(LowerCase("\xC4\x80\xCE\xA9\xD0\x90"), "\xC4\x80\xCE\xA9\xD0\x90");
}

TEST(LowerCaseTest, LeavesInvalidAndUnrelatedBytesAlone) {
  // A lone C3 at the end, C3 before a byte outside 80..9F, bare continuation bytes.
  EXPECT_EQ(LowerCase("A\xC3"), "a\xC3");
  EXPECT_EQ(LowerCase("\xC3"
                      "A"),
            "\xC3"
            "a");
  EXPECT_EQ(LowerCase("\xC3\xC3\x84"), "\xC3\xC3\xA4");
  EXPECT_EQ(LowerCase("\x84\x9F\xFF\xC0\xDF"), "\x84\x9F\xFF\xC0\xDF");
  // Bytes that Windows-1252 would shift stay when they are not the second byte after C3.
  EXPECT_EQ(LowerCase("\xE2\x80\x9C"), "\xE2\x80\x9C");
  // Embedded NUL bytes are ordinary bytes.
  EXPECT_EQ(LowerCase(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST(TrimSpacesTest, RemovesOnlySpacesAndOnlyAtTheEnds) {
  EXPECT_EQ(TrimSpaces("  *.bak *.tmp  "), "*.bak *.tmp");
  EXPECT_EQ(TrimSpaces("\t*.bak \t"), "\t*.bak \t");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
  EXPECT_EQ(TrimSpaces("x"), "x");
  EXPECT_EQ(TrimSpaces(" x "), "x");
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

TEST(CharacterLengthTest, MeasuresValidSequencesOfEveryLength) {
  const std::string text = "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80";  // a ä € 😀
  EXPECT_EQ(CharacterLength(text, 0), 1u);
  EXPECT_EQ(CharacterLength(text, 1), 2u);
  EXPECT_EQ(CharacterLength(text, 3), 3u);
  EXPECT_EQ(CharacterLength(text, 6), 4u);
  EXPECT_EQ(CharacterLength(text, text.size()), 0u);
  EXPECT_EQ(CharacterLength(text, text.size() + 5), 0u);
  // The edges of the valid ranges.
  EXPECT_EQ(CharacterLength("\xC2\x80", 0), 2u);          // U+0080
  EXPECT_EQ(CharacterLength("\xDF\xBF", 0), 2u);          // U+07FF
  EXPECT_EQ(CharacterLength("\xE0\xA0\x80", 0), 3u);      // U+0800
  EXPECT_EQ(CharacterLength("\xED\x9F\xBF", 0), 3u);      // U+D7FF
  EXPECT_EQ(CharacterLength("\xEE\x80\x80", 0), 3u);      // U+E000
  EXPECT_EQ(CharacterLength("\xEF\xBF\xBF", 0), 3u);      // U+FFFF
  EXPECT_EQ(CharacterLength("\xF0\x90\x80\x80", 0), 4u);  // U+10000
  EXPECT_EQ(CharacterLength("\xF4\x8F\xBF\xBF", 0), 4u);  // U+10FFFF
}

TEST(CharacterLengthTest, TreatsEveryByteOfABrokenSequenceAsOneCharacter) {
  EXPECT_EQ(CharacterLength("\xC0\x80", 0), 1u);          // overlong NUL
  EXPECT_EQ(CharacterLength("\xC1\xBF", 0), 1u);          // overlong
  EXPECT_EQ(CharacterLength("\xE0\x9F\xBF", 0), 1u);      // overlong three-byte
  EXPECT_EQ(CharacterLength("\xF0\x8F\xBF\xBF", 0), 1u);  // overlong four-byte
  EXPECT_EQ(CharacterLength("\xED\xA0\x80", 0), 1u);      // surrogate U+D800
  EXPECT_EQ(CharacterLength("\xED\xBF\xBF", 0), 1u);      // surrogate U+DFFF
  EXPECT_EQ(CharacterLength("\xF4\x90\x80\x80", 0), 1u);  // U+110000
  EXPECT_EQ(CharacterLength("\xF5\x80\x80\x80", 0), 1u);
  EXPECT_EQ(CharacterLength("\xFF", 0), 1u);
  EXPECT_EQ(CharacterLength("\x80", 0), 1u);  // bare continuation byte
  EXPECT_EQ(CharacterLength("\xC3", 0), 1u);  // truncated at the end
  EXPECT_EQ(CharacterLength("\xE2\x82", 0), 1u);
  EXPECT_EQ(CharacterLength("\xF0\x9F\x98", 0), 1u);
  EXPECT_EQ(CharacterLength("\xC3"
                            "a",
                            0),
            1u);  // interrupted by ASCII
  EXPECT_EQ(CharacterLength("\xE2\x82"
                            "a",
                            0),
            1u);
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
  EXPECT_EQ(DisplayText("Gr\xC3\xB6\xC3\x9F"
                        "e \xE2\x82\xAC"),
            "Gr\xC3\xB6\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(DisplayText(""), "");
  EXPECT_EQ(DisplayText("a\xFF"
                        "b"),
            "a" + mark + "b");
  // A Latin-1 name ("Größe" as single bytes): each byte a sequence of its own.
  EXPECT_EQ(DisplayText("Gr\xF6\xDF"
                        "e"),
            "Gr" + mark + mark + "e");
  // A truncated sequence is one mark, as decoders recommended by Unicode show it.
  EXPECT_EQ(DisplayText("x\xE2\x82"), "x" + mark);
  EXPECT_EQ(DisplayText("\xF0\x9F\x98"
                        "a"),
            mark + "a");
  // Overlongs and surrogates: no valid prefix, so one mark per byte.
  EXPECT_EQ(DisplayText("\xC0\x80"), mark + mark);
  EXPECT_EQ(DisplayText("\xED\xA0\x80"), mark + mark + mark);
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
  struct Case {
    std::string typed;
    std::string lowered;
  };
  const std::vector<Case> cases{
      {"*.BAK Tmp", "*.bak tmp"},
      {"\xC3\x84\xC3\x96\xC3\x9C", "\xC3\xA4\xC3\xB6\xC3\xBC"},  // ÄÖÜ
      {"\xC4\xB0", "i"},                                         // İ: one "i", no dot above
      {"\xE1\xBA\x9E", "\xC3\x9F"},                              // ẞ -> ß
      {"\xCE\xA3", "\xCF\x83"},                                  // Σ -> σ, also at the end
      {"\xE2\x84\xAA", "k"},                                     // Kelvin sign
      {"\xC3\x9F \xC4\xB1 09", "\xC3\x9F \xC4\xB1 09"},          // nothing to lower
      {"A\xFF"
       "B\xC3",
       "a\xFF"
       "b\xC3"},  // broken bytes stay
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TypedLowerCase(c.typed), c.lowered) << c.typed;
  }
}

TEST(DisplayRowTextTest, ShowsControlCharactersAsTheirPicturesOnOneLine) {
  struct Case {
    std::string text;
    std::string shown;
  };
  const std::string mark = "\xEF\xBF\xBD";
  const std::vector<Case> cases{
      {"a.txt", "a.txt"},
      {"", ""},
      {"zeile1\nzeile2.txt", "zeile1\xE2\x90\x8Azeile2.txt"},  // U+240A
      {"a\rb",
       "a\xE2\x90\x8D"
       "b"},                                           // U+240D
      {"tab\there", "tab\xE2\x90\x89here"},            // U+2409
      {std::string("nul\0x", 5), "nul\xE2\x90\x80x"},  // U+2400
      {"\x1F", "\xE2\x90\x9F"},                        // U+241F
      {"del\x7F", "del\xE2\x90\xA1"},                  // U+2421, not U+247F
      {" ~", " ~"},                                    // the printable edges stay
      {"\xC3\x9C"
       "bersicht",
       "\xC3\x9C"
       "bersicht"},
      // Broken sequences are marked as DisplayText marks them; the control after one still
      // becomes its picture.
      {"\xFF\n", mark + "\xE2\x90\x8A"},
      // A picture already in a name stays what it is.
      {"\xE2\x90\x8A", "\xE2\x90\x8A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayRowText(c.text), c.shown) << c.text;
  }
  // Every C0 control becomes one three-byte picture, and nothing in the result breaks a line.
  for (int code = 0; code < 0x20; ++code) {
    const std::string shown = DisplayRowText(std::string(1, static_cast<char>(code)));
    ASSERT_EQ(shown.size(), 3U) << code;
    EXPECT_EQ(static_cast<unsigned char>(shown[2]), 0x80 + code) << code;
  }
}

}  // namespace
}  // namespace kopiensieb
