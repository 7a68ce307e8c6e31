#include "board_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vok::update {

board_lock::~board_lock() { release(); }

#if defined(_WIN32)

std::string lock_directory() { return {}; }

// A mutex in the global namespace, so that runs in every log-on session (a remote desktop, a
// service, a scheduled task) meet. An abandoned mutex (its run died) is taken over.
board_lock::state board_lock::take_named(const std::string &what) {
  release();
  const std::string name = "Global\\VantrelUpgrade." + what;
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) {
    problem_ = "the lock " + name + " cannot be made (error " + std::to_string(GetLastError()) + ")";
    return state::unavailable;
  }
  const DWORD waited = WaitForSingleObject(mutex, 0);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    mutex_ = mutex;
    return state::held;
  }
  CloseHandle(mutex);
  return state::taken;
}

void board_lock::release() {
  if (mutex_ == nullptr) return;
  ReleaseMutex(static_cast<HANDLE>(mutex_));
  CloseHandle(static_cast<HANDLE>(mutex_));
  mutex_ = nullptr;
}

#else

// Root's runs keep their locks in a folder that only root may write, where no other user can
// plant a file or a link in their place; other users' runs in /run/lock (or /tmp).
std::string lock_directory() {
  const char *chosen = std::getenv("VANTREL_UPGRADE_LOCK_DIR");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  if (geteuid() == 0) return "/run/vantrel-upgrade";
  struct stat s {};
  return stat("/run/lock", &s) == 0 && S_ISDIR(s.st_mode) ? "/run/lock" : "/tmp";
}

namespace {

// The folder, made when missing; root's own is refused when another user could write into it.
bool folder_is_safe(const std::string &folder, std::string &problem) {
  ::mkdir(folder.c_str(), 0755);
  if (geteuid() != 0 || std::getenv("VANTREL_UPGRADE_LOCK_DIR") != nullptr) return true;
  struct stat s {};
  if (lstat(folder.c_str(), &s) != 0 || !S_ISDIR(s.st_mode) || s.st_uid != 0 ||
      (s.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    problem = "the lock folder '" + folder + "' is missing, not root's, or writable by others";
    return false;
  }
  return true;
}

}  // namespace

// A lock file that every user can open: opened for reading only, so that a run of another user
// than the one who created it can take the lock too.
board_lock::state board_lock::take_named(const std::string &what) {
  release();
  const std::string folder = lock_directory();
  if (!folder_is_safe(folder, problem_)) return state::unavailable;
  const std::string path = folder + "/vantrel-upgrade." + what;
  const mode_t old_mask = umask(0);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  umask(old_mask);
  if (fd < 0) {
    problem_ = "the lock file '" + path + "' cannot be opened: " + std::strerror(errno);
    return state::unavailable;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    fd_ = fd;
    return state::held;
  }
  const int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return state::taken;
  problem_ = "the lock file '" + path + "' cannot be locked: " + std::strerror(error);
  return state::unavailable;
}

void board_lock::release() {
  if (fd_ < 0) return;
  ::close(fd_);  // ends the lock; the file stays for the next run
  fd_ = -1;
}

#endif

}  // namespace vok::update
