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
// run made one, else before it). Values that the report leaves null keep what `config` holds.
// False with `error` (one line) when the file cannot be read, is not a report of schema 1, has
// no such board or holds a value that the board cannot take.
bool load_board_report(const std::string &path, int card, board::config &config,
                       std::string &error);

// "2.9.1.0" as a packed version word (fix 24-31, major 16-23, minor 8-15, patch 0-7); an
// empty text, or why the text is not a version.
std::string parse_version(const std::string &text, std::uint32_t &word);

}  // namespace vok::sim
