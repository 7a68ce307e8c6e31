// The board handle: open a board by its setup string, register with the driver, close again.
#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "sv_device.h"
#include "sv_internal.h"
#include "sv_setup.h"

namespace vok {
namespace {

constexpr int openprogram_immediate = 14;  // the one program whose open may complete at once

bool accepted_openprogram(std::int32_t openprogram) {
  if ((openprogram & openprogram_unchecked) != 0) return true;
  for (std::int32_t accepted : {1, 2, 3, 4, 7, 11, 12, 13, 14}) {
    if (openprogram == accepted) return true;
  }
  return false;
}

const char *device_family(std::int32_t devtype) {
  if (devtype == devtype_talvix) return "\\\\.\\Talvix%d";
  if (devtype == devtype_carvathraw) return "\\\\.\\CarvathRAW%d";
  return "\\\\.\\VOKDriver%d";
}

// Opens devicename and closes it again; false when it cannot be opened.
bool probe_device(sv_handle *sv) {
  sv->device = sys_open(sv->devicename);
  if (sv->device == invalid_handle) return false;
  sys_close(sv->device);
  sv->device = invalid_handle;
  return true;
}

// Walks the device numbers from 0 and stops at the first that cannot be opened, or once the
// card-th has been opened; devicename then holds the name for the final open.
void search_device(sv_handle *sv, const char *family) {
  int cards = 0;
  bool go_on = true;
  // A device that cannot be opened ends the walk at once (not by stepping past the card's
  // number, which for the largest int would overflow).
  for (int current = 0; current <= sv->card && go_on; ++current) {
    std::snprintf(sv->devicename, sizeof sv->devicename, family, current);
    if (!probe_device(sv)) break;
    go_on = cards != sv->card;
    ++cards;
  }
}

void take_open_reply(sv_handle *sv) {
  const orvello_open &irp = sv->vokoem.openirp;
  sv->requestmagic = irp.requestmagic;
  sv->driverversion = irp.driverversion;
  sv->openinfo[0] = irp.openinfo1;
  sv->openinfo[1] = irp.openinfo2;
  sv->openinfo[2] = irp.openinfo3;
  sv->traceflags = irp.traceflags;
}

// Registers the client with the driver by the open request, which the driver keeps pending
// until close cancels it.
int send_open_request(sv_handle *sv, std::uint32_t opentype, std::int32_t openprogram,
                      std::int32_t card, std::int32_t channelid) {
  orvello_open &irp = sv->vokoem.openirp;
  std::memset(&irp, 0, sizeof irp);
  irp.header.size = sizeof irp;
  irp.header.magic = ORVELLO_MAGIC;
  irp.header.code = ORVELLO_REQ_OPEN;
  irp.openprogram = openprogram;
  irp.opentype = opentype;
  irp.card = card;
  irp.channel = channelid;

  std::uint32_t bytes = 0;
  int sent = sys_control(sv->device, ORVELLO_IOCTL_CALL, &irp, sizeof irp, &irp, sizeof irp,
                         &bytes, &sv->locked.open.overlapped);
  if (sys_is_link(sv->device)) {
    if (sent != SV_OK) return sent;
    take_open_reply(sv);
    return SV_OK;
  }
  if (sent != 0) {
    const std::int32_t word = irp.header.result;
    if (word == 0 && openprogram == openprogram_immediate) {
      take_open_reply(sv);
      return SV_OK;
    }
    return (word == 0 || word == -1) ? SV_ERROR_PROGRAM : word;
  }
  if (sys_lasterror() == error_io_pending) {
    take_open_reply(sv);  // the driver filled the reply before it left the request pending
    return SV_OK;
  }
  return SV_ERROR_IOCTL_FAILED;
}

void release_slot(sv_lockslot &slot) {
  if (slot.overlapped.event != nullptr) {
    os().event_close(slot.overlapped.event);
    slot.overlapped.event = nullptr;
  }
  os().lock_delete(&slot.lock);
}

}  // namespace

std::uint32_t cancel_wait_ms = 5000;

// Releases the handle's slots and the record itself.
void release_handle(sv_handle *sv) {
  for (int i = 0; i < named_slot_count; ++i) release_slot(*named_slot(sv, i));
  for (auto *slots : {sv->locked.fifo, sv->locked.direct}) {
    for (int i = 0; i < 16; ++i) {
      if (slots[i].inuse != 0) release_slot(slots[i]);
    }
  }
  os().release(sv);
}

namespace {

// After the cancel the driver may still complete the open request into the handle's open
// record and completion record: waits, at most `cancel_wait_ms`, until it has. False when the
// request is still in flight then.
bool open_request_finished(sv_handle *sv) {
  std::atomic_ref<std::uintptr_t> status(sv->locked.open.overlapped.internal);  // the driver's
  for (std::uint32_t waited = 0; status.load() == status_pending; ++waited) {
    if (waited >= cancel_wait_ms) return false;
    os().sleep_ms(1);
  }
  return true;
}

int open_handle(sv_handle **psv, std::int32_t cardid, std::int32_t channelid,
                std::uint32_t opentype, std::int32_t openprogram, std::int32_t devtype) {
  auto *sv = static_cast<sv_handle *>(os().allocate(sizeof(sv_handle)));
  if (sv == nullptr) return SV_ERROR_MALLOC;
  if (!accepted_openprogram(openprogram)) {
    os().release(sv);
    return SV_ERROR_PARAMETER;
  }
  std::memset(sv, 0, sizeof *sv);
  sv->magic = sv_handle_magic;
  sv->card = cardid;
  sv->device = invalid_handle;

  int result = SV_OK;
  for (int i = 0; i < named_slot_count; ++i) {
    sv_lockslot *slot = named_slot(sv, i);
    os().lock_init(&slot->lock);
    slot->overlapped.event = os().event_create();
    if (slot->overlapped.event == nullptr) result = SV_ERROR_MALLOC;
    slot->inuse = 1;
  }
  if (sv->card == -1) result = SV_ERROR_OBSOLETE;

  if (result == SV_OK) {
    search_device(sv, device_family(devtype));
    sv->device = sys_open(sv->devicename);
    if (sv->device == invalid_handle) {
      result = sys_lasterror() == error_access_denied ? SV_ERROR_DEVICEINUSE
                                                      : SV_ERROR_DEVICENOTFOUND;
    } else {
      result = send_open_request(sv, opentype, openprogram, sv->card, channelid);
    }
  }
  if (result == SV_OK) {
    *psv = sv;
    return SV_OK;
  }
  if (sv->device != invalid_handle) sys_close(sv->device);
  sv->magic = 0;
  release_handle(sv);
  return result;
}

int close_handle(sv_handle *sv) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  sv->magic = 0;
  bool finished = true;
  if (sv->device != invalid_handle) {
    sys_cancel(sv->device);  // ends the pending open request: the driver learns we are gone
    finished = sys_is_link(sv->device) || open_request_finished(sv);
    sys_close(sv->device);
    sv->device = invalid_handle;
  }
  if (!finished) {
    // Memory that the driver may still write into is kept rather than freed.
    error_popup("sv_close: the driver did not finish the cancelled open request within %u ms; "
                "the handle's %u bytes stay allocated\n",
                static_cast<unsigned>(cancel_wait_ms), static_cast<unsigned>(sizeof *sv));
    return SV_OK;
  }
  release_handle(sv);
  return SV_OK;
}

}  // namespace
}  // namespace vok

