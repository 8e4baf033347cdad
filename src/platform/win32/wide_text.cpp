#include "platform/win32/wide_text.h"

#include <cstdint>

#include "common/unicode_lower.h"

namespace kopiensieb {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(char32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One code point (a lone surrogate included) from text[position]; advances position. Bytes
// that do not form a sequence give U+FFFD, one byte at a time.
char32_t NextCodePoint(std::string_view text, std::size_t& position) {
  char32_t code = 0;
  const std::size_t length = DecodeUtf8(text, position, code, Surrogates::Accepted);
  if (length == 0) {
    ++position;
    return kReplacement;
  }
  position += length;
  return code;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    const char32_t code = NextCodePoint(text, position);
    if (code >= 0x10000) {
      const char32_t offset = code - 0x10000;
      wide.push_back(static_cast<wchar_t>(0xD800 + (offset >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + (offset & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(code));
    }
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t index = 0; index < text.size(); ++index) {
    const auto unit = static_cast<char32_t>(static_cast<std::uint16_t>(text[index]));
    if (IsHighSurrogate(unit) && index + 1 < text.size()) {
      const auto next = static_cast<char32_t>(static_cast<std::uint16_t>(text[index + 1]));
      if (IsLowSurrogate(next)) {
        AppendUtf8(utf8, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++index;
        continue;
      }
    }
    AppendUtf8(utf8, unit);  // a lone surrogate keeps its own three bytes
  }
  return utf8;
}

}  // namespace kopiensieb
