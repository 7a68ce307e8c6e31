// Opening and closing a board: the failure table, the device search, and what a failed open
// leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "lifecycle.h"

namespace vok::test {
namespace {

using HandleTest = board_test;

int openex(const char *setup, sv_handle **sv, int openprogram = 1) {
  return sv_openex(sv, setup, openprogram, 0, 0, 0);
}

TEST_F(HandleTest, OpenTakesTheReplyAndCloseCancelsTheOpenRequest) {
  sv_handle *sv = open();
  ASSERT_NE(sv, nullptr);
  EXPECT_EQ(sv->magic, sv_handle_magic);
  EXPECT_EQ(sv->requestmagic & 0xF0FFFFFFu, 0x2BC3u);
  EXPECT_EQ(sv->requestmagic >> 24, 1u) << "the first open of the board";
  EXPECT_EQ(sv->driverversion, model().settings().driverversion);
  EXPECT_EQ(sv->openinfo[0], 0x0F1A0001u);
  EXPECT_EQ(sv->openinfo[1], 0x0F1A0002u);
  EXPECT_EQ(sv->openinfo[2], 0x0F1A0003u);
  const request_log openrequest = last(ORVELLO_REQ_OPEN);
  EXPECT_EQ(openrequest.magic, 11203u) << "the open request carries the plain magic";
  EXPECT_EQ(openrequest.size, 64u);
  EXPECT_EQ(openrequest.ov, &sv->locked.open.overlapped);
  EXPECT_EQ(d.open_devices(), 1);
  close(sv);
  EXPECT_EQ(d.cancels(), 1) << "close cancels the pending open request";
  expect_nothing_left();
}

// The cancelled open request may complete into the handle's records after the cancel: close
// waits for it, and keeps the memory of a handle whose request the driver never finishes.
TEST_F(HandleTest, CloseWaitsForTheDriverToFinishTheCancelledOpenRequest) {
  d.at(0).hold_cancel = true;
  sv_handle *sv = nullptr;
  ASSERT_EQ(openex("PCI,card:0", &sv), SV_OK);
  std::thread driver_later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    d.complete_cancels();
  });
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_EQ(d.cancels(), 1) << "close returned only after the cancel completed";
  driver_later.join();
  expect_nothing_left();
}

TEST_F(HandleTest, ACancelThatNeverCompletesKeepsTheHandlesMemory) {
  d.at(0).hold_cancel = true;
  cancel_wait_ms = 20;
  sv_handle *sv = nullptr;
  ASSERT_EQ(openex("PCI,card:0", &sv), SV_OK);
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_EQ(d.open_devices(), 0);
  EXPECT_EQ(d.live_allocations(), 1) << "the handle is kept";
  ASSERT_EQ(d.notices().size(), 1u);
  EXPECT_NE(d.notices()[0].second.find("did not finish the cancelled open request"),
            std::string::npos);
  d.complete_cancels();  // the driver, at last
  release_handle(sv);
  cancel_wait_ms = 5000;
  expect_nothing_left();
}

TEST_F(HandleTest, OpenRequestCarriesTheSetupValues) {
  sv_handle *sv = nullptr;
  ASSERT_EQ(sv_openex(&sv, "PCI,channel:2,type:output", 3, 0, 0, 0), SV_OK);
  const request_log r = last(ORVELLO_REQ_OPEN);
  auto word = [&](std::size_t offset) {
    std::uint32_t v;
    std::memcpy(&v, r.record.data() + offset, 4);
    return v;
  };
  EXPECT_EQ(word(16), 3u);   // openprogram
  EXPECT_EQ(word(20), 3u);   // opentype "output"
  EXPECT_EQ(word(48), 0u);   // card
  EXPECT_EQ(word(52), 3u);   // channel 2, plus 1
  close(sv);
}

