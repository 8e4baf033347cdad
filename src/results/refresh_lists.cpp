#include "results/refresh_lists.h"
namespace kopiensieb {
void RefreshLists(Program&, std::int32_t) {}  // STUB
std::string CatalogueCaption(std::int64_t) { return {}; }
bool IsBackupCopyName(const std::string&) { return false; }
}  // namespace kopiensieb
