// The platform interface on 32-bit Windows: the board's kernel driver through device control
// requests with overlapped completion, and the simulator link's named objects.
#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace vok {
namespace {

// The completion record of the public header is the platform's OVERLAPPED.
static_assert(sizeof(sv_overlapped) == sizeof(OVERLAPPED));
static_assert(offsetof(sv_overlapped, internal) == offsetof(OVERLAPPED, Internal));
static_assert(offsetof(sv_overlapped, internalhigh) == offsetof(OVERLAPPED, InternalHigh));
static_assert(offsetof(sv_overlapped, event) == offsetof(OVERLAPPED, hEvent));
static_assert(sizeof(CRITICAL_SECTION) <= sizeof(oslock::opaque));
static_assert(STATUS_PENDING == status_pending);

constexpr DWORD all_access_mapping = 0xF001F;  // FILE_MAP_ALL_ACCESS
constexpr DWORD all_access_event = 0x1F0003;   // EVENT_ALL_ACCESS
constexpr DWORD all_access_mutex = 0x1F0001;   // MUTEX_ALL_ACCESS

HANDLE native(oshandle handle) { return static_cast<HANDLE>(handle); }
OVERLAPPED *native(sv_overlapped *ov) { return reinterpret_cast<OVERLAPPED *>(ov); }
CRITICAL_SECTION *native(oslock *lock) { return reinterpret_cast<CRITICAL_SECTION *>(lock->opaque); }

// ---- The board driver's devices -------------------------------------------------------------

oshandle device_open(const char *name) {
  HANDLE device = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
  return device == INVALID_HANDLE_VALUE ? invalid_handle : device;
}

int device_control(oshandle device, std::uint32_t code, void *in, std::uint32_t inlength,
                   void *out, std::uint32_t outlength, std::uint32_t *bytes, sv_overlapped *ov) {
  DWORD count = 0;
  BOOL done = DeviceIoControl(native(device), code, in, inlength, out, outlength, &count, native(ov));
  if (bytes != nullptr) *bytes = count;
  return done ? 1 : 0;
}

int device_wait(oshandle device, sv_overlapped *ov, std::uint32_t *bytes, int wait) {
  DWORD count = 0;
  BOOL done = GetOverlappedResult(native(device), native(ov), &count, wait ? TRUE : FALSE);
  if (bytes != nullptr) *bytes = count;
  return done ? 1 : 0;
}

int device_cancel(oshandle device) { return CancelIo(native(device)) ? 1 : 0; }
int device_close(oshandle device) { return CloseHandle(native(device)) ? 1 : 0; }
std::uint32_t last_error() { return GetLastError(); }
void set_last_error(std::uint32_t error) { SetLastError(error); }

// ---- Memory, locks, events --------------------------------------------------------------------

void *allocate(std::size_t size) { return std::malloc(size); }
void release(void *memory) { std::free(memory); }
void lock_init(oslock *lock) { InitializeCriticalSection(native(lock)); }
void lock_enter(oslock *lock) { EnterCriticalSection(native(lock)); }
void lock_leave(oslock *lock) { LeaveCriticalSection(native(lock)); }
void lock_delete(oslock *lock) { DeleteCriticalSection(native(lock)); }

oshandle event_create() { return CreateEventA(nullptr, TRUE, FALSE, nullptr); }
void event_close(oshandle event) { CloseHandle(native(event)); }

// ---- Notices, debugger output, sleep, environment ---------------------------------------------

// Where no one can answer a message box (a service, a test run), VOKOEM_NOTICE=stderr writes
// the notice to standard error instead and goes on at once.
int notice(const char *caption, const char *text) {
  const char *where = std::getenv("VOKOEM_NOTICE");
  if (where != nullptr && std::strcmp(where, "stderr") == 0) {
    std::fprintf(stderr, "[!] %s\n%s\n", caption, text);
    std::fflush(stderr);
    return IDOK;
  }
  int pressed = MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
  return pressed != 0 ? pressed : IDOK;
}

// The debugger output; VOKOEM_DEBUG_OUTPUT names "stderr" or a file to copy it to as well.
void debug_output(const char *text) {
  OutputDebugStringA(text);
  const char *target = std::getenv("VOKOEM_DEBUG_OUTPUT");
  if (target == nullptr || *target == '\0') return;
  if (std::strcmp(target, "stderr") == 0) {
    std::fputs(text, stderr);
    return;
  }
  if (std::FILE *f = std::fopen(target, "a")) {
    std::fputs(text, f);
    std::fclose(f);
  }
}

void sleep_ms(std::uint32_t milliseconds) { Sleep(milliseconds); }
const char *get_environment(const char *name) { return std::getenv(name); }

// ---- The simulator link's named objects -------------------------------------------------------

oshandle mapping_open(const char *name) { return OpenFileMappingA(all_access_mapping, FALSE, name); }

void *mapping_view(oshandle mapping, std::size_t size) {
  return MapViewOfFile(native(mapping), all_access_mapping, 0, 0, size);
}

std::size_t view_size(oshandle, void *view) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(view, &info, sizeof info) < sizeof info) return 0;
  return info.RegionSize;
}

