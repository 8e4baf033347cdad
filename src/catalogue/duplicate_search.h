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
//
// The search in stages, each reading no more than the one before left undecided:
//  1. Size index (search_index): one pass over the catalogue and a sort put the records into
//     classes of equal size (only sizes > 0 take part) or, by name, of equal LowerCase(name).
//     A record whose file (device and inode) or path is that of an earlier record drops out,
//     so no file is grouped with itself; a class of one is alone without a read. By name each
//     class is a group once paths that now lead to one file are set aside; no file is read.
//  2. Pairs (content_comparison): a class of two is one chunk-wise comparison (chunks of
//     1,024 bytes, MD5 per chunk) that stops at the first difference.
//  3. Lockstep reading (size_class_reading): a class of up to ReadingLimits::openFiles files
//     is opened whole and read chunk by chunk in step; a part splits where a file's chunk
//     differs from its fellows' (equal bytes count as equal digests without hashing), and a
//     file left alone is read no further. Each file reads ahead a share of a shared budget.
//  4. First-chunk digests: a larger class first digests every file's first chunk, one file
//     open at a time; a file whose first chunk meets no other's is done, and the sets that
//     share one are read on in lockstep behind it. Files of up to a page are read whole
//     there instead (a page costs what a chunk does), the digests of their further chunks
//     folded into one, and equal digests make the parts without a second open.
//  5. Folded digests: a set still larger than openFiles is read one file at a time, each
//     file's chunk digests folded into one; equal folds form a part.
//  6. Small files read ahead: where the reading session finds the files in memory already,
//     every file of up to a page (compared length) still to be read is read whole first, in
//     catalogue order, the files of a folder one after another (on several threads where the
//     file services allow); the classes of such files are then sorted by those digests with
//     no further read. Read class by class, the files of each class lie all over the tree,
//     and so do the kernel's records of them.
//  7. Threads: where the file services read concurrently, helper threads decide classes ahead
//     of the walk over the catalogue (each class by one thread; its file progress is recorded
//     and shown when the walk reaches the class), and the first chunks of a large class and
//     many small lockstep sets are read on several threads, each with a share of the limits;
//     the groups, their order and every value shown do not depend on it.
// Every record is the reference once, in catalogue order: its class is read when its first
// record comes up, and a group is added when its first member does, so the progress follows
// the catalogue and the groups come out in its order.
void FindDuplicates(FileServices& files, FileCatalogue& catalogue, const SearchRequest& request,
                    SearchResults results, EngineProgress& progress);

}  // namespace kopiensieb
