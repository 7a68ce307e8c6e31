// The unattended modes (--list, --verify, --yes) and the JSON report against vok-simulator:
// golden transcripts, exit values, the report read back with a JSON parser, and an interrupt
// in the middle of an update.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <thread>

#include "golden.h"
#include "image_set.h"
#include "run_process.h"
#include "scratch.h"
#include "simulator_process.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using input_kind = process_options::input_kind;
using arguments = std::vector<std::string>;

constexpr std::size_t region = 0x400000;

// Runs the tool with `options` and a report, compares its transcript with `golden`, and
// returns the report (null when none was written).
json run_tool(const scratch &s, const char *golden, arguments options, int status,
              process_options how = {}, const std::string &input = "") {
  const std::string report = s.path((std::string(golden) + ".json").c_str());
  options.insert(options.begin(), {"--json", report});
  std::ofstream(report + ".tmp") << "another file";  // not the run's temporary file
  const process_result run = run_process(VOK_UPGRADE_PATH, options, input, how);
  expect_golden(golden, run, VOK_UPGRADE_PATH);
  EXPECT_EQ(run.status, status) << golden;
  EXPECT_EQ(read_file(report + ".tmp"), "another file");
  fs::remove(report + ".tmp");
  for (const fs::directory_entry &e : fs::directory_iterator(s.dir)) {
    EXPECT_NE(e.path().extension(), ".tmp") << e.path() << ": the temporary file is gone";
  }
  if (!fs::exists(report)) return nullptr;
  return json::parse(read_file(report));
}

// What every report holds, whatever happened.
void expect_report_frame(const json &r, const char *mode, int status) {
  ASSERT_TRUE(r.is_object());
  EXPECT_EQ(r["schema"], 1);
  EXPECT_EQ(r["tool"]["name"], "vantrel-upgrade");
  EXPECT_EQ(r["tool"]["version"], "4.5.0.0");
  EXPECT_EQ(r["package"]["name"], firmware::package_string);
  EXPECT_EQ(r["package"]["version"], "1.0.34.8");
  EXPECT_EQ(r["mode"], mode);
  const std::regex utc("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ");
  EXPECT_TRUE(std::regex_match(r["started"].get<std::string>(), utc));
  EXPECT_LE(r["started"].get<std::string>(), r["ended"].get<std::string>());
  EXPECT_EQ(r["exit"].get<int>() & 0xFF, status);
  for (const json &b : r["boards"]) {
    EXPECT_EQ(b["setup"], "PCI,card:" + std::to_string(b["card"].get<int>()));
    bool written = false;
    for (const json &g : b["regions"]) {
      written = written || g["bytes_written"] != 0;
      const int code = g["result"]["code"];
      EXPECT_EQ(g["result"]["name"], code == 0 ? "SV_OK" : g["result"]["name"]);
      EXPECT_TRUE(g["result"]["text"].is_string());
      EXPECT_LE(g["first_mismatches"].size(), 10u);
    }
    const std::string outcome = b["outcome"];
    const bool explained = outcome == "listed" || outcome == "updated" ||
                           outcome == "verified" || outcome == "skipped";
    EXPECT_EQ(b["reason"].is_null(), explained) << outcome;
    // Only a complete update asks for the power cycle (in this run, or in an earlier one in
    // this boot); an unfinished one for another run.
    const std::string cycle = b["power_cycle"];
    if (written) {
      EXPECT_EQ(cycle, outcome == "updated" ? "needed" : "run again first") << outcome;
    }
    EXPECT_EQ(b["power_cycle_needed"], cycle == "unconfirmed" ? json(nullptr) : json(cycle == "needed"))
        << cycle;
    EXPECT_EQ(b["run_again_needed"], cycle == "run again first") << cycle;
    if (!b["updated_earlier"].is_null()) {
      EXPECT_EQ(cycle, "needed") << outcome;
    }
  }
}

