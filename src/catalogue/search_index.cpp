#include "catalogue/search_index.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "common/gather_equal_keys.h"
#include "common/parallel.h"
#include "common/text.h"

namespace kopiensieb {
namespace {

// Building the index writes no status, so the loops over the records let the windows repaint
// every few hundred records.
class PaintPacer {
 public:
  explicit PaintPacer(const std::function<void()>& keepPainting) : keepPainting_(keepPainting) {}
  void Step() {
    if (++steps_ % kStepsBetweenPaints == 0 && keepPainting_) {
      keepPainting_();
    }
  }

 private:
  static constexpr std::size_t kStepsBetweenPaints = 256;
  const std::function<void()>& keepPainting_;
  std::size_t steps_ = 0;
};

using IdentityOfEntry = std::pair<FileIdentity, std::size_t>;  // identity, entry number
using PathHashOfEntry = std::pair<std::size_t, std::size_t>;   // path hash, entry number

// Hashes the paths of records in catalogue order. The records of one folder share its text,
// so its hash is worked out once for each run of them.
class PathHasher {
 public:
  std::size_t Of(const FileRecord& record) {
    const std::string& folderText = record.folder.Text();
    if (&folderText != lastFolder_) {
      lastFolder_ = &folderText;
      folderHash_ = std::hash<std::string_view>{}(folderText);
    }
    const std::size_t folder = folderHash_;
    const std::size_t name = std::hash<std::string_view>{}(record.name);
    return folder ^ (name + 0x9E3779B97F4A7C15ULL + (folder << 6) + (folder >> 2));
  }

