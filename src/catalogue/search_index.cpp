#include "catalogue/search_index.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

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

std::vector<SearchEntry> EntriesInCatalogueOrder(FileCatalogue& catalogue, PaintPacer& pacer) {
  std::vector<SearchEntry> entries;
  entries.reserve(static_cast<std::size_t>(catalogue.Count()));
  catalogue.ForEach([&entries, &pacer](FileRecord& record) {
    entries.push_back({.record = &record});
    pacer.Step();
  });
  return entries;
}

using IdentityOfEntry = std::pair<FileIdentity, std::size_t>;  // identity, entry number

// Marks every entry whose identity is that of an entry with a lower number. True when any was.
bool MarkLaterOfEqualIdentities(std::vector<IdentityOfEntry>& identities,
                                std::vector<bool>& repeated) {
  std::sort(identities.begin(), identities.end(), [](const auto& left, const auto& right) {
    return std::tie(left.first.device, left.first.inode, left.second) <
           std::tie(right.first.device, right.first.inode, right.second);
  });
  bool marked = false;
  for (std::size_t at = 1; at < identities.size(); ++at) {
    if (identities[at].first == identities[at - 1].first) {
      repeated[identities[at].second] = true;
      marked = true;
    }
  }
  return marked;
}

// Marks the records whose file (device and inode, as the scan saw them) is that of an earlier
// record: a folder added twice through a parent, a hard link.
void MarkRepeatedIdentities(const std::vector<SearchEntry>& entries, std::vector<bool>& repeated,
                            PaintPacer& pacer) {
  std::vector<IdentityOfEntry> known;
  known.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    pacer.Step();
    if (entries[index].record->identity.Known()) {
      known.emplace_back(entries[index].record->identity, index);
    }
  }
  MarkLaterOfEqualIdentities(known, repeated);
}

std::size_t PathHash(const FileRecord& record) {
  const std::size_t folder = std::hash<std::string_view>{}(record.folder);
  const std::size_t name = std::hash<std::string_view>{}(record.name);
  return folder ^ (name + 0x9E3779B97F4A7C15ULL + (folder << 6) + (folder >> 2));
}

// Marks the records whose path is that of an earlier record. Their identities may differ: a
// file replaced (saved anew, renamed over) between two scans that both reached it has a new
// inode, yet both records lead to the one file now at that path.
void MarkRepeatedPaths(const std::vector<SearchEntry>& entries, std::vector<bool>& repeated,
                       PaintPacer& pacer) {
  std::vector<std::pair<std::size_t, std::size_t>> hashed;  // path hash, entry number
  hashed.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    pacer.Step();
    hashed.emplace_back(PathHash(*entries[index].record), index);
  }
  std::sort(hashed.begin(), hashed.end());
  const auto sameHash = [&hashed](std::size_t start, std::size_t at) {
    return hashed[at].first == hashed[start].first;
  };
  // Within a run of equal hashes, a path counts as repeated behind its first occurrence.
  ForEachRun(hashed.size(), sameHash, [&](std::size_t start, std::size_t end) {
    pacer.Step();
    for (std::size_t later = start + 1; later < end; ++later) {
      const FileRecord& record = *entries[hashed[later].second].record;
      for (std::size_t earlier = start; earlier < later; ++earlier) {
        const FileRecord& other = *entries[hashed[earlier].second].record;
        if (other.folder == record.folder && other.name == record.name) {
          repeated[hashed[later].second] = true;
          break;
        }
      }
    }
  });
}

// The records that take part in neither search, so that no group pairs a file with itself.
std::vector<bool> RepeatedFiles(const std::vector<SearchEntry>& entries, PaintPacer& pacer) {
  std::vector<bool> repeated(entries.size(), false);
  MarkRepeatedIdentities(entries, repeated, pacer);
  MarkRepeatedPaths(entries, repeated, pacer);
  return repeated;
}

// Chains the members of every class (runs of `order` with equal keys) in catalogue order.
// A class of one has nobody to be compared with and stays Alone.
template <typename EqualKeys>
void LinkClasses(std::vector<SearchEntry>& entries, const std::vector<std::size_t>& order,
                 EqualKeys&& sameClass) {
  const auto sameAt = [&order, &sameClass](std::size_t start, std::size_t at) {
    return sameClass(order[start], order[at]);
  };
  ForEachRun(order.size(), sameAt, [&entries, &order](std::size_t start, std::size_t end) {
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

void ClassBySize(std::vector<SearchEntry>& entries, const std::vector<bool>& repeated) {
  std::vector<std::size_t> order;
  order.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    if (!repeated[index] && entries[index].record->size > 0) {
      order.push_back(index);
    }
  }
  const auto sizeOf = [&entries](std::size_t index) { return entries[index].record->size; };
  std::sort(order.begin(), order.end(), [&sizeOf](std::size_t left, std::size_t right) {
    return std::pair(sizeOf(left), left) < std::pair(sizeOf(right), right);
  });
  LinkClasses(entries, order, [&sizeOf](std::size_t left, std::size_t right) {
    return sizeOf(left) == sizeOf(right);
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
  return MarkLaterOfEqualIdentities(now, repeated);
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
  LinkClasses(entries, order, sameName);
  LinkGroups(entries, order, [&order, &sameName](std::size_t left, std::size_t right) {
    return sameName(order[left], order[right]);
  });
}

}  // namespace

std::vector<SearchEntry> BuildSearchIndex(FileCatalogue& catalogue, SearchMode mode,
                                          FileServices& files,
                                          const std::function<void()>& keepPainting) {
  PaintPacer pacer(keepPainting);
  std::vector<SearchEntry> entries = EntriesInCatalogueOrder(catalogue, pacer);
  std::vector<bool> repeated = RepeatedFiles(entries, pacer);
  if (mode == SearchMode::SameContent) {
    ClassBySize(entries, repeated);
  } else {
    GroupByName(entries, repeated, files, pacer);
  }
  return entries;
}

}  // namespace kopiensieb
