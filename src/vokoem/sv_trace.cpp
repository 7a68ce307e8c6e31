// The call trace and the library's small services.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "sv_internal.h"

namespace vok {
namespace {

// Formats a trace line into the record's text area, cut to 511 characters.
void format_line(orvello_trace &record, const char *format, va_list args) {
  std::vsnprintf(record.line, sizeof record.line, format, args);
}

// Whether a request on the handle's ioctl slot is still in flight (a posted request whose
// finish has not run): its completion record's status word reads pending then.
bool ioctl_slot_pending(sv_handle *sv) {
  std::atomic_ref<std::uintptr_t> status(sv->locked.ioctl.overlapped.internal);
  return status.load(std::memory_order_acquire) == status_pending;
}

}  // namespace

void trace_debug_only(const char *format, ...) {
  orvello_trace record{};
  va_list args;
  va_start(args, format);
  format_line(record, format, args);
  va_end(args);
  os().debug_output(record.line);
}

}  // namespace vok

using namespace vok;

extern "C" {

void sv_trace(sv_handle *sv, const char *format, ...) {
  orvello_trace record;
  prepare(record);
  va_list args;
  va_start(args, format);
  format_line(record, format, args);
  va_end(args);
  os().debug_output(record.line);

  if (check_handle(sv) != SV_OK) return;  // the channel would refuse it: debugger output only
  if (ioctl_slot_pending(sv)) {
    error_popup("trying to use sv_trace while driver-call/post is still pending!\nMsg:\"%s\"\n",
                record.line);
    return;
  }
  sv_sys_call(sv, ORVELLO_REQ_TRACE, &record);
}

int os_sleep(sv_handle *, int microseconds) {
  os().sleep_ms(microseconds > 0 ? static_cast<std::uint32_t>(microseconds / 1000) : 0);
  return SV_OK;
}

int os_versiontext(sv_handle *, char *version, char *builddate) {
  if (version != nullptr) {
    std::snprintf(version, 8, "%d.%d.%d.%d", SV_VERSION_MAJOR, SV_VERSION_MINOR,
                  SV_VERSION_PATCH, SV_VERSION_FIX);
  }
  if (builddate != nullptr) std::snprintf(builddate, 22, "%s  %s", __DATE__, __TIME__);
  return SV_OK;
}

int sv_debug_request(sv_handle *sv, int command, int par1, int par2, int *presult) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  orvello_debug record;
  prepare(record);
  record.command = static_cast<std::uint32_t>(command);
  record.parameter = static_cast<std::uint32_t>(par1);
  record.parameter2 = static_cast<std::uint32_t>(par2);
  result = sv_sys_call(sv, ORVELLO_REQ_DEBUG, &record);
  if (presult != nullptr) *presult = static_cast<int>(record.value);
  return result;
}

}  // extern "C"
