#pragma once

#include <cstddef>
#include <span>

#include "common/md5.h"

namespace kopiensieb {

// How many messages one pass of the batched MD5 works on side by side: one (the plain code),
// or the 32-bit lanes of a 256-bit (AVX2) or 512-bit (AVX-512F) vector register.
enum class Md5LaneWidth : std::size_t { One = 1, Eight = 8, Sixteen = 16 };

// Whether this build and this processor can run `width`. One always can; the vector widths
// only on x86-64 with the instructions (and their registers saved by the system).
bool Md5LaneWidthRuns(Md5LaneWidth width);
// The widest of them, which Md5OfEach(messages, digests) uses.
Md5LaneWidth WidestMd5LaneWidth();

// Md5OfEach at most `widest` lanes wide (a width this machine cannot run falls back to the
// next narrower one), so that tests and benchmarks can hold every width against the plain
// code.
void Md5OfEach(std::span<const std::span<const char>> messages, std::span<Md5Digest> digests,
               Md5LaneWidth widest);

}  // namespace kopiensieb
