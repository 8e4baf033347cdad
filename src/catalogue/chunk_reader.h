#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "common/md5.h"
#include "platform/file_services.h"

namespace kopiensieb {

inline constexpr std::int64_t kChunkSize = 1024;
inline constexpr std::int64_t kLargestReadAhead = std::int64_t{1} << 20;

// Read-ahead memory that is not cleared when it grows: every byte handed out was read into it
// first, and zero-filling a megabyte per file costs more than comparing it.
class ReadBuffer {
 public:
  ReadBuffer() = default;
  // A buffer moved from is empty, not a size without memory.
  ReadBuffer(ReadBuffer&& other) noexcept
      : bytes_(std::move(other.bytes_)), size_(std::exchange(other.size_, 0)) {}
  ReadBuffer& operator=(ReadBuffer&& other) noexcept {
    bytes_ = std::move(other.bytes_);
    size_ = std::exchange(other.size_, 0);
    return *this;
  }

  char* Data() const { return bytes_.get(); }
  std::size_t Size() const { return size_; }
  // Room for at least `size` bytes; the first `keep` bytes stay.
  void Grow(std::size_t size, std::size_t keep);

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_ = 0;
};

// Reads a file chunk by chunk (1,024 bytes, the last one shorter) and yields the MD5 digest
// of each chunk. Reads ahead in growing blocks (starting at one chunk, doubling up to
// largestReadAhead) so that a file that differs early costs one chunk and a long file streams
// fast.
class ChunkReader {
 public:
  // Null when the file cannot be opened, is not a regular file, its size now is not
  // expectedSize, or it is not the file expectedIdentity names (where that is known: a file
  // replaced since it was catalogued is another file). length = the bytes to cover
  // (<= expectedSize). `buffer` may hand in the memory of a reader that is done (see
  // TakeBuffer), so that many readers in a row need not each allocate their own.
  static std::unique_ptr<ChunkReader> Open(FileServices& files, const std::string& path,
                                           std::int64_t expectedSize, std::int64_t length,
                                           std::int64_t largestReadAhead = kLargestReadAhead,
                                           ReadBuffer buffer = {},
                                           const FileIdentity& expectedIdentity = {});
  // The same for a catalogued file (FileServices::OpenCatalogued).
  static std::unique_ptr<ChunkReader> Open(FileServices& files, const FileLocation& location,
                                           std::int64_t expectedSize, std::int64_t length,
                                           std::int64_t largestReadAhead, ReadBuffer buffer,
                                           const FileIdentity& expectedIdentity);

  // The read buffer, for the next reader; this reader hands out no more chunks afterwards.
  ReadBuffer TakeBuffer();

  // The digest of the next chunk; false when it could not be read completely (the file
  // shrank or failed): treat as different.
  bool NextChunk(Md5Digest& digest);
  // The bytes of the next chunk instead of their digest, valid until the next call on this
  // reader; false as for NextChunk.
  bool NextChunkBytes(std::span<const char>& bytes);
  // Passes over the next `count` chunks without reading them (their digests are known from an
  // earlier pass over the file); false when the file cannot be positioned there: treat as
  // different.
  bool SkipChunks(std::int64_t count);
  // Makes the next read take up to `bytes` at once (within largestReadAhead), for a caller that
  // will read that far whatever the chunks hold.
  void ReadAheadAtOnce(std::int64_t bytes);
  std::int64_t Position() const;  // bytes covered by the chunks handed out so far
  std::int64_t Length() const;
  bool AtEnd() const;  // Position() == Length()

 private:
  static std::unique_ptr<ChunkReader> Checked(std::unique_ptr<ReadableFile> file,
                                              std::int64_t expectedSize, std::int64_t length,
                                              std::int64_t largestReadAhead, ReadBuffer buffer,
                                              const FileIdentity& expectedIdentity);
  ChunkReader(std::unique_ptr<ReadableFile> file, std::int64_t length,
              std::int64_t largestReadAhead, ReadBuffer buffer);
  // Makes at least `needed` unread bytes available; false when the file ran out first.
  bool Fill(std::int64_t needed);

  std::unique_ptr<ReadableFile> file_;
  std::int64_t length_ = 0;
  std::int64_t position_ = 0;
  std::int64_t readAhead_ = kChunkSize;
  std::int64_t largestReadAhead_ = kLargestReadAhead;
  ReadBuffer buffer_;
  std::size_t bufferStart_ = 0;  // first unread byte in buffer_
  std::size_t bufferEnd_ = 0;    // one past the last read byte in buffer_
  bool failed_ = false;
};

// Read buffers of readers that are done, handed on to the next ones, so that reading many
// files in a row does not allocate (and have the kernel clear) fresh memory for each. Keeps
// at most kKept spare buffers.
class ReadBufferPool {
 public:
  static constexpr std::size_t kKept = 256;

  ReadBuffer Take();
  // Takes the reader's buffer and closes the reader (resets the pointer).
  void Release(std::unique_ptr<ChunkReader>& reader);
  // Takes back a buffer that was taken.
  void Give(ReadBuffer buffer);

 private:
  std::vector<ReadBuffer> spare_;
};

}  // namespace kopiensieb
