#include "catalogue/content_comparison.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <span>

#include "catalogue/chunk_reader.h"
#include "common/md5.h"

namespace kopiensieb {
namespace {

// Whether two chunks have equal MD5 digests. Equal bytes have equal digests, so only chunks
// that differ need hashing: a pair of equal files costs no hashing at all.
bool SameDigest(std::span<const char> first, std::span<const char> second) {
  if (std::ranges::equal(first, second)) {
    return true;
  }
  return Md5Of(first) == Md5Of(second);
}

void Report(const FileProgressSink& progress, int value) {
  if (progress) {
    progress(value);
  }
}

}  // namespace

std::int64_t ComparedLength(std::int64_t size, std::int32_t percent) {
  if (percent <= 0 || percent > 100) {
    return size;
  }
  // Exact without forming the product, which could overflow for the largest sizes.
  return size / 100 * percent + size % 100 * percent / 100;
}

int ProgressPercent(std::int64_t position, std::int64_t length) {
  if (length <= 0 || position >= length) {
    return 100;
  }
  if (position <= std::numeric_limits<std::int64_t>::max() / 100) {
    return static_cast<int>(position * 100 / length);
  }
  // Only for lengths near the 64-bit limit; position < length keeps this below 100.
  return static_cast<int>(position / (length / 100 + 1));
}

int CompareFileContents(FileServices& files, const std::string& firstPath,
                        const std::string& secondPath, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress) {
  return CompareFileContents(files, CataloguedPath{.path = firstPath, .identity = {}},
                             CataloguedPath{.path = secondPath, .identity = {}}, size, percent,
                             progress);
}

namespace {

// The chunk-wise comparison of two files, each opened by `open(0)` and `open(1)`.
template <typename OpenFile>
int CompareOpened(std::int64_t size, std::int32_t percent, const FileProgressSink& progress,
                  const OpenFile& open) {
  if (size < 0) {
    return 0;
  }
  const std::int64_t length = ComparedLength(size, percent);
  std::unique_ptr<ChunkReader> first = open(0, length);
  if (!first) {
    return 0;
  }
  std::unique_ptr<ChunkReader> second = open(1, length);
  if (!second) {
    return 0;
  }
  if (length == 0) {
    // Nothing to compare: the compared parts are equal, and the file is done.
    Report(progress, 100);
    return 1;
  }
  int result = 1;
  for (;;) {
    std::span<const char> firstChunk;
    std::span<const char> secondChunk;
    if (!first->NextChunkBytes(firstChunk) || !second->NextChunkBytes(secondChunk) ||
        !SameDigest(firstChunk, secondChunk)) {
      result = 0;
    }
    Report(progress, ProgressPercent(second->Position(), length));
    if (result == 0 || second->AtEnd()) {
      break;
    }
  }
  // The second file closes first, so a file-services log shows the opens and closes nested.
  second.reset();
  first.reset();
  return result;
}

}  // namespace

int CompareFileContents(FileServices& files, const CataloguedPath& firstFile,
                        const CataloguedPath& secondFile, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress) {
  return CompareOpened(size, percent, progress, [&](int which, std::int64_t length) {
    const CataloguedPath& file = which == 0 ? firstFile : secondFile;
    return ChunkReader::Open(files, file.path, size, length, kLargestReadAhead, {}, file.identity);
  });
}

int CompareFileContents(FileServices& files, const CataloguedFile& firstFile,
                        const CataloguedFile& secondFile, std::int64_t size, std::int32_t percent,
                        const FileProgressSink& progress) {
  return CompareOpened(size, percent, progress, [&](int which, std::int64_t length) {
    const CataloguedFile& file = which == 0 ? firstFile : secondFile;
    return ChunkReader::Open(files, file.location, size, length, kLargestReadAhead, {},
                             file.identity);
  });
}

}  // namespace kopiensieb
