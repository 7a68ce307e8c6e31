// The update of one open Vantrel board.
#pragma once

#include <cstdint>

#include "image_set.h"
#include "vokoem/vokoem.h"

namespace vok::update {

// Checks the driver, the chip pair, the board variant and the images, prints the versions,
// asks the operator, writes and verifies the four images, and prints the versions again.
// Closes the handle on every path. Returns 0 when the images were handed to programming,
// -1 when it stopped before that.
int upgradecard(sv_handle *sv, const imageentry (&images)[4] = firmware::image_set);

// The first yyyy/mm/dd text within the first 265 bytes of an image (of `size` bytes) as the
// number yyyymmdd; 0 when there is none.
std::int32_t bitfiledate(const unsigned char *data, std::int32_t size);

// Prints "\nERROR: " on standard output and the code's text on standard error.
void report_error(sv_handle *sv, int code);

}  // namespace vok::update
