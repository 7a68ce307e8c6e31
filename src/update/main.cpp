// vantrel-upgrade: writes the embedded firmware images into the flash of every Vantrel board
// of this machine, verifies them, and reports the versions before and after. Unattended, it
// also lists the boards, compares their flash with the images, or updates without questions,
// and writes a report of the run in JSON.
#include <cstdio>
#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "arguments.h"
#include "board_lock.h"
#include "event_log.h"
#include "interrupt.h"
#include "json_report.h"
#include "run.h"
#include "state.h"
#include "vokoem/vokoem.h"

namespace {

#define VERSION_TEXT_OF(a, b, c, d) #a "." #b "." #c "." #d
#define VERSION_TEXT(parts) VERSION_TEXT_OF(parts)
constexpr const char tool_version[] = VERSION_TEXT(VANTREL_UPGRADE_VERSION);
constexpr const char build_time[] = __DATE__ " " __TIME__;

void syntax(const char *program) {
  std::printf("Syntax: %s [PCI,card:<board#>]\n", program);
  std::printf("        <board#>     Zero-based index on all recognized VOK video boards.\n");
}

void usage(const char *program) {
  std::printf("Program %s called with unknown parameter.\n\n", program);
  syntax(program);
}

void help(const char *program) {
  syntax(program);
  std::printf("\n");
  std::printf("Full syntax: %s [options] [-c] [PCI,card:<board#>]\n", program);
  std::printf("  --list        list every board with its module versions; writes nothing\n");
  std::printf("  --verify      compare the flash of every Vantrel board with the images; "
              "writes nothing\n");
  std::printf("  --yes         update without asking, and without waiting after a failure\n");
  std::printf("  --if-differs  with --yes: compare first, and write only a board whose flash\n");
  std::printf("                differs from the images\n");
  std::printf("  --json FILE   write a report of the run in JSON to FILE\n");
  std::printf("  --msi-exit-codes  with --list, --verify or --yes: exit values as Windows\n");
  std::printf("                Installer's, for deployment systems (Windows only; see below)\n");
  std::printf("  --power-cycled  alone: the computer's power was off since the last update;\n");
  std::printf("                the boards' pending power cycle is no longer reported\n");
  std::printf("  --help        print this text\n");
  std::printf("  --version     print the tool's and the firmware package's versions\n");
  std::printf("  -c            accepted for compatibility; every image is always read back\n");
  std::printf("\n");
  std::printf("Exit values of --list, --verify and --yes:\n");
  std::printf("    0  success: every board updated and verified, every region matches,\n");
  std::printf("       or at least one board listed\n");
  std::printf("    1  a board failed: a refused write, a failed read, words that differ\n");
  std::printf("    2  a board was refused by the checks, and none failed\n");
  std::printf("    3  no Vantrel board was found (--list: no board)\n");
  std::printf("    4  the report could not be written (the boards' outcome is on the output)\n");
  std::printf("    5  a board is held by another program (close it, then run this again)\n");
  std::printf("       or by another run of this tool (run this again when it has ended)\n");
  std::printf("  130  interrupted\n");
  std::printf("With --msi-exit-codes: 3010 a power cycle is pending (the images were written,\n");
  std::printf("in this run or in an earlier one since the computer started: the power must be\n");
  std::printf("off once before the boards load them; a restart is not enough), 0 nothing\n");
  std::printf("needed writing, 1602 interrupted, 1618 a board is busy (retry later); 1 to 4 as\n");
  std::printf("above. The boards whose update completed are remembered on this computer; after\n");
  std::printf("it started again their power cycle is unconfirmed (the report says null) until\n");
  std::printf("--power-cycled.\n");
  std::printf("The update that asks ends with 0 when a Vantrel board was handed to it and with\n");
  std::printf("-1 (255) otherwise, or with 130 when interrupted. Every mode ends with -1 (255)\n");
  std::printf("for a command line that it cannot use.\n");
}

// Takes the state record's turn (one run at a time reads, changes and writes it; runs on other
// boards end too: waits up to five seconds, then goes on) and reads it; a record that cannot be
// read is a warning.
void load_state(const char *program, vok::update::board_lock &held,
                vok::update::machine_state &state) {
  for (int wait = 0; wait < 100 && held.take_named("state") == vok::update::board_lock::state::taken;
       ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  std::string warning;
  state.load(warning);
  if (!warning.empty()) std::fprintf(stderr, "%s: warning: %s\n", program, warning.c_str());
}

// Keeps the run's completed updates in the machine's state record, and tells the run which of
// its boards an earlier run updated. Neither a record that cannot be read nor one that cannot
// be written fails a board: each is a warning.
void keep_state(const char *program, vok::update::run_record &run) {
  vok::update::board_lock held;
  vok::update::machine_state state;
  load_state(program, held, state);
  std::string problem;
  if (vok::update::apply_state(state, run, vok::update::machine_state::boot_identity(),
                               vok::update::utc_text(std::time(nullptr))) &&
      !state.save(problem)) {
    std::fprintf(stderr,
                 "%s: warning: the record of the boards' updates cannot be written (%s): a later "
                 "run cannot tell that their power cycle is pending\n",
                 program, problem.c_str());
  }
}

// --power-cycled: the operator says that the computer's power was off since the last update;
// the records of the updated boards are forgotten.
int forget_updates(const char *program) {
  vok::update::board_lock held;
  vok::update::machine_state state;
  load_state(program, held, state);
  std::string problem;
  const std::size_t count = state.boards().size();
  state.forget_all();
  if (!state.save(problem)) {
    std::fprintf(stderr, "%s: cannot write the record of the boards' updates: %s\n", program,
                 problem.c_str());
    return 1;
  }
  std::printf("The power cycle of %zu updated board(s) is no longer reported\n", count);
  return 0;
}

void identity() {
  std::printf("Vantrel Upgrade version %s", build_time);
  std::printf(" (SW %d.%d.%d.%d)\n", VANTREL_UPGRADE_VERSION);
  std::printf("           Version   %s:'%s'\n",
              vok::update::version_text(vok::firmware::package_version).c_str(),
              vok::firmware::package_string);
}

void banner(const vok::update::arguments &args) {
  identity();
  std::printf("\n");
  if (args.mode != vok::update::run_mode::update) return;  // nothing is written
  std::printf("\n");
  std::printf("You will need to reboot your computer with power off to reload the new hardware.\n");
}

}  // namespace

int main(int argc, char **argv) {
  const char *program = argv[0];
  vok::update::arguments args;
  if (!vok::update::parse_arguments(argc, argv, args)) {
    usage(program);
    return -1;
  }
  if (args.help) {
    help(program);
    return 0;
  }
  if (args.version) {
    identity();
    return 0;
  }
  if (args.power_cycled) return forget_updates(program);
#if !defined(_WIN32)
  // A POSIX exit value holds 0 to 255: 3010 would reach the caller as 194, 1602 as 66.
  if (args.msi_exit_codes) {
    std::fprintf(stderr,
                 "%s: --msi-exit-codes is for Windows, whose exit values hold Windows "
                 "Installer's; here they would arrive cut to 8 bits. Run without it: the exit "
                 "values are listed by --help.\n",
                 program);
    return -1;
  }
#endif
  // The handlers come first: an interrupt from here on leaves no temporary report behind.
  vok::update::catch_interrupts();
  vok::update::json_report report;
  std::string problem;
  if (args.json != nullptr && !report.open(args.json, problem)) {
    std::fprintf(stderr, "%s: cannot write the report %s\n", program, problem.c_str());
    return -1;
  }

  vok::update::run_record run;
  run.tool_version = tool_version;
  run.build = build_time;
  run.mode = vok::update::mode_name(args);
  run.started = std::time(nullptr);
  // When the system ends the process in the middle of a region (a closed console, a shutdown),
  // the report and the events kept before that region are what remains of the run.
  std::mutex kept_lock;
  vok::update::run_record kept_run;
  if (args.json != nullptr || args.unattended()) {
    vok::update::prepare_forced_end(
        [&] {
          vok::update::run_record ended = vok::update::forced_end_record(args, run);
          if (args.json != nullptr) report.keep(ended);
          std::lock_guard<std::mutex> hold(kept_lock);
          kept_run = std::move(ended);
        },
        [&] {
          if (args.json != nullptr) report.commit_kept();
          std::lock_guard<std::mutex> hold(kept_lock);
          if (args.unattended()) vok::update::log_run_ended(kept_run);
        });
  }
  banner(args);
  if (args.unattended()) vok::update::log_run_started(run);
  const int exit_value = vok::update::run_boards(args, run);
  keep_state(program, run);
  if (args.unattended()) vok::update::print_earlier_updates(run);
  run.exit_value = vok::update::deployment_exit(args, run, exit_value);
  run.ended = std::time(nullptr);
  if (args.unattended()) vok::update::log_run_ended(run);
  if (args.json != nullptr && !report.commit(run, problem)) {
    std::fprintf(stderr, "%s: cannot write the report %s\n", program, problem.c_str());
    std::fprintf(stderr, "%s: the run itself ended with %d\n", program, run.exit_value);
    run.exit_value = vok::update::exit_without_report(args, run.exit_value);
  } else if (args.json != nullptr && !report.warning().empty()) {
    std::fprintf(stderr, "%s: warning: %s\n", program, report.warning().c_str());
  }
  vok::update::run_finished();
  return run.exit_value;
}
