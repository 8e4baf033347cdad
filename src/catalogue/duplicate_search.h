#pragma once

#include "shell/program.h"

namespace kopiensieb {

enum class SearchMode { SameContent = 1, SameName = 2 };

// Groups the catalogue by content or by name into DuplicateGroupList and GroupMemberList.
void FindDuplicates(Program& program, SearchMode mode);

}  // namespace kopiensieb
