#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "catalogue/chunk_reader.h"
#include "catalogue/content_comparison.h"
#include "common/md5.h"
#include "common/parallel.h"
#include "platform/file_services.h"

namespace kopiensieb {

// What reading told of one file of a size class.
enum class ClassFileState : std::uint8_t {
  Unread,      // not read yet
  Unreadable,  // could not be opened, changed its size, or read short: equal to nothing
  Distinct,    // some chunk of it differs from that chunk of every other readable file
  Known        // it equals exactly the other Known files of the same `part`
};

struct ClassFile {
  FileLocation location;    // views of the catalogue record
  FileIdentity identity{};  // as catalogued; where known, another file at `path` is Unreadable
  ClassFileState state = ClassFileState::Unread;
  Md5Digest firstChunk{};  // the digest of its first chunk, where it had to be worked out
  // The digests of its further chunks folded into one, where the first pass read it whole.
  Md5Digest furtherChunks{};
  // Known: two files share a part number exactly when CompareFileContents would call them
  // equal. Part numbers are unique within one call only.
  std::size_t part = 0;
};

// A compared length up to which a file is read whole at its first open: a page, which costs
// what reading one chunk does.
inline constexpr std::int64_t kReadWholeUpTo = 4 * kChunkSize;

// How much a size class may hold at once while it is read.
struct ReadingLimits {
  // Files open at the same time. A class of at most this many is read in lockstep from its
  // first chunk on; a larger one is first sorted by first-chunk digests, one file at a time.
  std::size_t openFiles = 256;
  // Read-ahead shared by the files read in lockstep; each file gets between the two bounds.
  std::int64_t readAheadBudget = std::int64_t{16} << 20;
  std::int64_t smallestReadAhead = std::int64_t{64} << 10;
  std::int64_t largestReadAhead = std::int64_t{256} << 10;
  // Threads that read the first chunks of a large class side by side, where the file services
  // allow it. Most of that work is the kernel's (open, read, close of small files).
  std::size_t readerThreads = ReaderThreadsForThisMachine();
};

// Sorts the files of one size class (`jobs` in catalogue order) into parts of equal content,
// reading each file at most once and each byte at most once. The files that may still be
// equal are read chunk by chunk in lockstep; a part splits where a file's chunk has another
// MD5 digest than its fellows' (equal bytes are taken as equal digests without hashing), and
// a file left alone in its part is not read any further. So files that differ early are
// never read whole. Where more files than limits.openFiles share their first chunk, their
// chunk digests are folded into one fingerprint per file instead. A class larger than
// limits.openFiles whose compared length is at most a page is read whole, one file at a time,
// and each file is opened once. `progress` receives
// position * 100 / compared length of the reading.
void ReadSizeClass(FileServices& files, std::span<ClassFile> jobs, std::int64_t size,
                   std::int32_t percent, const FileProgressSink& progress,
                   const ReadingLimits& limits = {});
// The same, taking its read buffers from `buffers` and giving them back there, so that a
// search over many classes reuses the same memory.
void ReadSizeClass(FileServices& files, std::span<ClassFile> jobs, std::int64_t size,
                   std::int32_t percent, const FileProgressSink& progress, ReadBufferPool& buffers,
                   const ReadingLimits& limits = {});

// A file of up to kReadWholeUpTo compared bytes, to be read whole ahead of its class.
struct SmallFile {
  FileLocation location;
  FileIdentity identity{};
  std::int64_t size = 0;    // as catalogued
  std::int64_t length = 0;  // the compared length, 1..kReadWholeUpTo
};

// What reading a small file whole told: the digest of its first chunk and the fold of its
// further chunks' digests, where it could be read.
struct SmallFileDigest {
  Md5Digest firstChunk{};
  Md5Digest furtherChunks{};
  bool read = false;  // false: it could not be opened, changed its size, or read short
};

// Reads `count` small files whole, one file open at a time per thread and in the order given
// (the catalogue's, where the file system keeps its files' data and records close together),
// on up to `threads` threads; fileAt(i) tells the i-th file and results[i] receives what it
// told. betweenTakes runs on the calling thread every few files (so the windows can repaint).
void DigestSmallFiles(FileServices& files, std::size_t count,
                      const std::function<SmallFile(std::size_t)>& fileAt,
                      std::span<SmallFileDigest> results, std::size_t threads,
                      const std::function<void()>& betweenTakes);

}  // namespace kopiensieb
