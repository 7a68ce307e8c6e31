// vantrel-upgrade end to end through the stand-in driver: the transcripts are those of the same
// board served by vok-simulator. Under Wine the driver cannot reach a flash write's data, so
// every write is refused (with the error that UnreachableWrite names) and a whole update, or a
// read-back that finds differing words, stays with the simulator's tests.
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "ctrl_c.h"
#include "golden.h"
#include "run_process.h"
#include "standin_fixture.h"

namespace vok::test {
namespace {

constexpr std::uint32_t flash_write_error = 163;  // SV_ERROR_FLASH_WRITE, as the simulator refuses

struct tool_case {
  const char *golden;
  std::vector<std::pair<const char *, std::uint32_t>> options;
  std::vector<std::string> arguments;  // "REPORT" stands for the report's path
  const char *input;
  int status;  // -1 is the program's -1 (255 to a POSIX shell)
  const char *outcome = nullptr;  // of the report's only board
};

void PrintTo(const tool_case &c, std::ostream *out) { *out << c.golden; }

class DriverTool : public ::testing::TestWithParam<tool_case> {
 protected:
  void SetUp() override { ASSERT_TRUE(driver().ok()) << "the stand-in driver is not loaded"; }
  void TearDown() override { std::remove(report.c_str()); }
  const std::string report = temp_report_path("vok-driver-report");
};

TEST_P(DriverTool, MatchesTheSimulatorsTranscript) {
  const tool_case &c = GetParam();
  std::vector<std::unique_ptr<option>> set;
  for (const auto &[name, value] : c.options) set.push_back(std::make_unique<option>(name, value));
  std::vector<std::string> arguments = c.arguments;
  for (std::string &a : arguments) {
    if (a == "REPORT") a = report;
  }
  const process_result run = run_process(VOK_UPGRADE_PATH, arguments, c.input, 600);
  expect_golden(c.golden, run, VOK_UPGRADE_PATH);
  EXPECT_EQ(run.status, c.status);
  if (c.outcome != nullptr) {
    const std::string text = read_file(report);
    const std::regex outcome(std::string("\"outcome\": \"") + c.outcome + "\"");
    EXPECT_TRUE(std::regex_search(text, outcome)) << text;
    EXPECT_TRUE(std::regex_search(text, std::regex("\"exit\": " + std::to_string(c.status))))
        << text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, DriverTool,
    ::testing::Values(
        tool_case{"answer_n", {}, {}, "n\n", 0},
        tool_case{"all_flash_writes_fail", {{"UnreachableWrite", flash_write_error}}, {},
                  "y\n\n\n\n\n", 0},
        tool_case{"other_board_type", {{"Type", 13}}, {}, "\n", -1},
        tool_case{"named_board_missing", {}, {"PCI,card:1"}, "", -1},
        tool_case{"yes_writes_refused", {{"UnreachableWrite", flash_write_error}},
                  {"--json", "REPORT", "--yes"}, "", 1, "failed"}),
    [](const auto &info) { return std::string(info.param.golden); });

// Ctrl+C in the tool's console while the unattended update reads the versions (the driver
// holds each version request 0.1 s): the run stops before the first write, ends with 130 and
// reports it.
TEST(DriverInterrupt, CtrlCBeforeTheFirstWriteStopsTheUpdate) {
  ASSERT_TRUE(driver().ok());
  option hold("HoldCode", 63), late("HoldMs", 100);
  const std::uint32_t writes = driver_state().board[0].flash_writes;
  // In Windows Installer's terms, as a deployment system runs it: 1602, the whole 32-bit value
  // (Wine hands a POSIX parent only its low 8 bits).
  expect_ctrl_c_stops_before_the_first_write(VOK_UPGRADE_PATH, {"--msi-exit-codes"}, 1602);
  EXPECT_EQ(driver_state().board[0].flash_writes, writes);
}

}  // namespace
}  // namespace vok::test
