#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <vector>

#include "catalogue/duplicate_search.h"
#include "catalogue/records.h"
#include "common/runs.h"
#include "platform/file_services.h"

namespace kopiensieb {

inline constexpr std::size_t kNoEntry = std::numeric_limits<std::size_t>::max();

// What a record is to the running search.
enum class SearchRole : std::uint8_t {
  Alone,       // takes no part, or has no equal: it heads no group and joins none
  Undecided,   // its class has several members whose contents are not known yet
  GroupHead,   // the first record of a group of at least two
  GroupMember  // a later record of a group
};

// One catalogue record as the search sees it; entries stand in catalogue order.
struct SearchEntry {
  FileRecord* record = nullptr;
  // The next record of the same class (equal size > 0, or equal LowerCase(name)) in catalogue
  // order; kNoEntry at the end of the class.
  std::size_t classNext = kNoEntry;
  // The next record of the same group in catalogue order, once the group is known.
  std::size_t groupNext = kNoEntry;
  // Shared by the undecided records of one folder that stand together in catalogue order
  // (see NumberFolders); lets file services find the folder without looking up its text.
  std::uint32_t folderNumber = FileLocation::kUnnumbered;
  SearchRole role = SearchRole::Alone;
  bool firstOfClass = false;  // the first record of a class of at least two
};

// Where the search reads the entry's file.
inline FileLocation LocationOf(const SearchEntry& entry) {
  FileLocation location = LocationOf(*entry.record);
  location.folderNumber = entry.folderNumber;
  return location;
}

// Numbers the folders of the Undecided entries: each run of such entries in catalogue order
// whose records have the same folder text shares one number. (A folder whose files are
// split by the files of its subfolders gets a number per run.) Returns the count of numbers.
std::uint32_t NumberFolders(std::vector<SearchEntry>& entries);

// Builds the entries of the whole catalogue in one pass plus a sort, without moving the
// catalogue's cursor. A record whose file (device and inode) or whose path is that of an
// earlier record takes part in neither mode, so no group pairs a file with itself. Content
// mode classes records by size (sizes > 0 only); their roles stay Undecided until their
// contents are read, and a file found replaced then joins no group. Name mode classes them
// by LowerCase(name), and each class of two or more is one group once the records of the
// would-be groups whose paths now lead to the same file have been passed over as well.
// keepPainting is called every few hundred records, so the windows repaint meanwhile.
std::vector<SearchEntry> BuildSearchIndex(FileCatalogue& catalogue, SearchMode mode,
                                          FileServices& files,
                                          const std::function<void()>& keepPainting);

// Turns runs of equal keys into groups: `order` holds entry numbers sorted so that equal keys
// stand together and, among equals, in catalogue order; sameKeyAt(i, j) tells whether
// order[i] and order[j] have equal keys. Entries without an equal become Alone.
template <typename EqualKeysAt>
void LinkGroups(std::vector<SearchEntry>& entries, const std::vector<std::size_t>& order,
                EqualKeysAt&& sameKeyAt) {
  ForEachRun(order.size(), sameKeyAt, [&entries, &order](std::size_t start, std::size_t end) {
    const bool grouped = end - start >= 2;
    for (std::size_t at = start; at < end; ++at) {
      SearchEntry& entry = entries[order[at]];
      entry.role = !grouped      ? SearchRole::Alone
                   : at == start ? SearchRole::GroupHead
                                 : SearchRole::GroupMember;
      entry.groupNext = grouped && at + 1 < end ? order[at + 1] : kNoEntry;
    }
  });
}

}  // namespace kopiensieb
