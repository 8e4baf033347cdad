#include "catalogue/duplicate_search.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/content_comparison.h"
#include "catalogue/search_index.h"
#include "catalogue/size_class_reading.h"
#include "common/gather_equal_keys.h"
#include "common/parallel.h"

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

// Asks the processor to bring the text's first bytes into its cache.
void PrefetchBytes(std::string_view text) {
  if (!text.empty()) {
    __builtin_prefetch(text.data());
  }
}

// The small files of a content search (compared lengths up to kReadWholeUpTo), read whole in
// catalogue order before any class is decided, where the plan is in memory: read class by
// class instead, the files of each class lie all over the tree, and the kernel's records of
// them (names, inodes, pages) all over memory; in catalogue order, neighbours follow each
// other. The classes of small files are then sorted by these digests without another read.
class SmallFilesReadAhead {
 public:
  SmallFilesReadAhead(FileServices& files, const std::vector<SearchEntry>& entries,
                      std::int32_t comparePercent, EngineProgress& progress) {
    if (entries.size() >= kNone) {
      return;
    }
    std::vector<std::size_t> small;
    // Room for all at once: growing would touch twice the memory, and fresh pages cost.
    small.reserve(entries.size());
    for (std::size_t index = 0; index < entries.size(); ++index) {
      if (entries[index].role == SearchRole::Undecided) {
        const std::int64_t length = ComparedLength(entries[index].record->size, comparePercent);
        if (length > 0 && length <= kReadWholeUpTo) {
          if (slotOf_.empty()) {
            slotOf_.assign(entries.size(), kNone);
          }
          slotOf_[index] = static_cast<std::uint32_t>(small.size());
          small.push_back(index);
        }
      }
    }
    digests_.resize(small.size());
    PaintPacer pacer(progress);
    DigestSmallFiles(
        files, small.size(),
        [&entries, &small, comparePercent](std::size_t at) {
          const SearchEntry& entry = entries[small[at]];
          return SmallFile{.location = LocationOf(entry),
                           .identity = entry.record->identity,
                           .size = entry.record->size,
                           .length = ComparedLength(entry.record->size, comparePercent)};
        },
        digests_, ReaderThreadsForThisMachine(), [&pacer] { pacer.Step(); });
  }

  // What reading the entry's file told, if it was read ahead.
  const SmallFileDigest* Of(std::size_t entry) const {
    if (slotOf_.empty() || slotOf_[entry] == kNone) {
      return nullptr;
    }
    return &digests_[slotOf_[entry]];
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  // Lets the windows repaint about every kPaintInterval while the files are read.
  class PaintPacer {
   public:
    explicit PaintPacer(EngineProgress& progress) : progress_(progress) {}
    void Step() {
      const auto now = std::chrono::steady_clock::now();
      if (now - last_ >= kPaintInterval) {
        progress_.KeepPainting();
        last_ = now;
      }
    }

   private:
    static constexpr std::chrono::milliseconds kPaintInterval{50};
    EngineProgress& progress_;
    std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
  };

  std::vector<std::uint32_t> slotOf_;  // by entry number: where its digests are, or kNone
  std::vector<SmallFileDigest> digests_;
};

// A file read ahead, sortable by its digests and, among equals, in catalogue order. The first
// eight bytes of its first chunk's digest decide almost every comparison without following
// the pointer.
struct DigestedEntry {
  std::uint64_t leading = 0;
  const SmallFileDigest* digest = nullptr;
  std::size_t entry = 0;

  static DigestedEntry Of(const SmallFileDigest& digest, std::size_t entry) {
    DigestedEntry digested{.leading = 0, .digest = &digest, .entry = entry};
    std::memcpy(&digested.leading, digest.firstChunk.data(), sizeof(digested.leading));
    return digested;
  }
  bool SameDigests(const DigestedEntry& other) const {
    return leading == other.leading && digest->firstChunk == other.digest->firstChunk &&
           digest->furtherChunks == other.digest->furtherChunks;
  }
  bool operator<(const DigestedEntry& other) const {
    if (leading != other.leading) {
      return leading < other.leading;
    }
    const auto mine = std::tie(digest->firstChunk, digest->furtherChunks, entry);
    return mine < std::tie(other.digest->firstChunk, other.digest->furtherChunks, other.entry);
  }
};

// Reads the files of one size class and links its groups. Each file is read at most once: a
// pair is settled by one chunk-wise comparison, which stops at the first difference; larger
// classes are read in lockstep and split where their chunks differ.
class ContentClassReader {
 public:
  // `readAhead`, where there is one, holds what reading the small files ahead told.
  ContentClassReader(FileServices& files, std::int32_t comparePercent,
                     std::vector<SearchEntry>& entries, const SmallFilesReadAhead* readAhead)
      : files_(files), comparePercent_(comparePercent), entries_(entries), readAhead_(readAhead) {}

