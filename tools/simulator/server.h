// The simulator's message loop: one emulated board served to every host through the
// simulator link's message area.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>

#include "board.h"
#include "faults.h"
#include "host_core.h"
#include "objects.h"

namespace vok::sim {

struct options {
  board::config config;
  board::fault_plan faults;
  long long die_after = -1;  // requests served before the simulator dies mid-exchange
  int slow_us = 0;           // delay before each answer
  std::string flash_file;    // flash content and region versions, kept between runs
  std::string trace_log;     // trace lines are appended here
  bool verbose = false;      // connections and requests on standard error
};

class server {
 public:
  server(objects &link, options settings);
  ~server();

  // Loads the flash file, if one is named; false with `error` when it cannot be used.
  bool load(std::string &error);
  // Serves messages until `stop` is set.
  void run(const std::atomic<bool> &stop);
  // Handles the message waiting in the area and answers it.
  void handle_message();

  board::board &model() { return model_; }

 private:
  void handle_request(std::uint32_t pid);
  void handle_memory(std::uint32_t type, std::uint32_t pid);
  void save();

  objects &link_;
  options options_;
  board::board model_;
  std::uint32_t next_connection_ = 1;
  long long served_ = 0;
  host_core host_core_;
  std::FILE *trace_ = nullptr;
};

// Reads and writes the flash file: all five regions, then for regions 1 to 4 the version
// word, BCD date and time, and the 256-byte description.
bool load_flash_file(const std::string &path, board::board &model, std::string &error);
bool save_flash_file(const std::string &path, const board::board &model);

}  // namespace vok::sim
