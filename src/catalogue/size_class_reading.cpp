#include "catalogue/size_class_reading.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

#include "catalogue/chunk_reader.h"
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

  // Parts are named after their first job, so that sets read side by side never give two
  // parts the same number.
  void MakePart(std::span<const std::size_t> members) {
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
  bool hashed = false;          // `digest` holds the current chunk's digest
  Md5Digest digest{};

  const Md5Digest& Digest() {
    if (!hashed) {
      digest = Md5Of(chunk);
      hashed = true;
    }
    return digest;
  }
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
    std::vector<std::size_t> all(players_.size());
    for (std::size_t at = 0; at < all.size(); ++at) {
      all[at] = at;
    }
    parts_.push_back(std::move(all));
    KeepPartsOfSeveral();
    while (!parts_.empty()) {
      const std::int64_t position = players_[parts_.front().front()].reader->Position();
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
  void ReadNextChunks() {
    for (std::vector<std::size_t>& part : parts_) {
      std::erase_if(part, [this](std::size_t at) {
        Player& player = players_[at];
        player.hashed = false;
        if (player.reader->NextChunkBytes(player.chunk)) {
          return false;
        }
        // Shrunk or failed since it was opened: equal to nothing.
        reading_.jobs[player.job].state = ClassFileState::Unreadable;
        reading_.buffers.Release(player.reader);
        return true;
      });
    }
  }

  void SplitParts() {
    next_.clear();
    for (const std::vector<std::size_t>& part : parts_) {
      const std::size_t firstOfPart = next_.size();
      for (std::size_t at : part) {
        Place(at, firstOfPart);
      }
    }
    std::swap(parts_, next_);
  }

  // Puts a player into the sub-part (among those from firstOfPart on) whose first member's
  // chunk has the same digest as its own, or into a new one. Equal bytes need no hashing.
  void Place(std::size_t at, std::size_t firstOfPart) {
    Player& player = players_[at];
    for (std::size_t sub = firstOfPart; sub < next_.size(); ++sub) {
      const Player& leader = players_[next_[sub].front()];
      if (std::memcmp(leader.chunk.data(), player.chunk.data(), player.chunk.size()) == 0) {
        next_[sub].push_back(at);
        return;
      }
    }
    for (std::size_t sub = firstOfPart; sub < next_.size(); ++sub) {
      if (players_[next_[sub].front()].Digest() == player.Digest()) {
        next_[sub].push_back(at);
        return;
      }
    }
    next_.push_back({at});
  }

  // A file alone in its part equals nothing: it is not read any further.
  void KeepPartsOfSeveral() {
    std::erase_if(parts_, [this](const std::vector<std::size_t>& part) {
      if (part.size() >= 2) {
        return false;
      }
      for (std::size_t at : part) {
        reading_.jobs[players_[at].job].state = ClassFileState::Distinct;
        reading_.buffers.Release(players_[at].reader);
      }
      return true;
    });
  }

  void FinishParts() {
    std::vector<std::size_t> members;
    for (const std::vector<std::size_t>& part : parts_) {
      members.clear();
      for (std::size_t at : part) {
        members.push_back(players_[at].job);
        reading_.buffers.Release(players_[at].reader);
      }
      reading_.MakePart(members);
    }
    parts_.clear();
  }

  ClassReading& reading_;
  std::vector<Player>& players_;
  std::vector<std::vector<std::size_t>> parts_;  // indexes into players_
  std::vector<std::vector<std::size_t>> next_;
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

// Stage 1 of a large class for one file: the digest of its first chunk, the file closed
// again. Touches nothing but the job, so that several files can be read at once. Hands the
// read buffer back for the next file.
ReadBuffer DigestFirstChunk(ClassReading& reading, std::size_t job, ReadBuffer buffer) {
  ClassFile& target = reading.jobs[job];
  std::unique_ptr<ChunkReader> reader = reading.Open(job, kChunkSize, std::move(buffer));
  std::span<const char> chunk;
  if (!reader || !reader->NextChunkBytes(chunk)) {
    target.state = ClassFileState::Unreadable;
  } else {
    target.firstChunk = Md5Of(chunk);
  }
  return reader ? reader->TakeBuffer() : ReadBuffer{};
}

// Below this many files a class is not worth starting threads for.
constexpr std::size_t kWorthReadingSideBySide = 64;
// Files a reader thread takes at a time: few enough to share the work out evenly, enough that
// the threads rarely meet at the counter.
constexpr std::size_t kFilesPerTake = 16;

void DigestFirstChunks(ClassReading& reading) {
  const std::size_t count = reading.jobs.size();
  if (!reading.WorthReadingSideBySide(count, kWorthReadingSideBySide)) {
    for (std::size_t job = 0; job < count; ++job) {
      reading.buffers.Give(DigestFirstChunk(reading, job, reading.buffers.Take()));
      if (reading.jobs[job].state == ClassFileState::Unread) {
        Report(reading.progress, std::min(kChunkSize, reading.length), reading.length);
      }
    }
    return;
  }
  std::atomic<std::size_t> nextTake{0};
  RunOnThreads(reading.limits.readerThreads, [&reading, &nextTake, count] {
    ReadBuffer buffer;
    for (std::size_t first = nextTake.fetch_add(kFilesPerTake); first < count;
         first = nextTake.fetch_add(kFilesPerTake)) {
      for (std::size_t job = first; job < std::min(first + kFilesPerTake, count); ++job) {
        buffer = DigestFirstChunk(reading, job, std::move(buffer));
      }
    }
  });
  // The progress bar is the main thread's; every file read stood at the same place.
  if (std::any_of(reading.jobs.begin(), reading.jobs.end(),
                  [](const ClassFile& job) { return job.state == ClassFileState::Unread; })) {
    Report(reading.progress, std::min(kChunkSize, reading.length), reading.length);
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

// A class too large to hold open: stage 1 digests every file's first chunk; only files whose
// first chunk meets another's are read further.
void ReadLargeClass(ClassReading& reading) {
  DigestFirstChunks(reading);
  std::vector<std::size_t> pending;
  for (std::size_t job = 0; job < reading.jobs.size(); ++job) {
    if (reading.jobs[job].state == ClassFileState::Unread) {
      pending.push_back(job);
    }
  }
  // Sorted by digest and then by job, so that each set's files stay in job order.
  const std::span<ClassFile> jobs = reading.jobs;
  std::sort(pending.begin(), pending.end(), [&jobs](std::size_t left, std::size_t right) {
    return std::tie(jobs[left].firstChunk, left) < std::tie(jobs[right].firstChunk, right);
  });
  std::vector<std::span<const std::size_t>> lockstepSets;
  const auto sameFirstChunk = [&jobs, &pending](std::size_t start, std::size_t at) {
    return jobs[pending[at]].firstChunk == jobs[pending[start]].firstChunk;
  };
  ForEachRun(pending.size(), sameFirstChunk, [&](std::size_t start, std::size_t end) {
    const std::span<const std::size_t> set(pending.data() + start, end - start);
    if (set.size() == 1) {
      jobs[set.front()].state = ClassFileState::Distinct;
    } else if (reading.length <= kChunkSize) {
      reading.MakePart(set);  // the first chunk was all there is to compare
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