  // Touches only the entries of the class, so that several readers can decide different
  // classes at once. `members` are its entry numbers in catalogue order.
  void Decide(std::span<const std::size_t> members, const FileProgressSink& progress) {
    progress_ = &progress;
    members_ = members;
    if (readAhead_ != nullptr && readAhead_->Of(members_.front()) != nullptr) {
      DecideByReadAhead();
    } else if (members_.size() == 2) {
      DecidePair();
    } else {
      DecideByReading();
    }
  }

 private:
  void DecidePair() {
    SearchEntry& reference = entries_[members_[0]];
    SearchEntry& candidate = entries_[members_[1]];
    const bool same = CompareFileContents(
                          files_, CataloguedFile{LocationOf(candidate), candidate.record->identity},
                          CataloguedFile{LocationOf(reference), reference.record->identity},
                          reference.record->size, comparePercent_, *progress_) == 1;
    reference.role = same ? SearchRole::GroupHead : SearchRole::Alone;
    reference.groupNext = same ? members_[1] : kNoEntry;
    candidate.role = same ? SearchRole::GroupMember : SearchRole::Alone;
    candidate.groupNext = kNoEntry;
  }

  // Every file of the class was read whole ahead: equal digests make a group, found by
  // gathering the digests where the read-ahead keeps them, without reaching the records. The
  // bar stands at the end of each file.
  void DecideByReadAhead() {
    byDigests_.clear();
    for (std::size_t entry : members_) {
      const SmallFileDigest& digest = *readAhead_->Of(entry);
      if (digest.read) {
        byDigests_.push_back(DigestedEntry::Of(digest, entry));
      } else {
        entries_[entry].role = SearchRole::Alone;
        entries_[entry].groupNext = kNoEntry;
      }
    }
    // MD5 digests are spread evenly already.
    const std::vector<std::uint32_t> gathered = GatherEqualKeys(
        byDigests_, [](const DigestedEntry& digested) { return digested.leading; }, std::less<>());
    order_.clear();
    for (const std::uint32_t position : gathered) {
      order_.push_back(byDigests_[position].entry);
    }
    LinkGroups(entries_, order_, [this, &gathered](std::size_t left, std::size_t right) {
      return byDigests_[gathered[left]].SameDigests(byDigests_[gathered[right]]);
    });
    if (*progress_) {
      (*progress_)(100);
    }
  }

  void DecideByReading() {
    jobs_.resize(members_.size());
    for (std::size_t at = 0; at < members_.size(); ++at) {
      const SearchEntry& entry = entries_[members_[at]];
      jobs_[at] = ClassFile{.location = LocationOf(entry), .identity = entry.record->identity};
      // Each file's folder text is compared as it is opened, one system call after another;
      // fetched now, the texts of the whole class come in together.
      PrefetchBytes(jobs_[at].location.folder);
    }
    ReadSizeClass(files_, jobs_, entries_[members_[0]].record->size, comparePercent_, *progress_,
                  buffers_);
    LinkKnownParts();
  }

  // Links the groups of the parts jobs_ ended in: known files sorted by part, equals in
  // catalogue order (members_ ascends); the others are alone.
  void LinkKnownParts() {
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
  const FileProgressSink* progress_ = nullptr;              // of the class being decided
  std::span<const std::size_t> members_;                    // entry numbers of the class, ascending
  const SmallFilesReadAhead* readAhead_;                    // or null
  std::vector<ClassFile> jobs_;                             // one per member, same order
  std::vector<DigestedEntry> byDigests_;                    // the readable members read ahead
  ReadBufferPool buffers_;                                  // shared by the classes of one search
  std::vector<std::pair<std::size_t, std::size_t>> known_;  // part, entry number
  std::vector<std::size_t> order_;                          // entry numbers, equals together
};

// The classes still to be read, each one's entry numbers together and in catalogue order, the
// classes in the catalogue order of their first members. Built in one pass along the entries:
// following each class's chain instead would jump across the whole catalogue at every link.
class UndecidedClasses {
 public:
  explicit UndecidedClasses(const std::vector<SearchEntry>& entries) {
    std::vector<std::size_t> classOf(entries.size(), kNoEntry);
    std::vector<std::size_t> sizes;
    for (std::size_t index = 0; index < entries.size(); ++index) {
      const SearchEntry& entry = entries[index];
      if (entry.role != SearchRole::Undecided) {
        continue;
      }
      if (entry.firstOfClass) {
        classOf[index] = sizes.size();
        sizes.push_back(0);
      }
      const std::size_t number = classOf[index];
      if (number == kNoEntry) {
        continue;  // on no class's chain
      }
      ++sizes[number];
      if (entry.classNext != kNoEntry) {
        classOf[entry.classNext] = number;  // chains run forward in catalogue order
      }
    }
    starts_.reserve(sizes.size() + 1);
    starts_.push_back(0);
    for (std::size_t size : sizes) {
      starts_.push_back(starts_.back() + size);
    }
    members_.resize(starts_.back());
    std::vector<std::size_t> filled(starts_.begin(), starts_.end() - 1);
    for (std::size_t index = 0; index < entries.size(); ++index) {
      if (classOf[index] != kNoEntry) {
        members_[filled[classOf[index]]++] = index;
      }
    }
  }