void mapping_unview(oshandle, void *view, std::size_t) {
  if (view != nullptr) UnmapViewOfFile(view);
}

void mapping_close(oshandle mapping) { CloseHandle(native(mapping)); }
oshandle named_event_open(const char *name) { return OpenEventA(all_access_event, FALSE, name); }
oshandle named_mutex_open(const char *name) { return OpenMutexA(all_access_mutex, FALSE, name); }
void named_close(oshandle object) { CloseHandle(native(object)); }
void named_event_set(oshandle event) { SetEvent(native(event)); }
void named_event_reset(oshandle event) { ResetEvent(native(event)); }

wait_result wait_for(oshandle object) {
  switch (WaitForSingleObject(native(object), INFINITE)) {
    case WAIT_OBJECT_0: return wait_result::signalled;
    case WAIT_ABANDONED: return wait_result::abandoned;
    default: return wait_result::failed;
  }
}

// The reply and the simulator's process are waited for together: a simulator that has ended
// fails the exchange. A simulator that does not name its process is waited for without a
// time limit, as it always has been. A reply given just before the end still counts.
wait_result named_event_wait(oshandle event, oshandle simulator) {
  if (simulator == nullptr) return wait_for(event);
  HANDLE both[2] = {native(event), native(simulator)};
  return WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0 ? wait_result::signalled
                                                                           : wait_result::failed;
}
wait_result named_mutex_wait(oshandle mutex) { return wait_for(mutex); }
void named_mutex_release(oshandle mutex) { ReleaseMutex(native(mutex)); }
oshandle link_opened(oshandle, std::uint32_t simulator) {
  return simulator != 0 ? OpenProcess(SYNCHRONIZE, FALSE, simulator) : nullptr;
}
void link_closed(oshandle simulator) {
  if (simulator != nullptr) CloseHandle(native(simulator));
}
std::uint32_t process_id() { return GetCurrentProcessId(); }
std::uint32_t thread_id() { return GetCurrentThreadId(); }

}  // namespace

const platform &native_platform() {
  static const platform table = {
      device_open,       device_control,   device_wait,        device_cancel,
      device_close,      last_error,       set_last_error,     allocate,
      release,           lock_init,        lock_enter,         lock_leave,
      lock_delete,       event_create,     event_close,        notice,
      debug_output,      sleep_ms,         get_environment,    mapping_open,
      mapping_view,      view_size,        mapping_unview,     mapping_close,
      named_event_open,  named_mutex_open, named_close,        named_close,
      named_event_set,   named_event_reset, named_event_wait,  named_mutex_wait,
      named_mutex_release, link_opened,    link_closed,        process_id,
      thread_id,
  };
  return table;
}

}  // namespace vok
