// A report of the tool played back as a simulated board (vok-simulator --board-report): the
// tool sees the board that the report describes, and reports it alike.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "golden.h"
#include "run_process.h"
#include "scratch.h"
#include "simulator_process.h"

namespace vok::test {
namespace {

using arguments = std::vector<std::string>;
using json = nlohmann::json;

// Runs the tool in `mode` with a report against `simulator`; the report without its times.
process_result run_against(const arguments &simulator, const char *mode, const std::string &report,
                           json &read_back) {
  simulator_process sim(simulator);
  EXPECT_TRUE(sim.ready()) << sim.ready_line();
  process_result run = run_process(VOK_UPGRADE_PATH, {mode, "--json", report}, "");
  EXPECT_EQ(sim.stop(), 0);
  read_back = json::parse(read_file(report), nullptr, false);
  if (read_back.is_object()) {
    read_back.erase("started");
    read_back.erase("ended");
  }
  return run;
}

struct replay_case {
  const char *name;
  arguments simulator;
  const char *mode;
  int status;
};

class Replay : public ::testing::TestWithParam<replay_case> {};

TEST_P(Replay, TheReplayedBoardGivesTheSameTranscriptAndReport) {
  const replay_case &c = GetParam();
  scratch s;
  arguments board = c.simulator;
  if (std::string(c.name) == "unusual_board") {
    // Region versions of an earlier update, kept in a flash file.
    const std::string flash = s.path("flash.bin");
    {
      simulator_process updated({"--flash-file", flash});
      ASSERT_TRUE(updated.ready());
      ASSERT_EQ(run_process(VOK_UPGRADE_PATH, {"--yes"}, "").status, 0);
    }
    board.insert(board.end(), {"--flash-file", flash});
  }
  json site, replayed;
  const process_result first = run_against(board, c.mode, s.path("site.json"), site);
  EXPECT_EQ(first.status, c.status) << first.out << first.err;
  const process_result second = run_against({"--board-report", s.path("site.json")}, c.mode,
                                            s.path("replayed.json"), replayed);
  EXPECT_EQ(second.out, first.out);
  EXPECT_EQ(second.status, first.status);
  EXPECT_EQ(replayed, site);
}

INSTANTIATE_TEST_SUITE_P(
    Boards, Replay,
    ::testing::Values(replay_case{"unusual_board",
                                  {"--serial", "4242", "--driver-version", "2.9.3.0",
                                   "--card-options", "1", "--module", "driver2=2.3.14.0"},
                                  "--list", 0},
                      replay_case{"refused_for_an_old_driver", {"--driver-version", "2.9.0.0"},
                                  "--verify", 2}),
    [](const auto &info) { return std::string(info.param.name); });

// Report files that cannot be played: one line on standard error, exit 2, and no simulator
// published (the tool finds no board).
struct bad_report {
  const char *name;
  const char *content;
  arguments extra;
  const char *message;
};

class BadReport : public ::testing::TestWithParam<bad_report> {};

TEST_P(BadReport, IsRefusedBeforeAnythingIsPublished) {
  const bad_report &c = GetParam();
  scratch s;
  const std::string file = s.path("report.json");
  std::ofstream(file) << c.content;
  arguments args = {"--board-report", file};
  args.insert(args.end(), c.extra.begin(), c.extra.end());
  const process_result run = run_process(simulator_process::program(), args, "", 30);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  const std::string message = std::regex_replace(c.message, std::regex("FILE"), file);
  EXPECT_EQ(run.err, "vok-simulator: " + message + "\n");
}

const char *const one_board = R"({"schema": 1, "boards": [{"card": 0, "serial": 5}]})";

INSTANTIATE_TEST_SUITE_P(
    Files, BadReport,
    ::testing::Values(
        bad_report{"not_json", "{\"schema\": 1,", {}, "the board report 'FILE' is not JSON"},
        bad_report{"other_schema", R"({"schema": 2, "boards": []})", {},
                   "'FILE' is not a report of schema 1"},
        bad_report{"no_board", R"({"schema": 1, "boards": []})", {}, "'FILE' has no board"},
        bad_report{"no_such_card", one_board, {"--report-board", "3"},
                   "'FILE' has no board of card 3"},
        bad_report{"serial_out_of_range",
                   R"({"schema": 1, "boards": [{"card": 0, "serial": 4294967296}]})", {},
                   "'FILE', card 0: serial 4294967296 cannot be played"},
        bad_report{"version_out_of_range",
                   R"({"schema": 1, "boards": [{"card": 1, "driver_version": "2.300.0.0"}]})",
                   {}, "'FILE', card 1: driver_version \"2.300.0.0\" cannot be played"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
