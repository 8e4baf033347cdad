#include "platform/path_conventions.h"

#include "common/text.h"

namespace kopiensieb {

namespace {

bool IsDriveSpecification(std::string_view text) {
  return text.size() == 2 && text[1] == ':' &&
         ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'));
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string FolderPathToEnumerate(std::string_view folderText, PathConventions conventions) {
  std::string path(folderText);
  const bool windowsDrive = conventions.separator == '\\' && IsDriveSpecification(folderText);
  if (folderText.empty() || windowsDrive) {
    path.push_back(conventions.separator);
  }
  return path;
}

bool FolderCovers(std::string_view added, std::string_view chosen, PathConventions conventions) {
  if (conventions.namesIgnoreCase) {
    return StartsWith(LowerCase(chosen), LowerCase(added));
  }
  return StartsWith(chosen, added);
}

}  // namespace kopiensieb
