#pragma once

#include <vector>

#include "platform/file_services.h"

namespace kopiensieb::testing {

// Every entry the enumeration gives, in its order, up to its end.
inline std::vector<DirectoryEntry> AllEntries(DirectoryEnumeration& enumeration) {
  std::vector<DirectoryEntry> entries;
  for (DirectoryEntry entry = enumeration.Next(); entry.kind != EntryKind::None;
       entry = enumeration.Next()) {
    entries.push_back(entry);
  }
  return entries;
}

}  // namespace kopiensieb::testing
