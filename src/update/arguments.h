// The tool's command line: "[-c] [PCI,card:<board#>]".
#pragma once

#include <cstddef>

namespace vok::update {

inline constexpr int boards_to_try = 8;
inline constexpr std::size_t cardstring_size = 128;

// The boards that the command line names.
struct arguments {
  char cardstring[cardstring_size] = {};  // the named board's setup string; empty when none
  int first = 0;                          // the number of the first board tried
  int count = boards_to_try;              // how many boards are tried from it
};

// Reads the command line (`argv[0]` is the program) into `args`. False when it carries a
// parameter that is not understood: the caller prints the usage then.
bool parse_arguments(int argc, const char *const *argv, arguments &args);

// The board number of a "PCI,card:" argument: decimal digits after optional blanks and an
// optional sign, up to the first other character; 0 when there are none.
int board_number(const char *text);

}  // namespace vok::update
