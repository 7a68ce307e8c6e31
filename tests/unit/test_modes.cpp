// The tool's command line, and the board loop of the unattended modes over two boards.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "arguments.h"
#include "board_lock.h"
#include "interrupt.h"
#include "json_report.h"
#include "lifecycle.h"
#include "environment.h"
#include "rights.h"
#include "run.h"

namespace vok::test {
namespace {

using update::run_mode;

struct argument_case {
  std::vector<const char *> argv;  // after the program
  bool accepted;
  run_mode mode = run_mode::update;
  bool yes = false;
  const char *json = nullptr;
  int count = update::boards_to_try;
  bool if_differs = false;
  bool msi_exit_codes = false;
};

class Arguments : public ::testing::TestWithParam<argument_case> {};

TEST_P(Arguments, AreReadOrRefused) {
  const argument_case &c = GetParam();
  std::vector<const char *> argv = {"vantrel-upgrade"};
  argv.insert(argv.end(), c.argv.begin(), c.argv.end());
  update::arguments args;
  ASSERT_EQ(update::parse_arguments(static_cast<int>(argv.size()), argv.data(), args), c.accepted);
  if (!c.accepted) return;
  EXPECT_EQ(args.mode, c.mode);
  EXPECT_EQ(args.yes, c.yes);
  EXPECT_STREQ(args.json, c.json);
  EXPECT_EQ(args.count, c.count);
  EXPECT_EQ(args.if_differs, c.if_differs);
  EXPECT_EQ(args.msi_exit_codes, c.msi_exit_codes);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Arguments,
    ::testing::Values(
        argument_case{{}, true},
        argument_case{{"-c", "PCI,card:3"}, true, run_mode::update, false, nullptr, 1},
        argument_case{{"--yes", "--json", "r.json", "PCI,card:1"}, true, run_mode::update, true,
                      "r.json", 1},
        argument_case{{"--json", "r.json", "--verify", "-c"}, true, run_mode::verify, false,
                      "r.json"},
        argument_case{{"--list"}, true, run_mode::list},
        argument_case{{"PCI,card:0", "-c", "extra"}, true, run_mode::update, false, nullptr, 1},
        argument_case{{"PCI,card:0", "--yes", "--json", "r.json"}, false},  // not dropped
        argument_case{{"--json", "r.json", "PCI,card:0", "--lsit"}, false},  // nor misspelled
        argument_case{{"--json", "--yes", "PCI,card:0"}, false},  // no report named --yes
        argument_case{{"--list", "--verify"}, false},  // one mode at most
        argument_case{{"--yes", "--yes"}, false},      // each option once
        argument_case{{"-c", "-c"}, false},
        argument_case{{"--json"}, false},  // a report needs its file
        argument_case{{"--Yes"}, false},
        argument_case{{"--yes", "--if-differs", "--msi-exit-codes"}, true, run_mode::update, true,
                      nullptr, update::boards_to_try, true, true},
        argument_case{{"--msi-exit-codes", "--verify"}, true, run_mode::verify, false, nullptr,
                      update::boards_to_try, false, true},
        argument_case{{"--if-differs"}, false},      // an option of --yes
        argument_case{{"--msi-exit-codes"}, false},  // not for the update that asks
        argument_case{{"--yes", "card:0"}, false}));

// A driver's texts may hold any bytes: the report escapes what JSON needs and takes bytes of
// 0x80 and above for the Latin-1 characters, so that it stays valid whatever the board says.
TEST(ReportText, DriverBytesBecomeEscapedLatin1Characters) {
  update::run_record run;
  run.boards.resize(1);
  run.boards[0].modules_before.push_back({"x\"y\\z", "1.2.3.4", "", "caf\xE9\x01\x7F"});
  const std::string text = update::to_json(run);
  EXPECT_NE(text.find(R"("name": "x\"y\\z")"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("comment": "caf\u00e9\u0001\u007f")"), std::string::npos) << text;
}

// A folder for a report, removed on every path.
class Report : public ::testing::Test {
 protected:
  const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                    ("vok-report-" + std::to_string(std::random_device{}()));
  const std::string path = (dir / "r.json").string();
  update::json_report report;
  std::string error;

