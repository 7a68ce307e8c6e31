// Flash programming and verification of one 4 MiB region, and the flash information request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "image_set.h"
#include "record.h"
#include "vokoem/vokoem.h"

namespace vok::update {

inline constexpr std::uint32_t region_size = 0x400000;

// Where the working buffer of a region comes from: std::malloc and std::free, unless a test
// puts others here to fail the allocation or to count what is left.
struct buffer_memory {
  void *(*allocate)(std::size_t size);
  void (*release)(void *buffer);
};
extern buffer_memory working_buffer_memory;

// Writes one image into region `map` with one flash write request, then reads the region
// back word by word and compares; prints the outcome, and on a failure waits for Enter
// (unless `wait` is false). Returns what was written and read back.
region_record programflash(sv_handle *sv, int map, const imageentry &image,
                           std::uint32_t version, const char *description, bool wait = true);
// Reads region `map` back word by word and compares it with the region that the image makes,
// as programflash does after its write, and prints whether it matches. Writes nothing.
region_record verifyflash(sv_handle *sv, int map, const imageentry &image,
                          const char *description);
// Sends the flash information request; returns the library's error code.
int flashinfo(sv_handle *sv);

}  // namespace vok::update
