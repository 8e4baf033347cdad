#include "catalogue/content_comparison.h"
namespace kopiensieb {
int CompareFileContents(FileServices&, const std::string&, const std::string&, std::int64_t,
                        std::int32_t, const FileProgressSink&) {
  return 0;  // STUB
}
}  // namespace kopiensieb
