// What the tool keeps on the machine between runs: the boards whose update it completed, and
// in which boot. A board runs its old images until the computer's power has been off, and a
// restart does not reload it; without this record the run after an update would find the
// flash current and tell a deployment system that nothing is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "record.h"

namespace vok::update {

// A completed update of one board.
struct written_board {
  std::int32_t serial = 0;
  std::string package;  // the images' version, such as "1.0.34.8"
  std::string written;  // UTC time
  std::string boot;     // the identity of the boot it was written in
};

class machine_state {
 public:
  // The folder of the state file: $VANTREL_UPGRADE_STATE_DIR when set; on Windows
  // %ProgramData%\Vantrel\Upgrade; elsewhere /var/lib/vantrel-upgrade for root and
  // $XDG_STATE_HOME/vantrel-upgrade (~/.local/state/vantrel-upgrade) for other users.
  static std::string folder();
  // The identity of the current boot (Linux: the kernel's boot id; Windows: the time the
  // computer started, to the second).
  static std::string boot_identity();
  // Whether two boot identities name the same boot (Windows: start times within 30 s, which
  // a clock adjustment may move).
  static bool same_boot(const std::string &a, const std::string &b);

  // Reads the state file. A missing file is an empty state; one that cannot be read, or is
  // not a state file, is ignored, with the reason in `warning`.
  void load(std::string &warning);
  // Writes it anew (a temporary file renamed over it). False, with the reason in `problem`.
  bool save(std::string &problem) const;

  const std::vector<written_board> &boards() const { return boards_; }
  void remember(const written_board &board);
  void forget(std::int32_t serial);
  void forget_all() { boards_.clear(); }

 private:
  std::vector<written_board> boards_;
};

// Takes the run's boards into the state and the state into the run: a board whose update this
// run completed is remembered; one that this run wrote without completing is forgotten (it must
// be updated again first); every other board of the run learns of an earlier update from
// the state (board_record::earlier_update). Returns whether the state changed.
bool apply_state(machine_state &state, run_record &run, const std::string &boot,
                 const std::string &now);

// Prints, after the unattended runs' boards, the power cycle that an earlier update left.
void print_earlier_updates(const run_record &run);

}  // namespace vok::update
