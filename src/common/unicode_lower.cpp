#include "common/unicode_lower.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace kopiensieb {

namespace {

// A run of code points that lower-case alike: count code points from first, every stride-th,
// each mapped to itself plus delta.
struct LowerRun {
  char32_t first;
  std::int32_t count;
  std::int32_t delta;
  std::int32_t stride;
};

// The simple (one-to-one) lower-case mapping of the Unicode character database, as the C
// library's UTF-8 locale on Linux applies it, so that a typed text lower-cases alike on every
// platform. Sorted by first code point.
constexpr LowerRun kLowerRuns[] = {
    {0x0041, 26, 32, 1},    {0x00C0, 23, 32, 1},    {0x00D8, 7, 32, 1},     {0x0100, 24, 1, 2},
    {0x0130, 1, -199, 1},   {0x0132, 3, 1, 2},      {0x0139, 8, 1, 2},      {0x014A, 23, 1, 2},
    {0x0178, 1, -121, 1},   {0x0179, 3, 1, 2},      {0x0181, 1, 210, 1},    {0x0182, 2, 1, 2},
    {0x0186, 1, 206, 1},    {0x0187, 1, 1, 1},      {0x0189, 2, 205, 1},    {0x018B, 1, 1, 1},
    {0x018E, 1, 79, 1},     {0x018F, 1, 202, 1},    {0x0190, 1, 203, 1},    {0x0191, 1, 1, 1},
    {0x0193, 1, 205, 1},    {0x0194, 1, 207, 1},    {0x0196, 1, 211, 1},    {0x0197, 1, 209, 1},
    {0x0198, 1, 1, 1},      {0x019C, 1, 211, 1},    {0x019D, 1, 213, 1},    {0x019F, 1, 214, 1},
    {0x01A0, 3, 1, 2},      {0x01A6, 1, 218, 1},    {0x01A7, 1, 1, 1},      {0x01A9, 1, 218, 1},
    {0x01AC, 1, 1, 1},      {0x01AE, 1, 218, 1},    {0x01AF, 1, 1, 1},      {0x01B1, 2, 217, 1},
    {0x01B3, 2, 1, 2},      {0x01B7, 1, 219, 1},    {0x01B8, 1, 1, 1},      {0x01BC, 1, 1, 1},
    {0x01C4, 1, 2, 1},      {0x01C5, 1, 1, 1},      {0x01C7, 1, 2, 1},      {0x01C8, 1, 1, 1},
    {0x01CA, 1, 2, 1},      {0x01CB, 9, 1, 2},      {0x01DE, 9, 1, 2},      {0x01F1, 1, 2, 1},
    {0x01F2, 2, 1, 2},      {0x01F6, 1, -97, 1},    {0x01F7, 1, -56, 1},    {0x01F8, 20, 1, 2},
    {0x0220, 1, -130, 1},   {0x0222, 9, 1, 2},      {0x023A, 1, 10795, 1},  {0x023B, 1, 1, 1},
    {0x023D, 1, -163, 1},   {0x023E, 1, 10792, 1},  {0x0241, 1, 1, 1},      {0x0243, 1, -195, 1},
    {0x0244, 1, 69, 1},     {0x0245, 1, 71, 1},     {0x0246, 5, 1, 2},      {0x0370, 2, 1, 2},
    {0x0376, 1, 1, 1},      {0x037F, 1, 116, 1},    {0x0386, 1, 38, 1},     {0x0388, 3, 37, 1},
    {0x038C, 1, 64, 1},     {0x038E, 2, 63, 1},     {0x0391, 17, 32, 1},    {0x03A3, 9, 32, 1},
    {0x03CF, 1, 8, 1},      {0x03D8, 12, 1, 2},     {0x03F4, 1, -60, 1},    {0x03F7, 1, 1, 1},
    {0x03F9, 1, -7, 1},     {0x03FA, 1, 1, 1},      {0x03FD, 3, -130, 1},   {0x0400, 16, 80, 1},
    {0x0410, 32, 32, 1},    {0x0460, 17, 1, 2},     {0x048A, 27, 1, 2},     {0x04C0, 1, 15, 1},
    {0x04C1, 7, 1, 2},      {0x04D0, 48, 1, 2},     {0x0531, 38, 48, 1},    {0x10A0, 38, 7264, 1},
    {0x10C7, 1, 7264, 1},   {0x10CD, 1, 7264, 1},   {0x13A0, 80, 38864, 1}, {0x13F0, 6, 8, 1},
    {0x1C90, 43, -3008, 1}, {0x1CBD, 3, -3008, 1},  {0x1E00, 75, 1, 2},     {0x1E9E, 1, -7615, 1},
    {0x1EA0, 48, 1, 2},     {0x1F08, 8, -8, 1},     {0x1F18, 6, -8, 1},     {0x1F28, 8, -8, 1},
    {0x1F38, 8, -8, 1},     {0x1F48, 6, -8, 1},     {0x1F59, 4, -8, 2},     {0x1F68, 8, -8, 1},
    {0x1F88, 8, -8, 1},     {0x1F98, 8, -8, 1},     {0x1FA8, 8, -8, 1},     {0x1FB8, 2, -8, 1},
    {0x1FBA, 2, -74, 1},    {0x1FBC, 1, -9, 1},     {0x1FC8, 4, -86, 1},    {0x1FCC, 1, -9, 1},
    {0x1FD8, 2, -8, 1},     {0x1FDA, 2, -100, 1},   {0x1FE8, 2, -8, 1},     {0x1FEA, 2, -112, 1},
    {0x1FEC, 1, -7, 1},     {0x1FF8, 2, -128, 1},   {0x1FFA, 2, -126, 1},   {0x1FFC, 1, -9, 1},
    {0x2126, 1, -7517, 1},  {0x212A, 1, -8383, 1},  {0x212B, 1, -8262, 1},  {0x2132, 1, 28, 1},
    {0x2160, 16, 16, 1},    {0x2183, 1, 1, 1},      {0x24B6, 26, 26, 1},    {0x2C00, 48, 48, 1},
    {0x2C60, 1, 1, 1},      {0x2C62, 1, -10743, 1}, {0x2C63, 1, -3814, 1},  {0x2C64, 1, -10727, 1},
    {0x2C67, 3, 1, 2},      {0x2C6D, 1, -10780, 1}, {0x2C6E, 1, -10749, 1}, {0x2C6F, 1, -10783, 1},
    {0x2C70, 1, -10782, 1}, {0x2C72, 1, 1, 1},      {0x2C75, 1, 1, 1},      {0x2C7E, 2, -10815, 1},
    {0x2C80, 50, 1, 2},     {0x2CEB, 2, 1, 2},      {0x2CF2, 1, 1, 1},      {0xA640, 23, 1, 2},
    {0xA680, 14, 1, 2},     {0xA722, 7, 1, 2},      {0xA732, 31, 1, 2},     {0xA779, 2, 1, 2},
    {0xA77D, 1, -35332, 1}, {0xA77E, 5, 1, 2},      {0xA78B, 1, 1, 1},      {0xA78D, 1, -42280, 1},
    {0xA790, 2, 1, 2},      {0xA796, 10, 1, 2},     {0xA7AA, 1, -42308, 1}, {0xA7AB, 1, -42319, 1},
    {0xA7AC, 1, -42315, 1}, {0xA7AD, 1, -42305, 1}, {0xA7AE, 1, -42308, 1}, {0xA7B0, 1, -42258, 1},
    {0xA7B1, 1, -42282, 1}, {0xA7B2, 1, -42261, 1}, {0xA7B3, 1, 928, 1},    {0xA7B4, 8, 1, 2},
    {0xA7C4, 1, -48, 1},    {0xA7C5, 1, -42307, 1}, {0xA7C6, 1, -35384, 1}, {0xA7C7, 2, 1, 2},
    {0xA7D0, 1, 1, 1},      {0xA7D6, 2, 1, 2},      {0xA7F5, 1, 1, 1},      {0xFF21, 26, 32, 1},
    {0x10400, 40, 40, 1},   {0x104B0, 36, 40, 1},   {0x10570, 11, 39, 1},   {0x1057C, 15, 39, 1},
    {0x1058C, 7, 39, 1},    {0x10594, 2, 39, 1},    {0x10C80, 51, 64, 1},   {0x118A0, 32, 32, 1},
    {0x16E40, 32, 32, 1},   {0x1E900, 34, 34, 1},
};

bool InRun(const LowerRun& run, char32_t code) {
  if (code < run.first) {
    return false;
  }
  const char32_t offset = code - run.first;
  const auto stride = static_cast<char32_t>(run.stride);
  return offset % stride == 0 && offset / stride < static_cast<char32_t>(run.count);
}

}  // namespace