struct mode_case {
  const char *name;
  std::optional<arguments> simulator;  // none: no simulator runs
  arguments options;
  int status;
  std::vector<std::string> outcomes;  // of the boards in the report, in order
  input_kind input = input_kind::open_pipe;
  std::string text = "";
  const char *interrupt_after = nullptr;  // SIGINT once standard output holds this
  bool output_closed = false;             // nobody reads standard output
};

arguments flips_and_refused_writes() {
  arguments a = {"--fail-write", "2", "--fail-write", "3", "--fail-write", "4"};
  for (std::uint32_t w = 0; w < 12; ++w) a.insert(a.end(), {"--flip", std::to_string(region + 4 * w)});
  return a;
}

const mode_case cases[] = {
    {"yes_refused_board", arguments{"--chips", "0x10056"}, {"--yes"}, 2, {"refused"}},
    {"yes_writes_refused",
     arguments{"--fail-write", "1", "--fail-write", "2", "--fail-write", "3", "--fail-write", "4"},
     {"--yes"}, 1, {"failed"}, input_kind::closed},
    {"yes_words_differ", flips_and_refused_writes(), {"--yes"}, 1, {"failed"}},
    {"yes_other_board_type", arguments{"--type", "13"}, {"--yes"}, 3, {"skipped"}},
    {"yes_no_board", std::nullopt, {"--yes"}, 3, {}},
    {"verify_flash_differs", arguments{}, {"--verify"}, 1, {"differs"}},
    {"verify_read_fails", arguments{"--fail-read", "0x400000"}, {"--verify"}, 1, {"failed"}},
    {"verify_refused_board", arguments{"--cpld-version", "1.9.0.0"}, {"--verify"}, 2, {"refused"}},
    {"list_other_board_type", arguments{"--type", "13", "--module", "x\"y\\z=1.2.3.4"},
     {"--list"}, 0, {"listed"}},
    {"list_no_board", std::nullopt, {"--list"}, 3, {}},
    // The interactive update with a report keeps its dialogue: the same transcript as without.
    {"answer_n", arguments{}, {}, 0, {"declined"}, input_kind::text, "n\n"},
    // An interrupt after the last region stops nothing: the run is complete, and says so.
    {"yes_late_interrupt", arguments{}, {"--yes"}, 0, {"updated"}, input_kind::open_pipe, "",
     "Checking versions after upgrade"},
    // A closed standard output interrupts the run instead of ending it: the report is written.
    {"verify_output_closed", arguments{}, {"--verify"}, 130, {"interrupted"},
     input_kind::open_pipe, "", nullptr, true},
};

class Mode : public ::testing::TestWithParam<mode_case> {};

TEST_P(Mode, TranscriptExitValueAndReport) {
  const mode_case &c = GetParam();
  scratch s;
  std::optional<simulator_process> sim;
  if (c.simulator) {
    arguments args = *c.simulator;
    args.insert(args.end(), {"--flash-file", s.path("flash.bin")});
    sim.emplace(args);
    ASSERT_TRUE(sim->ready()) << sim->ready_line();
  }
  process_options how;
  how.input = c.input;
  if (c.interrupt_after != nullptr) {
    how.signal_after = c.interrupt_after;
    how.signal = SIGINT;
  }
  how.output_closed = c.output_closed;
  const json r = run_tool(s, c.name, c.options, c.status, how, c.text);
  if (sim) {
    EXPECT_EQ(sim->stop(), 0);
  }
  const char *mode = c.options.empty() ? "update" : c.options[0].c_str() + 2;
  expect_report_frame(r, mode, c.status);
  ASSERT_EQ(r["boards"].size(), c.outcomes.size());
  for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
    EXPECT_EQ(r["boards"][i]["outcome"], c.outcomes[i]);
  }

  if (std::strcmp(c.name, "yes_words_differ") == 0) {
    const json &first = r["boards"][0]["regions"][0];
    EXPECT_EQ(first["mismatches"], 11);
    ASSERT_EQ(first["first_mismatches"].size(), 10u);
    EXPECT_EQ(first["first_mismatches"][9]["offset"], 36);
    EXPECT_EQ(first["first_mismatches"][9]["read"].get<std::uint32_t>(),
              ~first["first_mismatches"][9]["expected"].get<std::uint32_t>());
    EXPECT_EQ(first["result"]["name"], "SV_ERROR_FLASH_VERIFY");
    EXPECT_EQ(r["boards"][0]["regions"][1]["bytes_written"], 0);
  }
  if (std::strcmp(c.name, "list_other_board_type") == 0) {
    const json &b = r["boards"][0];
    EXPECT_EQ(b["type"]["number"], 13);
    const json &added = b["modules_before"][3];  // after the library, driver and cpld
    EXPECT_EQ(added["name"], "x\"y\\z") << "escaped and read back";
    EXPECT_EQ(added["version"], "1.2.3.4");
  }
}

