#include "platform/posix_objects.h"

#include <errno.h>
#include <sched.h>
#include <signal.h>
#include <time.h>

namespace vok {
namespace {

constexpr long slice_ns = 100L * 1000 * 1000;

// How a waiter waits. A reply that comes within a moment is best seen by polling, for no context
// switch is paid; but a reply can only come quickly while the peer has a core to run on. So the
// waiter polls alone only for a short window, learned from the replies of the thread's last waits
// as an adaptive mutex learns its spin, and then polls between yields of its core: whatever waits
// for that core (the peer, when the two share it) gets it at once, and when nothing does, a yield
// returns at once and the waiter polls on. Only a wait whose reply has not come within a
// millisecond blocks. Two waits in a row that ended so make the next waits block at once, for the
// peer is then idle or busy for long; every 32nd of them polls again, and polling comes back when
// that brings the reply.
constexpr long min_spin_ns = 1000;
constexpr long max_spin_ns = 5000;
constexpr long long yield_ns = 1000LL * 1000;
constexpr unsigned probe_every = 32;

struct wait_history {
  long spin_ns = max_spin_ns;  // the polling window before the waiter yields
  long reply_ns = 0;           // what replies seen while polling took, smoothed
  int misses = 0;              // waits in a row that ended in a block
  bool block_at_once = false;  // after two of them
  unsigned blocked = 0;        // waits since then
};
thread_local wait_history history;

long long now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// A reply that came `ns` after polling began.
void learn_reply(long long ns) {
  wait_history &h = history;
  h.reply_ns += (static_cast<long>(ns) - h.reply_ns) / 8;
  const long window = 2 * h.reply_ns + min_spin_ns;
  h.spin_ns = window < max_spin_ns ? window : max_spin_ns;
}

// The event came while polling: polling pays again.
bool replied(wait_history &h) {
  h.misses = 0;
  h.block_at_once = false;
  return true;
}

// Polls for the event, yielding the core after the first moment and for at most `yield_for` ns;
// true when the event came, false when the caller should block.
bool poll_briefly(sem_t *event, long long yield_for) {
  for (int i = 0; i < 16; ++i) {  // the clock is read only once a quick reply has not come
    if (sem_trywait(event) == 0) return true;
    cpu_relax();
  }
  wait_history &h = history;
  if (h.block_at_once && ++h.blocked % probe_every != 0) return false;
  const long long start = now_ns();
  for (int i = 0;; ++i) {
    if (sem_trywait(event) == 0) {
      learn_reply(now_ns() - start);
      return replied(h);
    }
    if ((i & 15) == 15 && now_ns() - start > h.spin_ns) break;
    cpu_relax();
  }
  const long long yielding = now_ns();
  do {
    sched_yield();
    if (sem_trywait(event) == 0) return replied(h);
  } while (now_ns() - yielding < yield_for);
  if (++h.misses >= 2) h.block_at_once = true;
  h.blocked = 0;
  return false;
}

timespec deadline_after(long long ns) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_sec += static_cast<time_t>(ns / 1000000000LL);
  ts.tv_nsec += static_cast<long>(ns % 1000000000LL);
  while (ts.tv_nsec >= 1000000000L) {
    ts.tv_nsec -= 1000000000L;
    ts.tv_sec += 1;
  }
  return ts;
}

}  // namespace

void posix_event_set(sem_t *event) {
  int value = 0;
  if (sem_getvalue(event, &value) == 0 && value >= 1) return;
  sem_post(event);
}

void posix_event_reset(sem_t *event) {
  while (sem_trywait(event) == 0) {
  }
}

// A post that comes after the last poll and before the block is kept by the semaphore's count,
// so the block returns at once: no reply is lost in the switch from polling to blocking.
bool posix_event_wait(sem_t *event, pid_t peer) {
  if (poll_briefly(event, yield_ns)) return true;
  for (;;) {
    timespec deadline = deadline_after(slice_ns);
    if (sem_timedwait(event, &deadline) == 0) return true;
    if (errno != ETIMEDOUT && errno != EINTR) return false;
    if (peer != 0 && kill(peer, 0) != 0 && errno == ESRCH) return false;
  }
}

bool posix_event_wait_for(sem_t *event, int timeout_ms) {
  const long long timeout_ns = static_cast<long long>(timeout_ms) * 1000000LL;
  timespec deadline = deadline_after(timeout_ns);
  if (poll_briefly(event, timeout_ns < yield_ns ? timeout_ns : yield_ns)) return true;
  for (;;) {
    if (sem_timedwait(event, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace vok
