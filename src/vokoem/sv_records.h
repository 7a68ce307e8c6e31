// Helpers that the query, version and transfer calls share.
#pragma once

#include <cstdint>

#include "vokoem/vokoem_version.h"

namespace vok {

// A frame position at `rate` frames per second as a BCD timecode word (0 when rate is 0).
std::uint32_t bcd_timecode(std::int32_t position, std::int32_t rate);

// A packed version word (fix, major, minor, patch) as a record version word (minor, major,
// fix, patch): bytes 1 and 3 change places.
constexpr std::uint32_t record_version(std::uint32_t packed) {
  return (packed & 0x00FF00FFu) | (((packed >> 8) & 0xFFu) << 24) | ((packed >> 24) << 8);
}

// The library's own version as a packed version word (4.7.0.0 is 0x40700) and as a record
// version word (0x7040000).
inline constexpr std::uint32_t library_packed_version =
    static_cast<std::uint32_t>(SV_VERSION_FIX) << 24 | SV_VERSION_MAJOR << 16 |
    SV_VERSION_MINOR << 8 | SV_VERSION_PATCH;
inline constexpr std::uint32_t library_record_version = record_version(library_packed_version);

// The build date ("Nov 14 2011") and time ("11:57:05") as the BCD words of a version record.
std::uint32_t build_date_word(const char *date);
std::uint32_t build_time_word(const char *time);

}  // namespace vok
