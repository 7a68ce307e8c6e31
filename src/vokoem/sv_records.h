// Helpers that the query, version and transfer calls share.
#pragma once

#include <cstdint>

namespace vok {

// A frame position at `rate` frames per second as a BCD timecode word (0 when rate is 0).
std::uint32_t bcd_timecode(std::int32_t position, std::int32_t rate);

// A packed version word (fix, major, minor, patch) as a record version word (minor, major,
// fix, patch): bytes 1 and 3 change places.
inline std::uint32_t record_version(std::uint32_t packed) {
  return (packed & 0x00FF00FFu) | (((packed >> 8) & 0xFFu) << 24) | ((packed >> 24) << 8);
}

// The build date ("Nov 14 2011") and time ("11:57:05") as the BCD words of a version record.
std::uint32_t build_date_word(const char *date);
std::uint32_t build_time_word(const char *time);

}  // namespace vok
