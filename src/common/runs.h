#pragma once

#include <cstddef>

namespace kopiensieb {

// Walks positions 0 .. count-1 of a sorted sequence in runs of equals: calls visit(start, end)
// for each run [start, end), where sameAt(start, at) tells whether position `at` still
// belongs to the run that begins at `start`.
template <typename SameAt, typename Visit>
void ForEachRun(std::size_t count, SameAt&& sameAt, Visit&& visit) {
  std::size_t start = 0;
  while (start < count) {
    std::size_t end = start + 1;
    while (end < count && sameAt(start, end)) {
      ++end;
    }
    visit(start, end);
    start = end;
  }
}

}  // namespace kopiensieb
