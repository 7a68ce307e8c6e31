// Timecode texts of any shape.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "vokoem/vokoem.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  int timecode = 0;
  if (text_to_timecode(nullptr, text.data(), &timecode) != SV_OK) std::abort();
  // Every nibble of the packed word is a decimal digit.
  for (unsigned word = static_cast<unsigned>(timecode); word != 0; word >>= 4) {
    if ((word & 0xF) > 9) std::abort();
  }
  return 0;
}
