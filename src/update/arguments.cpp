#include "arguments.h"

#include <cstring>

namespace vok::update {
namespace {

constexpr const char board_prefix[] = "PCI,card:";

enum option_bit : unsigned {
  option_c = 1,
  option_help = 2,
  option_version = 4,
  option_list = 8,
  option_verify = 16,
  option_yes = 32,
  option_json = 64,
  option_if_differs = 128,
  option_msi_exit_codes = 256,
  option_power_cycled = 512,
};

struct option_name {
  const char *name;
  option_bit bit;
};

constexpr option_name options[] = {
    {"-c", option_c},           {"--help", option_help}, {"--version", option_version},
    {"--list", option_list},    {"--verify", option_verify}, {"--yes", option_yes},
    {"--json", option_json},    {"--if-differs", option_if_differs},
    {"--msi-exit-codes", option_msi_exit_codes}, {"--power-cycled", option_power_cycled},
};

// The bit of an option, or 0 for any other argument.
unsigned option_of(const char *argument) {
  for (const option_name &o : options) {
    if (std::strcmp(argument, o.name) == 0) return o.bit;
  }
  return 0;
}

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
  unsigned seen = 0;
  // The options, each at most once, before the board argument. "-c" is accepted and has no
  // effect: every image is always read back.
  for (unsigned bit; next < argc && (bit = option_of(argv[next])) != 0; ++next) {
    if ((seen & bit) != 0) return false;
    seen |= bit;
    if (bit == option_json) {
      // A report name that begins with "--" is the next option, not a file.
      if (++next >= argc || std::strncmp(argv[next], "--", 2) == 0) return false;
      args.json = argv[next];
    }
  }
  const unsigned modes = seen & (option_list | option_verify | option_yes);
  if ((modes & (modes - 1)) != 0) return false;  // at most one mode
  args.help = (seen & option_help) != 0;
  args.version = (seen & option_version) != 0;
  args.yes = (seen & option_yes) != 0;
  args.if_differs = (seen & option_if_differs) != 0;
  args.msi_exit_codes = (seen & option_msi_exit_codes) != 0;
  if ((seen & option_list) != 0) args.mode = run_mode::list;
  if ((seen & option_verify) != 0) args.mode = run_mode::verify;
  if (args.if_differs && !args.yes) return false;  // an option of --yes
  if (args.msi_exit_codes && !args.unattended()) return false;
  args.power_cycled = (seen & option_power_cycled) != 0;
  if (args.power_cycled && (seen != option_power_cycled || next < argc)) return false;  // alone

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
  // Arguments after the board are ignored, as they always were; but an option there, or a
  // misspelled one ("--lsit"), would be lost without a word, and an unattended run would turn
  // into one that asks.
  for (++next; next < argc; ++next) {
    if (std::strncmp(argv[next], "--", 2) == 0 || (option_of(argv[next]) & ~option_c) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace vok::update
