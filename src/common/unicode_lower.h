#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kopiensieb {

// The Unicode simple lower case of one code point (itself when it has none).
char32_t UnicodeLower(char32_t code);

// Whether the three bytes of a surrogate's number count as a character: only where a name
// with a lone surrogate (possible on Windows) travels through UTF-8 on its way back to UTF-16.
enum class Surrogates { Rejected, Accepted };

// The length of the UTF-8 sequence at text[position] (position < text.size()) and its code
// point; 0 when the bytes there are not well-formed UTF-8 (overlong forms, truncation and,
// unless accepted, surrogates included).
std::size_t DecodeUtf8(std::string_view text, std::size_t position, char32_t& code,
                       Surrogates surrogates = Surrogates::Rejected);

// Appends the UTF-8 bytes of a code point. A surrogate gets the three bytes of its number, so
// a name holding a lone surrogate (possible on Windows) survives the way back to UTF-16.
void AppendUtf8(std::string& out, char32_t code);

// Every character of a UTF-8 text in its Unicode simple lower case. Bytes that are not
// well-formed UTF-8 stay as they are, so a name that is not UTF-8 survives.
std::string UnicodeLowerCase(std::string_view text);

}  // namespace kopiensieb
