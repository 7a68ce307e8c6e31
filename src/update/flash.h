// Flash programming and verification of one 4 MiB region, and the flash information request.
#pragma once

#include <cstdint>

#include "image_set.h"
#include "vokoem/vokoem.h"

namespace vok::update {

inline constexpr std::uint32_t region_size = 0x400000;

// Writes one image into region `map` with one flash write request, then reads the region
// back word by word and compares; prints the outcome, and on a failure waits for Enter.
void programflash(sv_handle *sv, int map, const imageentry &image, std::uint32_t version,
                  const char *description);
// Sends the flash information request; returns the library's error code.
int flashinfo(sv_handle *sv);

}  // namespace vok::update
