#pragma once

#include "shell/program.h"

namespace kopiensieb {

// Opens window 0 with its status bar and all eighteen controls. False when the window, its
// control container or its status bar cannot be created.
bool BuildMainWindow(Program& program);

}  // namespace kopiensieb
