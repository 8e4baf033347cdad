#include "catalogue/duplicate_search.h"
namespace kopiensieb {
void FindDuplicates(Program&, SearchMode) {}  // STUB
}  // namespace kopiensieb
