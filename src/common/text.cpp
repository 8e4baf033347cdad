#include "common/text.h"
namespace kopiensieb {
std::string LowerCase(std::string_view text) { return std::string(text); }  // STUB
std::string TrimSpaces(std::string_view text) { return std::string(text); }  // STUB
std::string FormatDecimal(std::int64_t value) { return std::to_string(value); }
std::string SizeText(std::int64_t size) { return FormatDecimal(size) + " Bytes"; }
std::size_t CharacterLength(std::string_view text, std::size_t position) {
  return position < text.size() ? 1 : 0;  // STUB
}
std::string DisplayText(std::string_view text) { return std::string(text); }  // STUB
}  // namespace kopiensieb
