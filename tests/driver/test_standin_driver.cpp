// The library's Windows driver path, for real: CreateFileA on \\.\VOKDriver<n>, DeviceIoControl
// with an OVERLAPPED record, GetOverlappedResult, CancelIo and CloseHandle, against the stand-in
// driver (tools/driver) loaded with boards 0 and 2 and a cancel that completes 300 ms late.
// What the driver saw comes from its control device.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "flash_request.h"
#include "standin_fixture.h"
#include "vokoem/orvello.h"
#include "vokoem/vokoem.h"

namespace {

using namespace vok::test;
using steady = std::chrono::steady_clock;
constexpr std::uint32_t cancel_delay_ms = 300;  // CancelDelayMs of the load

double ms_since(steady::time_point start) {
  return std::chrono::duration<double, std::milli>(steady::now() - start).count();
}

vokdrv_board_state board(int number) { return driver_state().board[number]; }

template <typename Record>
Record prepared() {
  Record record;
  std::memset(&record, 0, sizeof record);
  record.header.size = sizeof record;
  record.header.magic = ORVELLO_MAGIC;
  return record;
}

class StandinDriver : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(driver().ok()) << "the stand-in driver is not loaded (vok-driver load)";
    log_position_ = driver_state().log_end;
  }

  // No test leaves an open file or a pending request behind. Wine may deliver a close late.
  void TearDown() override {
    vokdrv_state state{};
    for (int waited = 0; waited < 5000; waited += 20) {
      state = driver_state();
      bool alone = true;
      for (const auto &b : state.board) {
        alone = alone && b.open_files == 0 && b.pending_open == 0 && b.pending_held == 0 &&
                b.cancelling == 0;
      }
      if (alone) break;
      Sleep(20);
    }
    for (int n : {0, 2}) {
      SCOPED_TRACE("board " + std::to_string(n));
      EXPECT_EQ(state.board[n].open_files, 0u);
      EXPECT_EQ(state.board[n].pending_open, 0u);
      EXPECT_EQ(state.board[n].pending_held, 0u);
      EXPECT_EQ(state.board[n].cancelling, 0u);
    }
  }

  // The driver's log since the test began.
  std::string log() {
    std::uint32_t position = log_position_;
    return driver().log(position);
  }

  sv_handle *open_board() {
    sv_handle *sv = nullptr;
    EXPECT_EQ(sv_openex(&sv, "PCI,card:0", 1, 0, 0, 0), SV_OK);
    return sv;
  }

 private:
  std::uint32_t log_position_ = 0;
};

TEST_F(StandinDriver, DeviceSearchWalksFromBoardZeroAndStopsAtTheAbsentBoardOne) {
  struct {
    const char *setup;
    int result;
  } const cases[] = {
      {"PCI,card:0", SV_OK},
      {"PCI,card:1", SV_ERROR_DEVICENOTFOUND},
      {"PCI,card:2", SV_ERROR_DEVICENOTFOUND},  // present, but the search ends at board 1
      {"PCI,card:5", SV_ERROR_DEVICENOTFOUND},  // a board that is not there at all
  };
  const std::uint32_t board2_creates = board(2).creates;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.setup);
    sv_handle *sv = nullptr;
    EXPECT_EQ(sv_openex(&sv, c.setup, 1, 0, 0, 0), c.result);
    EXPECT_EQ(sv != nullptr, c.result == SV_OK);
    if (sv == nullptr) continue;
    int serial = 0;
    EXPECT_EQ(sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &serial), SV_OK);
    EXPECT_EQ(serial, 10234);
    EXPECT_EQ(sv_close(sv), SV_OK);
  }
  // The devices themselves: board 2 is there, board 1 is not.
  for (int n : {1, 2}) {
    const std::string name = "\\\\.\\VOKDriver" + std::to_string(n);
    HANDLE device = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(device != INVALID_HANDLE_VALUE, n == 2) << name;
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
  }
  EXPECT_EQ(board(2).creates, board2_creates + 1) << "only the direct open reached board 2";
}

TEST_F(StandinDriver, CloseReturnsOnlyAfterTheDriverCompletedTheCancelledOpenRequest) {
  const vokdrv_board_state before = board(0);
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  const vokdrv_board_state open = board(0);
  EXPECT_EQ(open.pending_open, 1u);
  EXPECT_EQ(open.cancels, before.cancels);

  const steady::time_point start = steady::now();
  EXPECT_EQ(sv_close(sv), SV_OK);
  const double took = ms_since(start);
  const vokdrv_board_state closed = board(0);
  EXPECT_EQ(closed.pending_open, 0u);
  EXPECT_EQ(closed.cancelling, 0u) << "sv_close returned before the cancel completed";
  EXPECT_EQ(closed.cancels, before.cancels + 1);
  EXPECT_GE(took, cancel_delay_ms - 20.0);
  const std::string text = log();
  const auto delayed = text.find("request 15 cancelled: its completion is delayed");
  EXPECT_NE(delayed, std::string::npos) << text;
  EXPECT_NE(text.find("request 15 cancelled: completed", delayed), std::string::npos) << text;
}

