#include "common/md5.h"
namespace kopiensieb {
// STUB
Md5::Md5() { Reset(); }
void Md5::Update(std::span<const std::uint8_t>) {}
void Md5::Update(std::span<const char>) {}
Md5Digest Md5::Finish() { return {}; }
void Md5::Reset() {}
void Md5::Transform(const std::uint8_t*) {}
Md5Digest Md5Of(std::span<const char>) { return {}; }
std::string Md5Hex(const Md5Digest&) { return std::string(32, '0'); }
std::string Md5HexOf(std::span<const char> bytes) { return Md5Hex(Md5Of(bytes)); }
}  // namespace kopiensieb
