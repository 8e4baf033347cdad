#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "catalogue/content_comparison.h"
#include "common/md5.h"
#include "platform/file_services.h"

namespace kopiensieb {

// What reading told of one file of a size class.
enum class FingerprintState : std::uint8_t {
  Unread,      // not read yet
  Unreadable,  // could not be opened, changed its size, or read short: equal to nothing
  Distinct,    // its first chunk differs from that of every other readable file of the class
  Known        // `fingerprint` stands for its whole compared content
};

struct FingerprintJob {
  std::string path;
  FingerprintState state = FingerprintState::Unread;
  Md5Digest firstChunk{};   // the digest of its first chunk
  Md5Digest fingerprint{};  // Known: equal exactly when every chunk digest is equal
};

// The bytes of a file of `size` that a comparison covers: size * percent / 100 for percent
// 1..100, else size, exact even where the product would overflow.
std::int64_t ComparedLength(std::int64_t size, std::int32_t percent);

// Fingerprints the files of one size class, reading each file at most once. Stage 1 digests
// every file's first chunk, so files that differ early are never read further. Stage 2 reads,
// from behind the first chunk, only the files whose first chunk meets another's, folding all
// chunk digests into one. Two Known files have equal fingerprints exactly when
// CompareFileContents would call them equal. Files are read in the order of `jobs`; progress
// receives position * 100 / length of the file being read.
void FingerprintSizeClass(FileServices& files, std::span<FingerprintJob> jobs, std::int64_t size,
                          std::int32_t percent, const FileProgressSink& progress);

}  // namespace kopiensieb
