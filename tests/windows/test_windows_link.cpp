// The Windows build against vok-simulator.exe through real named objects: a client's
// requests, the cost of one request, and the update tool in short scenarios.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "ctrl_c.h"
#include "flash_request.h"
#include "golden.h"
#include "run_process.h"
#include "simulator_process.h"
#include "server.h"
#include "sv_internal.h"

namespace vok::test {
namespace {

TEST(WindowsLink, QueriesThroughTheNamedObjects) {
  simulator_process sim({"--serial", "777"});
  ASSERT_TRUE(sim.ready()) << sim.ready_line();
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_OK);
  EXPECT_EQ(value, 21);
  EXPECT_EQ(sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value), SV_OK);
  EXPECT_EQ(value, 777);
  sv_version v;
  EXPECT_EQ(sv_version_status(sv, &v, sizeof v, 0, 3, 0), SV_OK);
  EXPECT_STREQ(v.name, "pciflash1");
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST(WindowsLink, FlashWriteReadBackAndTheCostOfARequest) {
  simulator_process sim;
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  std::vector<std::uint32_t> region(0x400000 / 4);
  for (std::size_t i = 0; i < region.size(); ++i) {
    region[i] = static_cast<std::uint32_t>(i * 2654435761u);
  }
  char description[256] = "sx 20090403 2.14";
  orvello_flashwrite p = region_write(region.data(), description, 4);
  ASSERT_EQ(sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p), SV_OK);

  constexpr int words = 2000;
  orvello_debug pd;
  prepare(pd);
  pd.header.size = 64;
  int mismatches = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < words; ++i) {
    pd.command = OV_DEBUG_R_FLASH;
    pd.parameter = 4 * 0x400000 + 4 * static_cast<std::uint32_t>(i);
    ASSERT_EQ(sv_sys_call(sv, ORVELLO_REQ_DEBUG, &pd), SV_OK);
    mismatches += pd.value != region[static_cast<std::size_t>(i)];
  }
  const double us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() /
      words;
  EXPECT_EQ(mismatches, 0);
  std::printf("cost of one flash-word read through vok-simulator: %.1f us; a whole read-back "
              "(4194240 requests) would take %.0f s\n",
              us, us * 4194240e-6);
  EXPECT_EQ(sv_close(sv), SV_OK);
}

// The simulator ends in the middle of an exchange (it exits while it holds the fourth
// request): that exchange fails at once instead of waiting for ever, and the board still
// closes.
TEST(WindowsLink, ASimulatorThatEndsFailsTheExchangeInHand) {
  simulator_process sim({"--die-after", "3"});
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  // On a thread of its own, left behind should it never return.
  auto done = std::make_shared<std::promise<int>>();
  std::future<int> queries = done->get_future();
  std::thread([sv, done] {
    int value = 0, result = SV_OK;
    for (int i = 0; i < 10 && result == SV_OK; ++i) {
      result = sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value);
    }
    done->set_value(result);
  }).detach();
  ASSERT_EQ(queries.wait_for(std::chrono::seconds(scaled_seconds(10))), std::future_status::ready)
      << "a query still waits for the simulator that has ended";
  EXPECT_EQ(queries.get(), SV_ERROR_TRANSFER);
  EXPECT_EQ(sim.wait_for_exit(10), 3);
  EXPECT_EQ(sv_close(sv), SV_OK);  // its close message fails at once too
}

struct tool_case {
  const char *golden;
  std::vector<std::string> simulator;
  const char *input;
  int status;
};

class WindowsTool : public ::testing::TestWithParam<tool_case> {};

TEST_P(WindowsTool, MatchesTheGoldenTranscript) {
  simulator_process sim(GetParam().simulator);
  ASSERT_TRUE(sim.ready());
  process_result run = run_process(VOK_UPGRADE_PATH, {}, GetParam().input, 600);
  expect_golden(GetParam().golden, run, VOK_UPGRADE_PATH);
  EXPECT_EQ(run.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, WindowsTool,
    ::testing::Values(tool_case{"answer_n", {}, "n\n", 0},
                      tool_case{"all_flash_writes_fail",
                                {"--fail-write", "1", "--fail-write", "2", "--fail-write", "3",
                                 "--fail-write", "4"},
                                "y\n\n\n\n\n",
                                0}),
    [](const auto &info) { return std::string(info.param.golden); });

// Ctrl+C in the tool's console while the unattended update reads the versions (each answer
// held 0.1 s): the run stops before the first write, ends with 130 and reports it.
TEST(WindowsInterrupt, CtrlCBeforeTheFirstWriteStopsTheUpdate) {
  simulator_process sim({"--slow", "100000"});
  ASSERT_TRUE(sim.ready());
  expect_ctrl_c_stops_before_the_first_write(VOK_UPGRADE_PATH);
}

// --msi-exit-codes as the process ends with them: nothing needed writing, then no board (the
// driver tests show 1602). A whole update through the link under Wine takes many minutes, so
// the values of a written board (3010) and a busy one (1618) are shown by the unit tests,
// in-process.
TEST(WindowsTool, MsiExitCodesAsTheProcessEndsWithThem) {
  {
    simulator_process sim;
    ASSERT_TRUE(sim.ready());
    EXPECT_EQ(run_process(VOK_UPGRADE_PATH, {"--list", "--msi-exit-codes"}, "", 600).status, 0);
  }
  EXPECT_EQ(run_process(VOK_UPGRADE_PATH, {"--verify", "--msi-exit-codes"}, "", 600).status, 3);
}

// Each event of the tool has its text in the tool's own message table, which the event source
// names as its message file.
TEST(WindowsEvents, EachEventHasItsTextInTheToolsMessageTable) {
  HMODULE tool = LoadLibraryExA(VOK_UPGRADE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(tool, nullptr);
  const std::pair<DWORD, const char *> events[] = {
      {1000, "started"},       {1001, "matches"},       {1002, "power was off"},
      {1003, "refused"},       {1004, "failed"},        {1005, "another program"},
      {1006, "No Vantrel"},    {1007, "interrupted"},   {1008, "listed"},
      {1009, "no Vantrel"},    {1010, "differs"}};
  for (const auto &[id, words] : events) {
    char *text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        tool, id, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    ASSERT_NE(length, 0u) << "event " << id;
    EXPECT_NE(std::string(text).find(words), std::string::npos) << id << ": " << text;
    LocalFree(text);
  }
  FreeLibrary(tool);
}

// The simulator's flash file is replaced at every flash write, also where the C runtime's
// rename refuses to replace a file: the second write is the one that the file keeps.
TEST(WindowsSimulator, TheFlashFileKeepsTheLastWrite) {
  char folder[MAX_PATH];
  GetTempPathA(sizeof folder, folder);
  const std::string path =
      std::string(folder) + "vok-flash-" + std::to_string(GetCurrentProcessId()) + ".bin";
  board::board written;
  for (const char *comment : {"first", "second"}) {
    written.set_region(1, {0x01002208, comment, 0, 0, 0});
    ASSERT_TRUE(sim::save_flash_file(path, written)) << comment;
  }
  board::board read;
  std::string error;
  EXPECT_TRUE(sim::load_flash_file(path, read, error)) << error;
  EXPECT_EQ(read.region(1).comment, "second");
  EXPECT_EQ(GetFileAttributesA((path + ".new").c_str()), INVALID_FILE_ATTRIBUTES);
  DeleteFileA(path.c_str());
}

}  // namespace
}  // namespace vok::test
