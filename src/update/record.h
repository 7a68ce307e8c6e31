// What a run learns about each board, kept for the run's report: the steps of the update fill
// it in as they go, whatever the mode.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace vok::update {

// How a board's passage through the run ended.
enum class outcome {
  none,         // not handed to a mode's steps
  skipped,      // not a Vantrel board
  listed,       // --list: reported
  updated,      // every region written and verified
  verified,     // --verify: every region matches
  differs,      // --verify: a region differs from its image
  refused,      // a check refused the board; nothing written
  declined,     // the operator did not answer y
  failed,       // a query, a write or a read-back failed
  interrupted,  // an interrupt ended the run on this board
  busy,         // another program holds the board: its open was refused
};
const char *outcome_name(outcome o);

// A version word in driver form (fix 24-31, major 16-23, minor 8-15, patch 0-7) as
// major.minor.patch.fix.
std::string version_text(std::uint32_t word);

// One entry of the board's module version table.
struct module_record {
  std::string name;
  std::string version;  // major.minor.patch.fix
  std::string date;     // yyyy/mm/dd hh:mm, empty when the module has none
  std::string comment;
  bool beta = false;             // the record's flags mark a beta release
  std::int32_t beta_number = 0;  // as the version report prints it beside the beta flag
};

struct mismatch {
  std::uint32_t offset, read, expected;
};

// One flash region written and read back, or only read back.
struct region_record {
  int map = 0;
  std::uint32_t bytes_written = 0;
  std::uint32_t words_read = 0;
  int mismatches = 0;
  std::vector<mismatch> first_mismatches;  // the first ten
  int result = 0;                          // an SV_ code; SV_ERROR_FLASH_VERIFY for mismatches
  // Whether the region's record in the version table (version and description) is the one that
  // the update writes; unknown when the board lists no record for the region, or when the
  // region was not compared.
  std::optional<bool> record_matches;
};

struct board_record {
  int card = 0;
  std::string setup;
  std::optional<std::int32_t> devtype;
  std::string type_name;
  std::optional<std::int32_t> serial;
  std::optional<std::int32_t> driver_version;  // driver form
  std::optional<std::int32_t> chipversion;
  std::optional<std::int32_t> flashsize;
  std::optional<std::int32_t> cardoptions;
  std::vector<module_record> modules_before;
  std::vector<module_record> modules_after;
  outcome result = outcome::none;
  std::string reason;  // why it was refused, declined, failed or interrupted
  std::vector<region_record> regions;
};

struct run_record {
  std::string tool_version;  // the tool's software version, major.minor.patch.fix
  std::string build;         // the build's date and time, as the banner shows them
  const char *mode = "update";  // update, yes, list or verify
  std::time_t started = 0;
  std::time_t ended = 0;
  std::vector<board_record> boards;
  std::vector<int> not_tried;  // cards past a held one, which the run could not reach
  int exit_value = 0;  // as the program returns it: -1 is 255 to a POSIX shell
};

// Whether the run wrote a region of the board.
inline bool regions_written(const board_record &board) {
  for (const region_record &r : board.regions) {
    if (r.bytes_written != 0) return true;
  }
  return false;
}

// Whether the board's update is complete, with regions written in this run: the board loads
// the new images only after the computer's power was off.
inline bool power_cycle_needed(const board_record &board) {
  return board.result == outcome::updated && regions_written(board);
}

// Whether the run wrote regions of the board but did not complete its update (an interrupt, a
// failed region): the board must be updated again before the computer is powered off, or it
// would start with new and old images side by side.
inline bool run_again_needed(const board_record &board) {
  return board.result != outcome::updated && regions_written(board);
}

// The same for any board of the run.
inline bool power_cycle_needed(const run_record &run) {
  for (const board_record &b : run.boards) {
    if (power_cycle_needed(b)) return true;
  }
  return false;
}
inline bool run_again_needed(const run_record &run) {
  for (const board_record &b : run.boards) {
    if (run_again_needed(b)) return true;
  }
  return false;
}

}  // namespace vok::update
