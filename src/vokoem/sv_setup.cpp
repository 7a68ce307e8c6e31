#include "sv_setup.h"

#include <cstring>

#include "platform/platform.h"
#include "vokoem/vokoem.h"

namespace vok {
namespace {

// Values of the option "type", compared in this order, each over its own length.
struct opentype_row {
  const char *text;
  std::uint32_t value;
};
constexpr opentype_row opentype_table[] = {
    {"input", 12},          //
    {"output", 3},          //
    {"noio", 0xA0000000u},  //
    {"default", 0},         //
    {"capture", 0x10000},   //
    {"waitforclose", 0x20000},
};

// Transports of another kind that a "TARVIK_CMD" value may name; such a value is ignored.
constexpr const char *other_transports[] = {"SHM", "TCPIP", "ETHER", "SCSI", "ASPI"};

bool starts_with(const char *text, const char *prefix) {
  return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool is_blank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

const char *choose_text(const char *setup) {
  const char *text = (setup != nullptr && *setup != '\0') ? setup : nullptr;
  const char *orvello = os().getenv("ORVELLO");
  if (text == nullptr && orvello != nullptr) text = orvello;
  const char *tarvik = os().getenv("TARVIK_CMD");
  if (tarvik != nullptr) {
    for (const char *transport : other_transports) {
      if (starts_with(tarvik, transport)) tarvik = nullptr;
      if (tarvik == nullptr) break;
    }
  }
  if (text == nullptr && tarvik != nullptr) text = tarvik;
  if (text != nullptr && *text == '\0') text = nullptr;
  return text;
}

// The value of an option starts one character after its keyword (the separator, ":" as a
// rule, is skipped unseen). An option that ends right after its keyword has no value at all;
// it is refused rather than read as 0, so that "PCI,card" never opens board 0 by accident.
const char *option_value(const char *option, std::size_t keyword_length) {
  char separator = option[keyword_length];
  if (separator == '\0' || separator == ',') return nullptr;
  return option + keyword_length + 1;
}

int parse_type(const char *value, std::uint32_t *opentype) {
  for (const auto &row : opentype_table) {
    if (starts_with(value, row.text)) {
      *opentype = row.value;
      return SV_OK;
    }
  }
  return SV_ERROR_SVOPENSTRING;
}

int parse_option(const char *option, std::int32_t *cardid, std::int32_t *channelid,
                 std::uint32_t *opentype, std::int32_t *openprogram) {
  struct keyword {
    const char *text;
    std::size_t length;
  };
  constexpr keyword card{"card", 4}, channel{"channel", 7}, type{"type", 4},
      program{"openprogram", 11};
  const char *value = nullptr;
  if (starts_with(option, card.text)) {
    if ((value = option_value(option, card.length)) == nullptr) return SV_ERROR_SVOPENSTRING;
    *cardid = read_decimal(value);
  } else if (starts_with(option, channel.text)) {
    if ((value = option_value(option, channel.length)) == nullptr) return SV_ERROR_SVOPENSTRING;
    *channelid = static_cast<std::int32_t>(static_cast<std::uint32_t>(read_decimal(value)) + 1u);
  } else if (starts_with(option, type.text)) {
    if ((value = option_value(option, type.length)) == nullptr) return SV_ERROR_SVOPENSTRING;
    return parse_type(value, opentype);
  } else if (starts_with(option, program.text)) {
    if ((value = option_value(option, program.length)) == nullptr) return SV_ERROR_SVOPENSTRING;
    *openprogram = read_decimal(value) | openprogram_unchecked;
  } else {
    return SV_ERROR_SVOPENSTRING;
  }
  return SV_OK;
}

}  // namespace

std::int32_t read_decimal(const char *text) {
  while (is_blank(*text)) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  std::uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<unsigned>(*text - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

int parse_setup(const char *setup, std::int32_t *cardid, std::int32_t *channelid,
                std::uint32_t *opentype, std::int32_t *openprogram, std::int32_t *devtype) {
  *cardid = 0;
  const char *text = choose_text(setup);
  if (text == nullptr) return SV_OK;

  if (starts_with(text, "TLX")) {
    *devtype = devtype_talvix;
  } else if (starts_with(text, "RAW")) {
    *devtype = devtype_carvathraw;
  } else if (!starts_with(text, "PCI")) {
    return SV_ERROR_SVOPENSTRING;
  }

  const char *position = text + 3;
  while (*position == ',') {
    const char *option = position + 1;
    int result = parse_option(option, cardid, channelid, opentype, openprogram);
    if (result != SV_OK) return result;
    position = option;
    while (*position != '\0' && *position != ',') ++position;
  }
  // The end of the text, or any other character after an option: the rest is not looked at.
  return SV_OK;
}

}  // namespace vok
