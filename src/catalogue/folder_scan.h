#pragma once

#include <cstddef>
#include <string>

#include "shell/program.h"

namespace kopiensieb {

// Control 0: chooser, coverage test, scan, RefreshLists flag 1.
void AddFolderCommand(Program& program);

// True when chosen equals, or lies inside, a folder of FolderList.
bool IsFolderCovered(ProgramState& state, const std::string& chosen);

// Folders the scan holds open at once. Below that depth the shallowest open folder is read to
// its end and closed, and its remaining subfolders are opened by their paths when they come
// up, so a tree deeper than the limit of open files is still read whole.
inline constexpr std::size_t kMostOpenFolders = 256;

// Catalogues every matching file in folder and below it. depth 0 parses the pattern text.
int FolderScan(Program& program, const std::string& folder, const std::string& patternText,
               int depth);

}  // namespace kopiensieb
