#include "catalogue/size_class_reading.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <compare>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/chunk_reader.h"
#include "common/gather_equal_keys.h"
#include "common/runs.h"

namespace kopiensieb {
namespace {

void Report(const FileProgressSink& progress, std::int64_t position, std::int64_t length) {
  if (progress) {
    progress(ProgressPercent(position, length));
  }
}

// Everything one call works with.
struct ClassReading {
  FileServices& files;
  std::span<ClassFile> jobs;
  std::int64_t size = 0;
  std::int64_t length = 0;
  const FileProgressSink& progress;
  const ReadingLimits& limits;
  ReadBufferPool& buffers;

  std::unique_ptr<ChunkReader> Open(std::size_t job, std::int64_t largestReadAhead) {
    return Open(job, largestReadAhead, buffers.Take());
  }
  // The same with a buffer of the caller's, for threads that must not share `buffers`.
  std::unique_ptr<ChunkReader> Open(std::size_t job, std::int64_t largestReadAhead,
                                    ReadBuffer buffer) const {
    return ChunkReader::Open(files, jobs[job].location, size, length, largestReadAhead,
                             std::move(buffer), jobs[job].identity);
  }

  // Whether `count` files or sets are worth reading on several threads, and may be.
  bool WorthReadingSideBySide(std::size_t count, std::size_t atLeast) const {
    return files.ReadsConcurrently() && limits.readerThreads > 1 && count >= atLeast;
  }

  // The jobs `members` equal each other: one part, named after its first job, so that sets read
  // side by side never give two parts the same number.
  void MakePart(std::span<const std::size_t> members) const {
    const std::size_t part = *std::min_element(members.begin(), members.end());
    for (std::size_t job : members) {
      jobs[job].state = ClassFileState::Known;
      jobs[job].part = part;
    }
  }
};

// One file being read in lockstep with the others that may still equal it.
struct Player {
  Player(std::size_t job, std::unique_ptr<ChunkReader> reader)
      : job(job), reader(std::move(reader)) {}

  std::size_t job = 0;
  std::unique_ptr<ChunkReader> reader;
  std::span<const char> chunk;  // the bytes of the current chunk
  std::size_t bucket = 0;       // the sub-part its chunk's bytes put it into (SplitParts)
};

// The read-ahead each of `count` files read at once may use.
std::int64_t ReadAheadFor(const ReadingLimits& limits, std::size_t count) {
  const std::int64_t share =
      limits.readAheadBudget / static_cast<std::int64_t>(std::max<std::size_t>(count, 1));
  return std::clamp(share, limits.smallestReadAhead,
                    std::max(limits.smallestReadAhead, limits.largestReadAhead));
}

// Reads the players chunk by chunk, all at the same position, and splits their parts until
// each part is either a single file (Distinct) or has been read to the compared length
// (Known). Two files stay together exactly while every chunk pair so far has equal digests;
// digest equality is an equivalence, so splitting part by part finds exactly the classes a
// pairwise comparison would. Players start as one part and in job order.
class LockstepRefinement {
 public:
  LockstepRefinement(ClassReading& reading, std::vector<Player>& players)
      : reading_(reading), players_(players) {}

  void Run() {
    members_.resize(players_.size());
    for (std::size_t at = 0; at < members_.size(); ++at) {
      members_[at] = at;
    }
    starts_ = {0, members_.size()};
    KeepPartsOfSeveral();
    while (PartCount() > 0) {
      const std::int64_t position = players_[members_.front()].reader->Position();
      if (position >= reading_.length) {
        FinishParts();
        return;
      }
      ReadNextChunks();
      Report(reading_.progress, std::min(position + kChunkSize, reading_.length), reading_.length);
      SplitParts();
      KeepPartsOfSeveral();
    }
  }

 private:
  // The parts are runs of members_, part `number` from starts_[number] to starts_[number + 1]:
  // flat, so that splitting them round after round allocates nothing once the first round has.
  std::size_t PartCount() const { return starts_.size() - 1; }
  std::span<const std::size_t> Part(std::size_t number) const {
    return std::span(members_).subspan(starts_[number], starts_[number + 1] - starts_[number]);
  }

