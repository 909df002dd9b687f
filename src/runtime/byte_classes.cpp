// Each vector version below stands right after the plain version it must
// equal. The vector versions read whole blocks of 64 bytes, up to ReadSlack
// bytes past the bytes they are given; what lies past those is masked off,
// never looked at.
#include "runtime/byte_classes.h"

#if defined(__SSE2__)
#include <cpuid.h>
#include <immintrin.h>
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

// The bits of the bytes of a block that lie before `count`.
std::uint64_t BitsBefore(std::size_t count, std::size_t block) {
  const std::size_t left = count - block * ClassBlockSize;
  return left >= ClassBlockSize ? ~std::uint64_t{0} : (std::uint64_t{1} << left) - 1;
}

void Store(const ByteClasses& classes, std::size_t block, std::uint64_t keep, std::uint64_t ends,
           std::uint64_t words, std::uint64_t in_ranges) {
  classes.Ends[block] = ends & keep;
  classes.Words[block] = words & keep;
  classes.InRanges[block] = in_ranges & keep;
}

}  // namespace

void ClassifyBytesPlain(const unsigned char* bytes, std::size_t from, std::size_t count,
                        const ByteRanges& ranges, const ByteClasses& classes) {
  for (std::size_t block = from / ClassBlockSize; block <= count / ClassBlockSize; ++block) {
    std::uint64_t ends = 0, words = 0, in_ranges = 0;
    for (std::size_t k = 0; k < ClassBlockSize && block * ClassBlockSize + k < count; ++k) {
      const unsigned char c = bytes[block * ClassBlockSize + k];
      const std::uint64_t bit = std::uint64_t{1} << k;
      if (c == LineFeed || c == CarriageReturn) {
        ends |= bit;
      }
      if (IsLetterOrDigit(c)) {
        words |= bit;
      }
      if (ranges.Any && (InRange(c, ranges.Low[0], ranges.Span[0]) ||
                         InRange(c, ranges.Low[1], ranges.Span[1]))) {
        in_ranges |= bit;
      }
    }
    Store(classes, block, BitsBefore(count, block), ends, words, in_ranges);
  }
}

#if defined(VELK_BYTES_SSE2)
namespace {

__m128i Splat(std::uint8_t c) { return _mm_set1_epi8(static_cast<char>(c)); }

std::uint64_t Mask(__m128i bytes, unsigned piece) {
  return std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(bytes))} << (16 * piece);
}

// Bytes x - low with x - low <= span, as unsigned numbers: all ones there.
__m128i InSpan(__m128i x, __m128i low, __m128i span) {
  const __m128i offset = _mm_sub_epi8(x, low);
  return _mm_cmpeq_epi8(_mm_min_epu8(offset, span), offset);
}

// Letters and digits by signed comparison: moved so that the letters (or
// the digits) are the lowest signed bytes, each class is one "less than".
__m128i LetterOrDigit(__m128i c) {
  const __m128i letter = _mm_cmplt_epi8(
      _mm_add_epi8(_mm_or_si128(c, Splat(0x20)), Splat(0x80 - 'a')), Splat(0x80 + 26));
  const __m128i digit = _mm_cmplt_epi8(_mm_add_epi8(c, Splat(0x80 - '0')), Splat(0x80 + 10));
  return _mm_or_si128(letter, digit);
}

template <bool WithRanges>
void ClassifySse2(const unsigned char* bytes, std::size_t from, std::size_t count,
                  const ByteRanges& ranges, const ByteClasses& classes) {
  static_assert(ByteRangeCount == 2 && ClassBlockSize == 64);
  const __m128i low0 = Splat(ranges.Low[0]), span0 = Splat(ranges.Span[0]);
  const __m128i low1 = Splat(ranges.Low[1]), span1 = Splat(ranges.Span[1]);
  for (std::size_t block = from / ClassBlockSize; block <= count / ClassBlockSize; ++block) {
    std::uint64_t ends = 0, words = 0, in_ranges = 0;
    for (unsigned piece = 0; piece < 4; ++piece) {
      const __m128i c = _mm_loadu_si128(
          reinterpret_cast<const __m128i*>(bytes + block * ClassBlockSize + 16 * piece));
      ends |= Mask(_mm_or_si128(_mm_cmpeq_epi8(c, Splat(LineFeed)),
                                _mm_cmpeq_epi8(c, Splat(CarriageReturn))),
                   piece);
      words |= Mask(LetterOrDigit(c), piece);
      if constexpr (WithRanges) {
        in_ranges |= Mask(_mm_or_si128(InSpan(c, low0, span0), InSpan(c, low1, span1)), piece);
      }
    }
    Store(classes, block, BitsBefore(count, block), ends, words, in_ranges);
  }
}

