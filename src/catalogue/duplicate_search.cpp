#include "catalogue/duplicate_search.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/content_comparison.h"
#include "catalogue/content_fingerprint.h"
#include "catalogue/search_index.h"
#include "common/text.h"
#include "shell/control_numbers.h"
#include "shell/status_texts.h"

namespace kopiensieb {
namespace {

// FileProgressBar follows the file being read; a value is written only when it changes, so a
// long file does not cost a write per chunk.
class FileProgress {
 public:
  explicit FileProgress(WidgetServices& widgets) : widgets_(widgets) {}

  void Restart() {
    widgets_.SetProgress(kFileProgressBar, 0);
    shown_ = 0;
  }

  FileProgressSink Sink() {
    return [this](int value) {
      if (value != shown_) {
        widgets_.SetProgress(kFileProgressBar, value);
        shown_ = value;
      }
    };
  }

 private:
  WidgetServices& widgets_;
  int shown_ = 0;
};

// Reads the files of the size class that starts at `first` and links its groups. Each file is
// read at most once: a pair is settled by one chunk-wise comparison, which stops at the first
// difference; larger classes are read in lockstep and split where their chunks differ.
class ContentClassReader {
 public:
  ContentClassReader(Program& program, std::vector<SearchEntry>& entries, FileProgress& progress)
      : program_(program), entries_(entries), progress_(progress) {}

  void Decide(std::size_t first) {
    members_.clear();
    for (std::size_t index = first; index != kNoEntry; index = entries_[index].classNext) {
      members_.push_back(index);
    }
    if (members_.size() == 2) {
      DecidePair();
    } else {
      DecideByFingerprints();
    }
  }

 private:
  void DecidePair() {
    SearchEntry& reference = entries_[members_[0]];
    SearchEntry& candidate = entries_[members_[1]];
    const std::string candidatePath = FullPath(*candidate.record);
    const std::string referencePath = FullPath(*reference.record);
    const bool same =
        CompareFileContents(program_.files, {candidatePath, candidate.record->identity},
                            {referencePath, reference.record->identity}, reference.record->size,
                            program_.state.comparePercent, progress_.Sink()) == 1;
    reference.role = same ? SearchRole::GroupHead : SearchRole::Alone;
    reference.groupNext = same ? members_[1] : kNoEntry;
    candidate.role = same ? SearchRole::GroupMember : SearchRole::Alone;
    candidate.groupNext = kNoEntry;
  }

  void DecideByFingerprints() {
    jobs_.resize(members_.size());
    for (std::size_t at = 0; at < members_.size(); ++at) {
      const FileRecord& record = *entries_[members_[at]].record;
      jobs_[at] = FingerprintJob{.path = FullPath(record), .identity = record.identity};
    }
    FingerprintSizeClass(program_.files, jobs_, entries_[members_[0]].record->size,
                         program_.state.comparePercent, progress_.Sink(), buffers_);
    // Known files sorted by part, equals in catalogue order (members_ ascends); the others
    // are alone.
    known_.clear();
    for (std::size_t at = 0; at < members_.size(); ++at) {
      if (jobs_[at].state == FingerprintState::Known) {
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

  Program& program_;
  std::vector<SearchEntry>& entries_;
  FileProgress& progress_;
  std::vector<std::size_t> members_;                        // entry numbers of the class, ascending
  std::vector<FingerprintJob> jobs_;                        // one per member, same order
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
void AddGroup(ProgramState& state, std::vector<SearchEntry>& entries, std::size_t head,
              SearchMode mode) {
  FileRecord& reference = *entries[head].record;
  DuplicateGroup& group = state.duplicateGroupList.Add();
  group.equalContent = mode == SearchMode::SameContent;
  GroupMember& first = state.groupMemberList.AddStartingChain();
  FillMember(first, reference);
  group.firstMember = &first;
  group.memberCount = 1;
  group.size = reference.size;
  for (std::size_t next = entries[head].groupNext; next != kNoEntry;
       next = entries[next].groupNext) {
    FileRecord& candidate = *entries[next].record;
    ++group.memberCount;
    FillMember(state.groupMemberList.Add(), candidate);
    candidate.grouped = true;
  }
}

void ShowCount(Program& program, std::string& text, std::int64_t processed, std::int64_t total) {
  text.clear();
  text.append(FormatDecimal(processed)).append(" / ").append(FormatDecimal(total));
  text.append(" Dateien");
  SetDetailText(program, text);
}

}  // namespace

void FindDuplicates(Program& program, SearchMode mode) {
  ProgramState& state = program.state;
  SetActivityText(program, mode == SearchMode::SameContent ? "Suche doppelte Dateien"
                                                           : "Suche gleichnamige Dateien");
  FileCatalogue& catalogue = state.fileCatalogue;
  catalogue.ResetCursor();
  state.duplicateGroupList.Clear();
  state.groupMemberList.Clear();

  std::vector<SearchEntry> entries = BuildSearchIndex(
      catalogue, mode, program.files, [&program] { program.widgets.KeepPainting(); });
  FileProgress fileProgress(program.widgets);
  ContentClassReader classReader(program, entries, fileProgress);
  const auto total = static_cast<std::int64_t>(entries.size());
  std::int64_t processed = 0;
  std::string countText;
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
        AddGroup(state, entries, index, mode);
      }
    }
    ++processed;
    program.widgets.SetProgress(kSearchProgressBar, static_cast<int>(processed * 100 / total));
    ShowCount(program, countText, processed, total);
  }
  program.widgets.SetProgress(kSearchProgressBar, 0);
}

}  // namespace kopiensieb
