// The library against vok-simulator started as a real process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "flash_request.h"
#include "host_core.h"
#include "link_fixture.h"
#include "run_process.h"

namespace vok::test {
namespace {

namespace fs = std::filesystem;

class SimulatorTest : public ::testing::Test {
 protected:
  recording_platform platform;

  fs::path scratch(const std::string &name) {
    fs::path dir = fs::temp_directory_path() / ("vok-sim-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    dirs_.push_back(dir);
    return dir / name;
  }
  void TearDown() override {
    for (const auto &d : dirs_) fs::remove_all(d);
  }

  static int query(sv_handle *sv, int code) {
    int value = -1;
    EXPECT_EQ(sv_query(sv, code, 0, &value), SV_OK) << "query " << code;
    return value;
  }

  static bool objects_exist() {
    int fd = shm_open("/VOKSIMULATOR_MAP", O_RDONLY, 0);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }

 private:
  std::vector<fs::path> dirs_;
};

TEST_F(SimulatorTest, AnswersTheQueriesOfTheUpdate) {
  simulator_process sim({"--serial", "4242", "--chips", "0x10056", "--card-options", "1",
                         "--driver-version", "3.1.4.2", "--flash-size", "16777216"});
  ASSERT_TRUE(sim.ready()) << sim.ready_line();
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  EXPECT_EQ(query(sv, SV_QUERY_DEVTYPE), 21);
  EXPECT_EQ(query(sv, SV_QUERY_SERIALNUMBER), 4242);
  EXPECT_EQ(query(sv, SV_QUERY_HW_EPLDTYPE), 0x10056);
  EXPECT_EQ(query(sv, SV_QUERY_HW_CARDOPTIONS), 1);
  EXPECT_EQ(query(sv, SV_QUERY_VERSION_DRIVER), 0x02030104);
  EXPECT_EQ(query(sv, SV_QUERY_HW_FLASHSIZE), 16777216);
  EXPECT_EQ(sv->driverversion, 0x02030104u) << "the open reply carries the driver version";
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_GAMMA, 0, &value), SV_ERROR_NOTIMPLEMENTED);
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_EQ(sim.stop(), 0);
  EXPECT_FALSE(objects_exist()) << "the simulator removes its objects when it exits";
}

// One whole region written with one flash write request and read back word by word.
TEST_F(SimulatorTest, FlashWriteAndReadBackOfARegion) {
  const fs::path flashfile = scratch("flash.bin");
  {
    simulator_process sim({"--flash-file", flashfile.string()});
    ASSERT_TRUE(sim.ready());
    sv_handle *sv = sv_open("PCI,card:0");
    ASSERT_NE(sv, nullptr);

    std::vector<std::uint32_t> region(0x400000 / 4);
    for (std::size_t i = 0; i < region.size(); ++i) {
      region[i] = static_cast<std::uint32_t>(i * 2654435761u) ^ 0x5A5A0000u;
    }
    char description[256] = "s1 20081120 1.14.18";
    orvello_flashwrite p = region_write(region.data(), description, 2);
    ASSERT_EQ(sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p), SV_OK);

    orvello_debug pd;
    prepare(pd);
    pd.header.size = 64;
    std::size_t mismatches = 0;
    for (std::uint32_t offset = 0; offset < 0x400000 - 64; offset += 4) {
      pd.command = OV_DEBUG_R_FLASH;
      pd.parameter = 2 * 0x400000 + offset;
      ASSERT_EQ(sv_sys_call(sv, ORVELLO_REQ_DEBUG, &pd), SV_OK);
      mismatches += pd.value != region[offset / 4];
    }
    EXPECT_EQ(mismatches, 0u);

    sv_version v;
    ASSERT_EQ(sv_version_status(sv, &v, sizeof v, 0, 4, 0), SV_OK);
    EXPECT_STREQ(v.name, "pciflash2");
    EXPECT_EQ(v.version, 0x00010822u) << "1.0.34.8 in record form";
    EXPECT_STREQ(v.comment, "s1 20081120 1.14.18");
    EXPECT_EQ(sv_close(sv), SV_OK);
  }
  // The flash file keeps what was written for the next run.
  simulator_process again({"--flash-file", flashfile.string()});
  ASSERT_TRUE(again.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  sv_version v;
  ASSERT_EQ(sv_version_status(sv, &v, sizeof v, 0, 4, 0), SV_OK);
  EXPECT_STREQ(v.comment, "s1 20081120 1.14.18");
  int word = 0;
  EXPECT_EQ(sv_debug_request(sv, OV_DEBUG_R_FLASH, 2 * 0x400000 + 4, 0, &word), SV_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(word), 2654435761u ^ 0x5A5A0000u);
  EXPECT_EQ(sv_debug_request(sv, OV_DEBUG_R_FLASH, 0, 0, &word), SV_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(word), 0xFFFFFFFFu) << "region 0 stays erased";
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(SimulatorTest, TraceLinesArriveInTheLog) {
  const fs::path log = scratch("trace.log");
  simulator_process sim({"--traceflags", "2", "--trace-log", log.string()});
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  int value = 0;
  sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value);
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_EQ(sim.stop(), 0);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  char open_line[64];
  std::snprintf(open_line, sizeof open_line, "sv_open(setup='PCI,card:0') = %p\n",
                static_cast<void *>(sv));
  std::ostringstream expected;
  expected << open_line << "sv_query(sv,cmd=126/SV_QUERY_SERIALNUMBER,par=0,*presult=10234/000027fa) = SV_OK\n"
           << "sv_close(sv)\n";
  EXPECT_EQ(text.str(), expected.str());
}

TEST_F(SimulatorTest, ASimulatorKilledMidSeriesEndsTheCallWithTransfer) {
  simulator_process sim;
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sim.kill_now();
  });
  int result = SV_OK;
  auto failed_at = std::chrono::steady_clock::now();
  const auto killed_by = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
  for (int i = 0; i < 100000000 && result == SV_OK; ++i) {
    int word = 0;
    result = sv_debug_request(sv, OV_DEBUG_R_FLASH, 0x400000, 0, &word);
    failed_at = std::chrono::steady_clock::now();
  }
  killer.join();
  EXPECT_EQ(result, SV_ERROR_TRANSFER);
  // A hang, not a speed: the library looks at its peer every 100 ms.
  EXPECT_LT(failed_at - killed_by, std::chrono::seconds(scaled_seconds(30)));
  EXPECT_EQ(sv_close(sv), SV_OK) << "closing after the simulator died does not hang";
}

