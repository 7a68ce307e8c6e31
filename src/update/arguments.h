// The tool's command line: "[options] [-c] [PCI,card:<board#>]".
#pragma once

#include <cstddef>

namespace vok::update {

inline constexpr int boards_to_try = 8;
inline constexpr std::size_t cardstring_size = 128;

// What the run does with each board.
enum class run_mode {
  update,  // check, ask, write and verify (with --yes: without asking or waiting)
  list,    // --list: report every board, write nothing
  verify,  // --verify: check, then compare the flash with the images, write nothing
};

// The boards that the command line names, and the options given before them.
struct arguments {
  char cardstring[cardstring_size] = {};  // the named board's setup string; empty when none
  int first = 0;                          // the number of the first board tried
  int count = boards_to_try;              // how many boards are tried from it
  run_mode mode = run_mode::update;
  bool yes = false;             // --yes: the confirmation answered y, no waits
  bool if_differs = false;      // --if-differs (with --yes): write only where the flash differs
  bool msi_exit_codes = false;  // --msi-exit-codes: exit values in Windows Installer's terms
  const char *json = nullptr;   // --json FILE: where the run's report goes
  bool power_cycled = false;    // --power-cycled: the computer's power was off; forget the updates
  bool help = false;            // --help
  bool version = false;         // --version

  // The modes that never read standard input and whose exit value tells the outcome.
  bool unattended() const { return yes || mode != run_mode::update; }
};

// Reads the command line (`argv[0]` is the program) into `args`. False when it carries a
// parameter that is not understood, an option twice, two modes, --json without a file (or
// with a name that begins with "--"), --if-differs without --yes, --msi-exit-codes without an
// unattended mode, --power-cycled with anything else, or an option other than -c, or any word
// beginning with "--", after the board argument: the caller prints the usage then.
bool parse_arguments(int argc, const char *const *argv, arguments &args);

// The board number of a "PCI,card:" argument: decimal digits after optional blanks and an
// optional sign, up to the first other character; 0 when there are none.
int board_number(const char *text);

}  // namespace vok::update
