#include "catalogue/duplicate_search.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/content_comparison.h"
#include "catalogue/search_index.h"
#include "catalogue/size_class_reading.h"

namespace kopiensieb {
namespace {

// The file progress follows the file being read; a value is told only when it changes, so a
// long file does not cost a report per chunk.
class FileProgress {
 public:
  explicit FileProgress(EngineProgress& progress) : progress_(progress) {}

  void Restart() {
    progress_.FileProgress(0);
    shown_ = 0;
  }

  FileProgressSink Sink() {
    return [this](int value) {
      if (value != shown_) {
        progress_.FileProgress(value);
        shown_ = value;
      }
    };
  }

 private:
  EngineProgress& progress_;
  int shown_ = 0;
};

// Reads the files of the size class that starts at `first` and links its groups. Each file is
// read at most once: a pair is settled by one chunk-wise comparison, which stops at the first
// difference; larger classes are read in lockstep and split where their chunks differ.
class ContentClassReader {
 public:
  ContentClassReader(FileServices& files, std::int32_t comparePercent,
                     std::vector<SearchEntry>& entries, FileProgress& progress)
      : files_(files), comparePercent_(comparePercent), entries_(entries), progress_(progress) {}

  void Decide(std::size_t first) {
    members_.clear();
    for (std::size_t index = first; index != kNoEntry; index = entries_[index].classNext) {
      members_.push_back(index);
    }
    if (members_.size() == 2) {
      DecidePair();
    } else {
      DecideByReading();
    }
  }

 private:
  void DecidePair() {
    SearchEntry& reference = entries_[members_[0]];
    SearchEntry& candidate = entries_[members_[1]];
    const bool same =
        CompareFileContents(
            files_, CataloguedFile{LocationOf(*candidate.record), candidate.record->identity},
            CataloguedFile{LocationOf(*reference.record), reference.record->identity},
            reference.record->size, comparePercent_, progress_.Sink()) == 1;
    reference.role = same ? SearchRole::GroupHead : SearchRole::Alone;
    reference.groupNext = same ? members_[1] : kNoEntry;
    candidate.role = same ? SearchRole::GroupMember : SearchRole::Alone;
    candidate.groupNext = kNoEntry;
  }

  void DecideByReading() {
    jobs_.resize(members_.size());
    for (std::size_t at = 0; at < members_.size(); ++at) {
      const FileRecord& record = *entries_[members_[at]].record;
      jobs_[at] = ClassFile{.location = LocationOf(record), .identity = record.identity};
    }
    ReadSizeClass(files_, jobs_, entries_[members_[0]].record->size, comparePercent_,
                  progress_.Sink(), buffers_);
    // Known files sorted by part, equals in catalogue order (members_ ascends); the others
    // are alone.
    known_.clear();
    for (std::size_t at = 0; at < members_.size(); ++at) {
      if (jobs_[at].state == ClassFileState::Known) {
        known_.emplace_back(jobs_[at].part, members_[at]);
      } else {
        entries_[members_[at]].role = SearchRole::Alone;
        entries_[members_[at]].groupNext = kNoEntry;
      }
    }
    std::sort(known_.begin(), known_.end());
    order_.clear();
    for (const auto& [part, entry] : known_) {
      order_.push_back(entry);
    }
    LinkGroups(entries_, order_, [this](std::size_t left, std::size_t right) {
      return known_[left].first == known_[right].first;
    });
  }

  FileServices& files_;
  std::int32_t comparePercent_;
  std::vector<SearchEntry>& entries_;
  FileProgress& progress_;
  std::vector<std::size_t> members_;                        // entry numbers of the class, ascending
  std::vector<ClassFile> jobs_;                             // one per member, same order
  ReadBufferPool buffers_;                                  // shared by the classes of one search
  std::vector<std::pair<std::size_t, std::size_t>> known_;  // part, entry number
  std::vector<std::size_t> order_;                          // the entry numbers of known_
};

void FillMember(GroupMember& member, FileRecord& file) {
  member.folder = file.folder;
  member.name = file.name;
  member.file = &file;
}

// The group headed by `head`, behind the last group, its members as one new chain.
void AddGroup(SearchResults& results, std::vector<SearchEntry>& entries, std::size_t head,
              SearchMode mode) {
  FileRecord& reference = *entries[head].record;
  DuplicateGroup& group = results.groups.Add();
  group.equalContent = mode == SearchMode::SameContent;
  GroupMember& first = results.members.AddStartingChain();
  FillMember(first, reference);
  group.firstMember = &first;
  group.memberCount = 1;
  group.size = reference.size;
  for (std::size_t next = entries[head].groupNext; next != kNoEntry;
       next = entries[next].groupNext) {
    FileRecord& candidate = *entries[next].record;
    ++group.memberCount;
    FillMember(results.members.Add(), candidate);
    candidate.grouped = true;
  }
}

// Where the disk and the file system allow, the files a content search reads are fetched ahead
// of it: the first page of every file with a possible equal, each at most once. More than a
// page only competes with the reader's own long reads of large files.
constexpr std::int64_t kPlannedStart = 4096;

std::unique_ptr<ReadingSession> StartReading(FileServices& files, std::int32_t comparePercent,
                                             const std::vector<SearchEntry>& entries) {
  std::vector<PlannedRead> reads;
  for (const SearchEntry& entry : entries) {
    if (entry.role == SearchRole::Undecided) {
      const FileRecord& record = *entry.record;
      reads.push_back(PlannedRead{
          .location = LocationOf(record),
          .identity = record.identity,
          .startBytes = std::min(ComparedLength(record.size, comparePercent), kPlannedStart)});
    }
  }
  return files.StartReading(std::move(reads));
}

}  // namespace

void FindDuplicates(FileServices& files, FileCatalogue& catalogue, const SearchRequest& request,
                    SearchResults results, EngineProgress& progress) {
  progress.Activity(request.mode == SearchMode::SameContent ? "Suche doppelte Dateien"
                                                            : "Suche gleichnamige Dateien");
  catalogue.ResetCursor();
  results.groups.Clear();
  results.members.Clear();

  std::vector<SearchEntry> entries =
      BuildSearchIndex(catalogue, request.mode, files, [&progress] { progress.KeepPainting(); });
  const std::unique_ptr<ReadingSession> reading =
      StartReading(files, request.comparePercent, entries);
  FileProgress fileProgress(progress);
  ContentClassReader classReader(files, request.comparePercent, entries, fileProgress);
  const auto total = static_cast<std::int64_t>(entries.size());
  std::int64_t processed = 0;
  // Every record is the reference once, in catalogue order; its equals behind it are known
  // from the index, and a class is read when its first record comes up.
  while (catalogue.StepForward()) {
    const auto index = static_cast<std::size_t>(processed);
    FileRecord& reference = *catalogue.Current();
    reference.grouped = false;
    fileProgress.Restart();
    if (index < entries.size() && entries[index].record == &reference) {
      if (entries[index].firstOfClass && entries[index].role == SearchRole::Undecided) {
        classReader.Decide(index);
      }
      if (entries[index].role == SearchRole::GroupHead) {
        AddGroup(results, entries, index, request.mode);
      }
    }
    ++processed;
    progress.SearchProgress(static_cast<int>(processed * 100 / total));
    progress.SearchedCount(processed, total);
  }
  progress.SearchProgress(0);
}

}  // namespace kopiensieb
