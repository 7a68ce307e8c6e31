// The platform interface on POSIX systems.
//
// There is no kernel driver here: every device of a board family is missing, so a board is
// reached only through the simulator link, whose named objects are shared memory objects,
// named semaphores and robust process-shared mutexes.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/posix_objects.h"

namespace vok {
namespace {

thread_local std::uint32_t last_error_value = 0;

// A failed named-object operation leaves the Windows error that stands for its errno as the
// last error, as the Win32 calls do, so that a report names what happened.
void fail_with(int error) {
  switch (error) {
    case ENOENT: last_error_value = error_file_not_found; break;
    case EACCES:
    case EPERM: last_error_value = 5; break;   // access denied
    case ENOMEM:
    case ENOSPC: last_error_value = 8; break;  // not enough memory
    case EINVAL: last_error_value = 87; break; // invalid parameter
    case EMFILE:
    case ENFILE: last_error_value = 4; break;  // too many open files
    default: last_error_value = 31; break;     // a device attached to the system is not functioning
  }
}

// ---- Devices: none exist without the kernel driver ------------------------------------------

oshandle device_open(const char *) {
  last_error_value = error_file_not_found;
  return invalid_handle;
}

int device_control(oshandle, std::uint32_t, void *, std::uint32_t, void *, std::uint32_t,
                   std::uint32_t *, sv_overlapped *) {
  last_error_value = 6;  // invalid handle
  return 0;
}

int device_wait(oshandle, sv_overlapped *, std::uint32_t *, int) {
  last_error_value = 6;
  return 0;
}

int device_cancel(oshandle) { return 0; }
int device_close(oshandle) { return 0; }
std::uint32_t last_error() { return last_error_value; }
void set_last_error(std::uint32_t error) { last_error_value = error; }

// ---- Memory, locks, events --------------------------------------------------------------------

void *allocate(std::size_t size) { return std::malloc(size); }
void release(void *memory) { std::free(memory); }

static_assert(sizeof(pthread_mutex_t) <= sizeof(oslock::opaque));

pthread_mutex_t *native(oslock *lock) { return reinterpret_cast<pthread_mutex_t *>(lock->opaque); }

void lock_init(oslock *lock) {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(native(lock), &attr);
  pthread_mutexattr_destroy(&attr);
}

void lock_enter(oslock *lock) { pthread_mutex_lock(native(lock)); }
void lock_leave(oslock *lock) { pthread_mutex_unlock(native(lock)); }
void lock_delete(oslock *lock) { pthread_mutex_destroy(native(lock)); }

// A manual-reset event: nothing on POSIX waits on one (no device completes later), but the
// slots still own one each, as they do on Win32.
struct manual_event {
  bool signalled = false;
};

oshandle event_create() { return new (std::nothrow) manual_event; }
void event_close(oshandle event) { delete static_cast<manual_event *>(event); }

// ---- Notices, debugger output, sleep, environment ---------------------------------------------

// The modal notice: caption and text on standard error; with a terminal, wait there for Enter.
int notice(const char *caption, const char *text) {
  std::fprintf(stderr, "[!] %s\n%s\n", caption, text);
  std::fflush(stderr);
  int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty >= 0) {
    static const char prompt[] = "Press Enter to continue.\n";
    ssize_t written = ::write(tty, prompt, sizeof prompt - 1);
    (void)written;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n') {
    }
    ::close(tty);
  }
  return 1;  // the OK button
}