  void SetUp() override {
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(report.open(path.c_str(), error)) << error;
  }
  void TearDown() override { std::filesystem::remove_all(dir); }
  std::ptrdiff_t files() const {
    return std::distance(std::filesystem::directory_iterator(dir),
                         std::filesystem::directory_iterator());
  }
};

// A report whose path turns into a folder during the run: the commit fails and takes its
// temporary file away; the run then ends with a value of its own, which reads as no board's
// outcome (a current flash must not pass for one that differs), unless it was interrupted.
TEST_F(Report, NotWrittenFailsTheRunUnlessItWasInterrupted) {
  std::filesystem::create_directory(path);
  EXPECT_FALSE(report.commit(update::run_record{}, error));
  EXPECT_EQ(files(), 1);

  update::arguments asks, yes;
  yes.yes = true;
  EXPECT_EQ(update::exit_without_report(asks, 0), -1);
  for (const int outcome : {update::exit_success, update::exit_board_failed,
                            update::exit_board_refused, update::exit_no_board}) {
    EXPECT_EQ(update::exit_without_report(yes, outcome), update::exit_report_not_written);
  }
  EXPECT_EQ(update::exit_without_report(yes, update::exit_interrupted), update::exit_interrupted);
}

// The system ends the process while the third region of the second board is in hand: the
// report kept before that region says so, and the run's own commit does not follow it.
TEST_F(Report, KeptForAForcedEndNamesTheBoardInHandInterrupted) {
  update::run_record run;
  run.boards.resize(2);
  run.boards[0].result = update::outcome::updated;
  run.boards[1].regions.resize(2);
  run.boards[1].region_in_hand = 3;
  run.boards[1].writing_in_hand = true;
  update::arguments yes;
  yes.yes = yes.msi_exit_codes = true;
  EXPECT_EQ(update::forced_end_record(yes, run).exit_value, update::msi_user_cancelled);
  yes.msi_exit_codes = false;
  const update::run_record ended = update::forced_end_record(yes, run);
  EXPECT_EQ(ended.boards[0].result, update::outcome::updated);
  EXPECT_EQ(ended.boards[1].result, update::outcome::interrupted);
  EXPECT_NE(ended.boards[1].reason.find("while map 3 was written"), std::string::npos);
  EXPECT_TRUE(update::run_again_needed(ended.boards[1])) << "map 3 may hold anything";
  EXPECT_EQ(ended.exit_value, update::exit_interrupted);

  report.keep(ended);
  report.commit_kept();  // what the handler does when the system is about to end the process
  EXPECT_TRUE(report.commit(run, error)) << "the kept report is there";
  EXPECT_EQ(files(), 1);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), update::to_json(ended));
}

#if defined(_WIN32)
// The console's events as the system delivers them, on a thread of their own.
struct console_case {
  const char *name;
  DWORD event;
  bool interrupts;
  int run_ends_after_ms;  // the run finishes this long after the event; -1: it goes on
  bool leaves;            // the kept report is written before the process is let go
};

class ConsoleEvent : public ::testing::TestWithParam<console_case> {
 protected:
  void SetUp() override {
    update::reset_interrupts();
    update::catch_interrupts();
  }
  void TearDown() override { update::reset_interrupts(); }
};

