// The operator's console: answers read from standard input, and the progress line.
#pragma once

#include <chrono>
#include <cstdint>

namespace vok::update {

// Reads one line and returns its first non-zero character, or the terminator for an empty
// line. At the end of standard input, or when an interrupt ends the read, it answers as for
// an empty line; interrupted() tells then which it was.
int readanswer();
// Flushes standard output.
void flushoutput();
// Waits for one key; returns at once at the end of standard input.
void wait_for_key();

// A progress line on standard error, shown only when standard error is a terminal, so that
// standard output stays the same with or without one.
class progress {
 public:
  progress(int map, const char *phase, std::uint32_t total);
  ~progress();
  // Updates the line now and then; cheap enough to call for every word.
  void update(std::uint32_t done) {
    if (shown_ && (done & 0xFFFF) == 0) draw(done);
  }

 private:
  void draw(std::uint32_t done);
  bool shown_;
  int map_;
  const char *phase_;
  std::uint32_t total_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace vok::update
