#include <errno.h>
#include <fcntl.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "objects.h"
#include "platform/posix_objects.h"
#include "sv_simlink.h"

namespace vok::sim {
namespace {

std::string posix_name(const char *name) {
  return std::string("/") + name;
}

const char *const shm_names[] = {sim_map_name, sim_statusmap_name, sim_h2d_mutex_name,
                                 sim_d2h_mutex_name};
const char *const event_names[] = {sim_h2d_trigger_name, sim_h2d_ready_name, sim_d2h_trigger_name,
                                   sim_d2h_ready_name};

void unlink_all() {
  for (const char *name : shm_names) shm_unlink(posix_name(name).c_str());
  for (const char *name : event_names) sem_unlink(posix_name(name).c_str());
}

// Whether a simulator that is still alive published the host-to-device mutex block.
bool another_simulator_serves() {
  int fd = shm_open(posix_name(sim_h2d_mutex_name).c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  bool alive = false;
  void *view = mmap(nullptr, mutex_object_size, PROT_READ, MAP_SHARED, fd, 0);
  if (view != MAP_FAILED) {
    const auto *block = static_cast<const mutex_block *>(view);
    if (block->ready == mutex_block_ready && block->pid != getpid()) {
      alive = kill(block->pid, 0) == 0 || errno == EPERM;
    }
    munmap(view, mutex_object_size);
  }
  close(fd);
  return alive;
}

struct shm {
  int fd = -1;
  void *view = nullptr;
  std::size_t size = 0;
};

bool create_shm(const char *name, std::size_t size, shm &object, std::string &error) {
  object.fd = shm_open(posix_name(name).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (object.fd < 0 || fchmod(object.fd, 0600) != 0 ||
      ftruncate(object.fd, static_cast<off_t>(size)) != 0) {
    error = std::string("cannot create ") + name + ": " + std::strerror(errno);
    return false;
  }
  object.view = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, object.fd, 0);
  if (object.view == MAP_FAILED) {
    object.view = nullptr;
    error = std::string("cannot map ") + name + ": " + std::strerror(errno);
    return false;
  }
  object.size = size;
  return true;
}

bool create_mutex(const char *name, shm &object, std::string &error) {
  if (!create_shm(name, mutex_object_size, object, error)) return false;
  auto *block = static_cast<mutex_block *>(object.view);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_NORMAL);
  int rc = pthread_mutex_init(&block->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    error = std::string("cannot initialise ") + name;
    return false;
  }
  block->pid = getpid();
  __atomic_store_n(&block->ready, mutex_block_ready, __ATOMIC_RELEASE);
  return true;
}

bool create_event(const char *name, sem_t *&event, std::string &error) {
  sem_t *sem = sem_open(posix_name(name).c_str(), O_CREAT | O_EXCL, 0600, 0);
  if (sem == SEM_FAILED) {
    error = std::string("cannot create ") + name + ": " + std::strerror(errno);
    return false;
  }
  event = sem;
  return true;
}

}  // namespace

struct objects::state {
  shm request, statusmap, h2d_mutex, d2h_mutex;
  sem_t *h2d_trigger = nullptr, *h2d_ready = nullptr, *d2h_trigger = nullptr, *d2h_ready = nullptr;
};

objects::~objects() {
  remove();
}

bool objects::create(std::size_t status_size, std::string &error) {
  if (another_simulator_serves()) {
    error = "another simulator is serving already";
    return false;
  }
  unlink_all();  // stale objects of a simulator that did not exit cleanly
  state_ = new state;
  state &s = *state_;
  // The request mapping comes last: a host that finds it finds everything else too.
  bool ok = create_event(sim_d2h_trigger_name, s.d2h_trigger, error) &&
            create_event(sim_d2h_ready_name, s.d2h_ready, error) &&
            create_event(sim_h2d_trigger_name, s.h2d_trigger, error) &&
            create_event(sim_h2d_ready_name, s.h2d_ready, error) &&
            create_mutex(sim_d2h_mutex_name, s.d2h_mutex, error) &&
            create_mutex(sim_h2d_mutex_name, s.h2d_mutex, error) &&
            create_shm(sim_statusmap_name, status_size, s.statusmap, error);
  // The status memory names this process before the request mapping makes it findable.
  if (ok) {
    sim_mark_process(static_cast<unsigned char *>(s.statusmap.view), status_size,
                     static_cast<std::uint32_t>(getpid()));
  }
  ok = ok && create_shm(sim_map_name, sim_view_size, s.request, error);
  if (!ok) {
    remove();
    return false;
  }
  request_view_ = static_cast<unsigned char *>(s.request.view);
  area_ = request_view_ + sim_h2d_offset;
  status_view_ = static_cast<unsigned char *>(s.statusmap.view);
  status_size_ = status_size;
  return true;
}

void objects::remove() {
  if (state_ == nullptr) return;
  unlink_all();
  state &s = *state_;
  for (shm *object : {&s.request, &s.statusmap, &s.h2d_mutex, &s.d2h_mutex}) {
    if (object->view != nullptr) munmap(object->view, object->size);
    if (object->fd >= 0) close(object->fd);
  }
  for (sem_t *event : {s.h2d_trigger, s.h2d_ready, s.d2h_trigger, s.d2h_ready}) {
    if (event != nullptr) sem_close(event);
  }
  delete state_;
  state_ = nullptr;
  request_view_ = area_ = status_view_ = nullptr;
}

bool objects::wait_trigger(int timeout_ms) {
  return posix_event_wait_for(state_->h2d_trigger, timeout_ms);
}

void objects::set_ready() {
  if (state_ != nullptr) posix_event_set(state_->h2d_ready);
}

bool objects::read_sender(std::uint32_t pid, std::uint64_t address, void *into,
                          std::size_t length) {
  auto *to = static_cast<unsigned char *>(into);
  while (length > 0) {
    iovec local{to, length};
    iovec remote{reinterpret_cast<void *>(static_cast<std::uintptr_t>(address)), length};
    ssize_t n = process_vm_readv(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0);
    if (n <= 0) return false;
    to += n;
    address += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool objects::write_sender(std::uint32_t pid, std::uint64_t address, const void *from,
                           std::size_t length) {
  auto *source = static_cast<const unsigned char *>(from);
  while (length > 0) {
    iovec local{const_cast<unsigned char *>(source), length};
    iovec remote{reinterpret_cast<void *>(static_cast<std::uintptr_t>(address)), length};
    ssize_t n = process_vm_writev(static_cast<pid_t>(pid), &local, 1, &remote, 1, 0);
    if (n <= 0) return false;
    source += n;
    address += static_cast<std::uint64_t>(n);
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool replace_file(const std::string &from, const std::string &to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace vok::sim