  std::size_t Count() const { return starts_.size() - 1; }
  std::span<const std::size_t> Members(std::size_t number) const {
    return std::span(members_).subspan(starts_[number], starts_[number + 1] - starts_[number]);
  }
  std::size_t First(std::size_t number) const { return members_[starts_[number]]; }

 private:
  std::vector<std::size_t> members_;  // entry numbers, class after class
  std::vector<std::size_t> starts_;   // where each class starts in members_, and the end
};

// The file-progress values one class's reading reported, kept until the search comes to the
// class and tells them in order: the bar then moves as if the class were read right there.
class RecordedProgress {
 public:
  FileProgressSink Sink() {
    return [this](int value) {
      if (value != last_) {
        values_.push_back(static_cast<std::int8_t>(value));
        last_ = value;
      }
    };
  }
  void Replay(const FileProgressSink& sink) const {
    for (std::int8_t value : values_) {
      sink(value);
    }
  }

 private:
  std::vector<std::int8_t> values_;  // 0..100, each one differing from the one before
  int last_ = 0;                     // the bar stands at 0 when a class starts
};

// Decides the classes of a content search in catalogue order of their first records. Where
// the file services read concurrently, helper threads decide the classes ahead of the search
// while it walks the catalogue, each class by one thread and with its own buffers; the search
// takes over every class no helper has started, waits for the others, and tells their
// progress when it comes to them. Classes share no file, so the groups, their order and every
// value shown are those of reading one class after the other.
class ClassDecider {
 public:
  // `session`, where there is one, may tell how many readers are worth running.
  ClassDecider(FileServices& files, std::int32_t comparePercent, std::vector<SearchEntry>& entries,
               EngineProgress& progress, const ReadingSession* session,
               const SmallFilesReadAhead* readAhead)
      : files_(files),
        comparePercent_(comparePercent),
        entries_(entries),
        progress_(progress),
        readAhead_(readAhead),
        reader_(files, comparePercent, entries, readAhead),
        classes_(entries) {
    const std::size_t wanted = session != nullptr ? session->ReadersWorthRunning() : 0;
    const std::size_t threads = wanted > 0 ? wanted : ReaderThreadsForThisMachine();
    if (!files.ReadsConcurrently() || threads < 2 || classes_.Count() < kWorthHelping) {
      return;
    }
    states_ = std::make_unique<ClassState[]>(classes_.Count());
    for (std::size_t helper = 1; helper < threads; ++helper) {
      try {
        helpers_.emplace_back([this](const std::stop_token& stop) { Help(stop); });
      } catch (const std::system_error&) {
        break;  // no more threads to be had: the search decides the rest itself
      }
    }
  }
  ~ClassDecider() {
    for (std::jthread& helper : helpers_) {
      helper.request_stop();
    }
    helpers_.clear();  // joins: the helpers use the entries and the reading session
  }
  ClassDecider(const ClassDecider&) = delete;
  ClassDecider& operator=(const ClassDecider&) = delete;

  // Whether the entry heads the next class to be read; call for every entry in order.
  bool Heads(std::size_t index) const {
    return reached_ < classes_.Count() && classes_.First(reached_) == index;
  }

  // Decides the class the entry just told by Heads heads, telling its file progress to `sink`.
  void Decide(const FileProgressSink& sink) {
    const std::size_t number = reached_++;
    if (helpers_.empty()) {
      reader_.Decide(classes_.Members(number), sink);
      return;
    }
    WaitFor(number);
    ClassState& state = states_[number];
    if (state.failure) {
      std::rethrow_exception(state.failure);
    }
    state.progress->Replay(sink);
    state.progress.reset();
  }

 private:
  // Below this many classes to read, a helper thread costs more than it saves.
  static constexpr std::size_t kWorthHelping = 4;
  // How long the search waits for a helper between two repaints.
  static constexpr std::chrono::milliseconds kPaintInterval{50};

