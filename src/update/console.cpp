#include "console.h"

#include <unistd.h>

#include <cstdio>

#include "interrupt.h"

namespace vok::update {

int readanswer() {
  int first = 0;
  for (;;) {
    const int c = std::getchar();
    if (c == EOF) {  // no answer: as for an empty line, unless an interrupt ended the read
      await_interrupt_decision();
      return '\n';
    }
    if (c == '\n' || c == '\r') return first != 0 ? first : c;
    if (first == 0 && c != 0) first = c;
  }
}

void flushoutput() { std::fflush(stdout); }

void wait_for_key() {
  if (std::getchar() == EOF) await_interrupt_decision();
}

progress::progress(int map, const char *phase, std::uint32_t total)
    : shown_(isatty(STDERR_FILENO) != 0),
      map_(map),
      phase_(phase),
      total_(total),
      start_(std::chrono::steady_clock::now()) {
  if (shown_) draw(0);
}

progress::~progress() {
  if (shown_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
}

void progress::draw(std::uint32_t done) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  const double rate = seconds > 0 ? done / seconds : 0;
  std::fprintf(stderr, "\r\033[Kmap %d: %s %3u%% %9.0f words/s", map_, phase_,
               total_ != 0 ? static_cast<unsigned>(100.0 * done / total_) : 100u, rate);
  std::fflush(stderr);
}

}  // namespace vok::update
