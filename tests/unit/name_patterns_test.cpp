#include "selection/name_patterns.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"

namespace kopiensieb {
namespace {

std::vector<std::string> Parsed(std::string_view text) {
  PatternList patterns;
  ParsePatterns(patterns, text);
  std::vector<std::string> texts;
  patterns.ForEach([&](TextRecord& record) { texts.push_back(record.text); });
  EXPECT_EQ(patterns.Count(), static_cast<std::int64_t>(texts.size()));
  return texts;
}

using Texts = std::vector<std::string>;

TEST(ParsePatternsTest, SplitsTheTextAsTyped) {
  const std::vector<std::pair<std::string_view, Texts>> cases = {
      // Splits at each separator that ends a collected pattern.
      {"*.bak *.tmp", Texts{"*.bak", "*.tmp"}},
      {"*.bak;*.tmp", Texts{"*.bak", "*.tmp"}},
      {"*.bak,*.tmp", Texts{"*.bak", "*.tmp"}},
      {"*.*", Texts{"*.*"}},
      // Collects a separator when nothing is collected yet.
      {"*.bak, *.tmp", Texts{"*.bak", " *.tmp"}},
      {"*.bak  *.tmp", Texts{"*.bak", " *.tmp"}},
      {";*.bak", Texts{";*.bak"}},
      {"a,,b", Texts{"a", ",b"}},
      {",", Texts{","}},
      {";", Texts{";"}},
      {" ", Texts{" "}},
      {";;;", Texts{";", ";"}},
      {"  a  ", Texts{" ", "a", " "}},
      // A trailing separator adds nothing and an empty text gives no pattern.
      {"*.bak;", Texts{"*.bak"}},
      {"*.bak ", Texts{"*.bak"}},
      {"", Texts{}},
      // Keeps case, tabs and other bytes as typed.
      {"*.BAK\t*.Tmp", Texts{"*.BAK\t*.Tmp"}},
      {"\xC3\x84*.txt \xFF?", Texts{"\xC3\x84*.txt", "\xFF?"}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Parsed(text), expected) << "text \"" << text << "\"";
  }
}

TEST(ParsePatternsTest, RefillsTheListFromScratchInTextOrder) {
  PatternList patterns;
  ParsePatterns(patterns, "*.bak *.tmp");
  ASSERT_EQ(patterns.Count(), 2);
  ParsePatterns(patterns, "x");
  ASSERT_EQ(patterns.Count(), 1);
  EXPECT_EQ(patterns.First()->text, "x");
  ParsePatterns(patterns, "");
  EXPECT_TRUE(patterns.Empty());
  EXPECT_EQ(patterns.Count(), 0);
}

struct MatchCase {
  const char* name;
  const char* pattern;
  int expected;
};

TEST(MatchPatternTest, FollowsTheMatchingRules) {
  const std::vector<MatchCase> cases = {
      // Is anchored at the start only.
      {"Bericht.BAK", "*.bak", 1},
      {"bericht.bak.alt", "*.bak", 1},
      {"x.bak", "*.bak", 1},
      {"x.bakup", "*.bak", 1},
      {"abc", "abc", 1},
      {"abcdef", "abc", 1},
      {"xabc", "abc", 0},
      {"ab", "abc", 0},
      {"abcdef", "abc*", 1},
      {"abc", "abc*", 1},
      {"ab", "abc*", 0},
      {"x", "*", 1},
      // A star ends at the first equal character without retrying.
      {"bericht.alt.bak", "*.bak", 0},
      {"a.b.tmp", "*.tmp", 0},
      {"my.report.bak", "*.bak", 0},
      {"abcabd", "*d", 1},
      {"abcabd", "*bd", 0},  // the star stops at the first "b"; "c" then differs from "d"
      {"x.bak", "x*.bak", 1},
      {"abc", "*x", 0},  // runs off the end of the name
      // "*.*" needs a dot anywhere.
      {"a.b", "*.*", 1},
      {".hidden", "*.*", 1},
      {"x.", "*.*", 1},
      {"a.", "*.*", 1},
      {"Makefile", "*.*", 0},
      {"README", "*.*", 0},
      // A star before a question mark never matches.
      {"a", "*?", 0},
      {"abc.txt", "*?", 0},
      {"abc.txt", "*?.txt", 0},
      {"?", "*?", 0},  // not even a name that holds a question mark itself
      {"a?.txt", "*?.txt", 0},
      // A question mark takes exactly one character.
      {"abc", "a?c", 1},
      {"a.c", "a?c", 1},
      {"a c", "a?c", 1},
      {"ab", "a?c", 0},
      {"a", "a?", 0},
      {"x", "?", 1},
      {".", "?", 1},
      {" ", "?", 1},
      {"", "?", 0},
      {"x", "??", 0},
      {"xy", "??", 1},
      {"xyz", "??", 1},
      // Runs of stars act as one.
      {"test.txt", "t***.txt", 1},
      {"test.txt", "t**", 1},
      {"test", "***.txt", 0},
      {"a.b", "**.**", 1},
      // Ignores letter case but compares everything else exactly.
      {"x.bak", "*.BAK", 1},
      {"X.Bak", "*.BAK", 1},
      {"x.tmp", " *.tmp", 0},
      {" x.tmp", " *.tmp", 1},
      {"a\tb", "a?b", 1},
      {"a b", "a\tb", 0},
      // Folds umlauts and takes multi-byte characters whole.
      {"\xC3\x84rger.txt", "\xC3\xA4*", 1},         // "Ärger.txt" with "ä*"
      {"\xC3\xA4rger.TXT", "\xC3\x84RGER.txt", 1},  // "ärger.TXT" with "ÄRGER.txt"
      {"Stra\xC3\x9F"
       "e",
       "stra\xC3\xBF"
       "e",
       1},                    // ß folds to ÿ, by design
      {"\xC3\xA4", "?", 1},   // "ä" with "?"
      {"\xC3\xA4", "??", 0},  // one character, not two bytes
      {"\xC3\xA4"
       "b",
       "?b", 1},                            // "?" takes both bytes of "ä"
      {"x\xC3\xA4y.txt", "*\xC3\xA4y", 1},  // the star stops at "ä"
      {"x\xC3\xB6y", "*\xC3\xA4y", 0},      // "ö" is not "ä"
      {"\xE2\x82\xAC", "?", 1},             // "€" is one character
      {"\xE2\x82\xAC", "??", 0},
      {"\xF0\x9F\x98\x80.txt", "?.txt", 1},  // so is a four-byte one
      {"\xC3\x84", "\xC3", 0},               // half a character is no match
      // Treats bytes that are not UTF-8 as one character each.
      {"\xFF.bak", "?.bak", 1},
      {"\xE4.bak", "?.bak", 1},  // Latin-1 "ä": one byte, one character
      {"\xE4\xF6.bak", "??.bak", 1},
      {"\xE4\xF6.bak", "?.bak", 0},
      {"\xC3x", "?x", 1},           // a lone lead byte
      {"\xE2\x82x", "??x", 1},      // a truncated sequence: two characters
      {"\xC4.txt", "\xE4.txt", 0},  // single bytes are not case-folded
      {"\xC4.txt", "\xC4*", 1},
      {"\xE4.txt", "\xC3\xA4.txt", 0},  // Latin-1 byte versus UTF-8 "ä"
      {"a\x80\x80.txt", "*.txt", 1},
      // An empty pattern matches no name.
      {"x", "", 0},
      {"anything.txt", "", 0},
      {"", "", 0},
  };
  for (const MatchCase& one : cases) {
    EXPECT_EQ(MatchPattern(one.name, one.pattern), one.expected)
        << "name \"" << one.name << "\", pattern \"" << one.pattern << "\"";
  }
}

TEST(MatchPatternTest, AnEmptyPatternEndsAtOnce) {
  EXPECT_LE(detail::TraceMatchPattern("", "").steps, 1u);
}

TEST(MatchesAnyPatternTest, MatchesWhenAnyPatternOfTheListMatchesAndAnEmptyListMatchesAll) {
  PatternList patterns;
  ParsePatterns(patterns, "");
  EXPECT_EQ(MatchesAnyPattern(patterns, "README"), 1);
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.bak"), 1);
  ParsePatterns(patterns, "*.bak *.tmp");
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.bak"), 1);
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.TMP"), 1);
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.txt"), 0);
  EXPECT_EQ(MatchesAnyPattern(patterns, "a.b.tmp"), 0);
  // Whatever cursor the previous call left, the next one starts from the first pattern.
  patterns.SelectIndex(1);
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.bak"), 1);
  ParsePatterns(patterns, "*.bak, *.tmp");  // the second pattern now needs a leading space
  EXPECT_EQ(MatchesAnyPattern(patterns, "x.tmp"), 0);
  EXPECT_EQ(MatchesAnyPattern(patterns, " x.tmp"), 1);
}

TEST(MatchesAnyPatternTest, StopsAtTheFirstMatchingPattern) {
  PatternList patterns;
  ParsePatterns(patterns, "a* b* c*");
  EXPECT_EQ(MatchesAnyPattern(patterns, "b1"), 1);
  EXPECT_EQ(patterns.CurrentPosition(), 2);
  EXPECT_EQ(MatchesAnyPattern(patterns, "z1"), 0);
  EXPECT_EQ(patterns.CurrentPosition(), 3);  // every pattern was tried
}

// --- Randomised check against a second model of the same rules --------------------------

// Splits a text into characters, decoding code points arithmetically (rather than by the
// lead-byte ranges the program uses): a sequence is a character when it decodes to a scalar
// value in its shortest form; every other byte is a character of its own.
std::vector<std::string> ReferenceCharacters(const std::string& text) {
  std::vector<std::string> characters;
  std::size_t position = 0;
  while (position < text.size()) {
    const auto lead = static_cast<unsigned char>(text[position]);
    std::size_t length = 1;
    std::uint32_t value = lead;
    std::uint32_t smallest = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2, value = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, value = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, value = lead & 0x07, smallest = 0x10000;
    }
    bool whole = length > 1 && position + length <= text.size();
    for (std::size_t k = 1; whole && k < length; ++k) {
      const auto byte = static_cast<unsigned char>(text[position + k]);
      whole = (byte & 0xC0) == 0x80;
      value = (value << 6) | (byte & 0x3F);
    }
    whole =
        whole && value >= smallest && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF);
    if (!whole) {
      length = 1;
    }
    characters.push_back(text.substr(position, length));
    position += length;
  }
  return characters;
}

