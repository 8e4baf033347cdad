#include "catalogue/chunk_reader.h"

#include <algorithm>
#include <cstring>
#include <span>

namespace kopiensieb {
namespace {
constexpr std::int64_t kLargestReadAhead = std::int64_t{1} << 20;
}  // namespace

std::unique_ptr<ChunkReader> ChunkReader::Open(FileServices& files, const std::string& path,
                                               std::int64_t expectedSize, std::int64_t length) {
  std::unique_ptr<ReadableFile> file = files.OpenForReading(path);
  if (!file) {
    return nullptr;
  }
  // A file whose size changed since it was catalogued is not the file that was catalogued.
  std::optional<FileStatus> status = file->Status();
  if (!status || status->size != expectedSize) {
    return nullptr;
  }
  std::int64_t covered =
      std::clamp<std::int64_t>(length, 0, std::max<std::int64_t>(expectedSize, 0));
  return std::unique_ptr<ChunkReader>(new ChunkReader(std::move(file), covered));
}

ChunkReader::ChunkReader(std::unique_ptr<ReadableFile> file, std::int64_t length)
    : file_(std::move(file)), length_(length) {}

bool ChunkReader::NextChunk(Md5Digest& digest) {
  if (failed_ || AtEnd()) {
    return false;
  }
  const std::int64_t chunk = std::min(kChunkSize, length_ - position_);
  if (!Fill(chunk)) {
    failed_ = true;
    return false;
  }
  digest =
      Md5Of(std::span<const char>(buffer_.data() + bufferStart_, static_cast<std::size_t>(chunk)));
  bufferStart_ += static_cast<std::size_t>(chunk);
  position_ += chunk;
  return true;
}

bool ChunkReader::Fill(std::int64_t needed) {
  const auto available = [this] { return static_cast<std::int64_t>(bufferEnd_ - bufferStart_); };
  if (available() >= needed) {
    return true;
  }
  // Keep the unread rest at the front, then read the next block behind it, never beyond the
  // bytes to cover.
  std::memmove(buffer_.data(), buffer_.data() + bufferStart_, bufferEnd_ - bufferStart_);
  bufferEnd_ -= bufferStart_;
  bufferStart_ = 0;
  const std::int64_t unread = length_ - position_ - available();
  const std::int64_t block = std::min(std::max(readAhead_, needed - available()), unread);
  readAhead_ = std::min(readAhead_ * 2, kLargestReadAhead);
  buffer_.resize(bufferEnd_ + static_cast<std::size_t>(block));
  while (available() < needed) {
    std::int64_t got =
        file_->Read(std::span<char>(buffer_.data() + bufferEnd_, buffer_.size() - bufferEnd_));
    if (got <= 0) {
      return false;
    }
    bufferEnd_ += static_cast<std::size_t>(got);
  }
  return true;
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