void ClassifyBytesSse2(const unsigned char* bytes, std::size_t from, std::size_t count,
                       const ByteRanges& ranges, const ByteClasses& classes) {
  ranges.Any ? ClassifySse2<true>(bytes, from, count, ranges, classes)
             : ClassifySse2<false>(bytes, from, count, ranges, classes);
}

// The same with AVX2, where the processor has it: 32 bytes a step.
#define VELK_AVX2 [[gnu::target("avx2")]]

VELK_AVX2 __m256i Splat32(std::uint8_t c) { return _mm256_set1_epi8(static_cast<char>(c)); }

VELK_AVX2 std::uint64_t Mask32(__m256i bytes, unsigned piece) {
  return std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(bytes))} << (32 * piece);
}

VELK_AVX2 __m256i InSpan32(__m256i x, __m256i low, __m256i span) {
  const __m256i offset = _mm256_sub_epi8(x, low);
  return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, span), offset);
}

VELK_AVX2 __m256i LetterOrDigit32(__m256i c) {
  const __m256i letter = _mm256_cmpgt_epi8(
      Splat32(0x80 + 26), _mm256_add_epi8(_mm256_or_si256(c, Splat32(0x20)), Splat32(0x80 - 'a')));
  const __m256i digit =
      _mm256_cmpgt_epi8(Splat32(0x80 + 10), _mm256_add_epi8(c, Splat32(0x80 - '0')));
  return _mm256_or_si256(letter, digit);
}

template <bool WithRanges>
VELK_AVX2 void ClassifyAvx2(const unsigned char* bytes, std::size_t from, std::size_t count,
                            const ByteRanges& ranges, const ByteClasses& classes) {
  const __m256i low0 = Splat32(ranges.Low[0]), span0 = Splat32(ranges.Span[0]);
  const __m256i low1 = Splat32(ranges.Low[1]), span1 = Splat32(ranges.Span[1]);
  for (std::size_t block = from / ClassBlockSize; block <= count / ClassBlockSize; ++block) {
    std::uint64_t ends = 0, words = 0, in_ranges = 0;
    for (unsigned piece = 0; piece < 2; ++piece) {
      const __m256i c = _mm256_loadu_si256(
          reinterpret_cast<const __m256i*>(bytes + block * ClassBlockSize + 32 * piece));
      ends |= Mask32(_mm256_or_si256(_mm256_cmpeq_epi8(c, Splat32(LineFeed)),
                                     _mm256_cmpeq_epi8(c, Splat32(CarriageReturn))),
                     piece);
      words |= Mask32(LetterOrDigit32(c), piece);
      if constexpr (WithRanges) {
        in_ranges |=
            Mask32(_mm256_or_si256(InSpan32(c, low0, span0), InSpan32(c, low1, span1)), piece);
      }
    }
    Store(classes, block, BitsBefore(count, block), ends, words, in_ranges);
  }
}

VELK_AVX2 void ClassifyBytesAvx2(const unsigned char* bytes, std::size_t from, std::size_t count,
                                 const ByteRanges& ranges, const ByteClasses& classes) {
  ranges.Any ? ClassifyAvx2<true>(bytes, from, count, ranges, classes)
             : ClassifyAvx2<false>(bytes, from, count, ranges, classes);
}

// Whether the processor and the system run AVX2: the processor has it, and
// the system saves the 256-bit registers (OSXSAVE, and XCR0's SSE and AVX
// state). Asked with two cpuid instructions and no more: under a hypervisor
// each one costs microseconds.
bool HasAvx2() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_max(0, nullptr) < 7 || __get_cpuid(1, &a, &b, &c, &d) == 0) {
    return false;
  }
  constexpr unsigned OsXsave = 1u << 27, Avx = 1u << 28, Avx2 = 1u << 5;
  if ((c & (OsXsave | Avx)) != (OsXsave | Avx)) {
    return false;
  }
  unsigned low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  if ((low & 6u) != 6u) {
    return false;
  }
  __cpuid_count(7, 0, a, b, c, d);
  return (b & Avx2) != 0;
}

