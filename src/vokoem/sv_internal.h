// The library's record for one open board, and the internal calls its parts share.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "platform/platform.h"
#include "vokoem/vokoem.h"

inline constexpr std::uint32_t sv_handle_magic = 0x47615743;  // "CWaG" in memory
inline constexpr int sv_open_spare = 99999;  // the spare value with which sv_open calls sv_openex
inline constexpr std::uint32_t sv_trace_all = 0x2;  // traceflags bit: trace successful calls too

// One lock slot: a re-entrant lock, the completion record of the requests that run on it,
// and whether the slot is in use.
struct sv_lockslot {
  vok::oslock lock;
  sv_overlapped overlapped;
  std::int32_t inuse;
};

struct sv_handle {
  std::uint32_t magic;
  std::uint32_t traceflags;
  std::int32_t card;
  vok::oshandle device;
  char devicename[32];
  std::uint32_t requestmagic;
  std::uint32_t driverversion;
  std::uint32_t openinfo[3];
  struct {
    orvello_open openirp;  // pending in the driver for the life of the handle
  } vokoem;
  struct {
    sv_lockslot read, write, aux1, aux2, ioctl, open, aux3, aux4;
    sv_lockslot fifo[16];
    sv_lockslot direct[16];
  } locked;
};
static_assert(sizeof(orvello_open) == 64);

namespace vok {

inline constexpr int named_slot_count = 8;
// The eight named slots of a handle, in order.
sv_lockslot *named_slot(sv_handle *sv, int index);

// The call pattern's handle check: SV_OK, SV_ERROR_SVNULL or SV_ERROR_SVMAGIC.
inline int check_handle(const sv_handle *sv) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  return sv->magic == sv_handle_magic ? SV_OK : SV_ERROR_SVMAGIC;
}

// Whether a call with this result writes its trace line.
inline bool traces(const sv_handle *sv, int result) {
  return sv->traceflags != 0 && (result != SV_OK || (sv->traceflags & sv_trace_all) != 0);
}

// Fills a request record's header: cleared, then size and magic.
template <typename Record>
void prepare(Record &record) {
  record = Record{};
  record.header.size = sizeof(Record);
  record.header.magic = ORVELLO_MAGIC;
}

// How long sv_close waits for the driver to finish the cancelled open request before it keeps
// the handle's memory rather than free what the driver may still write into.
extern std::uint32_t cancel_wait_ms;
// Releases the handle's slots and the record itself.
void release_handle(sv_handle *sv);

void os_lock(sv_handle *sv, oslock *lock);
void os_unlock(sv_handle *sv, oslock *lock);

// The error report: a modal notice captioned "Error:VOKOEM", then the debugger output.
void error_popup(const char *format, ...);
// The assertion report: a modal notice captioned "Assert:VOKOEM". Returns the button.
int assert_popup(const char *expression, const char *source, int line);

// A trace line to the debugger output only, for a handle that is already gone.
void trace_debug_only(const char *format, ...);

}  // namespace vok
