// The board loop: every board that the command line names goes through the steps of the run's
// mode, one after the other.
#pragma once

#include "arguments.h"
#include "image_set.h"
#include "record.h"

namespace vok::update {

// The exit values of the unattended modes (the interactive update ends with 0 or -1).
inline constexpr int exit_success = 0;
inline constexpr int exit_board_failed = 1;
inline constexpr int exit_board_refused = 2;
inline constexpr int exit_no_board = 3;
inline constexpr int exit_report_not_written = 4;  // the board's outcome is in the dialogue
inline constexpr int exit_board_busy = 5;          // another program holds a board
inline constexpr int exit_interrupted = 130;

// Windows Installer's exit values, which deployment systems read (--msi-exit-codes); every
// other value counts as a failure there.
inline constexpr int msi_user_cancelled = 1602;
inline constexpr int msi_another_install_running = 1618;  // retry later
inline constexpr int msi_restart_required = 3010;         // here: the power cycle is pending

// Tries the boards, hands each to the mode's steps, keeps what they learn in `run`, and
// returns the program's exit value. Prints the closing advice when no board was found, and in
// the interactive update waits for a key after it. The value is exit_interrupted only when
// an interrupt stopped the steps of a board (or that wait).
int run_boards(const arguments &args, run_record &run,
               const imageentry (&images)[4] = firmware::image_set);

// The run's exit value in Windows Installer's terms with --msi-exit-codes, else as it is:
// written and verified 3010, nothing written 0, interrupted 1602, a busy board 1618; the
// failures keep their values.
int deployment_exit(const arguments &args, const run_record &run, int exit_value);

// The exit value of a run whose report could not be written at its end: a value of its own in
// the unattended modes (never one that reads as a board's outcome), -1 in the update that
// asks, and 130 when the run was interrupted.
int exit_without_report(const arguments &args, int exit_value);

// The run as its report reads when the system ends the process now: every board in hand
// interrupted, with the regions done so far and the region in hand, and the exit value that
// an interrupt gives (1602 with --msi-exit-codes).
run_record forced_end_record(const arguments &args, const run_record &run);

// The name of the run's mode in its report: update, yes, list or verify.
const char *mode_name(const arguments &args);

}  // namespace vok::update
