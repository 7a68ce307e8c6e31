// Timecode text and coded words: BCD timecode words to and from text, and the two readers of
// words coded as bright and dark bytes.
#include <cstdio>
#include <cstring>

#include "sv_setup.h"
#include "vokoem/vokoem.h"

namespace {

constexpr unsigned drop_frame_flag = 0x40;
constexpr unsigned colour_frame_flag = 0x80;

bool is_separator(char c) { return c == ':' || c == '.' || c == ';' || c == '+'; }

// Reads "hh:mm:ss:ff" groups from the left into eight digits; a fourth separator ends it.
void read_groups(const char *text, char digits[9]) {
  std::memcpy(digits, "00000000", 9);
  int group = 0;
  int count = 0;
  for (const char *c = text; *c != '\0' && group < 4; ++c) {
    if (*c >= '0' && *c <= '9') {
      if (count < 2) {
        digits[group * 2] = digits[group * 2 + 1];
        digits[group * 2 + 1] = *c;
        ++count;
      }
    } else if (is_separator(*c)) {
      ++group;
      count = 0;
    }
  }
}

std::uint32_t pack_bcd(std::uint32_t n) {
  std::uint32_t word = 0;
  for (int byte = 0; byte < 4; ++byte) {
    std::uint32_t bcd = (n / 10 % 10) * 16 + n % 10;
    word |= bcd << (8 * byte);
    n /= 100;
  }
  return word;
}

}  // namespace

extern "C" {

int timecode_to_text(sv_handle *, int timecode, char *text) {
  auto tc = static_cast<std::uint32_t>(timecode);
  unsigned frames = tc & 0xFF;
  std::snprintf(text, 13, "%02x:%02x:%02x%c%02x%s", (tc >> 24) & 0x3F, (tc >> 16) & 0x7F,
                (tc >> 8) & 0x7F, (frames & drop_frame_flag) ? '.' : ':', frames & 0x3F,
                (frames & colour_frame_flag) ? "*" : "");
  return SV_OK;
}

int text_to_timecode(sv_handle *, const char *text, int *ptimecode) {
  if (text == nullptr) text = "";
  char digits[9] = {};
  bool grouped = false;
  for (const char *c = text; *c != '\0'; ++c) grouped = grouped || is_separator(*c);
  if (grouped) {
    read_groups(text, digits);
  } else {
    std::strncpy(digits, text, 8);  // the first eight characters, as they stand
  }
  std::int32_t n = vok::read_decimal(digits);
  std::uint32_t magnitude = n < 0 ? 0u - static_cast<std::uint32_t>(n) : static_cast<std::uint32_t>(n);
  if (ptimecode != nullptr) *ptimecode = static_cast<int>(pack_bcd(magnitude));
  return SV_OK;
}

uint32_t read_marked_word(const void *bytes, int samples, int step) {
  if (bytes == nullptr) return 0;
  const auto *p = static_cast<const unsigned char *>(bytes);
  const long long skip = static_cast<long long>(step) * 8 - 8;
  int state = 0;
  std::uint32_t word = 0;
  for (int i = 0; i < samples; ++i) {
    unsigned b2 = p[2];
    unsigned b3 = p[3];
    p += 4;
    if ((i & 1) == 1 && step != 1) p += skip;
    if (state < 4) {  // four marker samples in a row open a word
      word = 0;
      state = (b3 == 255 && b2 == 255) ? state + 1 : 0;
    } else if (state < 36) {  // 32 data samples, least significant bit first
      if (b3 > 128) word |= 1u << (state - 4);
      ++state;
    } else {
      return word;
    }
  }
  return 0;
}

uint32_t read_spaced_word(const void *bytes, int index) {
  const auto *p = static_cast<const unsigned char *>(bytes) + 8 + static_cast<long long>(index) * 8;
  std::uint32_t word = 0;
  for (int i = 0; i < 32; ++i) {
    if (p[i * 16] > 192) word |= 1u << i;
  }
  return word;
}

}  // extern "C"