// The debugger output: silent unless VOKOEM_DEBUG_OUTPUT names "stderr" or a file to append to.
void debug_output(const char *text) {
  const char *target = std::getenv("VOKOEM_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0') return;
  if (std::strcmp(target, "stderr") == 0) {
    std::fputs(text, stderr);
    return;
  }
  int fd = ::open(target, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  ssize_t written = ::write(fd, text, std::strlen(text));
  (void)written;
  ::close(fd);
}

void sleep_ms(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

const char *get_environment(const char *name) { return std::getenv(name); }

// ---- The simulator link's named objects -------------------------------------------------------

std::string object_name(const char *name) { return std::string("/") + name; }

// A shared memory object opened by name. Mutex objects carry their mutex block in `view`.
struct posix_mapping {
  int fd = -1;
  std::size_t size = 0;
};

struct posix_mutex {
  int fd = -1;
  mutex_block *block = nullptr;
};

// Opens a shared memory object the simulator created; refuses one of another user.
int open_owned(const char *name, std::size_t *size) {
  int fd = shm_open(object_name(name).c_str(), O_RDWR, 0);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || st.st_uid != geteuid()) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  *size = static_cast<std::size_t>(st.st_size);
  return fd;
}

oshandle mapping_open(const char *name) {
  std::size_t size = 0;
  int fd = open_owned(name, &size);
  if (fd < 0) {
    fail_with(errno);
    return nullptr;
  }
  auto *mapping = new (std::nothrow) posix_mapping{fd, size};
  if (mapping == nullptr) ::close(fd);
  return mapping;
}

void *mapping_view(oshandle handle, std::size_t size) {
  auto *mapping = static_cast<posix_mapping *>(handle);
  if (size == 0) size = mapping->size;
  if (size == 0 || size > mapping->size) {
    fail_with(EINVAL);
    return nullptr;
  }
  void *view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, mapping->fd, 0);
  if (view == MAP_FAILED) {
    fail_with(errno);
    return nullptr;
  }
  return view;
}

std::size_t view_size(oshandle handle, void *) {
  return static_cast<posix_mapping *>(handle)->size;
}

void mapping_unview(oshandle, void *view, std::size_t size) {
  if (view != nullptr) munmap(view, size);
}

void mapping_close(oshandle handle) {
  auto *mapping = static_cast<posix_mapping *>(handle);
  ::close(mapping->fd);
  delete mapping;
}

// Events are named semaphores; a handle is the sem_t pointer itself.
oshandle named_event_open(const char *name) {
  sem_t *sem = sem_open(object_name(name).c_str(), 0);
  if (sem == SEM_FAILED) {
    fail_with(errno);
    return nullptr;
  }
  return sem;
}

// Mutexes are mutex blocks in 4096-byte shared memory objects.
oshandle named_mutex_open(const char *name) {
  std::size_t size = 0;
  int fd = open_owned(name, &size);
  if (fd < 0) {
    fail_with(errno);
    return nullptr;
  }
  if (size < mutex_object_size) errno = EINVAL;
  void *view = size >= mutex_object_size
                   ? mmap(nullptr, mutex_object_size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                   : MAP_FAILED;
  if (view == MAP_FAILED) {
    fail_with(errno);
    ::close(fd);
    return nullptr;
  }
  auto *block = static_cast<mutex_block *>(view);
  if (block->ready != mutex_block_ready) {  // not published yet: as if it were not there
    munmap(view, mutex_object_size);
    ::close(fd);
    fail_with(ENOENT);
    return nullptr;
  }
  auto *mutex = new (std::nothrow) posix_mutex{fd, block};
  if (mutex == nullptr) {
    munmap(view, mutex_object_size);
    ::close(fd);
  }
  return mutex;
}

void named_event_close(oshandle object) { sem_close(static_cast<sem_t *>(object)); }

void named_mutex_close(oshandle object) {
  auto *mutex = static_cast<posix_mutex *>(object);
  munmap(mutex->block, mutex_object_size);
  ::close(mutex->fd);
  delete mutex;
}

void named_event_set(oshandle event) { posix_event_set(static_cast<sem_t *>(event)); }
void named_event_reset(oshandle event) { posix_event_reset(static_cast<sem_t *>(event)); }

wait_result named_event_wait(oshandle event, oshandle peer) {
  pid_t pid = peer != nullptr ? static_cast<posix_mutex *>(peer)->block->pid : 0;
  return posix_event_wait(static_cast<sem_t *>(event), pid) ? wait_result::signalled
                                                              : wait_result::failed;
}

wait_result named_mutex_wait(oshandle handle) {
  auto *mutex = static_cast<posix_mutex *>(handle);
  int rc = pthread_mutex_lock(&mutex->block->mutex);
  if (rc == 0) return wait_result::signalled;
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&mutex->block->mutex);
    return wait_result::abandoned;
  }
  return wait_result::failed;
}

void named_mutex_release(oshandle handle) {
  pthread_mutex_unlock(&static_cast<posix_mutex *>(handle)->block->mutex);
}

// The mutex's shared block names the simulator: the waits watch it, and the simulator may
// read this process's memory. The process that the status memory names adds nothing.
oshandle link_opened(oshandle mutex, std::uint32_t) {
#if defined(__linux__) && defined(PR_SET_PTRACER)
  prctl(PR_SET_PTRACER, static_cast<unsigned long>(static_cast<posix_mutex *>(mutex)->block->pid),
        0, 0, 0);
#endif
  return mutex;
}

void link_closed(oshandle) {}

// The process and thread ids go into every message of the simulator link; each costs a
// system call, so both are kept, and forgotten in the child of a fork.
std::atomic<std::uint32_t> cached_pid{0};
thread_local std::uint32_t cached_tid = 0;

void forget_ids() {
  cached_pid.store(0);
  cached_tid = 0;
}

std::uint32_t process_id() {
  std::uint32_t pid = cached_pid.load(std::memory_order_relaxed);
  if (pid == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, forget_ids);
    (void)registered;
    pid = static_cast<std::uint32_t>(getpid());
    cached_pid.store(pid, std::memory_order_relaxed);
  }
  return pid;
}

std::uint32_t thread_id() {
  if (cached_tid == 0) {
#if defined(__linux__)
    cached_tid = static_cast<std::uint32_t>(syscall(SYS_gettid));
#else
    cached_tid = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pthread_self()));
#endif
  }
  return cached_tid;
}

}  // namespace

const platform &native_platform() {
  static const platform table = {
      device_open,       device_control,
      device_wait,       device_cancel,
      device_close,      last_error,
      set_last_error,    allocate,
      release,           lock_init,
      lock_enter,        lock_leave,
      lock_delete,       event_create,
      event_close,       notice,
      debug_output,      sleep_ms,
      get_environment,   mapping_open,
      mapping_view,      view_size,
      mapping_unview,    mapping_close,
      named_event_open,  named_mutex_open,
      named_event_close, named_mutex_close,
      named_event_set,
      named_event_reset, named_event_wait,
      named_mutex_wait,  named_mutex_release,
      link_opened,       link_closed,
      process_id,        thread_id,
  };
  return table;
}

}  // namespace vok
