#pragma once

#include <cstdint>

#include "catalogue/engine_progress.h"
#include "catalogue/records.h"
#include "platform/file_services.h"

namespace kopiensieb {

enum class SearchMode { SameContent = 1, SameName = 2 };

struct SearchRequest {
  SearchMode mode = SearchMode::SameContent;
  // The share of each file compared, 1..100 (anything else: the whole file).
  std::int32_t comparePercent = 100;
};

// Where the search leaves its groups: each group in `groups`, its members as one chain of
// `members`.
struct SearchResults {
  DuplicateGroupList& groups;
  GroupMemberList& members;
};

// Groups the catalogue by content or by name. The lists are emptied first; groups come in the
// catalogue order of their first files, members in catalogue order.
void FindDuplicates(FileServices& files, FileCatalogue& catalogue, const SearchRequest& request,
                    SearchResults results, EngineProgress& progress);

}  // namespace kopiensieb
