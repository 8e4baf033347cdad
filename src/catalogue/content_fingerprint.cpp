#include "catalogue/content_fingerprint.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "catalogue/chunk_reader.h"

namespace kopiensieb {
namespace {

// position * 100 / length, integer division, for 0 <= position <= length.
int ProgressPercent(std::int64_t position, std::int64_t length) {
  if (length <= 0 || position >= length) {
    return 100;
  }
  if (position <= std::numeric_limits<std::int64_t>::max() / 100) {
    return static_cast<int>(position * 100 / length);
  }
  return static_cast<int>(position / (length / 100 + 1));
}

void Report(const FileProgressSink& progress, const ChunkReader& reader) {
  if (progress) {
    progress(ProgressPercent(reader.Position(), reader.Length()));
  }
}

void ReadFirstChunk(FileServices& files, FingerprintJob& job, std::int64_t size,
                    std::int64_t length, const FileProgressSink& progress) {
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, job.path, size, length);
  if (!reader) {
    job.state = FingerprintState::Unreadable;
    return;
  }
  if (length == 0) {
    // Nothing to compare: every file that opens with its size is equal to every other.
    job.state = FingerprintState::Known;
    job.fingerprint = Md5Digest{};
    return;
  }
  if (!reader->NextChunk(job.firstChunk)) {
    job.state = FingerprintState::Unreadable;
    return;
  }
  Report(progress, *reader);
  if (reader->AtEnd()) {
    job.state = FingerprintState::Known;
    job.fingerprint = job.firstChunk;
  }
}

// Folds the digests of all chunks (the first one known from stage 1) into one.
void ReadBehindFirstChunk(FileServices& files, FingerprintJob& job, std::int64_t size,
                          std::int64_t length, const FileProgressSink& progress) {
  std::unique_ptr<ChunkReader> reader = ChunkReader::Open(files, job.path, size, length);
  if (!reader || !reader->SkipChunks(1)) {
    job.state = FingerprintState::Unreadable;
    return;
  }
  Md5 fold;
  fold.Update(std::span<const std::uint8_t>(job.firstChunk));
  Md5Digest chunk{};
  while (!reader->AtEnd()) {
    if (!reader->NextChunk(chunk)) {
      job.state = FingerprintState::Unreadable;
      return;
    }
    fold.Update(std::span<const std::uint8_t>(chunk));
    Report(progress, *reader);
  }
  job.state = FingerprintState::Known;
  job.fingerprint = fold.Finish();
}

// Files still Unread after stage 1 whose first chunk no other readable file shares cannot
// equal anything; the rest need stage 2.
void SortOutDistinctFirstChunks(std::span<FingerprintJob> jobs) {
  std::vector<std::size_t> pending;
  for (std::size_t index = 0; index < jobs.size(); ++index) {
    if (jobs[index].state == FingerprintState::Unread) {
      pending.push_back(index);
    }
  }
  std::sort(pending.begin(), pending.end(), [&jobs](std::size_t left, std::size_t right) {
    return jobs[left].firstChunk < jobs[right].firstChunk;
  });
  for (std::size_t at = 0; at < pending.size(); ++at) {
    const Md5Digest& digest = jobs[pending[at]].firstChunk;
    const bool sharedBefore = at > 0 && jobs[pending[at - 1]].firstChunk == digest;
    const bool sharedAfter = at + 1 < pending.size() && jobs[pending[at + 1]].firstChunk == digest;
    if (!sharedBefore && !sharedAfter) {
      jobs[pending[at]].state = FingerprintState::Distinct;
    }
  }
}

}  // namespace

std::int64_t ComparedLength(std::int64_t size, std::int32_t percent) {
  if (percent <= 0 || percent > 100) {
    return size;
  }
  return size / 100 * percent + size % 100 * percent / 100;
}

void FingerprintSizeClass(FileServices& files, std::span<FingerprintJob> jobs, std::int64_t size,
                          std::int32_t percent, const FileProgressSink& progress) {
  if (size < 0) {
    for (FingerprintJob& job : jobs) {
      job.state = FingerprintState::Unreadable;
    }
    return;
  }
  const std::int64_t length = ComparedLength(size, percent);
  for (FingerprintJob& job : jobs) {
    ReadFirstChunk(files, job, size, length, progress);
  }
  SortOutDistinctFirstChunks(jobs);
  for (FingerprintJob& job : jobs) {
    if (job.state == FingerprintState::Unread) {
      ReadBehindFirstChunk(files, job, size, length, progress);
    }
  }
}

}  // namespace kopiensieb
