// Each vector version below stands right after the plain version it must
// equal. The vector versions read whole 16-byte pieces only inside the
// range they are given and leave the rest to the plain code.
#include "runtime/byte_classes.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#define VELK_BYTES_SSE2 1
#elif defined(__ARM_NEON) && defined(__aarch64__) && defined(__BYTE_ORDER__) && \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define VELK_BYTES_NEON 1
#endif

namespace velk {

namespace {

constexpr unsigned char LineFeed = 10;
constexpr unsigned char CarriageReturn = 13;

bool InRange(unsigned char c, std::uint8_t low, std::uint8_t span) {
  return static_cast<unsigned char>(c - low) <= span;
}

bool IsLetterOrDigit(unsigned char c) {
  return (static_cast<unsigned char>((c | 0x20u) - 'a') < 26) |
         (static_cast<unsigned char>(c - '0') < 10);
}

}  // namespace

// ---- The line end -------------------------------------------------------------

const unsigned char* FindLineEndPlain(const unsigned char* begin, const unsigned char* end) {
  // A search for the LF alone first would, in a file whose lines end with CR
  // alone, run on to the end of the buffer for every line; so the search
  // goes a short stretch at a time.
  constexpr std::ptrdiff_t Stretch = 256;
  for (const unsigned char* from = begin; from < end; from += Stretch) {
    const auto size = static_cast<std::size_t>(end - from < Stretch ? end - from : Stretch);
    const void* line_feed = std::memchr(from, LineFeed, size);
    const std::size_t before =
        line_feed != nullptr
            ? static_cast<std::size_t>(static_cast<const unsigned char*>(line_feed) - from)
            : size;
    if (const void* carriage_return = std::memchr(from, CarriageReturn, before)) {
      return static_cast<const unsigned char*>(carriage_return);
    }
    if (line_feed != nullptr) {
      return static_cast<const unsigned char*>(line_feed);
    }
  }
  return end;
}

#if defined(VELK_BYTES_SSE2)
namespace {

// Bit k set when at[k] is an LF or a CR, for the 16 bytes at `at`.
unsigned LineEndBits(const unsigned char* at) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
  const __m128i hits =
      _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(LineFeed))),
                   _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(CarriageReturn))));
  return static_cast<unsigned>(_mm_movemask_epi8(hits));
}

}  // namespace

// Both line ends in one pass, 32 bytes at a time while there are as many.
const unsigned char* FindLineEnd(const unsigned char* begin, const unsigned char* end) {
  const unsigned char* at = begin;
  for (; end - at >= 32; at += 32) {
    if (const unsigned bits = LineEndBits(at) | LineEndBits(at + 16) << 16; bits != 0) {
      return at + __builtin_ctz(bits);
    }
  }
  if (end - at >= 16) {
    if (const unsigned bits = LineEndBits(at); bits != 0) {
      return at + __builtin_ctz(bits);
    }
    at += 16;
  }
  return FindLineEndPlain(at, end);
}
#elif defined(VELK_BYTES_NEON)
const unsigned char* FindLineEnd(const unsigned char* begin, const unsigned char* end) {
  const uint8x16_t line_feed = vdupq_n_u8(LineFeed);
  const uint8x16_t carriage_return = vdupq_n_u8(CarriageReturn);
  const unsigned char* at = begin;
  for (; end - at >= 16; at += 16) {
    const uint8x16_t bytes = vld1q_u8(at);
    const uint8x16_t hits = vorrq_u8(vceqq_u8(bytes, line_feed), vceqq_u8(bytes, carriage_return));
    // Four bits per byte: the first hit is the lowest nibble that is set.
    const std::uint64_t nibbles =
        vget_lane_u64(vreinterpret_u64_u8(vshrn_n_u16(vreinterpretq_u16_u8(hits), 4)), 0);
    if (nibbles != 0) {
      return at + __builtin_ctzll(nibbles) / 4;
    }
  }
  return FindLineEndPlain(at, end);
}
#else
const unsigned char* FindLineEnd(const unsigned char* begin, const unsigned char* end) {
  return FindLineEndPlain(begin, end);
}
#endif

// ---- Byte classes -------------------------------------------------------------

namespace {

// Eight bytes as one number, the first byte lowest on any machine.
std::uint64_t Load8(const unsigned char* bytes) {
  std::uint64_t v = 0;
  for (int k = 7; k >= 0; --k) {
    v = v << 8 | bytes[k];
  }
  return v;
}

// Eight bytes that are each 0 or 1 as eight bits, the first byte's lowest.
std::uint64_t GatherBits(std::uint64_t flags) { return (flags * 0x0102040810204080u) >> 56; }

}  // namespace

