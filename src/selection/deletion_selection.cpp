#include "selection/deletion_selection.h"
namespace kopiensieb {
void DeleteMarkedCommand(Program&) {}     // STUB
void DeleteOthersCommand(Program&) {}     // STUB
void DeleteByPatternCommand(Program&) {}  // STUB
}  // namespace kopiensieb
