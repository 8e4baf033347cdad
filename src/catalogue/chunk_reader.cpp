#include "catalogue/chunk_reader.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace kopiensieb {

std::unique_ptr<ChunkReader> ChunkReader::Open(FileServices& files, const std::string& path,
                                               std::int64_t expectedSize, std::int64_t length,
                                               std::int64_t largestReadAhead, ReadBuffer buffer,
                                               const FileIdentity& expectedIdentity) {
  return Checked(files.OpenForReading(path), expectedSize, length, largestReadAhead,
                 std::move(buffer), expectedIdentity);
}

std::unique_ptr<ChunkReader> ChunkReader::Open(FileServices& files, const FileLocation& location,
                                               std::int64_t expectedSize, std::int64_t length,
                                               std::int64_t largestReadAhead, ReadBuffer buffer,
                                               const FileIdentity& expectedIdentity) {
  return Checked(files.OpenCatalogued(location), expectedSize, length, largestReadAhead,
                 std::move(buffer), expectedIdentity);
}

std::unique_ptr<ChunkReader> ChunkReader::Checked(std::unique_ptr<ReadableFile> file,
                                                  std::int64_t expectedSize, std::int64_t length,
                                                  std::int64_t largestReadAhead, ReadBuffer buffer,
                                                  const FileIdentity& expectedIdentity) {
  if (!file) {
    return nullptr;
  }
  // A file whose size changed since it was catalogued is not the file that was catalogued.
  std::optional<FileStatus> status = file->Status();
  if (!status || status->size != expectedSize) {
    return nullptr;
  }
  if (expectedIdentity.Known() && status->identity != expectedIdentity) {
    return nullptr;
  }
  std::int64_t covered =
      std::clamp<std::int64_t>(length, 0, std::max<std::int64_t>(expectedSize, 0));
  return std::unique_ptr<ChunkReader>(
      new ChunkReader(std::move(file), covered, largestReadAhead, std::move(buffer)));
}

ChunkReader::ChunkReader(std::unique_ptr<ReadableFile> file, std::int64_t length,
                         std::int64_t largestReadAhead, ReadBuffer buffer)
    : file_(std::move(file)),
      length_(length),
      largestReadAhead_(std::max(largestReadAhead, kChunkSize)),
      buffer_(std::move(buffer)) {}

void ReadBuffer::Grow(std::size_t size, std::size_t keep) {
  if (size <= size_) {
    return;
  }
  const std::size_t grown = std::max(size, size_ * 2);
  std::unique_ptr<char[]> fresh = std::make_unique_for_overwrite<char[]>(grown);
  if (keep > 0) {
    std::memcpy(fresh.get(), bytes_.get(), std::min(keep, size_));
  }
  bytes_ = std::move(fresh);
  size_ = grown;
}

ReadBuffer ReadBufferPool::Take() {
  if (spare_.empty()) {
    return {};
  }
  ReadBuffer buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

void ReadBufferPool::Release(std::unique_ptr<ChunkReader>& reader) {
  if (!reader) {
    return;
  }
  Give(reader->TakeBuffer());
  reader.reset();
}

void ReadBufferPool::Give(ReadBuffer buffer) {
  if (spare_.size() < kKept && buffer.Size() > 0) {
    spare_.push_back(std::move(buffer));
  }
}

ReadBuffer ChunkReader::TakeBuffer() {
  failed_ = true;
  bufferStart_ = 0;
  bufferEnd_ = 0;
  return std::move(buffer_);
}

bool ChunkReader::NextChunk(Md5Digest& digest) {
  std::span<const char> bytes;
  if (!NextChunkBytes(bytes)) {
    return false;
  }
  digest = Md5Of(bytes);
  return true;
}

bool ChunkReader::NextChunkBytes(std::span<const char>& bytes) {
  if (failed_ || AtEnd()) {
    return false;
  }
  const std::int64_t chunk = std::min(kChunkSize, length_ - position_);
  if (!Fill(chunk)) {
    failed_ = true;
    return false;
  }
  bytes = std::span<const char>(buffer_.Data() + bufferStart_, static_cast<std::size_t>(chunk));
  bufferStart_ += static_cast<std::size_t>(chunk);
  position_ += chunk;
  return true;
}

bool ChunkReader::SkipChunks(std::int64_t count) {
  if (failed_ || count < 0) {
    return false;
  }
  const std::int64_t target =
      count > (length_ - position_) / kChunkSize ? length_ : position_ + count * kChunkSize;
  const auto buffered = static_cast<std::int64_t>(bufferEnd_ - bufferStart_);
  if (target - position_ <= buffered) {
    bufferStart_ += static_cast<std::size_t>(target - position_);
  } else {
    // The file stands behind the buffered bytes; move it on to the target and drop them.
    bufferStart_ = 0;
    bufferEnd_ = 0;
    if (!file_->SkipTo(target)) {
      failed_ = true;
      return false;
    }
  }
  position_ = target;
  return true;
}

bool ChunkReader::Fill(std::int64_t needed) {
  const auto available = [this] { return static_cast<std::int64_t>(bufferEnd_ - bufferStart_); };
  if (available() >= needed) {
    return true;
  }
  // Keep the unread rest at the front, then read the next block behind it, never beyond the
  // bytes to cover.
  if (bufferStart_ > 0) {
    std::memmove(buffer_.Data(), buffer_.Data() + bufferStart_, bufferEnd_ - bufferStart_);
    bufferEnd_ -= bufferStart_;
    bufferStart_ = 0;
  }
  const std::int64_t unread = length_ - position_ - available();
  const std::int64_t block = std::min(std::max(readAhead_, needed - available()), unread);
  readAhead_ = std::min(readAhead_ * 2, largestReadAhead_);
  const std::size_t blockEnd = bufferEnd_ + static_cast<std::size_t>(block);
  buffer_.Grow(blockEnd, bufferEnd_);
  while (available() < needed) {
    std::int64_t got =
        file_->Read(std::span<char>(buffer_.Data() + bufferEnd_, blockEnd - bufferEnd_));
    if (got <= 0) {
      return false;
    }
    bufferEnd_ += static_cast<std::size_t>(got);
  }
  return true;
}

void ChunkReader::ReadAheadAtOnce(std::int64_t bytes) {
  readAhead_ = std::clamp(bytes, kChunkSize, largestReadAhead_);
}

std::int64_t ChunkReader::Position() const {
  return position_;
}

std::int64_t ChunkReader::Length() const {
  return length_;
}

bool ChunkReader::AtEnd() const {
  return position_ == length_;
}

}  // namespace kopiensieb
