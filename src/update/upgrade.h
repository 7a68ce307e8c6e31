// The update of one open Vantrel board.
#pragma once

#include <cstdint>

#include "image_set.h"
#include "record.h"
#include "vokoem/vokoem.h"

namespace vok::update {

// What a mode changes in the update's steps.
struct update_steps {
  bool write = true;  // write the images; false compares the flash with them (--verify)
  bool ask = true;    // ask the operator before writing; false answers y (--yes)
  bool wait = true;   // wait for Enter after a failed region
  bool compare_first = false;  // compare first, and write only when a region differs (--if-differs)
};

// Checks the driver, the chip pair, the board variant and the images, prints the versions,
// asks the operator, writes and verifies the four images, and prints the versions again.
// Closes the handle on every path. Returns 0 when the images were handed to programming,
// -1 when it stopped before that. An interrupt stops it before the first write, or after the
// region in hand.
int upgradecard(sv_handle *sv, const imageentry (&images)[4] = firmware::image_set);
// The same steps as `mode` decides them, keeping what they learn in `board`.
int upgradecard(sv_handle *sv, const imageentry (&images)[4], const update_steps &mode,
                board_record &board);

// The first yyyy/mm/dd text within the first 265 bytes of an image (of `size` bytes) as the
// number yyyymmdd; 0 when there is none.
std::int32_t bitfiledate(const unsigned char *data, std::int32_t size);

// Prints "\nERROR: " on standard output and the code's text on standard error.
void report_error(sv_handle *sv, int code);

}  // namespace vok::update
