// Timecode text and the coded-word readers.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "vokoem/vokoem.h"

namespace {

struct text_case {
  std::uint32_t timecode;
  const char *text;
};

class TimecodeToText : public ::testing::TestWithParam<text_case> {};

TEST_P(TimecodeToText, FormatsFieldsAndFlags) {
  char text[13];
  std::memset(text, 'Z', sizeof text);
  EXPECT_EQ(timecode_to_text(nullptr, static_cast<int>(GetParam().timecode), text), SV_OK);
  EXPECT_STREQ(text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Words, TimecodeToText,
                         ::testing::Values(text_case{0x01020304, "01:02:03:04"},
                                           text_case{0x01020344, "01:02:03.04"},
                                           text_case{0x010203C4, "01:02:03.04*"},
                                           text_case{0x81828384, "01:02:03:04*"},
                                           text_case{0xFFFFFFFF, "3f:7f:7f.3f*"},
                                           text_case{0x23595929, "23:59:59:29"}));

struct parse_case {
  const char *text;
  std::uint32_t timecode;
};

class TextToTimecode : public ::testing::TestWithParam<parse_case> {};

TEST_P(TextToTimecode, ReadsGroupsOrDigits) {
  int timecode = -1;
  EXPECT_EQ(text_to_timecode(nullptr, GetParam().text, &timecode), SV_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(timecode), GetParam().timecode) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TextToTimecode,
    ::testing::Values(parse_case{"01:00:00:00", 0x01000000}, parse_case{"01.00.00.00", 0x01000000},
                      parse_case{"01;00;00;00", 0x01000000}, parse_case{"1:2:3:4", 0x01020304},
                      parse_case{"1:2:3:4:5", 0x01020304}, parse_case{"10:20", 0x10200000},
                      parse_case{"123:4567", 0x12450000}, parse_case{"12345678", 0x12345678},
                      parse_case{"123456789", 0x12345678}, parse_case{"1234", 0x00001234},
                      parse_case{"-1234", 0x00001234}, parse_case{"", 0}, parse_case{"ab", 0},
                      parse_case{"1+2", 0x01020000}, parse_case{"x1:y2", 0x01020000},
                      parse_case{"99999999999999999999", 0x99999999},
                      parse_case{"-2147483648", 0x02147483}));

TEST(TextToTimecodeNull, NullResultPlaceIsAllowed) {
  EXPECT_EQ(text_to_timecode(nullptr, "01:00:00:00", nullptr), SV_OK);
}

// Samples of four bytes; b3 carries a data bit, b2 and b3 both 255 mark the start.
std::vector<unsigned char> marked_samples(std::uint32_t word, bool trailing) {
  std::vector<unsigned char> bytes;
  auto sample = [&](unsigned char b2, unsigned char b3) {
    bytes.insert(bytes.end(), {0, 0, b2, b3});
  };
  for (int i = 0; i < 4; ++i) sample(255, 255);
  for (int bit = 0; bit < 32; ++bit) sample(0, (word >> bit) & 1 ? 200 : 0);
  if (trailing) sample(0, 0);
  return bytes;
}

TEST(ReadMarkedWord, ReadsTheWordAfterFourMarkers) {
  auto bytes = marked_samples(1, true);
  EXPECT_EQ(read_marked_word(bytes.data(), static_cast<int>(bytes.size() / 4), 1), 1u);
  bytes = marked_samples(0xA5C3F00Fu, true);
  EXPECT_EQ(read_marked_word(bytes.data(), static_cast<int>(bytes.size() / 4), 1), 0xA5C3F00Fu);
}

TEST(ReadMarkedWord, NeedsTheSampleAfterTheLastBit) {
  auto bytes = marked_samples(1, false);
  EXPECT_EQ(read_marked_word(bytes.data(), static_cast<int>(bytes.size() / 4), 1), 0u);
}

TEST(ReadMarkedWord, ABrokenMarkerRunStartsAgain) {
  std::vector<unsigned char> bytes = {0, 0, 255, 255, 0, 0, 255, 255, 0, 0, 0, 0};
  auto rest = marked_samples(7, true);
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  EXPECT_EQ(read_marked_word(bytes.data(), static_cast<int>(bytes.size() / 4), 1), 7u);
}

TEST(ReadMarkedWord, StepFactorSkipsAfterEveryOddSample) {
  // With step 2, each odd sample is followed by 8 skipped bytes.
  auto plain = marked_samples(0x80000001u, true);
  std::vector<unsigned char> spread;
  for (std::size_t i = 0; i < plain.size() / 4; ++i) {
    spread.insert(spread.end(), plain.begin() + 4 * i, plain.begin() + 4 * i + 4);
    if (i % 2 == 1) spread.insert(spread.end(), 8, 0xEE);
  }
  EXPECT_EQ(read_marked_word(spread.data(), static_cast<int>(plain.size() / 4), 2), 0x80000001u);
  EXPECT_EQ(read_marked_word(nullptr, 10, 1), 0u);
}

TEST(ReadSpacedWord, BitsAreBytesAbove192) {
  std::vector<unsigned char> bytes(8 + 8 + 31 * 16 + 1, 0);
  bytes[8] = 193;
  bytes[24] = 193;
  bytes[40] = 192;  // not above 192
  EXPECT_EQ(read_spaced_word(bytes.data(), 0), 3u);
  std::vector<unsigned char> shifted(8 + 2 * 8 + 31 * 16 + 1, 0);
  shifted[8 + 16 + 31 * 16] = 255;
  EXPECT_EQ(read_spaced_word(shifted.data(), 2), 0x80000000u);
}

}  // namespace
