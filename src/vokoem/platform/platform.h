// The platform interface: everything the library core needs from the operating system.
//
// The core never includes an OS header. It reaches the board's driver, the slot locks and
// their events, the user notices, the debugger output, sleep, the environment and the
// simulator link's named objects through one table of operations. The build chooses the
// table for its platform (posix.cpp or win32.cpp); a test may install its own table, or wrap
// the platform's, to play the driver or to fail any one operation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vokoem/vokoem.h"

namespace vok {

// An OS handle: a device, an event, a mapping, a mutex, or a simulator link.
using oshandle = void *;
inline oshandle const invalid_handle = reinterpret_cast<oshandle>(~std::uintptr_t{0});

// Storage for one re-entrant lock (a critical section on Win32, a recursive mutex on POSIX).
struct oslock {
  alignas(8) unsigned char opaque[64];
};

// The platform's last-error numbers that the library looks at.
inline constexpr std::uint32_t error_file_not_found = 2;
inline constexpr std::uint32_t error_access_denied = 5;
inline constexpr std::uint32_t error_io_pending = 997;
// The status word of a completion record while its request is in flight.
inline constexpr std::uintptr_t status_pending = 0x103;

// Outcome of a wait on a simulator event or mutex.
enum class wait_result { signalled, abandoned, failed };

struct platform {
  // ---- The board driver's devices -------------------------------------------------------
  // Opens a device by name, read and write, exclusive, existing only, overlapped.
  // Returns the handle, or invalid_handle with the last error telling why
  // (error_access_denied for a device that another process holds).
  oshandle (*device_open)(const char *name);
  // One device control request with the completion record `ov`. Returns non-zero when the
  // request completed at once; zero otherwise, the last error then reads error_io_pending
  // when the request was left in flight (ov->internal reads status_pending until it ends).
  int (*device_control)(oshandle device, std::uint32_t code, void *in, std::uint32_t inlength,
                        void *out, std::uint32_t outlength, std::uint32_t *bytes,
                        sv_overlapped *ov);
  // Waits (wait non-zero) for the request on `ov` to complete. Returns non-zero on success.
  int (*device_wait)(oshandle device, sv_overlapped *ov, std::uint32_t *bytes, int wait);
  // Cancels every request that this process issued on the device.
  int (*device_cancel)(oshandle device);
  // Closes the device. Returns non-zero on success.
  int (*device_close)(oshandle device);
  std::uint32_t (*last_error)();
  void (*set_last_error)(std::uint32_t error);

  // ---- Memory, locks and events -----------------------------------------------------------
  void *(*allocate)(std::size_t size);  // null on failure
  void (*release)(void *memory);
  void (*lock_init)(oslock *lock);
  void (*lock_enter)(oslock *lock);
  void (*lock_leave)(oslock *lock);
  void (*lock_delete)(oslock *lock);
  // A manual-reset, unnamed event, not signalled. Null on failure.
  oshandle (*event_create)();
  void (*event_close)(oshandle event);

  // ---- Notices, debugger output, time, environment ------------------------------------------
  // A modal notice with a caption, a text and an error mark; returns the button pressed.
  int (*notice)(const char *caption, const char *text);
  // The debugger output channel: one text per call.
  void (*debug_output)(const char *text);
  void (*sleep_ms)(std::uint32_t milliseconds);  // 0 only yields the processor
  const char *(*getenv)(const char *name);       // null when not set

  // ---- The simulator link's named objects ---------------------------------------------------
  // Opens an existing named shared memory object; null when there is none (or it belongs to
  // another user, which counts as none).
  oshandle (*mapping_open)(const char *name);
  // A read-write view of the first `size` bytes, or of the whole object when `size` is 0.
  void *(*mapping_view)(oshandle mapping, std::size_t size);
  // The size of the region behind a view; 0 when it cannot be told.
  std::size_t (*view_size)(oshandle mapping, void *view);
  void (*mapping_unview)(oshandle mapping, void *view, std::size_t size);
  void (*mapping_close)(oshandle mapping);
  oshandle (*named_event_open)(const char *name);  // null when missing
  oshandle (*named_mutex_open)(const char *name);  // null when missing
  void (*named_event_close)(oshandle event);
  void (*named_mutex_close)(oshandle mutex);
  void (*named_event_set)(oshandle event);
  void (*named_event_reset)(oshandle event);
  // Waits for a named event without a time limit. `peer` is what link_opened returned: when
  // it tells that the simulator has gone, the wait fails then.
  wait_result (*named_event_wait)(oshandle event, oshandle peer);
  wait_result (*named_mutex_wait)(oshandle mutex);
  void (*named_mutex_release)(oshandle mutex);
  // Called once a link is set up, with its host-to-device mutex and the process that the
  // simulator's status memory names (0: none). Returns the peer that the link's waits watch:
  // on POSIX the mutex, whose shared block names the simulator (which is also allowed to read
  // this process's memory); on Windows the named process, or null (the waits have no end).
  oshandle (*link_opened)(oshandle mutex, std::uint32_t simulator);
  // Releases what link_opened returned (null included).
  void (*link_closed)(oshandle peer);
  std::uint32_t (*process_id)();
  std::uint32_t (*thread_id)();
};

// The table in force. Starts as the build's native table.
const platform &os();
// The build's own table, for wrappers that change only some operations.
const platform &native_platform();
// Installs a table (null restores the native one). For tests only; not thread-safe.
void install_platform(const platform *table);

}  // namespace vok
