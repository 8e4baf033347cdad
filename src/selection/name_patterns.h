#pragma once

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

}  // namespace kopiensieb
