// The simulator's named objects on Windows: file mappings, events and mutexes by name, and
// the memory of the sending process through ReadProcessMemory and WriteProcessMemory.
#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "objects.h"
#include "sv_simlink.h"

namespace vok::sim {

struct objects::state {
  HANDLE request = nullptr, statusmap = nullptr;
  void *request_view = nullptr, *status_view = nullptr;
  HANDLE h2d_trigger = nullptr, h2d_ready = nullptr, h2d_mutex = nullptr;
  HANDLE d2h_trigger = nullptr, d2h_ready = nullptr, d2h_mutex = nullptr;
};

namespace {

std::string describe(const char *what, const char *name) {
  return std::string("cannot create ") + what + " " + name + " (error " +
         std::to_string(GetLastError()) + ")";
}

// Creates a named mapping; refuses one that exists already (another simulator serves).
bool create_mapping(const char *name, std::size_t size, HANDLE &mapping, void *&view,
                    std::string &error) {
  mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                               static_cast<DWORD>(size), name);
  if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    error = "another simulator is serving already";
    return false;
  }
  if (mapping == nullptr) {
    error = describe("mapping", name);
    return false;
  }
  view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, size);
  if (view == nullptr) {
    error = describe("view of", name);
    return false;
  }
  return true;
}

// Events reset themselves when a waiter is released: a wait also clears them.
bool create_event(const char *name, HANDLE &event, std::string &error) {
  event = CreateEventA(nullptr, FALSE, FALSE, name);
  if (event == nullptr) error = describe("event", name);
  return event != nullptr;
}

bool create_mutex(const char *name, HANDLE &mutex, std::string &error) {
  mutex = CreateMutexA(nullptr, FALSE, name);
  if (mutex == nullptr) error = describe("mutex", name);
  return mutex != nullptr;
}

// A process handle per sender, opened on its first message.
HANDLE sender(std::uint32_t pid) {
  static std::mutex lock;
  static std::map<std::uint32_t, HANDLE> opened;
  std::lock_guard<std::mutex> hold(lock);
  auto it = opened.find(pid);
  if (it != opened.end()) return it->second;
  HANDLE process = OpenProcess(
      PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_VM_OPERATION | PROCESS_QUERY_INFORMATION, FALSE,
      pid);
  if (process != nullptr) opened[pid] = process;
  return process;
}

}  // namespace

objects::~objects() {
  remove();
}

bool objects::create(std::size_t status_size, std::string &error) {
  state_ = new state;
  state &s = *state_;
  // The request mapping comes first here: it is how a second simulator is recognised.
  bool ok = create_mapping(sim_map_name, sim_view_size, s.request, s.request_view, error) &&
            create_mapping(sim_statusmap_name, status_size, s.statusmap, s.status_view, error);
  // The status memory names this process before a host can open the events, so that every
  // host's waits can tell when this simulator has ended.
  if (ok) {
    sim_mark_process(static_cast<unsigned char *>(s.status_view), status_size,
                     GetCurrentProcessId());
  }
  ok = ok && create_event(sim_d2h_trigger_name, s.d2h_trigger, error) &&
            create_event(sim_d2h_ready_name, s.d2h_ready, error) &&
            create_mutex(sim_d2h_mutex_name, s.d2h_mutex, error) &&
            create_event(sim_h2d_trigger_name, s.h2d_trigger, error) &&
            create_event(sim_h2d_ready_name, s.h2d_ready, error) &&
            create_mutex(sim_h2d_mutex_name, s.h2d_mutex, error);
  if (!ok) {
    remove();
    return false;
  }
  request_view_ = static_cast<unsigned char *>(s.request_view);
  area_ = request_view_ + sim_h2d_offset;
  status_view_ = static_cast<unsigned char *>(s.status_view);
  status_size_ = status_size;
  return true;
}

void objects::remove() {
  if (state_ == nullptr) return;
  state &s = *state_;
  if (s.request_view != nullptr) UnmapViewOfFile(s.request_view);
  if (s.status_view != nullptr) UnmapViewOfFile(s.status_view);
  for (HANDLE h : {s.request, s.statusmap, s.h2d_trigger, s.h2d_ready, s.h2d_mutex, s.d2h_trigger,
                   s.d2h_ready, s.d2h_mutex}) {
    if (h != nullptr) CloseHandle(h);
  }
  delete state_;
  state_ = nullptr;
  request_view_ = area_ = status_view_ = nullptr;
}

bool objects::wait_trigger(int timeout_ms) {
  return WaitForSingleObject(state_->h2d_trigger, static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

void objects::set_ready() {
  if (state_ != nullptr) SetEvent(state_->h2d_ready);
}

bool objects::read_sender(std::uint32_t pid, std::uint64_t address, void *into,
                          std::size_t length) {
  HANDLE process = sender(pid);
  SIZE_T done = 0;
  return process != nullptr && address <= UINTPTR_MAX &&
         ReadProcessMemory(process,
                           reinterpret_cast<const void *>(static_cast<std::uintptr_t>(address)),
                           into, length, &done) &&
         done == length;
}

bool objects::write_sender(std::uint32_t pid, std::uint64_t address, const void *from,
                           std::size_t length) {
  HANDLE process = sender(pid);
  SIZE_T done = 0;
  return process != nullptr && address <= UINTPTR_MAX &&
         WriteProcessMemory(process, reinterpret_cast<void *>(static_cast<std::uintptr_t>(address)),
                            from, length, &done) &&
         done == length;
}

// The C runtime's rename() refuses an existing target on Windows; MoveFileEx replaces it,
// and returns once the move is on the disk.
bool replace_file(const std::string &from, const std::string &to) {
  return MoveFileExA(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace vok::sim
