#pragma once

#include <string>

namespace kopiensieb::testing {

// Two published 128-byte messages that differ in six bytes but have the same MD5 digest,
// 79054025255fb1a26e4bc422aef54eb4. Each is two whole blocks, so the same bytes appended to
// both keep the digests equal: chunks of any length from 128 bytes on can be made to differ
// in their bytes and meet in their digests, which the content search must call equal.
inline std::string BytesOfHex(const char* hex) {
  std::string bytes;
  for (; hex[0] != '\0' && hex[1] != '\0'; hex += 2) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    bytes.push_back(static_cast<char>(digit(hex[0]) * 16 + digit(hex[1])));
  }
  return bytes;
}

inline std::string CollidingBlocksA() {
  return BytesOfHex(
      "d131dd02c5e6eec4693d9a0698aff95c2fcab58712467eab4004583eb8fb7f89"
      "55ad340609f4b30283e488832571415a085125e8f7cdc99fd91dbdf280373c5b"
      "d8823e3156348f5bae6dacd436c919c6dd53e2b487da03fd02396306d248cda0"
      "e99f33420f577ee8ce54b67080a80d1ec69821bcb6a8839396f9652b6ff72a70");
}

inline std::string CollidingBlocksB() {
  return BytesOfHex(
      "d131dd02c5e6eec4693d9a0698aff95c2fcab50712467eab4004583eb8fb7f89"
      "55ad340609f4b30283e4888325f1415a085125e8f7cdc99fd91dbd7280373c5b"
      "d8823e3156348f5bae6dacd436c919c6dd53e23487da03fd02396306d248cda0"
      "e99f33420f577ee8ce54b67080280d1ec69821bcb6a8839396f965ab6ff72a70");
}

}  // namespace kopiensieb::testing
