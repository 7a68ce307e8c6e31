// The test device layer: plays the board driver in-process behind the platform interface.
//
// Devices are named as the driver names them ("\\.\VOKDriver0"); each is present, missing
// or held by another process, and is answered by the board model (or by a test's own
// answer). Requests complete at once or are left pending and complete when waited for; the
// open request stays pending until close cancels it. Every request is logged, and every
// allocation, lock, event and open device is counted, so that a test can see what a path
// leaves behind. Allocations, event creations and device operations can be failed by
// countdown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board.h"
#include "platform/platform.h"

namespace vok::test {

enum class device_state { present, missing, held };

// How the device completes a request.
enum class completion {
  at_once,       // DeviceIoControl succeeds at once
  pending,       // left pending; completes when waited for
  held_pending,  // left pending; completes only when complete_held() is called
  fail,          // DeviceIoControl fails (last error 31)
};

struct request_log {
  std::uint32_t control;  // 259 or 256
  std::uint32_t code;     // request code of the record
  std::uint32_t magic;    // magic word as the driver saw it
  std::uint32_t size;
  const sv_overlapped *ov;
  std::vector<std::uint8_t> record;  // the record as sent
};

struct device {
  device_state state = device_state::present;
  std::unique_ptr<board::board> model = std::make_unique<board::board>();
  // Answers a request in place; by default the board model serves it.
  std::function<void(void *record, std::size_t size)> answer;
  // Completion by request code; codes not listed complete as `normal`.
  std::map<std::uint32_t, completion> completion_for;
  completion normal = completion::at_once;
  // Result word written instead of the answer for these request codes.
  std::map<std::uint32_t, std::int32_t> result_for;
  // A cancel leaves the cancelled requests in flight until complete_cancels().
  bool hold_cancel = false;
};

class driver {
 public:
  driver();
  ~driver();
  driver(const driver &) = delete;
  driver &operator=(const driver &) = delete;

  // The device "\\.\<family><number>"; created present on first use.
  device &at(int number, const std::string &family = "VOKDriver");

  std::map<std::string, std::string> environment;

  // Whether requests are logged (benchmarks turn it off).
  bool log_requests = true;

  // Countdowns: the n-th allocation (event creation, device operation) from now fails; 0
  // fails none. The device operations are opening a device and sending it a request; a
  // failing one fails with last error 31, as completion::fail does.
  int fail_allocation_at = 0;
  int fail_event_at = 0;
  int fail_device_operation_at = 0;

  // Live resources.
  int open_devices() const { return open_devices_; }
  int live_locks() const { return live_locks_; }
  int live_events() const { return live_events_; }
  int live_allocations() const { return live_allocations_; }
  int cancels() const { return cancels_; }
  int device_opens() const { return device_opens_; }
  int device_operations() const { return device_operations_; }

  std::vector<request_log> requests() const;
  std::vector<std::uint32_t> request_codes() const;
  void clear_requests();
  std::vector<std::pair<std::string, std::string>> notices() const;
  std::vector<std::string> debug_lines() const;
  void clear_output();

  // Completes every held request (as the driver would, later).
  void complete_held();
  // Completes the requests whose cancel was held, as cancelled.
  void complete_cancels();

  // The table installed while this driver lives.
  platform table;

  struct open_device;

 private:
  friend struct driver_ops;
  void serve(device &d, void *record, std::size_t size);

  std::map<std::string, device> devices_;
  mutable std::mutex lock_;
  std::vector<request_log> requests_;
  std::vector<std::pair<std::string, std::string>> notices_;
  std::vector<std::string> debug_lines_;
  struct pending_request {
    const device *target;
    void *record;  // where the reply goes on completion; null for the open request
    std::vector<std::uint8_t> reply;
    sv_overlapped *ov;
    bool held;
    bool cancelling = false;
  };
  std::vector<pending_request> pending_;
  std::atomic<int> open_devices_{0}, live_locks_{0}, live_events_{0}, live_allocations_{0},
      cancels_{0}, device_opens_{0}, device_operations_{0};
};

// The driver that is installed now (one at a time).
driver &current();

// Serves a request with the board model, reading the sender's memory in-process.
void serve_in_process(board::board &model, void *record, std::size_t size);

}  // namespace vok::test
