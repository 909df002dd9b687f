// Byte searches that the line loop makes for every line: the line end, and
// the classes of a line's bytes for the symbol matcher. Each has a plain
// version that builds everywhere and, where the processor has one, a vector
// version (SSE2 on x86-64, NEON on little-endian arm64) that must give the
// same answer for every input; the unqualified name is the one the program
// uses. The plain versions stay callable so that the two can be compared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

// The first LF or CR in [begin, end), or end.
const unsigned char* FindLineEnd(const unsigned char* begin, const unsigned char* end);
const unsigned char* FindLineEndPlain(const unsigned char* begin, const unsigned char* end);

// Ranges of bytes for ClassifyBlock: byte c is in range k when
// (unsigned char)(c - Low[k]) <= Span[k].
inline constexpr std::size_t ByteRangeCount = 2;
struct ByteRanges {
  std::uint8_t Low[ByteRangeCount] = {};
  std::uint8_t Span[ByteRangeCount] = {};
};

// Classes of the bytes [0, count) of `bytes`, rounded up to a multiple of
// 16 (all of which must be readable): bit k of words[k / 64] tells whether
// byte k is an ASCII letter or digit, and the same bit of in_ranges[k / 64]
// whether it lies in one of the ranges. Bits past the rounded count are 0.
// Both arrays have room for (count + 63) / 64 numbers.
inline constexpr std::size_t ClassBlockSize = 64;
void ClassifyBytes(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                   std::uint64_t* words, std::uint64_t* in_ranges);
void ClassifyBytesPlain(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                        std::uint64_t* words, std::uint64_t* in_ranges);

}  // namespace velk
