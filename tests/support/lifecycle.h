// Shared lifecycle helpers for tests that open a board through the test device layer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sv_internal.h"
#include "test_driver.h"

namespace vok::test {

// A test driver with board 0 present; opens and closes boards and checks that nothing is
// left behind.
class board_test : public ::testing::Test {
 protected:
  driver d;

  board::board &model(int number = 0) { return *d.at(number).model; }

  // Opens board `card` (of the default family) and expects success.
  sv_handle *open(int card = 0) {
    sv_handle *sv = nullptr;
    const std::string setup = "PCI,card:" + std::to_string(card);
    EXPECT_EQ(sv_openex(&sv, setup.c_str(), 1, 0, 0, 0), SV_OK);
    return sv;
  }

  void close(sv_handle *sv) { EXPECT_EQ(sv_close(sv), SV_OK); }

  // Nothing of an open is left: no handle, device, lock, event or allocation.
  void expect_nothing_left() {
    EXPECT_EQ(d.open_devices(), 0);
    EXPECT_EQ(d.live_locks(), 0);
    EXPECT_EQ(d.live_events(), 0);
    EXPECT_EQ(d.live_allocations(), 0);
  }

  // The last request sent with this request code.
  request_log last(std::uint32_t code) {
    request_log found{};
    for (const auto &r : d.requests()) {
      if (r.code == code) found = r;
    }
    return found;
  }

  int count(std::uint32_t code) {
    int n = 0;
    for (auto c : d.request_codes()) n += c == code;
    return n;
  }

  void SetUp() override { d.at(0); }
};

}  // namespace vok::test
