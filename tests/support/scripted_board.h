// A board whose answers a test scripts per request code, and checks of the records sent.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "lifecycle.h"

namespace vok::test {

// The word at a byte offset of a logged record (0 beyond its end).
inline std::uint32_t word(const request_log &r, std::size_t offset) {
  std::uint32_t value = 0;
  if (offset + 4 <= r.record.size()) std::memcpy(&value, r.record.data() + offset, 4);
  return value;
}

inline void put(void *record, std::size_t offset, std::uint32_t value) {
  std::memcpy(static_cast<unsigned char *>(record) + offset, &value, 4);
}

// A sent record: its size and code, and every byte from offset 16 on zero except `inputs`
// (words by byte offset) and `text` (bytes at `text_at`).
inline void expect_sent(const request_log &r, std::uint32_t code, std::size_t size,
                        const std::map<std::size_t, std::uint32_t> &inputs = {},
                        const std::string &text = {}, std::size_t text_at = 0) {
  EXPECT_EQ(r.code, code);
  ASSERT_EQ(r.size, size) << "request " << code;
  ASSERT_EQ(r.record.size(), size);
  EXPECT_EQ(word(r, 0), size);
  std::vector<std::uint8_t> want(size, 0);
  for (const auto &[offset, value] : inputs) put(want.data(), offset, value);
  std::memcpy(want.data() + text_at, text.data(), text.size());
  for (std::size_t i = 16; i < size; ++i) {
    EXPECT_EQ(r.record[i], want[i]) << "request " << code << ", byte " << i;
  }
}

// An open board whose replies a test sets per request code; codes without a reply are served
// by the board model. Nothing may be left behind at the end.
class scripted_board_test : public board_test {
 protected:
  using reply = std::function<void(unsigned char *record, std::size_t size)>;

  void SetUp() override {
    board_test::SetUp();
    d.at(0).answer = [this](void *record, std::size_t size) {
      std::uint32_t code;
      std::memcpy(&code, static_cast<unsigned char *>(record) + 8, 4);
      auto it = replies.find(code);
      if (it != replies.end()) {
        it->second(static_cast<unsigned char *>(record), size);
      } else {
        serve_in_process(model(), record, size);
      }
    };
  }
  void TearDown() override {
    if (sv != nullptr) close(sv);
    expect_nothing_left();
  }

  // Opens the board with these trace flags.
  void start(std::uint32_t traceflags = 0) {
    model().settings().traceflags = traceflags;
    sv = open();
    ASSERT_NE(sv, nullptr);
    forget();
  }
  // Forgets the requests, notices and trace lines so far.
  void forget() {
    d.clear_requests();
    d.clear_output();
    board_lines = model().trace_lines().size();
  }
  // The trace lines that reached the board since start() or forget().
  std::vector<std::string> driver_lines() {
    auto all = model().trace_lines();
    return {all.begin() + static_cast<std::ptrdiff_t>(board_lines), all.end()};
  }
  // The lines since start() or forget(), at the debugger output and at the board.
  void expect_lines(const std::vector<std::string> &expected) {
    EXPECT_EQ(d.debug_lines(), expected);
    EXPECT_EQ(driver_lines(), expected);
  }

  std::map<std::uint32_t, reply> replies;
  sv_handle *sv = nullptr;
  std::size_t board_lines = 0;
};

}  // namespace vok::test
