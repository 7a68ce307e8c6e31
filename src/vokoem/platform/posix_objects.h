// The simulator link's objects on POSIX, as both the library and the simulator use them:
// events are named semaphores that are either set or not, and each mutex lives in a mutex
// block at the start of a 4096-byte shared memory object.
#pragma once

#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace vok {

inline constexpr std::size_t mutex_object_size = 4096;
inline constexpr std::uint32_t mutex_block_ready = 0x4D565354;

struct mutex_block {
  union {
    pthread_mutex_t mutex;  // process-shared, robust, normal type
    unsigned char space[64];
  };
  std::int32_t pid;    // the simulator's process id
  std::uint32_t ready; // mutex_block_ready once the block may be used
};
static_assert(sizeof(pthread_mutex_t) <= 64);
static_assert(offsetof(mutex_block, pid) == 64);
static_assert(offsetof(mutex_block, ready) == 68);

// Sets the event unless it is set already: an event never counts.
void posix_event_set(sem_t *event);
// Clears the event.
void posix_event_reset(sem_t *event);
// Waits for the event and clears it. Polls briefly, then blocks in slices of at most 100 ms;
// when `peer` is not 0 and that process no longer exists, gives up and returns false.
bool posix_event_wait(sem_t *event, pid_t peer);
// The same, but returns false once `timeout_ms` have passed (for servers that must look at a
// stop flag now and then).
bool posix_event_wait_for(sem_t *event, int timeout_ms);

}  // namespace vok
