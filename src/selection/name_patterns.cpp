#include "selection/name_patterns.h"

#include <algorithm>
#include <utility>

#include "common/text.h"

namespace kopiensieb {

namespace {

bool IsSeparator(char byte) {
  return byte == ';' || byte == ',' || byte == ' ';
}

// The character at position: one UTF-8 sequence, or one byte where the bytes are not UTF-8;
// empty beyond the end, and an empty character equals only another empty one.
std::string_view CharacterAt(std::string_view text, std::size_t position) {
  if (position >= text.size()) {
    return {};
  }
  if (static_cast<unsigned char>(text[position]) < 0x80) {
    return {text.data() + position, 1};  // the common case, without the sequence check
  }
  return {text.data() + position, CharacterLength(text, position)};
}

// Characters are at most four bytes long, which a plain loop compares faster than memcmp.
bool SameCharacter(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t index = 0; index < left.size(); ++index) {
    if (left[index] != right[index]) {
      return false;
    }
  }
  return true;
}

bool IsWildcard(std::string_view character, char wildcard) {
  return character.size() == 1 && character[0] == wildcard;
}

// Runs of stars act as one star; the matcher relies on a star never following a star.
void CollapseStars(std::string& pattern) {
  const auto doubled = [](char left, char right) { return left == '*' && right == '*'; };
  pattern.erase(std::unique(pattern.begin(), pattern.end(), doubled), pattern.end());
}

}  // namespace

void ParsePatterns(PatternList& patterns, std::string_view text) {
  patterns.Clear();
  std::string current;
  // A separator only ends a pattern that has begun, so a leading separator, or one right
  // behind the separator that ended the previous pattern, is a character of the next one.
  auto takeByte = [&](char byte) {
    if (IsSeparator(byte) && !current.empty()) {
      patterns.Add().text = std::move(current);
      current.clear();
    } else {
      current.push_back(byte);
    }
  };
  for (const char byte : text) {
    takeByte(byte);
  }
  takeByte(';');  // ends the last pattern; a pattern it would start is dropped
}

namespace detail {

PatternMatchTrace TraceMatchPattern(std::string_view name, std::string_view pattern) {
  const std::string n = LowerCase(name);
  std::string p = LowerCase(pattern);
  CollapseStars(p);
  PatternMatchTrace trace;
  if (p.empty()) {
    // Patterns from a pattern text are never empty; an empty one matches nothing.
    trace.steps = 1;
    return trace;
  }
  std::size_t i = 0;  // byte offsets of the current characters of n and p
  std::size_t j = 0;
  while (true) {
    ++trace.steps;
    const std::string_view nc = CharacterAt(n, i);
    const std::string_view pc = CharacterAt(p, j);
    if (IsWildcard(pc, '*')) {
      if (j + 1 == p.size()) {
        ++j;  // a final star takes the rest of the name
      } else if (nc.empty()) {
        return trace;
      } else {
        // The star ends at the first name character equal to the pattern character after
        // it; nothing is retried later. A "?" there counts as a plain "?", which the
        // matcher never finds equal, so "*?" runs off the end of every name.
        const std::string_view following = CharacterAt(p, j + 1);
        if (!IsWildcard(following, '?') && SameCharacter(nc, following)) {
          ++j;
        } else {
          i += nc.size();
        }
      }
    } else if (IsWildcard(pc, '?')) {
      if (nc.empty()) {
        return trace;
      }
      i += nc.size();
      ++j;
    } else if (!nc.empty() && SameCharacter(pc, nc)) {
      i += nc.size();
      j += pc.size();
    } else {
      return trace;
    }
    if (j == p.size()) {
      trace.result = 1;
      return trace;
    }
  }
}

}  // namespace detail

int MatchPattern(std::string_view name, std::string_view pattern) {
  return detail::TraceMatchPattern(name, pattern).result;
}

int MatchesAnyPattern(PatternList& patterns, std::string_view name) {
  if (patterns.Empty()) {
    return 1;
  }
  patterns.ResetCursor();
  while (patterns.StepForward()) {
    if (MatchPattern(name, patterns.Current()->text) == 1) {
      return 1;
    }
  }
  return 0;
}

}  // namespace kopiensieb