TEST_F(HandleTest, DeviceSearchOpensTheNumberedDevice) {
  d.at(1);
  d.at(2);
  sv_handle *sv = open(2);
  ASSERT_NE(sv, nullptr);
  EXPECT_STREQ(sv->devicename, "\\\\.\\VOKDriver2");
  EXPECT_EQ(d.at(2).model->requests(), 1u);
  EXPECT_EQ(d.at(0).model->requests(), 0u) << "probing sends no request";
  close(sv);
  expect_nothing_left();
}

struct search_case {
  device_state state_of_1;
  int result;
};

class DeviceSearch : public board_test, public ::testing::WithParamInterface<search_case> {};

TEST_P(DeviceSearch, ALowerBoardThatCannotBeOpenedEndsTheSearch) {
  d.at(1).state = GetParam().state_of_1;
  d.at(2);
  sv_handle *sv = reinterpret_cast<sv_handle *>(0x1);
  EXPECT_EQ(openex("PCI,card:2", &sv), GetParam().result);
  EXPECT_EQ(sv, nullptr);
  expect_nothing_left();
}

// The largest board number: the walk ends at the first missing device, with no overflow.
TEST_F(HandleTest, TheLargestBoardNumberEndsTheSearch) {
  sv_handle *sv = nullptr;
  EXPECT_EQ(openex("PCI,card:2147483647", &sv), SV_ERROR_DEVICENOTFOUND);
  expect_nothing_left();
}

INSTANTIATE_TEST_SUITE_P(Board1, DeviceSearch,
                         ::testing::Values(search_case{device_state::missing,
                                                       SV_ERROR_DEVICENOTFOUND},
                                           search_case{device_state::held,
                                                       SV_ERROR_DEVICEINUSE}));

// Every row of the open's failure table, each with nothing left behind.
struct failure_case {
  const char *name;
  const char *setup;
  int openprogram;
  completion open_completion;
  std::int32_t open_result;  // 0: the board's own answer
  int result;
};

class OpenFailure : public board_test, public ::testing::WithParamInterface<failure_case> {};

