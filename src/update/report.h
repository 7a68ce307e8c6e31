// The board information report: the versions of the board's modules.
#pragma once

#include <string>
#include <vector>

#include "record.h"
#include "vokoem/vokoem.h"

namespace vok::update {

// What one walk of the version table gathers besides its lines.
struct version_walk {
  bool gates = true;                   // refuse driver and CPLD versions unfit for programming
  std::vector<module_record> modules;  // every entry walked
  std::string reason;                  // why the walk returned 0
  bool failed = false;                 // it returned 0 because a version request failed
};

// Walks every device and module, refuses driver and CPLD versions that must not be used for
// flash programming, and prints one line per flash module. Returns 1 when the update may go
// on, 0 when it must not (after printing why): a gate refused it, or a request failed.
int printversions(sv_handle *sv);
int printversions(sv_handle *sv, version_walk &walk);

}  // namespace vok::update
