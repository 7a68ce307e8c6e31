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

// A flash module's beta flag, and dates of every form that the tool writes (hex digits of any
// BCD word; all zero when the time word holds only bits that are not shown), are played as the
// report holds them: the tool prints them and reports the same table again.
TEST(BoardReport, ModulesArePlayedAsTheToolWroteThem) {
  scratch s;
  const json modules = json::parse(R"([
    {"name": "clib-oem", "version": "4.7.0.0", "date": "", "comment": "DebugVersion",
     "beta": false, "beta_number": 0},
    {"name": "driver", "version": "2.9.1.0", "date": "2011/11/14 11:59", "comment": "vokdriver",
     "beta": false, "beta_number": 0},
    {"name": "pciflash1", "version": "1.0.33.7", "date": "", "comment": "fx", "beta": false,
     "beta_number": 0},
    {"name": "pciflash2", "version": "2.13.0.0", "date": "abcd/1f/09 01:ff", "comment": "s1",
     "beta": true, "beta_number": 0},
    {"name": "pciflash3", "version": "1.0.33.7", "date": "0000/00/00 00:00", "comment": "s2",
     "beta": false, "beta_number": 0},
    {"name": "pciflash4", "version": "1.0.33.7", "date": "", "comment": "sx", "beta": false,
     "beta_number": 0}])");
  const json site = {{"schema", 1}, {"boards", {{{"card", 0}, {"modules_before", modules}}}}};
  std::ofstream(s.path("site.json")) << site.dump();
  json replayed;
  const process_result run = run_against({"--board-report", s.path("site.json")}, "--list",
                                         s.path("replayed.json"), replayed);
  EXPECT_NE(run.out.find("pciflash2      :   2.13.0.0 beta (0) abcd/1f/09 01:ff s1\n"
                         "pciflash3      :   1.0.33.7 0000/00/00 00:00 s2\n"),
            std::string::npos)
      << run.out;
  json table = replayed["boards"][0]["modules_before"];
  table[0] = modules[0];  // the library's own record is the library's
  EXPECT_EQ(table, modules);
}

// A module that the site's board lists after its flash modules is served there too: the
// modules keep their numbers, and the tool reports the table in the same order.
TEST(BoardReport, ModulesComeInTheReportsOrder) {
  scratch s;
  json modules = json::array();
  for (const char *name : {"clib-oem", "driver", "pciflash1", "pciflash2", "pciflash3",
                           "pciflash4", "hdmi-driver"}) {
    modules.push_back({{"name", name}, {"version", "1.0.33.7"}, {"date", ""}, {"comment", ""},
                       {"beta", false}, {"beta_number", 0}});
  }
  const json site = {{"schema", 1}, {"boards", {{{"card", 0}, {"modules_before", modules}}}}};
  std::ofstream(s.path("site.json")) << site.dump();
  json replayed;
  run_against({"--board-report", s.path("site.json")}, "--list", s.path("replayed.json"),
              replayed);
  json table = replayed["boards"][0]["modules_before"];
  table[0] = modules[0];  // the library's own record is the library's
  EXPECT_EQ(table, modules);
}

// Report files that cannot be played: one line on standard error, exit 2, and no simulator
// published (the tool finds no board).
struct bad_report {
  const char *name;
  std::string content;
  arguments extra;
  const char *message;
  const char *file = nullptr;  // read instead of the content
};

class BadReport : public ::testing::TestWithParam<bad_report> {};

TEST_P(BadReport, IsRefusedBeforeAnythingIsPublished) {
  const bad_report &c = GetParam();
  scratch s;
  const std::string file = c.file != nullptr ? c.file : s.path("report.json");
  if (c.file == nullptr) std::ofstream(file) << c.content;
  arguments args = {"--board-report", file};
  args.insert(args.end(), c.extra.begin(), c.extra.end());
  const process_result run = run_process(simulator_process::program(), args, "", 30);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  const std::string message = std::regex_replace(c.message, std::regex("FILE"), file);
  EXPECT_EQ(run.err, "vok-simulator: " + message + "\n");
}

const char *const one_board = R"({"schema": 1, "boards": [{"card": 0, "serial": 5}]})";

// A report of one board whose `key` is `value`.
std::string board_with(const char *key, const json &value) {
  json b = {{"card", 0}};
  b[key] = value;
  return json{{"schema", 1}, {"boards", {b}}}.dump();
}

// A report of one board whose flash module pciflash1, the second of modules_after, has `key`
// at `value`.
std::string module_with(const char *key, const json &value) {
  json module = {{"name", "pciflash1"}, {"version", "1.0.34.8"}, {"date", ""}, {"comment", ""}};
  module[key] = value;
  return board_with("modules_after", {{{"name", "driver"}, {"version", "2.9.1.0"}, {"date", ""},
                                       {"comment", ""}},
                                      module});
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadReport,
    ::testing::Values(
        bad_report{"not_json", "{\"schema\": 1,", {}, "the board report 'FILE' is not JSON"},
        bad_report{"other_schema", R"({"schema": 2, "boards": []})", {},
                   "'FILE' is not a report of schema 1"},
        bad_report{"no_board", R"({"schema": 1, "boards": []})", {}, "'FILE' has no board"},
        bad_report{"no_such_card", one_board, {"--report-board", "3"},
                   "'FILE' has no board of card 3"},
        bad_report{"nested_deeper_than_a_report",
                   R"({"schema": 1, "boards": [{"card": 0, "serial": )" +
                       std::string(200000, '[') + std::string(200000, ']') + "}]}",
                   {}, "the board report 'FILE' nests deeper than a report"},
        bad_report{"larger_than_a_report", "", {}, "the board report 'FILE' is larger than 16 MiB",
                   "/dev/zero"},
        bad_report{"serial_out_of_range", board_with("serial", 4294967296), {},
                   "'FILE': boards[0].serial 4294967296 cannot be played"},
        bad_report{"serial_beyond_a_signed_64_bit_number",
                   board_with("serial", 18446744073709551615u), {},
                   "'FILE': boards[0].serial 18446744073709551615 cannot be played"},
        bad_report{"version_out_of_range", board_with("driver_version", "2.300.0.0"), {},
                   "'FILE': boards[0].driver_version \"2.300.0.0\" cannot be played"},
        bad_report{"version_with_more_after_it", module_with("version", "2.9.1junk"), {},
                   "'FILE': boards[0].modules_after[1].version \"2.9.1junk\" cannot be played"},
        bad_report{"date_with_signs_and_spaces", module_with("date", "abcd/1f/ 9 +1:-1"), {},
                   "'FILE': boards[0].modules_after[1].date \"abcd/1f/ 9 +1:-1\" cannot be "
                   "played"},
        bad_report{"text_with_a_nul", module_with("comment", std::string("fx\0 34.8", 8)), {},
                   "'FILE': boards[0].modules_after[1].comment \"fx\\u0000 34.8\" cannot be "
                   "played"},
        bad_report{"beta_number_that_the_library_never_gives", module_with("beta_number", 2), {},
                   "'FILE': boards[0].modules_after[1].beta_number 2 cannot be played"},
        bad_report{"long_text_shown_on_one_line_and_cut",
                   module_with("comment", "fx 20111017\nfx 20111017\nfx 20111017\nfx 20111017\n"
                                          "fx 20111017\nfx 20111017\n"),
                   {},
                   "'FILE': boards[0].modules_after[1].comment \"fx 20111017\\nfx 20111017\\nfx "
                   "20111017\\n... cannot be played"}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