TEST_F(SimulatorTest, DieAfterNRequests) {
  simulator_process sim({"--die-after", "3"});
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");  // request 1: the open request
  ASSERT_NE(sv, nullptr);
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_OK);
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_OK);
  // A simulator that has exited counts as alive until its parent reaps it.
  int status = -1;
  std::thread reaper([&] { status = sim.wait_for_exit(10); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_ERROR_TRANSFER);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(scaled_seconds(30)));
  reaper.join();
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3);
}

TEST_F(SimulatorTest, FaultsOfTheSimulator) {
  simulator_process sim({"--fail-query", "126=149", "--fail-read", "0x400008", "--flip",
                         "0x400010", "--fail-write", "3"});
  ASSERT_TRUE(sim.ready());
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value), SV_ERROR_NOTAVAILABLE);
  EXPECT_EQ(sv_debug_request(sv, OV_DEBUG_R_FLASH, 0x400008, 0, &value), SV_ERROR_TRANSFER);
  EXPECT_EQ(sv_debug_request(sv, OV_DEBUG_R_FLASH, 0x400010, 0, &value), SV_OK);
  EXPECT_EQ(value, 0) << "an erased word, inverted";
  std::vector<std::uint8_t> region(0x400000);
  orvello_flashwrite p;
  prepare(p);
  p.data = reinterpret_cast<std::uintptr_t>(region.data());
  p.length = 0x400000;
  p.map = 3;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p), SV_ERROR_FLASH_WRITE);
  p.map = 1;
  p.data = 16;  // not mapped in this process
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p), SV_ERROR_TRANSFER);
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_OK) << "and it keeps serving";
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(SimulatorTest, RefusesToStartWhileAnotherServes) {
  simulator_process first;
  ASSERT_TRUE(first.ready());
  simulator_process second;
  EXPECT_FALSE(second.ready());
  const int status = second.wait_for_exit(5);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(objects_exist()) << "the first one's objects stay";
}

TEST_F(SimulatorTest, ObjectsOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give the objects to another user";
  simulator_process sim;
  ASSERT_TRUE(sim.ready());
  ASSERT_EQ(chown("/dev/shm/VOKSIMULATOR_MAP", 4321, 4321), 0);
  sv_handle *sv = nullptr;
  EXPECT_EQ(sv_openex(&sv, "PCI,card:0", 1, 0, 0, 0), SV_ERROR_DEVICENOTFOUND);
  EXPECT_TRUE(platform.notices.empty()) << "treated like a missing object";
}

TEST_F(SimulatorTest, StopsCleanlyOnSigint) {
  simulator_process sim;
  ASSERT_TRUE(sim.ready());
  kill(sim.pid(), SIGINT);
  const int status = sim.wait_for_exit(5);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(objects_exist());
}

TEST_F(SimulatorTest, NoSimulatorNoBoard) {
  sv_handle *sv = nullptr;
  EXPECT_EQ(sv_openex(&sv, "PCI,card:0", 1, 0, 0, 0), SV_ERROR_DEVICENOTFOUND);
  EXPECT_TRUE(platform.notices.empty());
}

// The simulator keeps off its host's core by the core that the host's thread last ran on. A
// thread is pinned to each core in turn; its name, which the system's stat line shows first,
// holds what a careless reading would take for the end of the name.
TEST(HostCore, IsTheCoreThatTheThreadRunsOn) {
  std::thread([] {
    cpu_set_t allowed;
    ASSERT_EQ(sched_getaffinity(0, sizeof allowed, &allowed), 0);
    const auto pid = static_cast<std::uint32_t>(getpid());
    const auto tid = static_cast<std::uint32_t>(gettid());
    for (const char *name : {"plain", "a) b (c", ") 1 2 3"}) {
      prctl(PR_SET_NAME, name);
      for (int core = 0; core < CPU_SETSIZE; ++core) {
        if (!CPU_ISSET(core, &allowed)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(core, &one);
        ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
        EXPECT_EQ(sim::thread_core(pid, tid), core) << name;
      }
    }
    // An id that is no thread of the process stands for its main thread; no process, no core.
    EXPECT_GE(sim::thread_core(pid, 0), 0);
    EXPECT_EQ(sim::thread_core(0x7FFFFFFF, 0), -1);
  }).join();
}

}  // namespace
}  // namespace vok::test
