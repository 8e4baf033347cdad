#include "common/unicode_lower.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#ifndef _WIN32
#include <locale.h>

#include <cwctype>
#endif

namespace kopiensieb {
namespace {

struct LowerCaseExample {
  std::string_view text;
  std::string_view lowered;
};

TEST(UnicodeLowerCaseTest, LowerCasesLettersOfEveryScriptAndKeepsTheRest) {
  constexpr LowerCaseExample kExamples[] = {
      {"", ""},
      {"ABC xyz 019 @[`{", "abc xyz 019 @[`{"},
      {"\xC3\x84"
       "B c",
       "\xC3\xA4"
       "b c"},                                   // ÄB c
      {"\xC3\x97\xC3\x9F", "\xC3\x97\xC3\x9F"},  // × and ß have no lower case
      {"\xC5\xB8", "\xC3\xBF"},                  // Ÿ U+0178 -> ÿ, a step backwards
      {"\xC4\xB0", "i"},                         // İ U+0130 -> i, two bytes become one
      {"\xE1\xBA\x9E", "\xC3\x9F"},              // ẞ U+1E9E -> ß
      {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"},  // ΣΩ -> σω
      {"\xD0\x94\xD0\x81", "\xD0\xB4\xD1\x91"},  // ДЁ -> дё
      {"\xC4\x80\xC4\x81", "\xC4\x81\xC4\x81"},  // Āā: every other code point is a capital
      {"\xE2\x84\xAA", "k"},                     // the Kelvin sign U+212A
      {"\xEF\xBC\xA1", "\xEF\xBD\x81"},          // fullwidth Ａ -> ａ
      {"\xF0\x90\x90\x80", "\xF0\x90\x90\xA8"},  // 𐐀 U+10400, four bytes
      {"\xF0\x9E\xA4\x80", "\xF0\x9E\xA4\xA2"},  // 𞤀 U+1E900, the last capital
  };
  for (const LowerCaseExample& example : kExamples) {
    EXPECT_EQ(UnicodeLowerCase(example.text), example.lowered) << example.text;
  }
}

TEST(UnicodeLowerCaseTest, KeepsBytesThatAreNotUtf8) {
  constexpr LowerCaseExample kExamples[] = {
      {"caf\xE9 A", "caf\xE9 a"},  // a Windows-1252 é
      {"A\xC3", "a\xC3"},          // a sequence cut off at the end
      {"\xC3"
       "A",
       "\xC3"
       "a"},                                     // a lead byte before ASCII
      {"\xC0\x81\xC1\xBF", "\xC0\x81\xC1\xBF"},  // overlong two-byte forms
      {"\xE0\x81\x81", "\xE0\x81\x81"},          // an overlong three-byte form
      {"\xED\xA0\x80", "\xED\xA0\x80"},          // a surrogate
      {"\xF4\x90\x80\x80", "\xF4\x90\x80\x80"},  // beyond U+10FFFF
      {"\x84\xC3\x84", "\x84\xC3\xA4"},          // a stray continuation byte, then Ä
      {std::string_view("A\0B", 3), std::string_view("a\0b", 3)},
  };
  for (const LowerCaseExample& example : kExamples) {
    EXPECT_EQ(UnicodeLowerCase(example.text), example.lowered) << example.text;
  }
}

#ifndef _WIN32
// The table must give what the C library's UTF-8 locale gives, for every code point: typed
// texts lower-cased on Linux before the table existed stay the same.
TEST(UnicodeLowerCaseTest, AgreesWithTheLinuxUtf8LocaleOnEveryCodePoint) {
  locale_t locale = newlocale(LC_ALL_MASK, "C.UTF-8", locale_t{});
  if (locale == locale_t{}) {
    GTEST_SKIP() << "no C.UTF-8 locale here";
  }
  int differences = 0;
  for (char32_t code = 0; code <= 0x10FFFF; ++code) {
    const auto expected = static_cast<char32_t>(towlower_l(static_cast<wint_t>(code), locale));
    if (UnicodeLower(code) != expected && ++differences <= 10) {
      ADD_FAILURE() << std::hex << "U+" << static_cast<unsigned>(code) << ": "
                    << static_cast<unsigned>(UnicodeLower(code)) << " instead of "
                    << static_cast<unsigned>(expected);
    }
  }
  freelocale(locale);
  EXPECT_EQ(differences, 0);
}
#endif

}  // namespace
}  // namespace kopiensieb
