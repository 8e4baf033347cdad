#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "catalogue/records.h"

namespace kopiensieb {

// Empties the list and fills it with the patterns of text (separators ";", "," and " ").
void ParsePatterns(PatternList& patterns, std::string_view text);

// 1 when name matches pattern (one-pass, anchored at the start only), else 0.
int MatchPattern(std::string_view name, std::string_view pattern);

// 1 when the list is empty or name matches one of its patterns, else 0. Moves the cursor.
int MatchesAnyPattern(PatternList& patterns, std::string_view name);

namespace detail {

// MatchPattern together with the number of matcher steps it took, for the tests that hold
// the matcher to its bound of length(name) + length(pattern) + 1 steps.
struct PatternMatchTrace {
  int result = 0;
  std::size_t steps = 0;
};
PatternMatchTrace TraceMatchPattern(std::string_view name, std::string_view pattern);

}  // namespace detail

}  // namespace kopiensieb
