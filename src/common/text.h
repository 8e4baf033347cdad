#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kopiensieb {

// A-Z and U+00C0..U+00DF (UTF-8 C3 80..C3 9F) become 0x20 code points higher; every other
// byte, invalid sequences included, stays as it is. U+00D7 becomes U+00F7, U+00DF U+00FF.
std::string LowerCase(std::string_view text);

// Unicode lower case of a UTF-8 text, one character at a time (the simple mapping: "İ" becomes
// "i"), as a lower-casing text field turns typed letters; bytes that are not UTF-8 stay as
// they are.
std::string TypedLowerCase(const std::string& text);

// Removes the space characters (0x20 only) at both ends.
std::string TrimSpaces(std::string_view text);

// Signed decimal without digit grouping.
std::string FormatDecimal(std::int64_t value);
// The same behind the text, for counts written again and again into a reused buffer.
void AppendDecimal(std::string& text, std::int64_t value);

// The byte length of the character that starts at text[position]: the length of a valid UTF-8
// sequence there, or 1 for a byte that does not start one. 0 at the end of the text.
std::size_t CharacterLength(std::string_view text, std::size_t position);

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD, for display.
std::string DisplayText(std::string_view text);

// DisplayText for one row of a list: control characters (U+0000..U+001F and U+007F) become
// their visible pictures (U+2400..U+241F, U+2421), so a name holding a line break stays on one
// line and shows where the break is.
std::string DisplayRowText(std::string_view text);

// The first `count` characters of `text` (characters as CharacterLength counts them), or all
// of it when it has fewer.
std::string_view FirstCharacters(std::string_view text, std::size_t count);

}  // namespace kopiensieb
