// One run at a time on a board: a machine-wide lock per card number, held while a run reads or
// writes the board's flash. Two runs that compared and wrote one board side by side would each
// see the other's half-written regions. The driver's exclusive open cannot be relied on for
// this (the simulator link has none), so the tool takes a lock of its own: a named mutex on
// Windows, a lock file on POSIX. The system releases it when the process ends, however it ends.
#pragma once

#include <string>

namespace vok::update {

class board_lock {
 public:
  enum class state {
    held,       // this run holds the board
    taken,      // another run holds it
    unavailable // the lock could not be made (see problem()): the run goes on without it
  };

  board_lock() = default;
  ~board_lock();
  board_lock(const board_lock &) = delete;
  board_lock &operator=(const board_lock &) = delete;

  // Takes the lock of board `card` without waiting.
  state take(int card) { return take_named("card" + std::to_string(card)); }
  // Takes the lock of another shared thing (the state record: "state") without waiting.
  state take_named(const std::string &name);
  // Why the lock could not be made, for a warning.
  const std::string &problem() const { return problem_; }

 private:
  void release();

#if defined(_WIN32)
  void *mutex_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::string problem_;
};

// Where the POSIX lock files are: $VANTREL_UPGRADE_LOCK_DIR when set (a test's own folder),
// else /run/lock, else /tmp.
std::string lock_directory();

}  // namespace vok::update