using namespace vok;

extern "C" {

int sv_openex(sv_handle **psv, const char *setup, int openprogram, int opentype, int timeout,
              int spare) {
  if (psv == nullptr) return SV_ERROR_PARAMETER;
  *psv = nullptr;
  std::int32_t cardid = 0, channelid = 0, devtype = 0;
  auto type = static_cast<std::uint32_t>(opentype);
  std::int32_t program = openprogram;
  int result = parse_setup(setup, &cardid, &channelid, &type, &program, &devtype);
  if (result != SV_OK) return result;
  result = open_handle(psv, cardid, channelid, type, program, devtype);

  sv_handle *sv = *psv;
  if (sv != nullptr && (sv->traceflags & sv_trace_all) != 0 && spare != sv_open_spare) {
    sv_trace(sv, "sv_openex(setup='%s',openprogram=%d,opentype=%d,timeout=%d,spare) = %s\n",
             setup != nullptr ? setup : "", program, static_cast<int>(type), timeout,
             errortext_lookup(result));
    const std::uint32_t v = sv->driverversion;
    sv_trace(sv, "sv_openex: vokoem %d.%d.%d.%d driver %d.%d.%d.%d\n", SV_VERSION_MAJOR,
             SV_VERSION_MINOR, SV_VERSION_PATCH, SV_VERSION_FIX, (v >> 16) & 0xFF, (v >> 8) & 0xFF,
             v & 0xFF, (v >> 24) & 0xFF);
  }
  return result;
}

int sv_openex_forward(sv_handle **psv, const char *setup, int openprogram, int opentype,
                      int timeout, int spare) {
  return sv_openex(psv, setup, openprogram, opentype, timeout, spare);
}

sv_handle *sv_open(const char *setup) {
  sv_handle *sv = nullptr;
  int result = sv_openex_forward(&sv, setup, 1, 0, 0, sv_open_spare);
  if (result != SV_OK) {
    if (sv != nullptr) sv_close(sv);
    return nullptr;
  }
  if ((sv->traceflags & sv_trace_all) != 0) {
    sv_trace(sv, "sv_open(setup='%s') = %p\n", setup != nullptr ? setup : "",
             static_cast<void *>(sv));
  }
  return sv;
}

sv_handle *sv_open_forward(const char *setup) { return sv_open(setup); }

int sv_close(sv_handle *sv) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  const std::uint32_t traceflags = sv->traceflags;
  if ((traceflags & sv_trace_all) != 0) sv_trace(sv, "sv_close(sv)\n");
  result = close_handle(sv);
  if ((traceflags & sv_trace_all) != 0) {
    trace_debug_only("sv_close(sv) = %s\n", errortext_lookup(result));
  }
  return result;
}

}  // extern "C"