TEST_P(OpenFailure, GivesItsErrorAndLeavesNothing) {
  const failure_case &c = GetParam();
  d.at(0).completion_for[ORVELLO_REQ_OPEN] = c.open_completion;
  if (c.open_result != 0) d.at(0).result_for[ORVELLO_REQ_OPEN] = c.open_result;
  sv_handle *sv = nullptr;
  EXPECT_EQ(openex(c.setup, &sv, c.openprogram), c.result) << c.name;
  EXPECT_EQ(sv, nullptr);
  expect_nothing_left();
  EXPECT_TRUE(d.notices().empty()) << "no message box for " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenFailure,
    ::testing::Values(
        failure_case{"setup rejected", "pci,card:0", 1, completion::pending, 0,
                     SV_ERROR_SVOPENSTRING},
        failure_case{"openprogram 0", "PCI", 0, completion::pending, 0, SV_ERROR_PARAMETER},
        failure_case{"openprogram 5", "PCI", 5, completion::pending, 0, SV_ERROR_PARAMETER},
        failure_case{"openprogram 15", "PCI", 15, completion::pending, 0, SV_ERROR_PARAMETER},
        failure_case{"openprogram negative", "PCI", -0x1000001, completion::pending, 0, SV_ERROR_PARAMETER},
        failure_case{"card -1", "PCI,card:-1", 1, completion::pending, 0, SV_ERROR_OBSOLETE},
        failure_case{"no device", "PCI,card:7", 1, completion::pending, 0,
                     SV_ERROR_DEVICENOTFOUND},
        failure_case{"result -1 at once", "PCI", 1, completion::at_once, -1, SV_ERROR_PROGRAM},
        failure_case{"result 0 at once", "PCI", 1, completion::at_once, 0, SV_ERROR_PROGRAM},
        failure_case{"error at once", "PCI", 1, completion::at_once, SV_ERROR_DEVICEINUSE,
                     SV_ERROR_DEVICEINUSE},
        failure_case{"send failed", "PCI", 1, completion::fail, 0, SV_ERROR_IOCTL_FAILED}),
    [](const auto &info) {
      std::string name = info.param.name;
      for (char &c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST_F(HandleTest, OpenCompletedAtOnceIsAcceptedForProgram14) {
  d.at(0).completion_for[ORVELLO_REQ_OPEN] = completion::at_once;
  sv_handle *sv = nullptr;
  ASSERT_EQ(openex("PCI", &sv, 14), SV_OK);
  close(sv);
  expect_nothing_left();
}

TEST_F(HandleTest, OpenprogramFromTheSetupStringIsTakenUnchecked) {
  sv_handle *sv = nullptr;
  ASSERT_EQ(openex("PCI,openprogram:5", &sv), SV_OK);
  std::int32_t program;
  std::memcpy(&program, last(ORVELLO_REQ_OPEN).record.data() + 16, 4);
  EXPECT_EQ(program, 0x1000005);
  close(sv);
}

TEST_F(HandleTest, NullPlaceForTheHandle) {
  EXPECT_EQ(sv_openex(nullptr, "PCI", 1, 0, 0, 0), SV_ERROR_PARAMETER);
}

TEST_F(HandleTest, OpenFallsBackToTheEnvironment) {
  d.at(1);
  d.environment["ORVELLO"] = "PCI,card:1";
  sv_handle *sv = sv_open(nullptr);
  ASSERT_NE(sv, nullptr);
  EXPECT_EQ(sv->card, 1);
  close(sv);
  d.environment.clear();
  sv = sv_open("");
  ASSERT_NE(sv, nullptr);
  EXPECT_EQ(sv->card, 0);
  close(sv);
}

TEST_F(HandleTest, SvOpenTurnsEveryFailureIntoNull) {
  EXPECT_EQ(sv_open("PCI,card:2,extra"), nullptr);
  EXPECT_EQ(sv_open_forward("PCI,card:3"), nullptr);
  expect_nothing_left();
}

TEST_F(HandleTest, CloseChecksTheHandle) {
  EXPECT_EQ(sv_close(nullptr), SV_ERROR_SVNULL);
  sv_handle *zeroed = static_cast<sv_handle *>(calloc(1, sizeof(sv_handle)));
  EXPECT_EQ(sv_close(zeroed), SV_ERROR_SVMAGIC);
  free(zeroed);
  EXPECT_EQ(d.live_allocations(), 0) << "a refused close releases nothing";
}

// Fail each allocation and each event creation of the open path in turn.
TEST_F(HandleTest, FailedAllocationOrEventAtEachStepLeavesNothing) {
  for (int n = 1;; ++n) {
    d.fail_allocation_at = n;
    sv_handle *sv = nullptr;
    int result = openex("PCI", &sv);
    d.fail_allocation_at = 0;
    if (result == SV_OK) {
      close(sv);
      EXPECT_GT(n, 1);
      break;
    }
    EXPECT_EQ(result, SV_ERROR_MALLOC) << "allocation " << n;
    expect_nothing_left();
    ASSERT_LT(n, 100);
  }
  int events = 0;
  for (int n = 1;; ++n) {
    d.fail_event_at = n;
    sv_handle *sv = nullptr;
    int result = openex("PCI", &sv);
    d.fail_event_at = 0;
    if (result == SV_OK) {
      close(sv);
      break;
    }
    ++events;
    EXPECT_EQ(result, SV_ERROR_MALLOC) << "event " << n;
    expect_nothing_left();
    ASSERT_LT(n, 100);
  }
  EXPECT_EQ(events, 8) << "one event per named slot";
  expect_nothing_left();
}

TEST_F(HandleTest, OtherFamiliesAreOpenedByTheirPrefix) {
  d.at(0, "Talvix");
  d.at(0, "CarvathRAW");
  for (const char *setup : {"TLX,card:0", "RAW,card:0"}) {
    sv_handle *sv = nullptr;
    ASSERT_EQ(openex(setup, &sv), SV_OK) << setup;
    close(sv);
  }
  EXPECT_EQ(d.at(0, "Talvix").model->requests(), 1u);
  EXPECT_EQ(d.at(0, "CarvathRAW").model->requests(), 1u);
  expect_nothing_left();
}

}  // namespace
}  // namespace vok::test
