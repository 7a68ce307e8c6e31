// The setup string: which board family, which board, channel, open type and open program.
#pragma once

#include <cstdint>

namespace vok {

// Bit that the setup keyword "openprogram" sets: the open then takes the program unchecked.
inline constexpr std::int32_t openprogram_unchecked = 0x1000000;

inline constexpr std::int32_t devtype_talvix = 24;
inline constexpr std::int32_t devtype_carvathraw = 23;

// Parses `setup` (or, when it is null or empty, the environment's "ORVELLO", then
// "TARVIK_CMD") into the places given. `cardid` is set to 0 first; the others keep the
// caller's values unless an option sets them. Returns SV_OK or SV_ERROR_SVOPENSTRING; never
// reads past the end of the text.
int parse_setup(const char *setup, std::int32_t *cardid, std::int32_t *channelid,
                std::uint32_t *opentype, std::int32_t *openprogram, std::int32_t *devtype);

// Reads a decimal number as the C library's atoi does (leading blanks, optional sign, digits
// up to the first other character; none gives 0), without overflow: the value wraps to 32 bits.
std::int32_t read_decimal(const char *text);

}  // namespace vok