  // Keeps, in order, the members for which keep(player) holds, and the parts' bounds with them.
  template <typename Keep>
  void KeepMembers(Keep&& keep) {
    std::size_t kept = 0;
    for (std::size_t number = 0; number < PartCount(); ++number) {
      const std::size_t begin = starts_[number];
      const std::size_t end = starts_[number + 1];
      starts_[number] = kept;
      for (std::size_t at = begin; at < end; ++at) {
        if (keep(members_[at])) {
          members_[kept++] = members_[at];
        }
      }
    }
    starts_.back() = kept;
    members_.resize(kept);
  }

  void ReadNextChunks() {
    KeepMembers([this](std::size_t at) {
      Player& player = players_[at];
      if (player.reader->NextChunkBytes(player.chunk)) {
        return true;
      }
      // Shrunk or failed since it was opened: equal to nothing.
      reading_.jobs[player.job].state = ClassFileState::Unreadable;
      reading_.buffers.Release(player.reader);
      return false;
    });
  }

  // Each part splits into sub-parts of equal chunk digests, in the order of their first
  // members, each in player order. Equal bytes need no hashing: players are first put into
  // buckets of equal bytes, and only where a part has several buckets are the buckets'
  // leaders hashed, all of them in one call, and buckets of equal digests merged.
  void SplitParts() {
    leaders_.clear();
    leaderPrefixes_.clear();
    bucketSizes_.clear();
    partEnds_.clear();
    for (std::size_t number = 0; number < PartCount(); ++number) {
      const std::size_t firstOfPart = leaders_.size();
      for (std::size_t at : Part(number)) {
        PutIntoBucket(at, firstOfPart);
      }
      partEnds_.push_back(leaders_.size());
    }
    if (HashBucketLeaders()) {
      MergeBucketsOfEqualDigests();
    }
    MakeBucketsTheParts();
  }

  // The first bytes of a chunk as one number: chunks that differ mostly differ there, so
  // comparing these spares most byte comparisons.
  static std::uint64_t PrefixOf(std::span<const char> chunk) {
    std::uint64_t prefix = 0;
    std::memcpy(&prefix, chunk.data(), std::min(chunk.size(), sizeof prefix));
    return prefix;
  }

  // Into the bucket (among those from firstOfPart on) whose leader's chunk has the same bytes,
  // or into a new one.
  void PutIntoBucket(std::size_t at, std::size_t firstOfPart) {
    Player& player = players_[at];
    const std::uint64_t prefix = PrefixOf(player.chunk);
    for (std::size_t bucket = firstOfPart; bucket < leaders_.size(); ++bucket) {
      if (leaderPrefixes_[bucket] != prefix) {
        continue;
      }
      const Player& leader = players_[leaders_[bucket]];
      if (std::memcmp(leader.chunk.data(), player.chunk.data(), player.chunk.size()) == 0) {
        ++bucketSizes_[bucket];
        player.bucket = bucket;
        return;
      }
    }
    player.bucket = leaders_.size();
    leaders_.push_back(at);
    leaderPrefixes_.push_back(prefix);
    bucketSizes_.push_back(1);
  }

  // The digests of the leaders of every bucket that shares its part with another, in
  // `leaderDigests_` by bucket; false when no part has more than one bucket.
  bool HashBucketLeaders() {
    leaderChunks_.clear();
    hashedBuckets_.clear();
    std::size_t firstOfPart = 0;
    for (std::size_t end : partEnds_) {
      if (end - firstOfPart > 1) {
        for (std::size_t bucket = firstOfPart; bucket < end; ++bucket) {
          leaderChunks_.push_back(players_[leaders_[bucket]].chunk);
          hashedBuckets_.push_back(bucket);
        }
      }
      firstOfPart = end;
    }
    if (hashedBuckets_.empty()) {
      return false;
    }
    hashedDigests_.resize(hashedBuckets_.size());
    Md5OfEach(leaderChunks_, hashedDigests_);
    leaderDigests_.resize(leaders_.size());
    for (std::size_t at = 0; at < hashedBuckets_.size(); ++at) {
      leaderDigests_[hashedBuckets_[at]] = hashedDigests_[at];
    }
    return true;
  }