// The versions this processor runs; the AVX2 one only once asked for.
const ClassifyVersion Versions[] = {ClassifyBytesAvx2, ClassifyBytesSse2};

// What ClassifyBytes uses: SSE2 at first. Only a run that has classified
// enough bytes for the question to pay asks whether AVX2 runs here, so that
// a run over a small file starts as fast as it did.
constexpr std::size_t BytesBeforeAsking = 256 * 1024;
std::size_t bytes_classified = 0;
ClassifyVersion classify = ClassifyBytesSse2;

}  // namespace

std::span<const ClassifyVersion> VectorClassifyVersions() {
  static constinit int avx2 = -1;  // not asked yet (no guard: the program has one thread)
  if (avx2 < 0) {
    avx2 = HasAvx2() ? 1 : 0;
  }
  return std::span(Versions).subspan(avx2 != 0 ? 0 : 1);
}

void ClassifyBytes(const unsigned char* bytes, std::size_t from, std::size_t count,
                   const ByteRanges& ranges, const ByteClasses& classes) {
  if (bytes_classified < BytesBeforeAsking) {
    bytes_classified += count - from;
    if (bytes_classified >= BytesBeforeAsking) {
      classify = VectorClassifyVersions()[0];
    }
  }
  classify(bytes, from, count, ranges, classes);
}
#elif defined(VELK_BYTES_NEON)
namespace {

// 64 bytes that are each 0 or 0xFF as 64 bits, the first byte's lowest.
std::uint64_t Bits(const uint8x16_t (&m)[4]) {
  static const std::uint8_t weights_bytes[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                                 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t weights = vld1q_u8(weights_bytes);
  uint8x16_t sum = vpaddq_u8(vpaddq_u8(vandq_u8(m[0], weights), vandq_u8(m[1], weights)),
                             vpaddq_u8(vandq_u8(m[2], weights), vandq_u8(m[3], weights)));
  sum = vpaddq_u8(sum, sum);
  return vgetq_lane_u64(vreinterpretq_u64_u8(sum), 0);
}

}  // namespace

void ClassifyBytes(const unsigned char* bytes, std::size_t from, std::size_t count,
                   const ByteRanges& ranges, const ByteClasses& classes) {
  for (std::size_t block = from / ClassBlockSize; block <= count / ClassBlockSize; ++block) {
    uint8x16_t ends[4], words[4], in_ranges[4];
    for (std::size_t piece = 0; piece < 4; ++piece) {
      const uint8x16_t c = vld1q_u8(bytes + block * ClassBlockSize + 16 * piece);
      ends[piece] =
          vorrq_u8(vceqq_u8(c, vdupq_n_u8(LineFeed)), vceqq_u8(c, vdupq_n_u8(CarriageReturn)));
      const uint8x16_t letter =
          vcleq_u8(vsubq_u8(vorrq_u8(c, vdupq_n_u8(0x20)), vdupq_n_u8('a')), vdupq_n_u8(25));
      const uint8x16_t digit = vcleq_u8(vsubq_u8(c, vdupq_n_u8('0')), vdupq_n_u8(9));
      words[piece] = vorrq_u8(letter, digit);
      in_ranges[piece] = vdupq_n_u8(0);
      for (std::size_t k = 0; k < ByteRangeCount && ranges.Any; ++k) {
        in_ranges[piece] =
            vorrq_u8(in_ranges[piece],
                     vcleq_u8(vsubq_u8(c, vdupq_n_u8(ranges.Low[k])), vdupq_n_u8(ranges.Span[k])));
      }
    }
    Store(classes, block, BitsBefore(count, block), Bits(ends), Bits(words), Bits(in_ranges));
  }
}

std::span<const ClassifyVersion> VectorClassifyVersions() {
  static constexpr ClassifyVersion Versions[] = {ClassifyBytes};
  return Versions;
}
#else
void ClassifyBytes(const unsigned char* bytes, std::size_t from, std::size_t count,
                   const ByteRanges& ranges, const ByteClasses& classes) {
  ClassifyBytesPlain(bytes, from, count, ranges, classes);
}

std::span<const ClassifyVersion> VectorClassifyVersions() { return {}; }
#endif

}  // namespace velk
