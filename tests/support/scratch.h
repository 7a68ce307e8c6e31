// A temporary folder for a test's flash files and reports, removed on every path.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "environment.h"

namespace vok::test {

struct scratch {
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("vok-modes-" + std::to_string(getpid()) + "-" +
                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
  scratch() {
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // The tool's record of the boards it updated: the test's own, as its flash is.
    set_environment("VANTREL_UPGRADE_STATE_DIR", path("state"));
    set_environment("VANTREL_UPGRADE_LOCK_DIR", dir.string());
  }
  ~scratch() { std::filesystem::remove_all(dir); }
  std::string path(const char *name) const { return (dir / name).string(); }
};

}  // namespace vok::test