  // Buckets of one part whose chunks differ in their bytes but not in their digests are one
  // sub-part (digests that meet without equal bytes are rare, so this is seldom more than a
  // look): their players move into the earliest of them, which keeps player order there, and
  // the emptied buckets are passed over.
  void MergeBucketsOfEqualDigests() {
    std::size_t firstOfPart = 0;
    bool merged = false;
    mergedInto_.resize(leaders_.size());
    for (std::size_t end : partEnds_) {
      for (std::size_t bucket = firstOfPart; bucket < end; ++bucket) {
        mergedInto_[bucket] = bucket;
        for (std::size_t earlier = firstOfPart; earlier < bucket; ++earlier) {
          if (mergedInto_[earlier] == earlier &&
              leaderDigests_[earlier] == leaderDigests_[bucket]) {
            mergedInto_[bucket] = earlier;
            merged = true;
            break;
          }
        }
      }
      firstOfPart = end;
    }
    if (!merged) {
      return;
    }
    for (std::size_t bucket = 0; bucket < leaders_.size(); ++bucket) {
      if (mergedInto_[bucket] != bucket) {
        bucketSizes_[mergedInto_[bucket]] += bucketSizes_[bucket];
        bucketSizes_[bucket] = 0;
      }
    }
    for (std::size_t at : members_) {
      players_[at].bucket = mergedInto_[players_[at].bucket];
    }
  }

  // The buckets become the parts, in bucket order, each with its players in player order.
  void MakeBucketsTheParts() {
    bucketStarts_.resize(bucketSizes_.size());
    starts_.clear();
    std::size_t start = 0;
    for (std::size_t bucket = 0; bucket < bucketSizes_.size(); ++bucket) {
      bucketStarts_[bucket] = start;
      if (bucketSizes_[bucket] > 0) {
        starts_.push_back(start);
        start += bucketSizes_[bucket];
      }
    }
    starts_.push_back(start);
    nextMembers_.resize(members_.size());
    for (std::size_t at : members_) {
      nextMembers_[bucketStarts_[players_[at].bucket]++] = at;
    }
    std::swap(members_, nextMembers_);
  }

  // A file alone in its part equals nothing: it is not read any further.
  void KeepPartsOfSeveral() {
    std::size_t kept = 0;
    std::size_t written = 0;
    for (std::size_t number = 0; number < PartCount(); ++number) {
      const std::size_t begin = starts_[number];
      const std::size_t end = starts_[number + 1];
      if (end - begin < 2) {
        for (std::size_t at = begin; at < end; ++at) {
          reading_.jobs[players_[members_[at]].job].state = ClassFileState::Distinct;
          reading_.buffers.Release(players_[members_[at]].reader);
        }
        continue;
      }
      starts_[kept++] = written;
      written = std::copy(members_.begin() + static_cast<std::ptrdiff_t>(begin),
                          members_.begin() + static_cast<std::ptrdiff_t>(end),
                          members_.begin() + static_cast<std::ptrdiff_t>(written)) -
                members_.begin();
    }
    starts_.resize(kept);
    starts_.push_back(written);
    members_.resize(written);
  }

  void FinishParts() {
    std::vector<std::size_t> jobs;
    for (std::size_t number = 0; number < PartCount(); ++number) {
      jobs.clear();
      for (std::size_t at : Part(number)) {
        jobs.push_back(players_[at].job);
        reading_.buffers.Release(players_[at].reader);
      }
      reading_.MakePart(jobs);
    }
    members_.clear();
    starts_ = {0};
  }

