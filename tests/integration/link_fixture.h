// Fixtures for tests of the simulator link over real named objects.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "objects.h"
#include "platform/platform.h"
#include "server.h"
#include "simulator_process.h"
#include "sv_internal.h"
#include "vokoem/vokoem.h"

namespace vok::test {

// Opens board 0, finds it to be a Vantrel board and closes it: the simulator serves.
inline void expect_board_served() {
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  int devtype = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype), SV_OK);
  EXPECT_EQ(devtype, 21);
  EXPECT_EQ(sv_close(sv), SV_OK);
}

// The native platform, with the notices and the debugger output kept for the test.
class recording_platform {
 public:
  recording_platform() : table(native_platform()) {
    self() = this;
    table.notice = [](const char *caption, const char *text) {
      std::lock_guard<std::mutex> hold(self()->lock);
      self()->notices.emplace_back(std::string(caption) + ": " + text);
      return 1;
    };
    table.debug_output = [](const char *text) {
      std::lock_guard<std::mutex> hold(self()->lock);
      self()->debug.emplace_back(text);
    };
    install_platform(&table);
  }
  ~recording_platform() {
    install_platform(nullptr);
    self() = nullptr;
  }
  static recording_platform *&self() {
    static recording_platform *current = nullptr;
    return current;
  }

  platform table;
  std::mutex lock;
  std::vector<std::string> notices;
  std::vector<std::string> debug;
};

// One message as an in-process simulator saw it.
struct seen_message {
  std::uint32_t type, pid, tid, connection;
  std::int32_t opennumber;
  std::uint32_t reserved;
  std::vector<std::uint8_t> record;  // the record at offset 128, for "I"
};

// A simulator served by a thread of the test process, over the real named objects, that
// keeps every message it sees. The board model answers the requests.
class thread_simulator {
 public:
  thread_simulator() {
    std::string error;
    created = link.create(0x10000, error);
    EXPECT_TRUE(created) << error;
    if (!created) return;
    settings.config.traceflags = 0;
    serving = std::make_unique<sim::server>(link, settings);
    worker = std::thread([this] {
      while (!stop.load()) {
        if (!link.wait_trigger(20)) continue;
        record_message();
        if (!hold_replies.load()) serving->handle_message();  // answers and sets ready
      }
    });
  }
  ~thread_simulator() {
    stop = true;
    if (worker.joinable()) worker.join();
    link.remove();
  }

  std::vector<seen_message> messages() {
    std::lock_guard<std::mutex> hold(lock);
    return seen;
  }

  sim::objects link;
  sim::options settings;
  std::unique_ptr<sim::server> serving;
  bool created = false;
  std::atomic<bool> stop{false};
  std::atomic<bool> hold_replies{false};  // never answer: a simulator that hangs

 private:
  void record_message() {
    const unsigned char *area = link.area();
    auto word = [&](std::size_t offset) {
      std::uint32_t v;
      std::memcpy(&v, area + offset, 4);
      return v;
    };
    seen_message m{word(0), word(4), word(8), word(12), static_cast<std::int32_t>(word(16)),
                   word(20), {}};
    if (m.type == 'I') {
      const std::uint32_t size = std::min<std::uint32_t>(word(128), 16256);
      m.record.assign(area + 128, area + 128 + size);
    }
    std::lock_guard<std::mutex> hold(lock);
    seen.push_back(std::move(m));
  }

  std::thread worker;
  std::mutex lock;
  std::vector<seen_message> seen;
};

}  // namespace vok::test
