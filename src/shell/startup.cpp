#include "shell/startup.h"
namespace kopiensieb {
int RunProgram(WidgetServices&, FileServices&) { return 0; }  // STUB
}  // namespace kopiensieb