  ClassReading& reading_;
  std::vector<Player>& players_;
  std::vector<std::size_t> members_;      // indexes into players_, part after part
  std::vector<std::size_t> starts_;       // where each part starts in members_, and the end
  std::vector<std::size_t> nextMembers_;  // the members of the next round's parts
  // The buckets of one round, numbered part after part.
  std::vector<std::size_t> leaders_;  // the player whose chunk stands for the bucket
  std::vector<std::uint64_t> leaderPrefixes_;
  std::vector<std::size_t> bucketSizes_;
  std::vector<std::size_t> bucketStarts_;  // where each bucket goes in nextMembers_
  std::vector<std::size_t> partEnds_;      // where each part's buckets end
  std::vector<std::span<const char>> leaderChunks_;
  std::vector<std::size_t> hashedBuckets_;
  std::vector<Md5Digest> hashedDigests_;
  std::vector<Md5Digest> leaderDigests_;  // by bucket, where hashed
  std::vector<std::size_t> mergedInto_;   // by bucket
};

// A class small enough to hold open whole: every file is opened once and read in lockstep
// from its first chunk on.
void ReadWholeClassInLockstep(ClassReading& reading) {
  const std::int64_t readAhead = ReadAheadFor(reading.limits, reading.jobs.size());
  std::vector<Player> players;
  players.reserve(reading.jobs.size());
  for (std::size_t job = 0; job < reading.jobs.size(); ++job) {
    std::unique_ptr<ChunkReader> reader = reading.Open(job, readAhead);
    if (!reader) {
      reading.jobs[job].state = ClassFileState::Unreadable;
      continue;
    }
    players.emplace_back(job, std::move(reader));
  }
  LockstepRefinement(reading, players).Run();
}

// Below this many files a class is not worth starting threads for.
constexpr std::size_t kWorthReadingSideBySide = 64;
// Files whose first chunks are read before they are hashed together: as many as the widest
// vector lanes hash at once.
constexpr std::size_t kFilesPerTake = 16;

// Hands the files [0, count) out to reader threads in runs of whole takes, each run the larger
// the more files are left: threads that read neighbouring files of one folder at the same time
// meet in the kernel (at the folder, at the descriptor table), while the small runs at the end
// let the threads finish together.
class TakeRuns {
 public:
  TakeRuns(std::size_t count, std::size_t threads)
      : count_(count), threads_(std::max<std::size_t>(threads, 1)) {}

  // The next run [first, end); false when every file has been handed out.
  bool Next(std::size_t& first, std::size_t& end) {
    std::size_t at = next_.load();
    while (at < count_) {
      const std::size_t shareOfRest = (count_ - at) / (kRunsPerThreadOfTheRest * threads_);
      const std::size_t run =
          std::clamp(shareOfRest / kFilesPerTake * kFilesPerTake, kFilesPerTake, kLargestRun);
      if (next_.compare_exchange_weak(at, at + run)) {
        first = at;
        end = std::min(at + run, count_);
        return true;
      }
    }
    return false;
  }

 private:
  static constexpr std::size_t kRunsPerThreadOfTheRest = 4;
  static constexpr std::size_t kLargestRun = 64 * kFilesPerTake;