// The matcher as a walk over the pattern's characters, each consuming its share of the name.
int ReferenceMatch(const std::string& name, const std::string& pattern) {
  const std::vector<std::string> n = ReferenceCharacters(LowerCase(name));
  std::vector<std::string> p;
  for (std::string& character : ReferenceCharacters(LowerCase(pattern))) {
    if (!(character == "*" && !p.empty() && p.back() == "*")) {
      p.push_back(std::move(character));
    }
  }
  if (p.empty()) {
    return 0;
  }
  std::size_t i = 0;
  for (std::size_t j = 0; j < p.size(); ++j) {
    if (p[j] == "*") {
      if (j + 1 == p.size()) {
        return 1;
      }
      const std::string& stop = p[j + 1];
      while (i < n.size() && (stop == "?" || n[i] != stop)) {
        ++i;
      }
      if (i == n.size()) {
        return 0;
      }
    } else if (p[j] == "?" || (i < n.size() && n[i] == p[j])) {
      if (i == n.size()) {
        return 0;
      }
      ++i;
    } else {
      return 0;
    }
  }
  return 1;
}

std::size_t CharacterCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t position = 0; position < text.size();
       position += CharacterLength(text, position)) {
    ++count;
  }
  return count;
}

TEST(MatchPatternRandomTest, EndsWithinTheStepBoundAndAgreesWithTheReferenceModel) {
  // Pieces of names and patterns: letters in both cases, umlauts in both cases, a Latin-1
  // byte, a lone lead byte and a bare continuation byte (which may join a neighbouring piece
  // into a valid sequence), a three-byte character, and the wildcards.
  const std::vector<std::string> namePieces = {
      "a", "b", "A", ".", " ", "\xC3\xA4", "\xC3\x84", "\xE4", "\xC3", "\xA4", "\xE2\x82\xAC",
      "?", "*"};
  const std::vector<std::string> patternPieces = {
      "a", "b", "A", ".", "\xC3\xA4", "\xC3\x84", "\xE4", "\xC3", "\xA4", "\xE2\x82\xAC",
      "*", "*", "?", "?"};
  std::mt19937_64 random(20240611);
  auto randomText = [&](const std::vector<std::string>& pieces, std::size_t maxPieces) {
    std::string text;
    const std::size_t count = random() % (maxPieces + 1);
    for (std::size_t k = 0; k < count; ++k) {
      text += pieces[random() % pieces.size()];
    }
    return text;
  };
  std::size_t compared = 0;
  std::size_t matched = 0;
  for (int round = 0; round < 1000000; ++round) {
    const std::string name = randomText(namePieces, 8);
    const std::string pattern = randomText(patternPieces, 6);
    const detail::PatternMatchTrace trace = detail::TraceMatchPattern(name, pattern);
    ASSERT_LE(trace.steps, CharacterCount(name) + CharacterCount(pattern) + 1)
        << "name \"" << name << "\", pattern \"" << pattern << "\"";
    ASSERT_EQ(trace.result, MatchPattern(name, pattern));
    matched += trace.result;
    if (random() % 8 == 0) {
      ++compared;
      ASSERT_EQ(trace.result, ReferenceMatch(name, pattern))
          << "name \"" << name << "\", pattern \"" << pattern << "\"";
    }
  }
  // The alphabet is small enough that both outcomes are common.
  EXPECT_GT(compared, 100000u);
  EXPECT_GT(matched, 50000u);
  EXPECT_LT(matched, 950000u);
}

}  // namespace
}  // namespace kopiensieb
