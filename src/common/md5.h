#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kopiensieb {

using Md5Digest = std::array<std::uint8_t, 16>;

// Incremental MD5 (RFC 1321).
class Md5 {
 public:
  Md5();
  void Update(std::span<const std::uint8_t> bytes);
  void Update(std::span<const char> bytes);
  Md5Digest Finish();  // the object must not be used afterwards without Reset()
  void Reset();

 private:
  void Transform(const std::uint8_t* block);
  std::array<std::uint32_t, 4> state_;
  std::uint64_t length_ = 0;
  std::array<std::uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
};

Md5Digest Md5Of(std::span<const char> bytes);

// digests[i] = Md5Of(messages[i]) for every message that has a place in `digests`. Messages of
// equal length are hashed several at a time in the processor's vector lanes where it has them,
// so hashing many chunks of one length costs a fraction of hashing them one by one.
void Md5OfEach(std::span<const std::span<const char>> messages, std::span<Md5Digest> digests);

}  // namespace kopiensieb
