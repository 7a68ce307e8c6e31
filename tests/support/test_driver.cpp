#include "test_driver.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace vok::test {

struct driver::open_device {
  device *target;
};

namespace {

std::atomic<driver *> installed{nullptr};
thread_local std::uint32_t last_error_value = 0;

std::uint32_t word_at(const void *record, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, 4);
  return value;
}

constexpr std::uintptr_t status_cancelled = 0xC0000120;

void set_status(sv_overlapped *ov, std::uintptr_t status) {
  if (ov != nullptr) std::atomic_ref<std::uintptr_t>(ov->internal).store(status);
}

}  // namespace

driver &current() {
  driver *d = installed.load();
  if (d == nullptr) throw std::logic_error("no test driver installed");
  return *d;
}

void serve_in_process(board::board &model, void *record, std::size_t size) {
  model.serve(record, size, [](std::uint64_t address, void *into, std::size_t length) {
    if (address == 0) return false;
    std::memcpy(into, reinterpret_cast<const void *>(static_cast<std::uintptr_t>(address)), length);
    return true;
  });
}

// The platform operations, routed to the installed driver.
struct driver_ops {
  static oshandle device_open(const char *name) {
    driver &d = current();
    ++d.device_operations_;
    if (d.fail_device_operation_at > 0 && --d.fail_device_operation_at == 0) {
      last_error_value = 31;  // a device that does not work
      return invalid_handle;
    }
    std::string text = name;
    const std::string prefix = "\\\\.\\";
    auto found = d.devices_.end();
    if (text.rfind(prefix, 0) == 0) found = d.devices_.find(text.substr(prefix.size()));
    if (found == d.devices_.end() || found->second.state == device_state::missing) {
      last_error_value = error_file_not_found;
      return invalid_handle;
    }
    if (found->second.state == device_state::held) {
      last_error_value = error_access_denied;
      return invalid_handle;
    }
    ++d.open_devices_;
    ++d.device_opens_;
    return new driver::open_device{&found->second};
  }

  static int device_control(oshandle handle, std::uint32_t control, void *in,
                            std::uint32_t inlength, void *, std::uint32_t, std::uint32_t *bytes,
                            sv_overlapped *ov) {
    driver &d = current();
    device &target = *static_cast<driver::open_device *>(handle)->target;
    const std::uint32_t code = word_at(in, 8);
    if (d.log_requests) {
      std::lock_guard<std::mutex> hold(d.lock_);
      auto *first = static_cast<const std::uint8_t *>(in);
      d.requests_.push_back({control, code, word_at(in, 4), inlength, ov,
                             std::vector<std::uint8_t>(first, first + inlength)});
    }
    ++d.device_operations_;
    auto mode = target.completion_for.find(code);
    completion how = mode != target.completion_for.end() ? mode->second : target.normal;
    if (d.fail_device_operation_at > 0 && --d.fail_device_operation_at == 0) how = completion::fail;
    if (how == completion::fail) {
      last_error_value = 31;  // a device that does not work
      return 0;
    }
    if (how == completion::at_once) {
      d.serve(target, in, inlength);
      if (bytes != nullptr) *bytes = inlength;
      return 1;
    }
    // The driver takes the request's input now; its output reaches the record when the
    // request completes. The open request's reply is in place before it is left pending.
    std::vector<std::uint8_t> reply(static_cast<std::uint8_t *>(in),
                                    static_cast<std::uint8_t *>(in) + inlength);
    d.serve(target, reply.data(), reply.size());
    if (code == ORVELLO_REQ_OPEN) std::memcpy(in, reply.data(), inlength);
    set_status(ov, status_pending);
    {
      std::lock_guard<std::mutex> hold(d.lock_);
      d.pending_.push_back({&target, code == ORVELLO_REQ_OPEN ? nullptr : in, std::move(reply), ov,
                            how == completion::held_pending});
    }
    last_error_value = error_io_pending;
    return 0;
  }

