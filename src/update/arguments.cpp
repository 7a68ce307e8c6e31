#include "arguments.h"

#include <cstring>

namespace vok::update {
namespace {

constexpr const char board_prefix[] = "PCI,card:";

}  // namespace

int board_number(const char *text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  unsigned value = 0;
  for (; *text >= '0' && *text <= '9'; ++text)
    value = value * 10u + static_cast<unsigned>(*text - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

bool parse_arguments(int argc, const char *const *argv, arguments &args) {
  int next = 1;
  if (next < argc && std::strcmp(argv[next], "-c") == 0) ++next;  // accepted, no effect
  if (next >= argc) return true;
  const char *argument = argv[next];
  // A board argument too long for the buffer is refused: cutting it could name another board.
  if (std::strncmp(argument, board_prefix, sizeof board_prefix - 1) != 0 ||
      std::strlen(argument) >= cardstring_size) {
    return false;
  }
  std::strcpy(args.cardstring, argument);
  args.first = board_number(argument + sizeof board_prefix - 1);
  args.count = 1;
  return true;
}

}  // namespace vok::update
