#include "platform/posix_objects.h"

#include <errno.h>
#include <signal.h>
#include <time.h>

namespace vok {
namespace {

constexpr long slice_ns = 100L * 1000 * 1000;
// How long a waiter polls before it blocks: a quick reply is seen without a context switch.
constexpr long poll_ns = 50L * 1000;

long long now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool poll_briefly(sem_t *event) {
  long long start = 0;
  for (int i = 0;; ++i) {
    if (sem_trywait(event) == 0) return true;
    if ((i & 63) == 63) {  // the clock is read only once a quick reply has not come
      if (start == 0) {
        start = now_ns();
      } else if (now_ns() - start > poll_ns) {
        return false;
      }
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
}

timespec deadline_after(long ns) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  ts.tv_nsec += ns;
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

bool posix_event_wait(sem_t *event, pid_t peer) {
  if (poll_briefly(event)) return true;
  for (;;) {
    timespec deadline = deadline_after(slice_ns);
    if (sem_timedwait(event, &deadline) == 0) return true;
    if (errno != ETIMEDOUT && errno != EINTR) return false;
    if (peer != 0 && kill(peer, 0) != 0 && errno == ESRCH) return false;
  }
}

bool posix_event_wait_for(sem_t *event, int timeout_ms) {
  if (poll_briefly(event)) return true;
  timespec deadline = deadline_after(static_cast<long>(timeout_ms) * 1000000L);
  for (;;) {
    if (sem_timedwait(event, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace vok
