// The report on the disk before the tool says that the computer may be powered off: the file
// is flushed before the rename, and its folder after it; a flush that fails is a report that
// was not written.
#if !defined(_WIN32)
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "json_report.h"

namespace {

int flushes = 0;        // fsync calls of this program so far
int failing_flush = 0;  // the one of them that fails (1: the first); 0: none

}  // namespace

// Every fsync of this program comes here: counted, and failed where a test asks for it.
extern "C" int fsync(int fd) {
  if (++flushes == failing_flush) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(syscall(SYS_fsync, fd));
}

namespace vok::test {
namespace {

struct flush_case {
  const char *name;
  int failing;     // which flush fails; 0: none
  bool committed;  // commit() succeeds
  bool on_disk;    // the report is at its name afterwards
};

class ReportFlush : public ::testing::TestWithParam<flush_case> {};

TEST_P(ReportFlush, TheFileThenItsFolder) {
  const flush_case &c = GetParam();
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("vok-flush-" + std::to_string(std::random_device{}()));
  fs::create_directories(dir);
  const std::string path = (dir / "r.json").string();
  update::run_record run;
  run.boards.resize(1);
  std::string error, warning;
  {
    update::json_report report;
    ASSERT_TRUE(report.open(path.c_str(), error)) << error;
    flushes = 0;
    failing_flush = c.failing;
    EXPECT_EQ(report.commit(run, error), c.committed) << error;
    failing_flush = 0;
    warning = report.warning();
  }
  EXPECT_EQ(flushes, c.failing != 0 ? c.failing : 2);
  std::ifstream in(path, std::ios::binary);
  const std::string text(std::istreambuf_iterator<char>(in), {});
  EXPECT_EQ(text, c.on_disk ? update::to_json(run) : "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), c.on_disk);
  if (!c.committed) {
    EXPECT_EQ(error, "'" + path + "': " + std::strerror(EIO));
  }
  EXPECT_EQ(warning.find(std::strerror(EIO)) != std::string::npos, c.failing == 2) << warning;
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(
    Commit, ReportFlush,
    ::testing::Values(flush_case{"both_flushed", 0, true, true},
                      flush_case{"file_flush_fails", 1, false, false},
                      // Renamed already: in place, with a warning that it may not be on
                      // the disk.
                      flush_case{"folder_flush_fails", 2, true, true}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
#endif