// A query that the driver completes at once, and one that it holds 200 ms.
struct hold_case {
  const char *name;
  std::uint32_t hold_ms;
};
constexpr hold_case hold_cases[] = {{"at once", 0}, {"later", 200}};

// Runs `check` once for each hold case, with the driver's options set for it.
template <typename Check>
void for_each_hold(Check check) {
  for (const hold_case &c : hold_cases) {
    SCOPED_TRACE(c.name);
    option code("HoldCode", c.hold_ms != 0 ? ORVELLO_REQ_QUERY : 0);
    option hold("HoldMs", c.hold_ms);
    check(c.hold_ms);
  }
}

TEST_F(StandinDriver, SysCallTakesTheAnswerCompletedAtOnceOrLater) {
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  for_each_hold([&](std::uint32_t hold_ms) {
    auto q = prepared<orvello_query>();
    q.query = SV_QUERY_SERIALNUMBER;
    const steady::time_point start = steady::now();
    EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_QUERY, &q), SV_OK);
    EXPECT_GE(ms_since(start), hold_ms * 0.9);
    EXPECT_EQ(q.value, 10234);
    EXPECT_EQ(q.header.magic, static_cast<std::uint32_t>(ORVELLO_MAGIC));
    EXPECT_EQ(q.header.code, static_cast<std::uint32_t>(ORVELLO_REQ_QUERY));
  });
  EXPECT_NE(log().find("request 74 completed"), std::string::npos) << log();
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(StandinDriver, PostSendsWithControlCode256AndFinishTakesTheAnswer) {
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  for_each_hold([&](std::uint32_t hold_ms) {
    const std::uint32_t posted_before = board(0).posted;
    auto q = prepared<orvello_query>();
    q.query = SV_QUERY_DEVTYPE;
    const int posted = sv_sys_post(sv, ORVELLO_REQ_QUERY, &q, nullptr);
    EXPECT_EQ(posted, hold_ms != 0 ? SV_ACTIVE : SV_OK);
    EXPECT_EQ(sv_sys_finish(sv, &q, nullptr, posted), SV_OK);
    EXPECT_EQ(q.value, 21);
    EXPECT_EQ(board(0).posted, posted_before + 1);
  });
  EXPECT_NE(log().find("control 256"), std::string::npos);
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(StandinDriver, FourThreadsOnOneHandleEachGetTheirOwnAnswers) {
  const struct {
    int query;
    int value;
  } asks[4] = {{SV_QUERY_DEVTYPE, 21},
               {SV_QUERY_SERIALNUMBER, 10234},
               {SV_QUERY_VERSION_DRIVER, 0x00020901},
               {SV_QUERY_HW_FLASHSIZE, 0x1400000}};
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  std::atomic<int> failed{0}, crossed{0};
  std::vector<std::thread> threads;
  for (const auto &ask : asks) {
    threads.emplace_back([&, ask] {
      for (int i = 0; i < 100; ++i) {
        int value = -1;
        if (sv_query(sv, ask.query, 0, &value) != SV_OK) ++failed;
        if (value != ask.value) ++crossed;
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(crossed.load(), 0);
  EXPECT_EQ(sv_close(sv), SV_OK);
}

// On Windows the driver fills the open reply into the caller's record before it leaves the
// open request pending; under Wine it answers into a copy that reaches the caller only when
// the request completes, at close. The library then stamps its requests with magic 0 and never
// learns the trace flags.
TEST_F(StandinDriver, RequestsCarryTheOpensMagicWhereTheOpenReplyArrivedAndZeroElsewhere) {
  option traceflags("TraceFlags", 2);  // every call traced, where the reply arrives
  const vokdrv_board_state before = board(0);
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  int type = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &type), SV_OK);
  EXPECT_EQ(type, 21);
  const vokdrv_board_state after = board(0);
  if (in_caller_context()) {
    EXPECT_EQ(after.last_magic & 0xF0FFFFFFu, static_cast<std::uint32_t>(ORVELLO_MAGIC));
    EXPECT_NE(after.last_magic >> 24, 0u);
    EXPECT_GT(after.trace_lines, before.trace_lines);
  } else {
    EXPECT_EQ(after.last_magic, 0u);
    EXPECT_GT(after.unstamped, before.unstamped);
    EXPECT_EQ(after.trace_lines, before.trace_lines);
  }
  EXPECT_EQ(after.refused, before.refused);
  // A line the application traces itself reaches the driver either way.
  sv_trace(sv, "trace line %d from the test\n", 7);
  EXPECT_NE(log().find("board0 trace: trace line 7 from the test"), std::string::npos) << log();
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(StandinDriver, FlashRequestsMeetTheFaultsThatTheOptionsAsk) {
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  std::vector<std::uint32_t> region(0x400000 / 4, 0x12345678u);
  char description[256] = "fx 20111017 34.8";
  auto write = [&](std::uint32_t map) {
    orvello_flashwrite p = region_write(region.data(), description, map);
    return sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p);
  };
  auto read = [&](std::uint32_t address, int *value) {
    auto p = prepared<orvello_debug>();
    p.header.size = 64;
    p.command = OV_DEBUG_R_FLASH;
    p.parameter = address;
    const int result = sv_sys_call(sv, ORVELLO_REQ_DEBUG, &p);
    *value = static_cast<int>(p.value);
    return result;
  };

  // Under Wine the driver cannot reach the data: UnreachableWrite answers for it.
  const bool reaches = in_caller_context();
  EXPECT_EQ(write(1), reaches ? SV_OK : SV_ERROR_TRANSFER);
  {
    option answer("UnreachableWrite", SV_OK);
    EXPECT_EQ(write(1), SV_OK);
  }
  const struct {
    const char *name, *option;
    std::uint32_t value;
    std::uint32_t address;  // read back; the write goes to map 2
    int write_result, read_result, word;
  } cases[] = {
      {"refused write", "FailWriteMap", 2, 0x800000, SV_ERROR_FLASH_WRITE, SV_OK, -1},
      {"failing read", "FailReadAddress", 0x800004, 0x800004, SV_OK, SV_ERROR_TRANSFER, 0},
      {"flipped word", "FlipAddress", 0x800008, 0x800008, SV_OK, SV_OK, 0},
  };
  option unreachable("UnreachableWrite", SV_OK);  // the cases' writes succeed under Wine too
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    option fault(c.option, c.value);
    EXPECT_EQ(write(2), c.write_result);
    int value = 0;
    EXPECT_EQ(read(c.address, &value), c.read_result);
    // Erased flash reads all ones; the flip inverts it. Where the write reached the flash,
    // its pattern is there instead.
    if (c.read_result == SV_OK && !(reaches && c.write_result == SV_OK)) {
      EXPECT_EQ(value, c.word);
    }
  }
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(StandinDriver, BoardAnswersItsOptions) {
  const struct {
    const char *option;
    std::uint32_t value;
    int query;        // or 0: the version record of module `module`
    int module;
  } cases[] = {
      {"Type", 7, SV_QUERY_DEVTYPE, 0},
      {"Serial", 4711, SV_QUERY_SERIALNUMBER, 0},
      {"DriverVersion", 0x00030102, SV_QUERY_VERSION_DRIVER, 0},
      {"DriverVersion", 0x00030102, 0, 1},
      {"CpldVersion", 0x00020300, 0, 2},
  };
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  for (const auto &c : cases) {
    SCOPED_TRACE(c.option);
    option set(c.option, c.value);
    if (c.query != 0) {
      int value = 0;
      EXPECT_EQ(sv_query(sv, c.query, 0, &value), SV_OK);
      EXPECT_EQ(static_cast<std::uint32_t>(value), c.value);
    } else {
      sv_version v;
      EXPECT_EQ(sv_version_status(sv, &v, sizeof v, 0, c.module, 0), SV_OK);
      // The record form of a packed version word: bytes 1 and 3 change places.
      EXPECT_EQ(v.version, (c.value & 0x00FF00FFu) | ((c.value >> 8) & 0xFF) << 24 | (c.value >> 24) << 8);
    }
  }
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(StandinDriver, CostOfOneRequestThroughTheDriver) {
  sv_handle *sv = open_board();
  ASSERT_NE(sv, nullptr);
  int value = 0;
  for (int i = 0; i < 20; ++i) sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value);
  int count = 0;
  const steady::time_point start = steady::now();
  while (count < 5000 && (count < 50 || ms_since(start) < 1000)) {
    ASSERT_EQ(sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &value), SV_OK);
    ++count;
  }
  const double us = ms_since(start) * 1000 / count;
  std::printf("one sv_query through the stand-in driver: %.1f us (%d requests)\n", us, count);
  RecordProperty("request_us", std::to_string(us));
  EXPECT_EQ(sv_close(sv), SV_OK);
}

}  // namespace
