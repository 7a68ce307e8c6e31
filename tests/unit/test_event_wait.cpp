// Waiting for a simulator link event on POSIX: a post is never lost, whichever phase of the wait
// (polling, polling between yields, blocking) it meets, nor in the switch from one to the next.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix_objects.h"

namespace vok::test {
namespace {

using std::chrono::microseconds;

struct post_case {
  const char *name;
  microseconds delay;  // from the start of the wait to the post
  bool blocks_at_once; // the waiter's last waits all ended in a block
};

class EventWait : public ::testing::TestWithParam<post_case> {};

// A lost post would leave the wait to its 10 s limit; the poster then posts again, so that a
// failing case fails instead of hanging.
TEST_P(EventWait, SeesAPostMadeInAnyPhase) {
  const post_case &c = GetParam();
  sem_t event;
  ASSERT_EQ(sem_init(&event, 0, 0), 0);
  for (int round = 0; round < 10; ++round) {
    std::atomic<bool> seen{false}, waiting{false};
    std::thread waiter([&] {
      if (c.blocks_at_once) {
        for (int miss = 0; miss < 2; ++miss) posix_event_wait_for(&event, 2);
      }
      waiting = true;
      seen = round % 2 == 0 ? posix_event_wait_for(&event, 10000) : posix_event_wait(&event, 0);
    });
    while (!waiting) std::this_thread::yield();
    std::this_thread::sleep_for(c.delay);
    posix_event_set(&event);
    for (int i = 0; i < 10000 && !seen; ++i) std::this_thread::sleep_for(microseconds(1000));
    if (!seen) posix_event_set(&event);
    waiter.join();
    EXPECT_TRUE(seen) << "round " << round;
  }
  sem_destroy(&event);
}

INSTANTIATE_TEST_SUITE_P(Phases, EventWait,
  ::testing::Values(
    post_case{"WhilePolling", microseconds(2), false},
    post_case{"WhileYielding", microseconds(100), false},
    post_case{"AsPollingEnds", microseconds(1000), false},
    post_case{"WhileBlocked", microseconds(3000), false},
    post_case{"BlockedAtOnce", microseconds(500), true}),
  [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vok::test
#endif