INSTANTIATE_TEST_SUITE_P(Unattended, Mode, ::testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

// A fresh board updated without questions, then verified and listed: every value that the
// report gathers, and the flash holding the images.
TEST(Modes, UpdateThenVerifyThenList) {
  scratch s;
  simulator_process sim({"--serial", "4711", "--flash-file", s.path("flash.bin")});
  ASSERT_TRUE(sim.ready());

  json r = run_tool(s, "yes_healthy", {"--yes"}, 0);
  expect_report_frame(r, "yes", 0);
  const json &b = r["boards"][0];
  EXPECT_EQ(b["outcome"], "updated");
  EXPECT_EQ(b["type"]["name"], "Vantrel");
  EXPECT_EQ(b["serial"], 4711);
  EXPECT_EQ(b["driver_version"], "2.9.1.0");
  EXPECT_EQ(b["chips"]["text"], "fx100-sx55");
  EXPECT_EQ(b["card_options"], 0);
  ASSERT_EQ(b["regions"].size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const json &g = b["regions"][i];
    EXPECT_EQ(g["map"], i + 1);
    EXPECT_EQ(g["bytes_written"], region);
    EXPECT_EQ(g["words_read"], (region - 64) / 4);
    EXPECT_EQ(g["mismatches"], 0);
    EXPECT_EQ(g["result"]["code"], 0);
  }
  auto flash_module = [](const json &modules) {
    for (const json &m : modules) {
      if (m["name"] == "pciflash1") return m;
    }
    return json();
  };
  EXPECT_EQ(flash_module(b["modules_before"])["version"], "1.0.33.7");
  EXPECT_EQ(flash_module(b["modules_after"])["version"], "1.0.34.8");
  EXPECT_EQ(flash_module(b["modules_after"])["comment"], "fx 20111017 34.8");

  r = run_tool(s, "verify_after_update", {"--verify"}, 0);
  expect_report_frame(r, "verify", 0);
  EXPECT_EQ(r["boards"][0]["outcome"], "verified");
  EXPECT_EQ(r["boards"][0]["regions"][3]["words_read"], (region - 64) / 4);
  // Nothing written, but the update in this boot still waits for the power cycle.
  EXPECT_EQ(r["boards"][0]["power_cycle"], "needed");
  EXPECT_EQ(r["power_cycle_needed"], true);

  r = run_tool(s, "list_healthy", {"--list"}, 0);
  expect_report_frame(r, "list", 0);
  EXPECT_EQ(r["boards"][0]["outcome"], "listed");
  EXPECT_EQ(r["boards"][0]["modules_before"].size(), 7u);
  EXPECT_EQ(sim.stop(), 0);
}

// Ctrl+C once map 2 is written: past the write, well inside its read-back (a region reads in
// 0.3 s or more).
process_options interrupt_in_map_2() {
  process_options how;
  how.signal_after = "Programming 10 2";
  how.signal_delay_ms = 50;
  how.signal = SIGINT;
  return how;
}

// An interrupt while region 2 is read back: regions 1 and 2 written and verified, 3 and 4
// untouched, the board closed, exit 130, and the report saying so.
TEST(Modes, InterruptFinishesTheRegionInHandAndStartsNoOther) {
  scratch s;
  simulator_process sim({"--flash-file", s.path("flash.bin")});
  ASSERT_TRUE(sim.ready());
  const json r = run_tool(s, "yes_interrupted", {"--yes"}, 130, interrupt_in_map_2());
  EXPECT_EQ(sim.stop(), 0);
  expect_report_frame(r, "yes", 130);
  const json &b = r["boards"][0];
  EXPECT_EQ(b["outcome"], "interrupted");
  ASSERT_EQ(b["regions"].size(), 2u);
  EXPECT_EQ(b["regions"][1]["words_read"], (region - 64) / 4);
  EXPECT_EQ(b["regions"][1]["result"]["code"], 0);

  const std::string flash = read_file(s.path("flash.bin"));
  ASSERT_GE(flash.size(), 5 * region);
  for (int row = 0; row < 2; ++row) {
    const imageentry &image = firmware::image_set[row];
    EXPECT_EQ(std::memcmp(flash.data() + (row + 1) * region, image.data, image.size), 0);
  }
  EXPECT_GE(flash.find_first_not_of('\xFF', 3 * region), 5 * region)
      << "regions 3 and 4 are untouched";
}

// A region whose write the board refused, then an interrupt: the failed region decides the
// outcome and the exit value, and the interrupt is noted beside it.
TEST(Modes, AFailedRegionBeforeAnInterruptFailsTheBoard) {
  scratch s;
  simulator_process sim({"--fail-write", "1"});
  ASSERT_TRUE(sim.ready());
  const json r = run_tool(s, "yes_failed_then_interrupted", {"--yes"}, 1, interrupt_in_map_2());
  EXPECT_EQ(sim.stop(), 0);
  expect_report_frame(r, "yes", 1);
  const json &b = r["boards"][0];
  EXPECT_EQ(b["outcome"], "failed");
  EXPECT_NE(b["reason"].get<std::string>().find("interrupted"), std::string::npos) << b["reason"];
  EXPECT_EQ(b["regions"].size(), 2u);
}

// Two runs on one board at once: the second, started while the first updates the board, finds
// it held, touches nothing and ends with 5; the first completes. The runs' lock files are in a
// folder of the test's own.
TEST(Modes, ASecondRunWhileTheFirstUpdatesFindsTheBoardBusy) {
  scratch s;
  setenv("VANTREL_UPGRADE_LOCK_DIR", s.dir.c_str(), 1);
  simulator_process sim({"--flash-file", s.path("flash.bin")});
  ASSERT_TRUE(sim.ready());
  process_result first;
  std::thread update([&] { first = run_process(VOK_UPGRADE_PATH, {"--yes"}, ""); });
  // The first run has taken the board's lock once its lock file is there; its update lasts
  // seconds after that.
  const fs::path lock = s.dir / "vantrel-upgrade.card0";
  for (int i = 0; i < scaled_seconds(60) * 100 && !fs::exists(lock); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const json second = run_tool(s, "yes_board_held_by_another_run", {"--yes", "--if-differs"},
                               5);
  update.join();
  unsetenv("VANTREL_UPGRADE_LOCK_DIR");
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_EQ(first.status, 0) << first.out << first.err;
  EXPECT_NE(first.out.find("Checking versions after upgrade"), std::string::npos) << first.out;
  expect_report_frame(second, "yes", 5);
  ASSERT_EQ(second["boards"].size(), 1u);
  EXPECT_EQ(second["boards"][0]["outcome"], "busy");
  EXPECT_TRUE(second["power_cycle_needed"].is_null()) << "not known while another run writes";
  EXPECT_TRUE(second["boards"][0]["regions"].empty());
}

}  // namespace
}  // namespace vok::test
