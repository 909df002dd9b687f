// Each vector byte search against its plain version, on random bytes.
#include "runtime/byte_classes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace velk {

TEST(ByteClassesTest, VectorAndPlainVersionsAgree) {
  std::mt19937 random(0xB17E5);
  // Line ends, letters and digits, and every other byte; 16 bytes of slack
  // after each buffer, as the callers keep.
  const auto byte = [&] {
    const std::mt19937::result_type picks[] = {
        '\n', '\r', 'a', 'Z', '0', '_', random() % 256u, random() % 256u};
    return static_cast<unsigned char>(picks[random() % 8]);
  };
  for (int round = 0; round < 20000; ++round) {
    std::vector<unsigned char> bytes(1 + random() % 300 + 16);
    for (unsigned char& b : bytes) {
      b = byte();
    }
    const std::size_t count = bytes.size() - 16;
    const std::size_t from = random() % count;
    ASSERT_EQ(FindLineEnd(bytes.data() + from, bytes.data() + count),
              FindLineEndPlain(bytes.data() + from, bytes.data() + count))
        << "round " << round;
    ByteRanges ranges;
    for (std::size_t k = 0; k < ByteRangeCount; ++k) {
      ranges.Low[k] = byte();
      ranges.Span[k] = static_cast<std::uint8_t>(random() % (round % 2 == 0 ? 4 : 256));
    }
    std::uint64_t words[5] = {}, in_ranges[5] = {}, plain_words[5] = {}, plain_in_ranges[5] = {};
    ClassifyBytes(bytes.data(), count, ranges, words, in_ranges);
    ClassifyBytesPlain(bytes.data(), count, ranges, plain_words, plain_in_ranges);
    for (std::size_t block = 0; block < 5; ++block) {
      ASSERT_EQ(words[block], plain_words[block]) << "round " << round << ", block " << block;
      ASSERT_EQ(in_ranges[block], plain_in_ranges[block]) << "round " << round;
    }
  }
}

}  // namespace velk
