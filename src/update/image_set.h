// The firmware image set that vantrel-upgrade carries inside itself.
#pragma once

#include <cstdint>

// One row of the image table.
struct imageentry {
  const unsigned char *data;  // first byte of the bit file; null in an empty row
  const char *version;        // version string of the image
  std::int32_t size;          // bytes of the bit file, header included
};

namespace vok::firmware {

// Rows 0 to 3: the fx, s1, s2 and sx images, in the order they are written.
extern const imageentry image_set[4];
// "20111114 1.0.34.8-4.5-1.14.18"
extern const char package_string[];
// 1.0.34.8 as a packed version word.
extern const std::uint32_t package_version;

}  // namespace vok::firmware
