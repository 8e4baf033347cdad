#pragma once

#include <string>
#include <string_view>

namespace kopiensieb {

// The program's texts are UTF-8; Windows speaks UTF-16. A file name may hold a lone surrogate
// (NTFS does not check), which UTF-8 cannot carry: it travels as the three bytes its code
// point would take (the generalised form of UTF-8), so that every name read from a folder
// leads back to its file. Bytes that are not UTF-8 become U+FFFD on the way to UTF-16.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

}  // namespace kopiensieb
