// The flash write request of one whole 4 MiB region, as the update tool sends it.
#pragma once

#include <cstdint>

#include "sv_internal.h"

namespace vok::test {

inline orvello_flashwrite region_write(const void *data, const char *description,
                                       std::uint32_t map) {
  orvello_flashwrite p;
  prepare(p);
  p.data = reinterpret_cast<std::uintptr_t>(data);
  p.description = reinterpret_cast<std::uintptr_t>(description);
  p.length = 0x400000;
  p.kind = 10;
  p.map = map;
  p.version = 0x08010022;
  p.option = 1;
  return p;
}

}  // namespace vok::test
