// Golden console transcripts: a run's standard output and standard error compared with the
// files <name>.stdout and <name>.stderr. VOK_UPDATE_GOLDEN=1 writes the files anew instead.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "run_process.h"

namespace vok::test {

inline std::string read_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The banner carries the build's date and time, and usage lines the program's path; a Windows
// console writes CR LF.
inline std::string normalise(std::string text, const std::string &program) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  text = std::regex_replace(text, std::regex("Vantrel Upgrade version .{20} \\(SW"),
                            "Vantrel Upgrade version <build date> (SW");
  for (std::size_t at; (at = text.find(program)) != std::string::npos;) {
    text.replace(at, program.size(), "<program>");
  }
  return text;
}

inline void expect_golden(const std::string &name, const process_result &run,
                          const std::string &program) {
  const std::string out = normalise(run.out, program);
  const std::string err = normalise(run.err, program);
  const std::filesystem::path golden = std::filesystem::path(VOK_GOLDEN_DIR) / name;
  if (std::getenv("VOK_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(golden.string() + ".stdout", std::ios::binary) << out;
    std::ofstream(golden.string() + ".stderr", std::ios::binary) << err;
    return;
  }
  EXPECT_EQ(out, read_file(golden.string() + ".stdout")) << name << " standard output";
  EXPECT_EQ(err, read_file(golden.string() + ".stderr")) << name << " standard error";
}

}  // namespace vok::test
