// Fault sweeps: the 1st, 2nd, 3rd ... allocation, event creation and device operation of an
// open and of a whole update fails, until a run meets no fault. Each faulted run ends with
// its fault's error and leaves nothing behind. The tool's working buffers are allocations
// too: they come from the test driver here, so that they count and can fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "flash.h"
#include "lifecycle.h"
#include "stdin_text.h"
#include "upgrade.h"

namespace vok::test {
namespace {

// What the library reports for a device operation that fails with error 31.
constexpr const char *device_failure = "SV_ERROR_IOCTL_FAILED:GetLastError:31";

struct fault_kind {
  const char *name;
  int driver::*countdown;
  // What sv_openex of card 0 returns when the open's 1st, 2nd ... of these fails: one entry
  // for each that the open makes.
  std::vector<int> open_errors;

  int open_points() const { return static_cast<int>(open_errors.size()); }
  int open_error(int n) const { return open_errors[static_cast<std::size_t>(n) - 1]; }
};

// The open allocates its handle and creates an event for each of its 8 slots. Its device
// operations are the search's probe of device 0 (its failure reads as no device 0, and the
// final open then names device 0 all the same), the final open, and the open request.
const fault_kind fault_kinds[] = {
    {"allocation", &driver::fail_allocation_at, {SV_ERROR_MALLOC}},
    {"event", &driver::fail_event_at, std::vector<int>(8, SV_ERROR_MALLOC)},
    {"device_operation", &driver::fail_device_operation_at,
     {SV_OK, SV_ERROR_DEVICENOTFOUND, SV_ERROR_IOCTL_FAILED}},
};

std::string kind_name(const ::testing::TestParamInfo<fault_kind> &info) {
  return info.param.name;
}

class Sweep : public board_test, public ::testing::WithParamInterface<fault_kind> {
 protected:
  void SetUp() override {
    board_test::SetUp();
    update::working_buffer_memory = {[](std::size_t size) { return os().allocate(size); },
                                     [](void *buffer) { os().release(buffer); }};
  }
  void TearDown() override { update::working_buffer_memory = {std::malloc, std::free}; }

  // Arms the countdown at `n`; true afterwards when the fault was hit.
  void arm(int n) { d.*GetParam().countdown = n; }
  bool hit() {
    const bool fired = d.*GetParam().countdown == 0;
    d.*GetParam().countdown = 0;
    return fired;
  }

  int device_failures() {
    const auto notices = d.notices();
    return static_cast<int>(std::count_if(
        notices.begin(), notices.end(), [](const auto &n) { return n.second == device_failure; }));
  }

  // The regions that the tool wrote, by its lines.
  static int programmed(const std::string &out) {
    int regions = 0;
    for (auto at = out.find("Programming "); at != std::string::npos;
         at = out.find("Programming ", at + 1)) {
      ++regions;
    }
    return regions;
  }

  struct update_run {
    int open_result = SV_OK;
    int update_result = 0;
    std::string out;  // the tool's standard output
  };

