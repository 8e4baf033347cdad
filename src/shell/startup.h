#pragma once

#include "platform/file_services.h"
#include "platform/widget_services.h"

namespace kopiensieb {

// The whole run: start-up, main window, event loop, shutdown with the "Credits" box.
// Returns the exit code, always 0.
int RunProgram(WidgetServices& widgets, FileServices& files);

}  // namespace kopiensieb
