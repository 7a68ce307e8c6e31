// What a test's child process does between fork and exec so that it never outlives the test:
// it asks for SIGTERM when its parent ends (the simulator then removes its objects on the way
// out), and ends at once when the parent is gone already.
#pragma once

#include <sys/prctl.h>
#include <signal.h>
#include <unistd.h>

namespace vok::test {

// Call in the child, with the parent's process id read before fork.
inline void end_with_parent(pid_t parent) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);  // the parent ended before the request took hold
}

}  // namespace vok::test
