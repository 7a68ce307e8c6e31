// Golden console transcripts of vantrel-upgrade against vok-simulator: standard output and
// standard error apart, and the exit status, for the healthy update and every refusal and
// failure. VOK_UPDATE_GOLDEN=1 writes the transcripts anew instead of comparing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>

#include "golden.h"
#include "image_set.h"
#include "run_process.h"
#include "simulator_process.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;

struct scenario {
  const char *name;
  std::optional<std::vector<std::string>> simulator;  // none: no simulator runs
  std::vector<std::string> arguments;
  const char *input;
  int status;  // 255 is the tool's -1
};

const std::vector<std::string> healthy = {};

const scenario scenarios[] = {
    {"healthy_update", healthy, {}, "y\n", 0},
    {"answer_yes_word", healthy, {"PCI,card:0"}, "yes\n", 0},
    {"answer_n", healthy, {}, "n\n", 0},
    {"answer_upper_y", healthy, {}, "Y\n", 0},
    {"answer_empty_line", healthy, {}, "\n", 0},
    {"answer_end_of_input", healthy, {}, "", 0},
    {"driver_too_old", std::vector<std::string>{"--driver-version", "2.9.0.0"}, {}, "y\n", 0},
    {"driver_fix_weighs_most", std::vector<std::string>{"--driver-version", "2.8.0.1"}, {}, "n\n", 0},
    {"chip_pair_other", std::vector<std::string>{"--chips", "0x10056"}, {}, "y\n", 0},
    {"brix_board", std::vector<std::string>{"--card-options", "1"}, {}, "n\n", 0},
    {"cpld_1x", std::vector<std::string>{"--cpld-version", "1.9.0.0"}, {}, "y\n", 0},
    {"driver_module_2_3_14", std::vector<std::string>{"--module", "driver=2.3.14.0"}, {}, "y\n", 0},
    {"driver_module_2_6_0", std::vector<std::string>{"--module", "driver=2.6.0.0"}, {}, "y\n", 0},
    {"driver_module_2_6_5", std::vector<std::string>{"--module", "driver=2.6.5.9"}, {}, "y\n", 0},
    {"driver_module_2_6_6", std::vector<std::string>{"--module", "driver=2.6.6.0"}, {}, "n\n", 0},
    {"driver2_module_gated", std::vector<std::string>{"--module", "driver2=2.3.14.0"}, {}, "y\n", 0},
    {"query_fails", std::vector<std::string>{"--fail-query", "132=88"}, {}, "y\n", 0},
    {"type_query_fails", std::vector<std::string>{"--fail-query", "13=88"}, {}, "y\n", 255},
    {"serial_query_fails", std::vector<std::string>{"--fail-query", "126=88"}, {}, "n\n", 0},
    {"flash_write_fails", std::vector<std::string>{"--fail-write", "2"}, {}, "y\n\n", 0},
    {"all_flash_writes_fail",
     std::vector<std::string>{"--fail-write", "1", "--fail-write", "2", "--fail-write", "3",
                              "--fail-write", "4"},
     {},
     "y\n\n\n\n\n",
     0},
    {"flash_read_fails", std::vector<std::string>{"--fail-read", "0x400000"}, {}, "y\n\n", 0},
    {"words_differ",
     std::vector<std::string>{"--flip", "0x1000000", "--flip", "0x1000004", "--flip", "0x1000008",
                              "--flip", "0x100000c", "--flip", "0x1000010", "--flip", "0x1000014",
                              "--flip", "0x1000018", "--flip", "0x100001c", "--flip", "0x1000020",
                              "--flip", "0x1000024", "--flip", "0x1000028", "--flip", "0x100002c"},
     {},
     "y\n\n",
     0},
    {"difference_in_last_64_bytes", std::vector<std::string>{"--flip", "0x13ffffc"}, {}, "y\n", 0},
    {"other_board_type", std::vector<std::string>{"--type", "13"}, {}, "\n", 255},
    {"no_board", std::nullopt, {}, "\n", 255},
    {"named_board", healthy, {"PCI,card:0"}, "n\n", 0},
    {"option_c_and_board", healthy, {"-c", "PCI,card:0"}, "n\n", 0},
    {"option_c_alone", healthy, {"-c"}, "n\n", 0},
    {"named_board_missing", healthy, {"PCI,card:3"}, "", 255},
    {"board_argument_refused_by_setup", healthy, {"PCI,card:2,extra"}, "", 255},
    {"unknown_parameter", healthy, {"-C"}, "", 255},
    {"lower_case_prefix", healthy, {"pci,card:0"}, "", 255},
    {"board_argument_too_long", healthy, {"PCI,card:0," + std::string(130, '0')}, "", 255},
    {"help", std::nullopt, {"--help"}, "", 0},
    {"version", std::nullopt, {"--version"}, "", 0},
    {"report_cannot_be_written", std::nullopt, {"--json", "/nonexistent/r.json"}, "", 255},
    // Paths that the report could not be renamed to are refused before any board is opened.
    {"report_is_a_directory", std::nullopt, {"--yes", "--json", "."}, "", 255},
    {"report_without_a_file_name", std::nullopt, {"--yes", "--json", ""}, "", 255},
    // Windows Installer's exit values do not fit a POSIX exit value.
    {"msi_exit_codes_outside_windows", healthy, {"--yes", "--msi-exit-codes"}, "", 255},
};

class Transcript : public ::testing::TestWithParam<scenario> {};

TEST_P(Transcript, MatchesTheGoldenTranscript) {
  const scenario &s = GetParam();
  const fs::path dir = fs::temp_directory_path() / ("vok-transcript-" + std::to_string(getpid()));
  fs::create_directories(dir);
  const fs::path flashfile = dir / "flash.bin";
  std::optional<simulator_process> sim;
  if (s.simulator) {
    std::vector<std::string> args = *s.simulator;
    args.insert(args.end(), {"--flash-file", flashfile.string()});
    sim.emplace(args);
    ASSERT_TRUE(sim->ready()) << sim->ready_line();
  }
  const std::string program = VOK_UPGRADE_PATH;
  process_result run = run_process(program, s.arguments, s.input);
  if (sim) {
    EXPECT_EQ(sim->stop(), 0);
  }

  expect_golden(s.name, run, program);
  EXPECT_EQ(run.status, s.status);

  if (std::strcmp(s.name, "healthy_update") == 0) {
    // Regions 1 to 4 hold exactly the embedded images followed by zeros; region 0 is erased.
    const std::string flash = read_file(flashfile);
    ASSERT_GE(flash.size(), 5u * 0x400000);
    EXPECT_EQ(flash.find_first_not_of('\xFF', 0), 0x400000u) << "region 0 is untouched";
    for (int row = 0; row < 4; ++row) {
      const imageentry &image = firmware::image_set[row];
      const std::size_t base = static_cast<std::size_t>(row + 1) * 0x400000;
      EXPECT_EQ(std::memcmp(flash.data() + base, image.data, image.size), 0) << "region " << row + 1;
      const std::size_t tail = flash.find_first_not_of('\0', base + image.size);
      EXPECT_GE(tail, base + 0x400000) << "zeros after image " << row;
    }
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Update, Transcript, ::testing::ValuesIn(scenarios),
                         [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
