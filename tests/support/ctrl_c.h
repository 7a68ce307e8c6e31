// Windows: Ctrl+C pressed in the tool's console while an unattended update reads the versions,
// as the Windows tests do it against the simulator and against the stand-in driver.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "golden.h"
#include "run_process.h"

namespace vok::test {

// A report file in the temporary folder, named for `stem` and this process.
inline std::string temp_report_path(const char *stem) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  return std::string(folder) + stem + "-" + std::to_string(GetCurrentProcessId()) + ".json";
}

// Runs `vantrel-upgrade --yes --json REPORT` (and `options`), presses Ctrl+C once it reads the
// versions, and expects it to stop before the first write, end with `status` and report it.
// The report is removed.
inline void expect_ctrl_c_stops_before_the_first_write(const std::string &upgrade,
                                                       std::vector<std::string> options = {},
                                                       int status = 130) {
  const std::string report = temp_report_path("vok-ctrl-c");
  process_options how;
  how.input = process_options::input_kind::open_pipe;
  how.signal_after = "Checking versions before upgrade";
  options.insert(options.begin(), {"--yes", "--json", report});
  const process_result run = run_process(upgrade, options, "", how);
  EXPECT_EQ(run.status, status) << run.out << run.err;
  EXPECT_NE(run.out.find("Interrupted: nothing was written to the board"), std::string::npos)
      << run.out;
  const std::string text = read_file(report);
  EXPECT_TRUE(std::regex_search(text, std::regex("\"outcome\": *\"interrupted\""))) << text;
  std::remove(report.c_str());
}

}  // namespace vok::test
