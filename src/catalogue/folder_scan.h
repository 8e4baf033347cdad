#pragma once

#include <string>

#include "shell/program.h"

namespace kopiensieb {

// Control 0: chooser, coverage test, scan, RefreshLists flag 1.
void AddFolderCommand(Program& program);

// True when chosen equals, or lies inside, a folder of FolderList.
bool IsFolderCovered(ProgramState& state, const std::string& chosen);

// Catalogues every matching file in folder and below it. depth 0 parses the pattern text.
int FolderScan(Program& program, const std::string& folder, const std::string& patternText,
               int depth);

}  // namespace kopiensieb