std::size_t DecodeUtf8(std::string_view text, std::size_t position, char32_t& code,
                       Surrogates surrogates) {
  const auto byte = [&](std::size_t index) {
    return static_cast<unsigned char>(text[position + index]);
  };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - position < length) {
    return 0;
  }
  for (std::size_t index = 1; index < length; ++index) {
    if ((byte(index) & 0xC0u) != 0x80u) {
      return 0;
    }
    code = (code << 6) | (byte(index) & 0x3Fu);
  }
  const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
  if (code < minimum || code > 0x10FFFF || (surrogate && surrogates == Surrogates::Rejected)) {
    return 0;
  }
  return length;
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

char32_t UnicodeLower(char32_t code) {
  // The last run starting at or before code is the only one that can hold it: runs do not
  // overlap.
  const auto after =
      std::upper_bound(std::begin(kLowerRuns), std::end(kLowerRuns), code,
                       [](char32_t wanted, const LowerRun& run) { return wanted < run.first; });
  if (after == std::begin(kLowerRuns)) {
    return code;
  }
  const LowerRun& run = *(after - 1);
  if (!InRun(run, code)) {
    return code;
  }
  return static_cast<char32_t>(static_cast<std::int64_t>(code) + run.delta);
}

std::string UnicodeLowerCase(std::string_view text) {
  std::string lowered;
  lowered.reserve(text.size());
  std::size_t position = 0;
  while (position < text.size()) {
    char32_t code = 0;
    const std::size_t length = DecodeUtf8(text, position, code);
    if (length == 0) {
      // Not UTF-8 here: keep the byte as it is and carry on behind it.
      lowered.push_back(text[position]);
      ++position;
      continue;
    }
    AppendUtf8(lowered, UnicodeLower(code));
    position += length;
  }
  return lowered;
}

}  // namespace kopiensieb