  struct ClassState {
    std::unique_ptr<RecordedProgress> progress;
    std::exception_ptr failure;
    bool done = false;  // guarded by doneGuard_
  };

  // Takes the next class nobody has started; false when every class has been.
  bool TakeClass(std::size_t& number) {
    std::size_t next = nextClass_.load();
    while (next < classes_.Count()) {
      if (nextClass_.compare_exchange_weak(next, next + 1)) {
        number = next;
        return true;
      }
    }
    return false;
  }

  void Help(const std::stop_token& stop) {
    ContentClassReader reader(files_, comparePercent_, entries_, readAhead_);
    std::size_t number = 0;
    while (!stop.stop_requested() && TakeClass(number)) {
      Read(reader, number);
    }
  }

  void Read(ContentClassReader& reader, std::size_t number) {
    ClassState& state = states_[number];
    try {
      state.progress = std::make_unique<RecordedProgress>();
      reader.Decide(classes_.Members(number), state.progress->Sink());
    } catch (...) {
      state.failure = std::current_exception();
    }
    {
      const std::scoped_lock lock(doneGuard_);
      state.done = true;
    }
    classDone_.notify_all();
  }

  // Until the class it needs is done, the search reads classes itself: the next one nobody
  // has started, which is the one it needs or one the helpers would come to later. Only when
  // every class has been started does it wait, repainting meanwhile.
  void WaitFor(std::size_t wanted) {
    std::size_t number = 0;
    while (!IsDone(wanted) && TakeClass(number)) {
      Read(reader_, number);
    }
    std::unique_lock lock(doneGuard_);
    while (!states_[wanted].done) {
      if (!classDone_.wait_for(lock, kPaintInterval, [&] { return states_[wanted].done; })) {
        lock.unlock();
        progress_.KeepPainting();
        lock.lock();
      }
    }
  }

  bool IsDone(std::size_t number) {
    const std::scoped_lock lock(doneGuard_);
    return states_[number].done;
  }

  FileServices& files_;
  std::int32_t comparePercent_;
  std::vector<SearchEntry>& entries_;
  EngineProgress& progress_;
  const SmallFilesReadAhead* readAhead_;  // or null
  ContentClassReader reader_;             // the search's own
  UndecidedClasses classes_;
  std::unique_ptr<ClassState[]> states_;  // one per class, same order, where helpers read
  std::size_t reached_ = 0;               // classes the search has come to
  std::atomic<std::size_t> nextClass_{0};
  std::mutex doneGuard_;
  std::condition_variable classDone_;
  std::vector<std::jthread> helpers_;  // last: they stop before the rest goes
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

// The plan of a content search: the entries still undecided, each handed out as a view of its
// record when asked for.
class UndecidedEntries final : public ReadingPlan {
 public:
  UndecidedEntries(const std::vector<SearchEntry>& entries, std::int32_t comparePercent,
                   std::uint32_t folderNumbers)
      : entries_(entries), comparePercent_(comparePercent), folderNumbers_(folderNumbers) {
    undecided_.reserve(entries.size());
    for (std::size_t index = 0; index < entries.size(); ++index) {
      if (entries[index].role == SearchRole::Undecided) {
        undecided_.push_back(index);
      }
    }
  }

  std::size_t Count() const override { return undecided_.size(); }
  PlannedRead At(std::size_t number) const override {
    const SearchEntry& entry = entries_[undecided_[number]];
    const FileRecord& record = *entry.record;
    return PlannedRead{
        .location = LocationOf(entry),
        .identity = record.identity,
        .startBytes = std::min(ComparedLength(record.size, comparePercent_), kPlannedStart)};
  }

  std::uint32_t FolderNumbers() const override { return folderNumbers_; }

 private:
  const std::vector<SearchEntry>& entries_;
  std::int32_t comparePercent_;
  std::uint32_t folderNumbers_;
  std::vector<std::size_t> undecided_;  // entry numbers
};

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
      files.StartReading(UndecidedEntries(entries, request.comparePercent, NumberFolders(entries)));
  FileProgress fileProgress(progress);
  const FileProgressSink fileProgressSink = fileProgress.Sink();
  std::optional<SmallFilesReadAhead> readAhead;
  if (reading != nullptr && reading->PlanInMemory()) {
    readAhead.emplace(files, entries, request.comparePercent, progress);
  }
  ClassDecider classes(files, request.comparePercent, entries, progress, reading.get(),
                       readAhead ? &*readAhead : nullptr);
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
      if (classes.Heads(index)) {
        classes.Decide(fileProgressSink);
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
