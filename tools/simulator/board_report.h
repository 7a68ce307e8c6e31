// A board described by a report of vantrel-upgrade (its --json file), played by the simulator:
// so that what a site saw (a refused board, an odd listing) can be replayed with no board at hand.
#pragma once

#include <cstdint>
#include <string>

#include "board.h"

namespace vok::sim {

// The board of `card` in the report at `path` (card < 0: the first Vantrel board, else the
// first board) goes into `config`: type, serial number, driver version, chip pair word, card
// options, flash size, and the module table as the report lists it (after the update where the
// run made one, else before it), beta flags included. Values that the report leaves null keep
// what `config` holds. False with `error` (one line) when the file cannot be read, is larger
// than 16 MiB, nests deeper than a report, is not a report of schema 1, has no such board, or
// holds a value other than the tool writes; the error names that value by its path in the
// report (boards[0].modules_after[3].date).
bool load_board_report(const std::string &path, int card, board::config &config,
                       std::string &error);
// The same for a report in memory; `name` stands for its file in the errors.
bool read_board_report(const std::string &text, const std::string &name, int card,
                       board::config &config, std::string &error);

// "2.9.1.0" or "2.9.1" as a packed version word (fix 24-31, major 16-23, minor 8-15, patch
// 0-7): decimal digits and dots, nothing else. An empty text, or why the text is not a version.
std::string parse_version(const std::string &text, std::uint32_t &word);

}  // namespace vok::sim
