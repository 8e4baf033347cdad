#pragma once

#include <string>
#include <string_view>

namespace kopiensieb {

// How the file system writes paths and compares names.
struct PathConventions {
  char separator;        // between folder and name
  bool namesIgnoreCase;  // whether "Daten" and "DATEN" name the same folder
};

// "/" between the components; the root "/" is the folder text "" with full paths "/name".
inline constexpr PathConventions kPosixPaths{'/', false};
// "\" between the components; a drive root "D:\" is the folder text "D:" with full paths
// "D:\name".
inline constexpr PathConventions kWindowsPaths{'\\', true};

#ifdef _WIN32
inline constexpr PathConventions kNativePaths = kWindowsPaths;
#else
inline constexpr PathConventions kNativePaths = kPosixPaths;
#endif

// The path to enumerate for a folder text (a folder without its trailing separator). The
// root's folder text ("" on POSIX, "D:" on Windows) gets its separator back: the bare "D:"
// names the drive's current folder, not its root.
std::string FolderPathToEnumerate(std::string_view folderText,
                                  PathConventions conventions = kNativePaths);

// Whether a chosen folder equals, or lies inside, an added one. Both end in the separator, so
// "/a/b/" never covers "/a/bc/". Where names ignore case, so does the comparison (through
// LowerCase, as names are compared elsewhere).
bool FolderCovers(std::string_view added, std::string_view chosen,
                  PathConventions conventions = kNativePaths);

}  // namespace kopiensieb