TEST_P(ConsoleEvent, MarksTheRunAndLeavesTheKeptReportOnlyWhenTheProcessIsEnded) {
  const console_case &c = GetParam();
  std::atomic<int> kept{0}, left{0};
  update::prepare_forced_end([&] { ++kept; }, [&] { ++left; });
  update::long_step_begins();
  std::thread run_end;
  if (c.run_ends_after_ms >= 0) {
    run_end = std::thread([&] {
      Sleep(static_cast<DWORD>(c.run_ends_after_ms));
      update::run_finished();
    });
  }
  EXPECT_TRUE(update::on_console_event(c.event));
  if (run_end.joinable()) run_end.join();
  EXPECT_EQ(update::interrupted(), c.interrupts);
  EXPECT_EQ(update::wait_for_decision(0), c.interrupts);
  EXPECT_EQ(kept.load(), 1);
  EXPECT_EQ(left.load(), c.leaves ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Events, ConsoleEvent,
    ::testing::Values(console_case{"ctrl_c", CTRL_C_EVENT, true, -1, false},
                      console_case{"ctrl_break", CTRL_BREAK_EVENT, true, -1, false},
                      console_case{"logoff_of_any_user", CTRL_LOGOFF_EVENT, false, -1, false},
                      console_case{"close_in_a_region", CTRL_CLOSE_EVENT, true, -1, true},
                      console_case{"shutdown_in_a_region", CTRL_SHUTDOWN_EVENT, true, -1, true},
                      console_case{"close_between_regions", CTRL_CLOSE_EVENT, true, 200, false}),
    [](const auto &info) { return std::string(info.param.name); });

// Ctrl+C ends a console read before the handler's thread has marked the run: the reader
// waits for the handler's decision.
TEST_F(ConsoleEvent, AReadEndedByCtrlCWaitsForTheHandler) {
  std::thread handler([] {
    Sleep(100);
    update::on_console_event(CTRL_C_EVENT);
  });
  EXPECT_TRUE(update::wait_for_decision(10000));
  EXPECT_TRUE(update::interrupted());
  handler.join();
}
#endif

class TwoBoards : public board_test {
 protected:
  void SetUp() override {
    d.at(0);
    d.at(1);
    d.log_requests = false;  // a read-back is a million requests
    // The boards' locks in a folder of this test's own, away from the tool's real runs.
    locks = std::filesystem::temp_directory_path() /
            ("vok-locks-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(locks);
    set_environment("VANTREL_UPGRADE_LOCK_DIR", locks.string());
  }
  void TearDown() override {
    remove_environment("VANTREL_UPGRADE_LOCK_DIR");
    std::filesystem::remove_all(locks);
  }
  std::filesystem::path locks;

  // Runs the board loop with these options; standard output goes to `out` when given.
  int run(std::vector<const char *> options, update::run_record &record,
          std::string *out = nullptr) {
    options.insert(options.begin(), "vantrel-upgrade");
    update::arguments args;
    EXPECT_TRUE(update::parse_arguments(static_cast<int>(options.size()), options.data(), args));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int exit_value = update::deployment_exit(args, record, update::run_boards(args, record));
    const std::string printed = ::testing::internal::GetCapturedStdout();
    if (out != nullptr) *out = printed;
    ::testing::internal::GetCapturedStderr();
    expect_nothing_left();
    return exit_value;
  }

  static std::vector<std::string> outcomes(const update::run_record &record) {
    std::vector<std::string> names;
    for (const auto &b : record.boards) names.push_back(update::outcome_name(b.result));
    return names;
  }
};

TEST_F(TwoBoards, EachModeTakesBothInBoardOrder) {
  const std::vector<std::string> two_cards = {"PCI,card:0", "PCI,card:1"};
  struct step {
    std::vector<const char *> options;
    int exit_value;
    std::vector<std::string> outcomes;
  };
  const step steps[] = {
      {{"--list"}, update::exit_success, {"listed", "listed"}},
      {{"--verify"}, update::exit_board_failed, {"differs", "differs"}},  // erased flash
      {{"--yes"}, update::exit_success, {"updated", "updated"}},
      {{"--verify"}, update::exit_success, {"verified", "verified"}},
  };
  for (const step &s : steps) {
    update::run_record record;
    EXPECT_EQ(run(s.options, record), s.exit_value) << s.options[0];
    EXPECT_EQ(outcomes(record), s.outcomes) << s.options[0];
    ASSERT_EQ(record.boards.size(), 2u);
    EXPECT_EQ(record.boards[0].setup, two_cards[0]);
    EXPECT_EQ(record.boards[1].setup, two_cards[1]);
  }
  EXPECT_EQ(model(1).region(1).comment, "fx 20111017 34.8") << "the second board was written";
}

TEST_F(TwoBoards, ARefusedBoardAndAFailedOneGiveTheFailure) {
  model(0).settings().chipversion = 0x10056;
  update::run_record record;
  EXPECT_EQ(run({"--verify"}, record), update::exit_board_failed);
  EXPECT_EQ(outcomes(record), (std::vector<std::string>{"refused", "differs"}));
  EXPECT_EQ(record.boards[0].reason, "chips fx100 / sx56 are not supported");
  model(1).settings().chipversion = 0x10056;
  record = {};
  EXPECT_EQ(run({"--verify"}, record), update::exit_board_refused);
  d.at(0).result_for[ORVELLO_REQ_VERSION] = SV_ERROR_TRANSFER;  // a failed walk is no refusal
  model(0).settings().chipversion = 0x10055;
  record = {};
  EXPECT_EQ(run({"--verify"}, record), update::exit_board_failed);
  EXPECT_EQ(outcomes(record), (std::vector<std::string>{"failed", "refused"}));
}

// A board that another program holds (its open refused with access denied) is busy, not
// absent: in the messages, the report and the exit value. No board after it can be told
// apart from it.
TEST_F(TwoBoards, ABoardThatAnotherProgramHoldsIsBusy) {
  struct step {
    int held;
    std::vector<const char *> options;
    std::vector<std::string> outcomes;
    const char *line;
    std::vector<int> not_tried;
  };
  const step steps[] = {
      {1, {"--list"}, {"listed", "busy"}, "Card 1 is busy: another program holds it\n",
       {2, 3, 4, 5, 6, 7}},
      // The library's search stops at the held board 0: board 1 is not reached, and says why.
      {0, {"--list", "PCI,card:1"}, {"busy"},
       "Card 1 cannot be reached: card 0 before it is held by another program\n", {}},
  };
  for (const step &s : steps) {
    d.at(0).state = d.at(1).state = device_state::present;
    d.at(s.held).state = device_state::held;
    update::run_record record;
    std::string out;
    EXPECT_EQ(run(s.options, record, &out), update::exit_board_busy);
    EXPECT_EQ(outcomes(record), s.outcomes);
    EXPECT_NE(out.find(s.line), std::string::npos) << out;
    EXPECT_EQ(record.not_tried, s.not_tried);
  }
}

// Without the administrator's rights the driver refuses every open as it refuses a board in
// use: the run fails and says what to do, instead of asking for a retry that cannot succeed.
TEST_F(TwoBoards, AnOpenRefusedForWantOfRightsFailsAndSaysSo) {
  d.at(0).state = device_state::held;
  update::board_rights = [] { return false; };
  update::run_record record;
  std::string out;
  EXPECT_EQ(run({"--yes"}, record, &out), update::exit_board_failed);
  update::board_rights = update::has_board_rights;
  EXPECT_EQ(outcomes(record), (std::vector<std::string>{"failed"}));
  EXPECT_NE(out.find("Card 0 cannot be opened: this program needs the administrator's rights"),
            std::string::npos) << out;
  EXPECT_NE(record.boards[0].reason.find("as administrator"), std::string::npos);
}

// A board that another run of the tool holds is busy for every mode that reads or writes the
// flash; the other boards are still updated.
TEST_F(TwoBoards, ABoardThatAnotherRunHoldsIsBusyAndTheOthersGoOn) {
  // The other run holds board 1 on a thread of its own (a Windows mutex is its owner's again).
  std::promise<void> taken, ended;
  std::thread other_run([&] {
    update::board_lock lock;
    EXPECT_EQ(lock.take(1), update::board_lock::state::held);
    taken.set_value();
    ended.get_future().wait();
  });
  taken.get_future().wait();
  for (const char *mode : {"--verify", "--yes"}) {
    update::run_record record;
    std::string out;
    EXPECT_EQ(run({mode}, record, &out), mode == std::string("--yes") ? update::exit_board_busy
                                                                      : update::exit_board_failed);
    EXPECT_EQ(outcomes(record), (std::vector<std::string>{mode[2] == 'y' ? "updated" : "differs",
                                                          "busy"}));
    EXPECT_NE(out.find("Card 1 is busy: another run of vantrel-upgrade updates or verifies it"),
              std::string::npos) << out;
  }
  ended.set_value();
  other_run.join();
  EXPECT_EQ(model(1).region(1).comment, "fx 20110301 33.7") << "board 1 was not written";
}

// --if-differs writes only the regions that differ, in their data or in their record: the
// same command again writes nothing, and says so. --verify finds a region whose record is
// not the update's as differing, also when its data is current.
TEST_F(TwoBoards, IfDiffersWritesOnlyTheRegionsThatDiffer) {
  struct step {
    std::vector<const char *> options;
    int exit_value;
    const char *outcome;
    std::vector<bool> written;  // regions 1 to 4 of board 1
  };
  const std::vector<bool> all(4, true), none(4, false), only_4 = {false, false, false, true};
  const step steps[] = {
      {{"--yes", "--if-differs", "--msi-exit-codes"}, update::msi_restart_required, "updated", all},
      {{"--verify"}, update::exit_board_failed, "differs", none},  // region 4's record is gone
      {{"--yes", "--if-differs", "--msi-exit-codes"}, update::msi_restart_required, "updated",
       only_4},
      {{"--yes", "--if-differs", "--msi-exit-codes"}, 0, "verified", none},
      {{"--verify"}, update::exit_success, "verified", none},
  };
  for (const step &s : steps) {
    if (s.options[0] == std::string("--verify") && s.exit_value != 0) {
      model(0).set_region(4, {});
      model(1).set_region(4, {});  // the data stays the images'
    }
    update::run_record record;
    EXPECT_EQ(run(s.options, record), s.exit_value) << s.options[0];
    EXPECT_EQ(outcomes(record), (std::vector<std::string>(2, s.outcome))) << s.options[0];
    ASSERT_EQ(record.boards[1].regions.size(), 4u);
    std::vector<bool> written;
    for (const auto &r : record.boards[1].regions) written.push_back(r.bytes_written != 0);
    EXPECT_EQ(written, s.written) << s.options[0];
    EXPECT_EQ(update::power_cycle_needed(record), s.written != none) << s.options[0];
  }
  EXPECT_EQ(model(1).region(4).comment, "sx 20090403 2.14") << "described again";
}

// An interrupt on a later board leaves the run's outcome to a board that failed before it; a
// board whose update the interrupt left unfinished asks for another run, never a power cycle.
TEST_F(TwoBoards, AnInterruptDecidesNeitherOverAFailureNorForAPowerCycle) {
  struct step {
    const char *name;
    int refused_writes_on;  // the board whose writes are refused; -1: none
    int interrupt_on;       // the board whose first request of `code` interrupts the run
    std::uint32_t code;
    int exit_value;
    std::vector<std::string> outcomes;
    bool run_again;
  };
  const step steps[] = {
      {"failure_then_interrupt", 0, 1, ORVELLO_REQ_OPEN, update::exit_board_failed,
       {"failed", "interrupted"}, false},
      {"interrupt_in_region_1", -1, 0, ORVELLO_REQ_FLASHWRITE, update::msi_user_cancelled,
       {"interrupted", "interrupted"}, true},
  };
  for (const step &s : steps) {
    update::reset_interrupts();
    for (int card : {0, 1}) {
      d.at(card).result_for.clear();
      d.at(card).answer = nullptr;
    }
    if (s.refused_writes_on >= 0) {
      d.at(s.refused_writes_on).result_for[ORVELLO_REQ_FLASHWRITE] = SV_ERROR_FLASH_WRITE;
    }
    board::board &interrupted = model(s.interrupt_on);
    d.at(s.interrupt_on).answer = [&interrupted, code = s.code](void *record, std::size_t size) {
      std::uint32_t asked;
      std::memcpy(&asked, static_cast<const char *>(record) + 8, 4);
      if (asked == code) update::interrupt_run();
      serve_in_process(interrupted, record, size);
    };
    update::run_record record;
    EXPECT_EQ(run({"--yes", "--msi-exit-codes"}, record), s.exit_value) << s.name;
    EXPECT_EQ(outcomes(record), s.outcomes) << s.name;
    EXPECT_FALSE(update::power_cycle_needed(record)) << s.name;
    EXPECT_EQ(update::run_again_needed(record), s.run_again) << s.name;
  }
  update::reset_interrupts();
}

struct deployment_case {
  int exit_value;
  bool written;
  int mapped;
};

TEST(DeploymentExit, MapsTheOutcomeToWindowsInstallersValues) {
  const deployment_case cases[] = {
      {update::exit_success, true, update::msi_restart_required},
      {update::exit_success, false, 0},
      {update::exit_interrupted, true, update::msi_user_cancelled},
      {update::exit_board_busy, false, update::msi_another_install_running},
      {update::exit_board_failed, true, update::exit_board_failed},
      {update::exit_no_board, false, update::exit_no_board},
  };
  update::arguments args;
  args.yes = args.msi_exit_codes = true;
  for (const deployment_case &c : cases) {
    update::run_record run;
    run.boards.resize(1);
    run.boards[0].result = update::outcome::updated;
    run.boards[0].regions.resize(1);
    run.boards[0].regions[0].bytes_written = c.written ? 0x400000 : 0;
    EXPECT_EQ(update::deployment_exit(args, run, c.exit_value), c.mapped) << c.exit_value;
    EXPECT_EQ(update::exit_without_report(args, c.mapped),
              c.exit_value == update::exit_interrupted ? c.mapped
                                                       : update::exit_report_not_written);
  }
  args.msi_exit_codes = false;
  EXPECT_EQ(update::deployment_exit(args, {}, update::exit_interrupted), update::exit_interrupted);
}

}  // namespace
}  // namespace vok::test
