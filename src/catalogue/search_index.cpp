#include "catalogue/search_index.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>

#include "common/text.h"

namespace kopiensieb {
namespace {

std::vector<SearchEntry> EntriesInCatalogueOrder(FileCatalogue& catalogue) {
  std::vector<SearchEntry> entries;
  entries.reserve(static_cast<std::size_t>(catalogue.Count()));
  catalogue.ForEach([&entries](FileRecord& record) { entries.push_back({.record = &record}); });
  return entries;
}

// An identity of all zeros was never filled in (inode 0 names no file), so it proves nothing.
bool IsKnown(const FileIdentity& identity) {
  return identity.inode != 0 || identity.device != 0;
}

// Marks the records whose file is that of an earlier record (a folder added twice through a
// parent, a hard link) so that the search passes them over.
std::vector<bool> RepeatedFiles(const std::vector<SearchEntry>& entries) {
  std::vector<std::pair<FileIdentity, std::size_t>> known;
  known.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
    if (IsKnown(entries[index].record->identity)) {
      known.emplace_back(entries[index].record->identity, index);
    }
  }
  std::sort(known.begin(), known.end(), [](const auto& left, const auto& right) {
    return std::tie(left.first.device, left.first.inode, left.second) <
           std::tie(right.first.device, right.first.inode, right.second);
  });
  std::vector<bool> repeated(entries.size(), false);
  for (std::size_t at = 1; at < known.size(); ++at) {
    if (known[at].first == known[at - 1].first) {
      repeated[known[at].second] = true;
    }
  }
  return repeated;
}

// Chains the members of every class (runs of `order` with equal keys) in catalogue order.
// A class of one has nobody to be compared with and stays Alone.
template <typename EqualKeys>
void LinkClasses(std::vector<SearchEntry>& entries, const std::vector<std::size_t>& order,
                 EqualKeys&& sameClass) {
  std::size_t runStart = 0;
  while (runStart < order.size()) {
    std::size_t runEnd = runStart + 1;
    while (runEnd < order.size() && sameClass(order[runStart], order[runEnd])) {
      ++runEnd;
    }
    if (runEnd - runStart >= 2) {
      entries[order[runStart]].firstOfClass = true;
      for (std::size_t at = runStart; at < runEnd; ++at) {
        SearchEntry& entry = entries[order[at]];
        entry.role = SearchRole::Undecided;
        entry.classNext = at + 1 < runEnd ? order[at + 1] : kNoEntry;
      }
    }
    runStart = runEnd;
  }
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

// In name mode a class is a group: equal names need no reading.
void GroupByName(std::vector<SearchEntry>& entries, const std::vector<bool>& repeated) {
  std::vector<std::string> lowered(entries.size());
  std::vector<std::size_t> order;
  order.reserve(entries.size());
  for (std::size_t index = 0; index < entries.size(); ++index) {
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
  LinkClasses(entries, order, sameName);
  LinkGroups(entries, order, [&order, &sameName](std::size_t left, std::size_t right) {
    return sameName(order[left], order[right]);
  });
}

}  // namespace

std::vector<SearchEntry> BuildSearchIndex(FileCatalogue& catalogue, SearchMode mode) {
  std::vector<SearchEntry> entries = EntriesInCatalogueOrder(catalogue);
  const std::vector<bool> repeated = RepeatedFiles(entries);
  if (mode == SearchMode::SameContent) {
    ClassBySize(entries, repeated);
  } else {
    GroupByName(entries, repeated);
  }
  return entries;
}

}  // namespace kopiensieb
