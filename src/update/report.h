// The board information report: the versions of the board's modules.
#pragma once

#include "vokoem/vokoem.h"

namespace vok::update {

// Walks every device and module, refuses driver and CPLD versions that must not be used for
// flash programming, and prints one line per flash module. Returns 1 when the update may go
// on, 0 when it must not (after printing why).
int printversions(sv_handle *sv);

}  // namespace vok::update
