// The one pass the reader makes over the bytes of its buffer after each
// read: it sorts them into the classes that finding lines and judging them
// need, one bit a byte, so that no line's bytes are looked at again to find
// its end or the places where a name may stand. The pass has a plain version
// that builds everywhere and, where the processor has them, vector versions
// (SSE2 on x86-64, and AVX2 where the processor running it has that; NEON on
// little-endian arm64) that must give the same answer for every input; the
// unqualified name is the one the program uses. The plain version and the
// vector versions stay callable so that they can be compared.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace velk {

// Ranges of bytes: byte c is in range k when (unsigned char)(c - Low[k]) <=
// Span[k]. Without Any, no byte is.
inline constexpr std::size_t ByteRangeCount = 2;
struct ByteRanges {
  bool Any = false;
  std::uint8_t Low[ByteRangeCount] = {};
  std::uint8_t Span[ByteRangeCount] = {};
  std::uint8_t Unused[3] = {};  // so that two are compared as one number
  bool operator==(const ByteRanges& other) const {
    return std::bit_cast<std::uint64_t>(*this) == std::bit_cast<std::uint64_t>(other);
  }
};

inline constexpr std::size_t ClassBlockSize = 64;  // bytes a class word covers

// How many bytes past the last one classified must be readable: the pass
// reads whole blocks.
inline constexpr std::size_t ReadSlack = ClassBlockSize;

// The number of class words that bytes [0, count) take, and one more.
constexpr std::size_t ClassWords(std::size_t count) { return count / ClassBlockSize + 1; }

// Where the classes of a buffer go. Bit k of Ends[k / 64] tells whether byte
// k is an LF or a CR, of Words whether it is an ASCII letter or digit, of
// InRanges whether it lies in one of the ranges.
struct ByteClasses {
  std::uint64_t* Ends;
  std::uint64_t* Words;
  std::uint64_t* InRanges;
};

// Classifies bytes [from, count) of `bytes` (`from` a multiple of 64), the
// whole blocks they lie in; the bits of bytes from `count` on are 0.
// ReadSlack bytes past `count` must be readable; they are not looked at.
void ClassifyBytes(const unsigned char* bytes, std::size_t from, std::size_t count,
                   const ByteRanges& ranges, const ByteClasses& classes);
void ClassifyBytesPlain(const unsigned char* bytes, std::size_t from, std::size_t count,
                        const ByteRanges& ranges, const ByteClasses& classes);

// The vector versions this processor runs (none where there are none), the
// one ClassifyBytes uses first.
using ClassifyVersion = void (*)(const unsigned char*, std::size_t, std::size_t, const ByteRanges&,
                                 const ByteClasses&);
std::span<const ClassifyVersion> VectorClassifyVersions();

// The classes of one line, as the reader hands them out: the bit of the
// line's byte k is bit First + k of Words and InRanges (64 to a word).
struct LineClasses {
  const std::uint64_t* Words = nullptr;
  const std::uint64_t* InRanges = nullptr;
  std::size_t First = 0;
};

}  // namespace velk