  static int device_wait(oshandle, sv_overlapped *ov, std::uint32_t *bytes, int) {
    driver &d = current();
    for (;;) {
      std::unique_lock<std::mutex> hold(d.lock_);
      auto it = d.pending_.begin();
      while (it != d.pending_.end() && it->ov != ov) ++it;
      if (it == d.pending_.end()) return 1;
      if (it->held) {
        hold.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      driver::pending_request request = *it;
      d.pending_.erase(it);
      hold.unlock();
      if (request.record != nullptr) {
        std::memcpy(request.record, request.reply.data(), request.reply.size());
      }
      if (bytes != nullptr) *bytes = static_cast<std::uint32_t>(request.reply.size());
      set_status(ov, 0);
      return 1;
    }
  }

  static int device_cancel(oshandle handle) {
    driver &d = current();
    const device *target = static_cast<driver::open_device *>(handle)->target;
    std::lock_guard<std::mutex> hold(d.lock_);
    for (auto it = d.pending_.begin(); it != d.pending_.end();) {
      if (it->target == target && target->hold_cancel) {
        (it++)->cancelling = true;
      } else if (it->target == target) {
        ++d.cancels_;  // counted before the status wakes the caller, who may read the count
        set_status(it->ov, status_cancelled);
        it = d.pending_.erase(it);
      } else {
        ++it;
      }
    }
    return 1;
  }

  static int device_close(oshandle handle) {
    --current().open_devices_;
    delete static_cast<driver::open_device *>(handle);
    return 1;
  }

  static std::uint32_t last_error() { return last_error_value; }
  static void set_last_error(std::uint32_t error) { last_error_value = error; }

  static void *allocate(std::size_t size) {
    driver &d = current();
    if (d.fail_allocation_at > 0 && --d.fail_allocation_at == 0) return nullptr;
    ++d.live_allocations_;
    return native_platform().allocate(size);
  }
  static void release(void *memory) {
    if (memory != nullptr) --current().live_allocations_;
    native_platform().release(memory);
  }
  static void lock_init(oslock *lock) {
    ++current().live_locks_;
    native_platform().lock_init(lock);
  }
  static void lock_delete(oslock *lock) {
    --current().live_locks_;
    native_platform().lock_delete(lock);
  }
  static oshandle event_create() {
    driver &d = current();
    if (d.fail_event_at > 0 && --d.fail_event_at == 0) return nullptr;
    ++d.live_events_;
    return native_platform().event_create();
  }
  static void event_close(oshandle event) {
    --current().live_events_;
    native_platform().event_close(event);
  }
  static int notice(const char *caption, const char *text) {
    driver &d = current();
    std::lock_guard<std::mutex> hold(d.lock_);
    d.notices_.emplace_back(caption, text);
    return 1;
  }
  static void debug_output(const char *text) {
    driver &d = current();
    std::lock_guard<std::mutex> hold(d.lock_);
    d.debug_lines_.emplace_back(text);
  }
  static const char *get_environment(const char *name) {
    driver &d = current();
    auto it = d.environment.find(name);
    return it == d.environment.end() ? nullptr : it->second.c_str();
  }
  // No simulator in-process: its first object is missing.
  static oshandle mapping_open(const char *) { return nullptr; }
};

driver::driver() : table(native_platform()) {
  table.device_open = driver_ops::device_open;
  table.device_control = driver_ops::device_control;
  table.device_wait = driver_ops::device_wait;
  table.device_cancel = driver_ops::device_cancel;
  table.device_close = driver_ops::device_close;
  table.last_error = driver_ops::last_error;
  table.set_last_error = driver_ops::set_last_error;
  table.allocate = driver_ops::allocate;
  table.release = driver_ops::release;
  table.lock_init = driver_ops::lock_init;
  table.lock_delete = driver_ops::lock_delete;
  table.event_create = driver_ops::event_create;
  table.event_close = driver_ops::event_close;
  table.notice = driver_ops::notice;
  table.debug_output = driver_ops::debug_output;
  table.getenv = driver_ops::get_environment;
  table.mapping_open = driver_ops::mapping_open;
  driver *expected = nullptr;
  if (!installed.compare_exchange_strong(expected, this)) {
    throw std::logic_error("a test driver is installed already");
  }
  install_platform(&table);
}

driver::~driver() {
  install_platform(nullptr);
  installed.store(nullptr);
}

device &driver::at(int number, const std::string &family) {
  device &d = devices_[family + std::to_string(number)];
  if (d.completion_for.empty()) d.completion_for[ORVELLO_REQ_OPEN] = completion::pending;
  return d;
}

void driver::serve(device &d, void *record, std::size_t size) {
  const std::uint32_t code = word_at(record, 8);
  auto forced = d.result_for.find(code);
  if (forced != d.result_for.end()) {
    std::int32_t result = forced->second;
    std::memcpy(static_cast<unsigned char *>(record) + 12, &result, 4);
  } else if (d.answer) {
    d.answer(record, size);
  } else {
    serve_in_process(*d.model, record, size);
  }
}

std::vector<request_log> driver::requests() const {
  std::lock_guard<std::mutex> hold(lock_);
  return requests_;
}

std::vector<std::uint32_t> driver::request_codes() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<std::uint32_t> codes;
  for (const auto &r : requests_) codes.push_back(r.code);
  return codes;
}

void driver::clear_requests() {
  std::lock_guard<std::mutex> hold(lock_);
  requests_.clear();
}

std::vector<std::pair<std::string, std::string>> driver::notices() const {
  std::lock_guard<std::mutex> hold(lock_);
  return notices_;
}

std::vector<std::string> driver::debug_lines() const {
  std::lock_guard<std::mutex> hold(lock_);
  return debug_lines_;
}

void driver::clear_output() {
  std::lock_guard<std::mutex> hold(lock_);
  notices_.clear();
  debug_lines_.clear();
}

void driver::complete_cancels() {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (it->cancelling) {
      ++cancels_;  // counted before the status wakes the caller, who may read the count
      set_status(it->ov, status_cancelled);
      it = pending_.erase(it);
    } else {
      ++it;
    }
  }
}

void driver::complete_held() {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto &p : pending_) p.held = false;
}

}  // namespace vok::test
