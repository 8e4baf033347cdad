#include "common/text.h"

#include <charconv>
#include <iterator>
#include <memory>
#include <type_traits>

#include "common/unicode_lower.h"

namespace kopiensieb {

namespace {

constexpr unsigned char kLatinLead = 0xC3;  // lead byte of U+00C0..U+00FF in UTF-8

bool IsContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

// The valid range of the second byte of a sequence, which is where overlongs, surrogates and
// code points beyond U+10FFFF show; every later byte is a plain continuation byte.
struct SequenceShape {
  std::size_t length;  // 0 when the byte cannot start a sequence
  unsigned char secondLow;
  unsigned char secondHigh;
};

SequenceShape ShapeOfLead(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {2, 0x80, 0xBF};
  }
  if (lead == 0xE0) {
    return {3, 0xA0, 0xBF};
  }
  if (lead == 0xED) {
    return {3, 0x80, 0x9F};
  }
  if (lead >= 0xE1 && lead <= 0xEF) {
    return {3, 0x80, 0xBF};
  }
  if (lead == 0xF0) {
    return {4, 0x90, 0xBF};
  }
  if (lead >= 0xF1 && lead <= 0xF3) {
    return {4, 0x80, 0xBF};
  }
  if (lead == 0xF4) {
    return {4, 0x80, 0x8F};
  }
  return {0, 0, 0};
}

// How many bytes from position on belong to the sequence its lead byte starts: the whole
// sequence when complete is true, otherwise the longest prefix that could still have been a
// valid sequence (at least 1).
struct SequenceScan {
  std::size_t length;
  bool complete;
};

SequenceScan ScanMultiByte(std::string_view text, std::size_t position) {
  const auto lead = static_cast<unsigned char>(text[position]);
  const SequenceShape shape = ShapeOfLead(lead);
  if (shape.length == 0) {
    return {1, false};
  }
  std::size_t taken = 1;
  while (taken < shape.length && position + taken < text.size()) {
    const auto byte = static_cast<unsigned char>(text[position + taken]);
    const bool fits =
        taken == 1 ? (byte >= shape.secondLow && byte <= shape.secondHigh) : IsContinuation(byte);
    if (!fits) {
      break;
    }
    ++taken;
  }
  return {taken, taken == shape.length};
}

}  // namespace

std::string LowerCase(std::string_view text) {
  std::string lowered(text);
  const std::size_t size = lowered.size();
  for (std::size_t index = 0; index < size; ++index) {
    const auto byte = static_cast<unsigned char>(lowered[index]);
    if (byte < 0x80) {
      const bool upper = static_cast<unsigned char>(byte - 'A') < 26;
      lowered[index] = static_cast<char>(byte + (upper ? 0x20 : 0));
    } else if (byte == kLatinLead && index + 1 < size) {
      // 0xC3 never continues a sequence, so it always leads one; with a second byte in
      // 0x80..0x9F it is one of U+00C0..U+00DF, the upper half of Latin-1's letters.
      const auto second = static_cast<unsigned char>(lowered[index + 1]);
      if (second >= 0x80 && second <= 0x9F) {
        lowered[index + 1] = static_cast<char>(second + 0x20);
        ++index;
      }
    }
  }
  return lowered;
}

std::string TrimSpaces(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) {
    return {};
  }
  const std::size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

void AppendDecimal(std::string& text, std::int64_t value) {
  char digits[24];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
  text.append(digits, result.ptr);
}

std::string FormatDecimal(std::int64_t value) {
  std::string text;
  AppendDecimal(text, value);
  return text;
}

std::size_t CharacterLength(std::string_view text, std::size_t position) {
  if (position >= text.size()) {
    return 0;
  }
  if (static_cast<unsigned char>(text[position]) < 0x80) {
    return 1;
  }
  const SequenceScan scan = ScanMultiByte(text, position);
  return scan.complete ? scan.length : 1;
}

std::string DisplayText(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string shown;
  shown.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    if (static_cast<unsigned char>(text[position]) < 0x80) {
      shown.push_back(text[position]);
      ++position;
      continue;
    }
    // One replacement per maximal broken subpart, as the Unicode standard recommends (and as
    // Python's and most toolkits' decoders do), so a truncated sequence shows as one mark.
    const SequenceScan scan = ScanMultiByte(text, position);
    if (scan.complete) {
      shown.append(text.substr(position, scan.length));
    } else {
      shown.append(kReplacement);
    }
    position += scan.length;
  }
  return shown;
}

std::string DisplayRowText(std::string_view text) {
  constexpr unsigned char kDelete = 0x7F;
  const std::string shown = DisplayText(text);
  std::string row;
  row.reserve(shown.size());
  for (const char c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != kDelete) {
      row.push_back(c);
      continue;
    }
    // U+2400 + c (U+2421 for DEL) in UTF-8: E2 90 80+c, E2 90 A1.
    const unsigned char last = byte == kDelete ? 0xA1 : static_cast<unsigned char>(0x80 + byte);
    row.append({'\xE2', '\x90', static_cast<char>(last)});
  }
  return row;
}

std::string_view FirstCharacters(std::string_view text, std::size_t count) {
  std::size_t position = 0;
  for (std::size_t taken = 0; taken < count && position < text.size(); ++taken) {
    position += CharacterLength(text, position);
  }
  return text.substr(0, position);
}

std::string TypedLowerCase(const std::string& text) {
  return UnicodeLowerCase(text);
}

}  // namespace kopiensieb