  // Opens board 0 and updates it, the operator answering "y" and then empty lines; a fresh
  // board each time. Standard error is captured and dropped.
  update_run run_update() {
    d.log_requests = false;  // a read-back is 4 million requests
    d.at(0).model = std::make_unique<board::board>();
    d.clear_output();
    update_run r;
    stdin_text in("y\n" + std::string(8, '\n'));
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    sv_handle *sv = nullptr;
    r.open_result = sv_openex(&sv, "PCI,card:0", 1, 0, 0, 0);
    if (r.open_result == SV_OK) r.update_result = update::upgradecard(sv);  // closes the board
    r.out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    return r;
  }
};

using OpenSweep = Sweep;

TEST_P(OpenSweep, EachFaultFailsTheOpenWithItsErrorAndLeavesNothing) {
  int points = 0;
  for (int n = 1;; ++n) {
    arm(n);
    sv_handle *sv = nullptr;
    const int result = sv_openex(&sv, "PCI,card:0", 1, 0, 0, 0);
    if (!hit()) {
      ASSERT_EQ(result, SV_OK);
      close(sv);
      expect_nothing_left();
      break;
    }
    ++points;
    EXPECT_EQ(result, GetParam().open_error(n)) << "fault " << n;
    if (result == SV_OK) {
      close(sv);
    } else {
      EXPECT_EQ(sv, nullptr);
    }
    expect_nothing_left();
  }
  EXPECT_EQ(points, GetParam().open_points());
  RecordProperty("fault_points", points);
}

INSTANTIATE_TEST_SUITE_P(Faults, OpenSweep, ::testing::ValuesIn(fault_kinds), kind_name);

using UpdateSweep = Sweep;

// Events are created by the open alone; allocations by the open and by each of the four
// regions, whose working buffer the tool then goes without: the region is not written.
TEST_P(UpdateSweep, EachFaultEndsWithItsErrorAndLeavesNothing) {
  const bool buffers = GetParam().countdown == &driver::fail_allocation_at;
  int points = 0;
  for (int n = 1;; ++n) {
    arm(n);
    const update_run r = run_update();
    if (!hit()) {
      EXPECT_EQ(r.open_result, SV_OK);
      EXPECT_EQ(r.update_result, 0);
      expect_nothing_left();
      break;
    }
    ++points;
    if (n <= GetParam().open_points()) {
      EXPECT_EQ(r.open_result, GetParam().open_error(n)) << "fault " << n;
    } else {
      ASSERT_TRUE(buffers) << "fault " << n << " is past the open";
      EXPECT_EQ(r.open_result, SV_OK);
      EXPECT_EQ(r.update_result, 0);
      EXPECT_NE(r.out.find("Buffer malloc failed\n"), std::string::npos) << "fault " << n;
      EXPECT_EQ(programmed(r.out), 3) << "fault " << n;
    }
    expect_nothing_left();
  }
  EXPECT_EQ(points, GetParam().open_points() + (buffers ? 4 : 0));
  RecordProperty("fault_points", points);
}

INSTANTIATE_TEST_SUITE_P(Faults, UpdateSweep, ::testing::Values(fault_kinds[0], fault_kinds[1]),
                         kind_name);

class UpdateDeviceSweep : public Sweep {};

// A whole update is about 4.2 million device operations, nearly all of them the word-by-word
// read-back, and the tool goes on after a failed write or read: a fault anywhere after the
// first flash write costs a whole update. So every operation that is not a read-back word
// (the open, the checks, both reports, the four flash writes, the close) is failed, with the
// read-back words on either side of each, and of the read-back every 250000th word and the
// last one. Each faulted run ends with the library's report of the failing operation.
TEST_P(UpdateDeviceSweep, EachFaultEndsWithItsErrorAndLeavesNothing) {
  // A clean run first: which operations there are, and which are read-back words.
  std::vector<bool> read_back;  // by operation number - 1
  const int before = d.device_operations();
  d.at(0).answer = [this, &read_back, before](void *record, std::size_t size) {
    const auto *debug = static_cast<const orvello_debug *>(record);
    read_back.resize(static_cast<std::size_t>(d.device_operations() - before));
    read_back.back() = debug->header.code == ORVELLO_REQ_DEBUG && debug->command == OV_DEBUG_R_FLASH;
    serve_in_process(*d.at(0).model, record, size);
  };
  const update_run clean = run_update();
  const int total = d.device_operations() - before;
  d.at(0).answer = nullptr;
  ASSERT_EQ(clean.update_result, 0);
  read_back.resize(static_cast<std::size_t>(total));

  std::set<int> points;  // operation numbers, from 1
  int first_write = 0;
  for (int n = 1; n <= total; ++n) {
    if (read_back[n - 1]) continue;
    points.insert({n - 1, n, n + 1});
    if (first_write == 0 && n > 1 && n < total && read_back[n]) first_write = n;
  }
  for (int n = 250000; n < total; n += 250000) points.insert(n);
  points.insert(total);
  points.erase(0);
  points.erase(total + 1);
  ASSERT_GT(first_write, 1);

  for (const int n : points) {
    arm(n);
    const update_run r = run_update();
    ASSERT_TRUE(hit()) << "fault " << n << " of " << total;
    EXPECT_EQ(r.open_result, n <= GetParam().open_points() ? GetParam().open_error(n) : SV_OK)
        << "fault " << n;
    if (n >= first_write) {
      EXPECT_EQ(r.update_result, 0) << "fault " << n;
    }
    // A failing request of the open handle is reported; the open's own failures are not.
    EXPECT_EQ(device_failures(), n > GetParam().open_points() ? 1 : 0) << "fault " << n;
    expect_nothing_left();
  }
  arm(total + 1);
  EXPECT_EQ(run_update().update_result, 0);
  EXPECT_FALSE(hit()) << "a run of " << total << " operations meets no fault";
  RecordProperty("fault_points", static_cast<int>(points.size()));
  RecordProperty("device_operations", total);
}

INSTANTIATE_TEST_SUITE_P(Faults, UpdateDeviceSweep, ::testing::Values(fault_kinds[2]), kind_name);

}  // namespace
}  // namespace vok::test