  std::atomic<std::size_t> next_{0};
  std::size_t count_;
  std::size_t threads_;
};

// The bytes of each file that stage 1 reads: all of a file of up to a page (reading a page
// costs what reading one chunk does, and the files that share their first chunk then need no
// second open), else its first chunk.
std::int64_t StageOneReach(std::int64_t length) {
  return length <= kReadWholeUpTo ? length : kChunkSize;
}
std::int64_t StageOneReach(const ClassReading& reading) {
  return StageOneReach(reading.length);
}

constexpr std::size_t kChunksReadWhole = static_cast<std::size_t>(kReadWholeUpTo / kChunkSize);

// A buffer for each file of a take: its chunks stay there until the take is hashed.
using TakeBuffers = std::array<ReadBuffer, kFilesPerTake>;

// One take of stage 1, at most kFilesPerTake files (`take`, catalogued with `sizes`, compared
// over `lengths`): each is opened, its first chunk read (or all of it, up to kReadWholeUpTo),
// and closed again before the next is opened; then the chunks of the take are hashed in one
// call. A file read whole gets the fold of its further chunks' digests too; a file that could
// not be read is Unreadable. Touches nothing but the take, so that several takes can be read
// at once.
void DigestTake(FileServices& files, std::span<ClassFile> take, std::span<const std::int64_t> sizes,
                std::span<const std::int64_t> lengths, TakeBuffers& buffers) {
  std::array<std::span<const char>, kFilesPerTake * kChunksReadWhole> chunks;
  std::array<std::size_t, kFilesPerTake> readFiles{};
  std::array<std::size_t, kFilesPerTake + 1> chunkStarts{};  // where each read file's chunks start
  std::size_t read = 0;
  std::size_t chunkCount = 0;
  for (std::size_t at = 0; at < take.size(); ++at) {
    ClassFile& file = take[at];
    const std::int64_t reach = StageOneReach(lengths[at]);
    std::unique_ptr<ChunkReader> reader = ChunkReader::Open(
        files, file.location, sizes[at], lengths[at], reach, std::move(buffers[at]), file.identity);
    const std::size_t firstChunk = chunkCount;
    bool complete = reader != nullptr;
    if (reader) {
      reader->ReadAheadAtOnce(reach);
      do {
        complete = reader->NextChunkBytes(chunks[chunkCount]);
        chunkCount += complete ? 1 : 0;
      } while (complete && reader->Position() < reach);
      buffers[at] = reader->TakeBuffer();  // the chunks' bytes move along; the file is closed
    }
    if (!complete) {
      file.state = ClassFileState::Unreadable;
      chunkCount = firstChunk;
      continue;
    }
    readFiles[read] = at;
    chunkStarts[read] = firstChunk;
    ++read;
  }
  chunkStarts[read] = chunkCount;
  std::array<Md5Digest, kFilesPerTake * kChunksReadWhole> digests;
  Md5OfEach(std::span(chunks).first(chunkCount), std::span(digests).first(chunkCount));
  // A file read whole gets its further chunks' digests as one: the digest of their bytes in
  // a row, all files' in one call. Files compared by it have the same length, so the same
  // number of further chunks: none gives zeros and one gives itself, with no hashing.
  std::array<std::span<const char>, kFilesPerTake> folds;
  std::array<std::size_t, kFilesPerTake> foldFiles{};
  std::size_t foldCount = 0;
  for (std::size_t at = 0; at < read; ++at) {
    const std::size_t index = readFiles[at];
    ClassFile& file = take[index];
    file.firstChunk = digests[chunkStarts[at]];
    const std::size_t further = chunkStarts[at + 1] - chunkStarts[at] - 1;
    if (StageOneReach(lengths[index]) != lengths[index]) {
      continue;
    }
    if (further <= 1) {
      file.furtherChunks = further == 0 ? Md5Digest{} : digests[chunkStarts[at] + 1];
      continue;
    }
    folds[foldCount] =
        std::span<const char>(reinterpret_cast<const char*>(digests[chunkStarts[at] + 1].data()),
                              further * sizeof(Md5Digest));
    foldFiles[foldCount] = index;
    ++foldCount;
  }
  std::array<Md5Digest, kFilesPerTake> folded;
  Md5OfEach(std::span(folds).first(foldCount), std::span(folded).first(foldCount));
  for (std::size_t at = 0; at < foldCount; ++at) {
    take[foldFiles[at]].furtherChunks = folded[at];
  }
}

// Stage 1 of a large class for the files [first, end), at most kFilesPerTake.
void DigestFirstChunks(ClassReading& reading, std::size_t first, std::size_t end,
                       TakeBuffers& buffers) {
  std::array<std::int64_t, kFilesPerTake> sizes;
  std::array<std::int64_t, kFilesPerTake> lengths;
  sizes.fill(reading.size);
  lengths.fill(reading.length);
  const std::size_t count = end - first;
  DigestTake(reading.files, reading.jobs.subspan(first, count), std::span(sizes).first(count),
             std::span(lengths).first(count), buffers);
}

void DigestFirstChunks(ClassReading& reading) {
  const std::size_t count = reading.jobs.size();
  if (!reading.WorthReadingSideBySide(count, kWorthReadingSideBySide)) {
    TakeBuffers buffers;
    for (ReadBuffer& buffer : buffers) {
      buffer = reading.buffers.Take();
    }
    for (std::size_t first = 0; first < count; first += kFilesPerTake) {
      const std::size_t end = std::min(first + kFilesPerTake, count);
      DigestFirstChunks(reading, first, end, buffers);
      for (std::size_t job = first; job < end; ++job) {
        if (reading.jobs[job].state == ClassFileState::Unread) {
          Report(reading.progress, StageOneReach(reading), reading.length);
        }
      }
    }
    for (ReadBuffer& buffer : buffers) {
      reading.buffers.Give(std::move(buffer));
    }
    return;
  }
  TakeRuns runs(count, reading.limits.readerThreads);
  RunOnThreads(reading.limits.readerThreads, [&reading, &runs] {
    TakeBuffers buffers;
    for (std::size_t first = 0, end = 0; runs.Next(first, end);) {
      for (std::size_t take = first; take < end; take += kFilesPerTake) {
        DigestFirstChunks(reading, take, std::min(take + kFilesPerTake, end), buffers);
      }
    }
  });
  // The progress bar is the main thread's; every file read stood at the same place.
  if (std::any_of(reading.jobs.begin(), reading.jobs.end(),
                  [](const ClassFile& job) { return job.state == ClassFileState::Unread; })) {
    Report(reading.progress, StageOneReach(reading), reading.length);
  }
}

// Files of a large class that share their first chunk, few enough to hold open: each is
// opened again behind its first chunk, and the rest is read in lockstep.
void ReadSetInLockstep(ClassReading& reading, std::span<const std::size_t> set) {
  const std::int64_t readAhead = ReadAheadFor(reading.limits, set.size());
  std::vector<Player> players;
  players.reserve(set.size());
  for (std::size_t job : set) {
    std::unique_ptr<ChunkReader> reader = reading.Open(job, readAhead);
    if (!reader || !reader->SkipChunks(1)) {
      reading.jobs[job].state = ClassFileState::Unreadable;
      reading.buffers.Release(reader);
      continue;
    }
    players.emplace_back(job, std::move(reader));
  }
  LockstepRefinement(reading, players).Run();
}

// Folds the digests of all chunks of one file (the first one known from stage 1) into one.
bool FoldBehindFirstChunk(ClassReading& reading, std::size_t job, Md5Digest& fingerprint) {
  std::unique_ptr<ChunkReader> reader = reading.Open(job, reading.limits.largestReadAhead);
  if (!reader || !reader->SkipChunks(1)) {
    reading.buffers.Release(reader);
    return false;
  }
  Md5 fold;
  fold.Update(std::span<const std::uint8_t>(reading.jobs[job].firstChunk));
  Md5Digest chunk{};
  while (!reader->AtEnd()) {
    if (!reader->NextChunk(chunk)) {
      reading.buffers.Release(reader);
      return false;
    }
    fold.Update(std::span<const std::uint8_t>(chunk));
    Report(reading.progress, reader->Position(), reading.length);
  }
  reading.buffers.Release(reader);
  fingerprint = fold.Finish();
  return true;
}

// More files share their first chunk than may be open at once: one at a time, each file's
// chunk digests folded into one fingerprint, and equal fingerprints form a part.
void ReadSetOneByOne(ClassReading& reading, std::span<const std::size_t> set) {
  std::vector<std::pair<Md5Digest, std::size_t>> known;
  for (std::size_t job : set) {
    Md5Digest fingerprint{};
    if (FoldBehindFirstChunk(reading, job, fingerprint)) {
      known.emplace_back(fingerprint, job);
    } else {
      reading.jobs[job].state = ClassFileState::Unreadable;
    }
  }
  std::sort(known.begin(), known.end());
  std::vector<std::size_t> members;
  ForEachRun(
      known.size(),
      [&known](std::size_t start, std::size_t at) { return known[at].first == known[start].first; },
      [&](std::size_t start, std::size_t end) {
        members.clear();
        for (std::size_t at = start; at < end; ++at) {
          members.push_back(known[at].second);
        }
        if (members.size() >= 2) {
          reading.MakePart(members);
        } else {
          reading.jobs[members.front()].state = ClassFileState::Distinct;
        }
      });
}

// The limits each of `threads` threads reading sets side by side may use, so that together
// they stay within `limits`: a share of the open files and of the read-ahead.
ReadingLimits ShareOf(const ReadingLimits& limits, std::size_t threads) {
  ReadingLimits share = limits;
  share.openFiles = limits.openFiles / threads;
  share.readAheadBudget = limits.readAheadBudget / static_cast<std::int64_t>(threads);
  return share;
}

// Sets of files that share their first chunk, each read in lockstep behind it. Many small
// sets (many small files of one size) are read side by side, each thread with its own
// buffers and its share of the limits; sets too large for a share are read afterwards on
// this thread alone. Side by side, the progress bar shows only where the sets ended.
void ReadSetsInLockstep(ClassReading& reading, std::span<const std::span<const std::size_t>> sets) {
  const std::size_t threads = reading.limits.readerThreads;
  const ReadingLimits share = ShareOf(reading.limits, std::max<std::size_t>(threads, 1));
  std::vector<std::span<const std::size_t>> small;
  std::vector<std::span<const std::size_t>> large;
  for (std::span<const std::size_t> set : sets) {
    (set.size() <= share.openFiles ? small : large).push_back(set);
  }
  if (!reading.WorthReadingSideBySide(small.size(), kWorthReadingSideBySide / 2)) {
    for (std::span<const std::size_t> set : sets) {
      ReadSetInLockstep(reading, set);
    }
    return;
  }
  const FileProgressSink noProgress;
  std::atomic<std::size_t> nextSet{0};
  RunOnThreads(threads, [&reading, &small, &nextSet, &noProgress, &share] {
    ReadBufferPool buffers;
    ClassReading own{.files = reading.files,
                     .jobs = reading.jobs,
                     .size = reading.size,
                     .length = reading.length,
                     .progress = noProgress,
                     .limits = share,
                     .buffers = buffers};
    for (std::size_t set = nextSet++; set < small.size(); set = nextSet++) {
      ReadSetInLockstep(own, small[set]);
    }
  });
  Report(reading.progress, reading.length, reading.length);
  for (std::span<const std::size_t> set : large) {
    ReadSetInLockstep(reading, set);
  }
}

// The jobs still Unread after stage 1 in runs of equal stage-1 digests (first chunk, and the
// fold of the further chunks where the whole file was read), each run in job order; `run` is
// called with each run. Returns the list the runs view, for callers that keep them.
template <typename Run>
std::vector<std::size_t> ForEachRunOfEqualDigests(std::span<const ClassFile> jobs, Run&& run) {
  // The digests are copied beside the jobs, so that gathering them does not reach into the
  // jobs at every step.
  struct Pending {
    std::array<std::uint64_t, 4> digests;  // the first chunk's, then the further chunks' fold
    std::size_t job;
    auto operator<=>(const Pending&) const = default;
  };
  static_assert(sizeof(Pending::digests) == 2 * sizeof(Md5Digest));
  std::vector<Pending> unread;
  for (std::size_t job = 0; job < jobs.size(); ++job) {
    const ClassFile& file = jobs[job];
    if (file.state == ClassFileState::Unread) {
      Pending& pending = unread.emplace_back(Pending{.digests = {}, .job = job});
      std::memcpy(pending.digests.data(), file.firstChunk.data(), sizeof(Md5Digest));
      std::memcpy(pending.digests.data() + 2, file.furtherChunks.data(), sizeof(Md5Digest));
    }
  }
  // MD5 digests are spread evenly already; dealt by their leading word, the runs even come in
  // digest order.
  const std::vector<std::uint32_t> order = GatherEqualKeys(
      unread, [](const Pending& pending) { return pending.digests[0]; }, std::less<>());
  std::vector<std::size_t> pending(order.size());
  for (std::size_t at = 0; at < order.size(); ++at) {
    pending[at] = unread[order[at]].job;
  }
  const auto sameDigests = [&unread, &order](std::size_t start, std::size_t at) {
    return unread[order[at]].digests == unread[order[start]].digests;
  };
  ForEachRun(pending.size(), sameDigests, [&](std::size_t start, std::size_t end) {
    run(std::span<const std::size_t>(pending.data() + start, end - start));
  });
  return pending;
}

// A class too large to hold open: stage 1 digests every file's first chunk (or all of a file
// of up to a page); only files whose first chunk meets another's are read further.
void ReadLargeClass(ClassReading& reading) {
  DigestFirstChunks(reading);
  const std::span<ClassFile> jobs = reading.jobs;
  std::vector<std::span<const std::size_t>> lockstepSets;
  // The sets view the list of runs, which is kept (moved, not copied) until they are read.
  const std::vector<std::size_t> runs =
      ForEachRunOfEqualDigests(jobs, [&](std::span<const std::size_t> set) {
        if (set.size() == 1) {
          jobs[set.front()].state = ClassFileState::Distinct;
        } else if (StageOneReach(reading) == reading.length) {
          reading.MakePart(set);  // stage 1 read all there is to compare
        } else if (set.size() <= reading.limits.openFiles) {
          lockstepSets.push_back(set);
        } else {
          ReadSetOneByOne(reading, set);
        }
      });
  ReadSetsInLockstep(reading, lockstepSets);
}

// Nothing to compare: every file that opens with its catalogued size equals every other.
void OpenEveryFile(ClassReading& reading) {
  std::vector<std::size_t> readable;
  for (std::size_t job = 0; job < reading.jobs.size(); ++job) {
    std::unique_ptr<ChunkReader> reader = reading.Open(job, kChunkSize);
    if (reader) {
      readable.push_back(job);
    } else {
      reading.jobs[job].state = ClassFileState::Unreadable;
    }
  }
  if (readable.size() >= 2) {
    reading.MakePart(readable);
  } else if (readable.size() == 1) {
    reading.jobs[readable.front()].state = ClassFileState::Distinct;
  }
}

}  // namespace

void DigestSmallFiles(FileServices& files, std::size_t count,
                      const std::function<SmallFile(std::size_t)>& fileAt,
                      std::span<SmallFileDigest> results, std::size_t threads,
                      const std::function<void()>& betweenTakes) {
  const std::thread::id caller = std::this_thread::get_id();
  const std::size_t readers = files.ReadsConcurrently() ? std::max<std::size_t>(threads, 1) : 1;
  TakeRuns runs(count, readers);
  RunOnThreads(readers, [&] {
    TakeBuffers buffers;
    std::array<ClassFile, kFilesPerTake> take;
    std::array<std::int64_t, kFilesPerTake> sizes{};
    std::array<std::int64_t, kFilesPerTake> lengths{};
    const auto digestTake = [&](std::size_t first, std::size_t taken) {
      for (std::size_t at = 0; at < taken; ++at) {
        const SmallFile file = fileAt(first + at);
        take[at] = ClassFile{.location = file.location, .identity = file.identity};
        sizes[at] = file.size;
        lengths[at] = file.length;
      }
      DigestTake(files, std::span(take).first(taken), std::span(sizes).first(taken),
                 std::span(lengths).first(taken), buffers);
      for (std::size_t at = 0; at < taken; ++at) {
        results[first + at] = SmallFileDigest{.firstChunk = take[at].firstChunk,
                                              .furtherChunks = take[at].furtherChunks,
                                              .read = take[at].state == ClassFileState::Unread};
      }
    };
    for (std::size_t first = 0, end = 0; runs.Next(first, end);) {
      for (std::size_t at = first; at < end; at += kFilesPerTake) {
        digestTake(at, std::min(kFilesPerTake, end - at));
        if (betweenTakes && std::this_thread::get_id() == caller) {
          betweenTakes();
        }
      }
    }
  });
}

void ReadSizeClass(FileServices& files, std::span<ClassFile> jobs, std::int64_t size,
                   std::int32_t percent, const FileProgressSink& progress, ReadBufferPool& buffers,
                   const ReadingLimits& limits) {
  for (ClassFile& job : jobs) {
    job.state = ClassFileState::Unread;
  }
  if (size < 0) {
    for (ClassFile& job : jobs) {
      job.state = ClassFileState::Unreadable;
    }
    return;
  }
  ClassReading reading{.files = files,
                       .jobs = jobs,
                       .size = size,
                       .length = ComparedLength(size, percent),
                       .progress = progress,
                       .limits = limits,
                       .buffers = buffers};
  if (reading.length == 0) {
    OpenEveryFile(reading);
  } else if (jobs.size() <= std::max<std::size_t>(limits.openFiles, 2)) {
    ReadWholeClassInLockstep(reading);
  } else {
    ReadLargeClass(reading);
  }
}

void ReadSizeClass(FileServices& files, std::span<ClassFile> jobs, std::int64_t size,
                   std::int32_t percent, const FileProgressSink& progress,
                   const ReadingLimits& limits) {
  ReadBufferPool buffers;
  ReadSizeClass(files, jobs, size, percent, progress, buffers, limits);
}

}  // namespace kopiensieb
