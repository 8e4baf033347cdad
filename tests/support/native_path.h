#pragma once

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/path_conventions.h"

namespace kopiensieb::testing {

// A path written with "/" in the form of the platform at hand ("\" on Windows), for expected
// texts.
inline std::string NativePath(std::string_view path) {
  std::string native(path);
  std::replace(native.begin(), native.end(), '/', kNativePaths.separator);
  return native;
}

}  // namespace kopiensieb::testing