 private:
  const std::string* lastFolder_ = nullptr;
  std::size_t folderHash_ = 0;
};

// The entries and the keys the index gathers by, taken in one pass over the records: on a large
// catalogue, reaching each record costs more than anything done with it, so the steps that
// follow work on these copies and touch no record.
struct CatalogueKeys {
  std::vector<SearchEntry> entries;
  std::vector<IdentityOfEntry> identities;  // of the records whose identity is known
  std::vector<PathHashOfEntry> paths;
  std::vector<std::pair<std::int64_t, std::size_t>> sizes;  // size > 0, entry number (content)
  // Positions in the lists above with equal keys together (GatherEqualKeys).
  std::vector<std::uint32_t> identityOrder;
  std::vector<std::uint32_t> pathOrder;
  std::vector<std::uint32_t> sizeOrder;
};

CatalogueKeys KeysInCatalogueOrder(FileCatalogue& catalogue, SearchMode mode, PaintPacer& pacer) {
  CatalogueKeys keys;
  const auto count = static_cast<std::size_t>(catalogue.Count());
  keys.entries.reserve(count);
  keys.identities.reserve(count);
  keys.paths.reserve(count);
  const bool bySize = mode == SearchMode::SameContent;
  if (bySize) {
    keys.sizes.reserve(count);
  }
  PathHasher pathHasher;
  catalogue.ForEach([&keys, &pacer, &pathHasher, bySize](FileRecord& record) {
    const std::size_t index = keys.entries.size();
    keys.entries.push_back({.record = &record});
    if (record.identity.Known()) {
      keys.identities.emplace_back(record.identity, index);
    }
    keys.paths.emplace_back(pathHasher.Of(record), index);
    if (bySize && record.size > 0) {
      keys.sizes.emplace_back(record.size, index);
    }
    pacer.Step();
  });
  return keys;
}

// Positions of equal identities together, in ascending entry numbers.
std::vector<std::uint32_t> GatherIdentities(const std::vector<IdentityOfEntry>& identities) {
  return GatherEqualKeys(
      identities,
      [](const IdentityOfEntry& keyed) {
        return SpreadKey(keyed.first.inode ^ SpreadKey(keyed.first.device));
      },
      [](const IdentityOfEntry& left, const IdentityOfEntry& right) {
        return std::tie(left.first.device, left.first.inode, left.second) <
               std::tie(right.first.device, right.first.inode, right.second);
      });
}

// Positions of equal keys together, in ascending entry numbers.
template <typename Key>
std::vector<std::uint32_t> GatherKeys(const std::vector<std::pair<Key, std::size_t>>& keyed) {
  return GatherEqualKeys(
      keyed, [](const auto& item) { return SpreadKey(static_cast<std::uint64_t>(item.first)); },
      std::less<>());
}

// Marks every entry whose identity is that of an entry with a lower number, `order` the
// positions of `identities` as GatherIdentities gave them. True when any was.
bool MarkLaterOfGatheredIdentities(const std::vector<IdentityOfEntry>& identities,
                                   const std::vector<std::uint32_t>& order,
                                   std::vector<bool>& repeated) {
  bool marked = false;
  for (std::size_t at = 1; at < order.size(); ++at) {
    const IdentityOfEntry& later = identities[order[at]];
    if (later.first == identities[order[at - 1]].first) {
      repeated[later.second] = true;
      marked = true;
    }
  }
  return marked;
}

// Marks the records whose path is that of an earlier record. Their identities may differ: a
// file replaced (saved anew, renamed over) between two scans that both reached it has a new
// inode, yet both records lead to the one file now at that path.
// `order` holds the positions of `hashed` as GatherKeys gave them.
void MarkRepeatedPaths(const std::vector<SearchEntry>& entries,
                       const std::vector<PathHashOfEntry>& hashed,
                       const std::vector<std::uint32_t>& order, std::vector<bool>& repeated,
                       PaintPacer& pacer) {
  const auto sameHash = [&hashed, &order](std::size_t start, std::size_t at) {
    return hashed[order[at]].first == hashed[order[start]].first;
  };
  // Within a run of equal hashes, a path counts as repeated behind its first occurrence.
  ForEachRun(order.size(), sameHash, [&](std::size_t start, std::size_t end) {
    pacer.Step();
    for (std::size_t later = start + 1; later < end; ++later) {
      const std::size_t laterEntry = hashed[order[later]].second;
      const FileRecord& record = *entries[laterEntry].record;
      for (std::size_t earlier = start; earlier < later; ++earlier) {
        const FileRecord& other = *entries[hashed[order[earlier]].second].record;
        if (other.folder == record.folder && other.name == record.name) {
          repeated[laterEntry] = true;
          break;
        }
      }
    }
  });
}

// Equal keys brought together; the sizes beside the rest where a second core is to be had,
// since none needs another's result.
void GatherKeysOfAllLists(CatalogueKeys& keys) {
  std::atomic<int> nextList{0};
  RunOnThreads(std::min<std::size_t>(ReaderThreadsForThisMachine(), 2), [&keys, &nextList] {
    for (int list = nextList++; list < 2; list = nextList++) {
      if (list == 0) {
        keys.sizeOrder = GatherKeys(keys.sizes);
      } else {
        keys.identityOrder = GatherIdentities(keys.identities);
        keys.pathOrder = GatherKeys(keys.paths);
      }
    }
  });
}

// The records that take part in neither search, so that no group pairs a file with itself: a
// record whose file (device and inode, as the scan saw them) is that of an earlier record (a
// folder added twice through a parent, a hard link), or whose path is. `keys` gathered by
// GatherKeysOfAllLists.
std::vector<bool> RepeatedFiles(const CatalogueKeys& keys, PaintPacer& pacer) {
  std::vector<bool> repeated(keys.entries.size(), false);
  MarkLaterOfGatheredIdentities(keys.identities, keys.identityOrder, repeated);
  MarkRepeatedPaths(keys.entries, keys.paths, keys.pathOrder, repeated, pacer);
  return repeated;
}

// Chains the members of every class (runs of `order` with equal keys) in catalogue order.
// A class of one has nobody to be compared with and stays Alone. sameKeyAt(i, j) tells whether
// order[i] and order[j] have equal keys.
template <typename EqualKeysAt>
void LinkClasses(std::vector<SearchEntry>& entries, const std::vector<std::size_t>& order,
                 EqualKeysAt&& sameKeyAt) {
  ForEachRun(order.size(), sameKeyAt, [&entries, &order](std::size_t start, std::size_t end) {
    if (end - start < 2) {
      return;
    }
    entries[order[start]].firstOfClass = true;
    for (std::size_t at = start; at < end; ++at) {
      SearchEntry& entry = entries[order[at]];
      entry.role = SearchRole::Undecided;
      entry.classNext = at + 1 < end ? order[at + 1] : kNoEntry;
    }
  });
}

// `sizeOrder` holds the positions of `sizes` as GatherKeys gave them.
void ClassBySize(std::vector<SearchEntry>& entries,
                 const std::vector<std::pair<std::int64_t, std::size_t>>& sizes,
                 const std::vector<std::uint32_t>& sizeOrder, const std::vector<bool>& repeated) {
  // Taking out the repeated records keeps equal sizes together.
  std::vector<std::size_t> order;
  std::vector<std::int64_t> orderedSizes;
  order.reserve(sizeOrder.size());
  orderedSizes.reserve(sizeOrder.size());
  for (const std::uint32_t position : sizeOrder) {
    const auto& [size, index] = sizes[position];
    if (!repeated[index]) {
      order.push_back(index);
      orderedSizes.push_back(size);
    }
  }
  LinkClasses(entries, order, [&orderedSizes](std::size_t start, std::size_t at) {
    return orderedSizes[at] == orderedSizes[start];
  });
}

// The entries of `order` (sorted by key) that stand in runs of two or more equal keys.
template <typename EqualKeys>
std::vector<std::size_t> MembersOfRuns(const std::vector<std::size_t>& order, EqualKeys&& same) {
  std::vector<std::size_t> members;
  const auto sameAt = [&order, &same](std::size_t start, std::size_t at) {
    return same(order[start], order[at]);
  };
  ForEachRun(order.size(), sameAt, [&members, &order](std::size_t start, std::size_t end) {
    if (end - start >= 2) {
      members.insert(members.end(), order.begin() + static_cast<std::ptrdiff_t>(start),
                     order.begin() + static_cast<std::ptrdiff_t>(end));
    }
  });
  return members;
}

// Name mode reads no file, so a file replaced since one scan and reached again by another
// under a second path (a folder and a link to it) has two records with different identities
// that would still be grouped with each other. The records about to be grouped are looked at
// once more: those whose path now leads to the file of an earlier one are marked. True when
// any was.
bool MarkFilesThatAreNowTheSame(FileServices& files, const std::vector<SearchEntry>& entries,
                                const std::vector<std::size_t>& candidates,
                                std::vector<bool>& repeated, PaintPacer& pacer) {
  std::vector<IdentityOfEntry> now;
  now.reserve(candidates.size());
  for (std::size_t index : candidates) {
    pacer.Step();
    const std::optional<FileStatus> status = files.StatusOf(FullPath(*entries[index].record));
    if (status && status->identity.Known()) {
      now.emplace_back(status->identity, index);
    }
  }
  return MarkLaterOfGatheredIdentities(now, GatherIdentities(now), repeated);
}

// In name mode a class is a group: equal names need no reading.
void GroupByName(std::vector<SearchEntry>& entries, std::vector<bool>& repeated,
                 FileServices& files, PaintPacer& pacer) {
  std::vector<std::string> lowered(entries.size());
  std::vector<std::size_t> order;
  order.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    pacer.Step();
    if (!repeated[index]) {
      lowered[index] = LowerCase(entries[index].record->name);
      order.push_back(index);
    }
  }
  std::sort(order.begin(), order.end(), [&lowered](std::size_t left, std::size_t right) {
    const int order = lowered[left].compare(lowered[right]);
    return order != 0 ? order < 0 : left < right;
  });
  const auto sameName = [&lowered](std::size_t left, std::size_t right) {
    return lowered[left] == lowered[right];
  };
  if (MarkFilesThatAreNowTheSame(files, entries, MembersOfRuns(order, sameName), repeated, pacer)) {
    std::erase_if(order, [&repeated](std::size_t index) { return repeated[index]; });
  }
  const auto sameNameAt = [&order, &sameName](std::size_t left, std::size_t right) {
    return sameName(order[left], order[right]);
  };
  LinkClasses(entries, order, sameNameAt);
  LinkGroups(entries, order, sameNameAt);
}

}  // namespace