// Plain arithmetic over a fixed count of bytes, which compilers turn into
// vector instructions where they can.
void ClassifyBytesPlain(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                        std::uint64_t* words, std::uint64_t* in_ranges) {
  const std::size_t pieces = (count + 15) / 16;
  for (std::size_t block = 0; block * ClassBlockSize < count; ++block) {
    unsigned char word_flags[ClassBlockSize] = {};
    unsigned char range_flags[ClassBlockSize] = {};
    const std::size_t in_block = std::min(ClassBlockSize, 16 * pieces - block * ClassBlockSize);
    for (std::size_t i = 0; i < in_block; ++i) {
      const unsigned char c = bytes[block * ClassBlockSize + i];
      const bool in_range =
          InRange(c, ranges.Low[0], ranges.Span[0]) | InRange(c, ranges.Low[1], ranges.Span[1]);
      word_flags[i] = static_cast<unsigned char>(IsLetterOrDigit(c));
      range_flags[i] = static_cast<unsigned char>(in_range);
    }
    words[block] = 0;
    in_ranges[block] = 0;
    for (std::size_t k = 0; k < ClassBlockSize / 8; ++k) {
      words[block] |= GatherBits(Load8(word_flags + 8 * k)) << (8 * k);
      in_ranges[block] |= GatherBits(Load8(range_flags + 8 * k)) << (8 * k);
    }
  }
}

#if defined(VELK_BYTES_SSE2)
namespace {

// Bytes x with x <= limit, as unsigned numbers: all ones where it holds.
__m128i AtMost(__m128i x, __m128i limit) { return _mm_cmpeq_epi8(_mm_min_epu8(x, limit), x); }

__m128i Splat(std::uint8_t c) { return _mm_set1_epi8(static_cast<char>(c)); }

}  // namespace

void ClassifyBytes(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                   std::uint64_t* words, std::uint64_t* in_ranges) {
  static_assert(ByteRangeCount == 2);
  const __m128i low0 = Splat(ranges.Low[0]), span0 = Splat(ranges.Span[0]);
  const __m128i low1 = Splat(ranges.Low[1]), span1 = Splat(ranges.Span[1]);
  for (std::size_t block = 0; block * ClassBlockSize < count; ++block) {
    std::uint64_t word_bits = 0;
    std::uint64_t range_bits = 0;
    for (std::size_t piece = 0; piece < ClassBlockSize / 16; ++piece) {
      const std::size_t at = block * ClassBlockSize + 16 * piece;
      if (at >= count) {
        break;
      }
      const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at));
      const __m128i letter =
          AtMost(_mm_sub_epi8(_mm_or_si128(c, Splat(0x20)), Splat('a')), Splat(25));
      const __m128i digit = AtMost(_mm_sub_epi8(c, Splat('0')), Splat(9));
      const __m128i in_range =
          _mm_or_si128(AtMost(_mm_sub_epi8(c, low0), span0), AtMost(_mm_sub_epi8(c, low1), span1));
      const auto word_mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(letter, digit)));
      const auto range_mask = static_cast<unsigned>(_mm_movemask_epi8(in_range));
      word_bits |= std::uint64_t{word_mask} << (16 * piece);
      range_bits |= std::uint64_t{range_mask} << (16 * piece);
    }
    words[block] = word_bits;
    in_ranges[block] = range_bits;
  }
}
#elif defined(VELK_BYTES_NEON)
namespace {

// 64 bytes that are each 0 or 0xFF as 64 bits, the first byte's lowest.
std::uint64_t Bits(uint8x16_t m0, uint8x16_t m1, uint8x16_t m2, uint8x16_t m3) {
  static const std::uint8_t weights_bytes[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t weights = vld1q_u8(weights_bytes);
  uint8x16_t sum = vpaddq_u8(vpaddq_u8(vandq_u8(m0, weights), vandq_u8(m1, weights)),
                             vpaddq_u8(vandq_u8(m2, weights), vandq_u8(m3, weights)));
  sum = vpaddq_u8(sum, sum);
  return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
}

}  // namespace

void ClassifyBytes(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                   std::uint64_t* words, std::uint64_t* in_ranges) {
  for (std::size_t block = 0; block * ClassBlockSize < count; ++block) {
    uint8x16_t word_pieces[4], range_pieces[4];
    for (std::size_t piece = 0; piece < 4; ++piece) {
      const std::size_t at = block * ClassBlockSize + 16 * piece;
      if (at >= count) {
        word_pieces[piece] = range_pieces[piece] = vdupq_n_u8(0);
        continue;
      }
      const uint8x16_t c = vld1q_u8(bytes + at);
      const uint8x16_t letter =
          vcleq_u8(vsubq_u8(vorrq_u8(c, vdupq_n_u8(0x20)), vdupq_n_u8('a')), vdupq_n_u8(25));
      const uint8x16_t digit = vcleq_u8(vsubq_u8(c, vdupq_n_u8('0')), vdupq_n_u8(9));
      uint8x16_t in_range = vdupq_n_u8(0);
      for (std::size_t k = 0; k < ByteRangeCount; ++k) {
        in_range = vorrq_u8(
            in_range, vcleq_u8(vsubq_u8(c, vdupq_n_u8(ranges.Low[k])), vdupq_n_u8(ranges.Span[k])));
      }
      word_pieces[piece] = vorrq_u8(letter, digit);
      range_pieces[piece] = in_range;
    }
    words[block] = Bits(word_pieces[0], word_pieces[1], word_pieces[2], word_pieces[3]);
    in_ranges[block] = Bits(range_pieces[0], range_pieces[1], range_pieces[2], range_pieces[3]);
  }
}
#else
void ClassifyBytes(const unsigned char* bytes, std::size_t count, const ByteRanges& ranges,
                   std::uint64_t* words, std::uint64_t* in_ranges) {
  ClassifyBytesPlain(bytes, count, ranges, words, in_ranges);
}
#endif

}  // namespace velk