std::vector<SearchEntry> BuildSearchIndex(FileCatalogue& catalogue, SearchMode mode,
                                          FileServices& files,
                                          const std::function<void()>& keepPainting) {
  PaintPacer pacer(keepPainting);
  CatalogueKeys keys = KeysInCatalogueOrder(catalogue, mode, pacer);
  GatherKeysOfAllLists(keys);
  std::vector<bool> repeated = RepeatedFiles(keys, pacer);
  std::vector<SearchEntry> entries = std::move(keys.entries);
  if (mode == SearchMode::SameContent) {
    ClassBySize(entries, keys.sizes, keys.sizeOrder, repeated);
  } else {
    GroupByName(entries, repeated, files, pacer);
  }
  return entries;
}

std::uint32_t NumberFolders(std::vector<SearchEntry>& entries) {
  std::uint32_t numbers = 0;
  const FileRecord* previous = nullptr;
  for (SearchEntry& entry : entries) {
    if (entry.role != SearchRole::Undecided) {
      continue;
    }
    if (previous == nullptr || previous->folder != entry.record->folder) {
      if (numbers == FileLocation::kUnnumbered) {
        return numbers;  // the rest stay unnumbered and are found by their text
      }
      ++numbers;
    }
    entry.folderNumber = numbers - 1;
    previous = entry.record;
  }
  return numbers;
}

}  // namespace kopiensieb
