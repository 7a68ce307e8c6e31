// The device layer: the five operations on a board's device, with the simulator link routed
// in behind them. The rest of the library reaches the driver through these alone.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace vok {

// Opens a device read-write, exclusive, overlapped. When a device of the default family
// cannot be opened, tries the simulator link for its number. Returns the device, the link,
// or invalid_handle with the device's own error readable through sys_lasterror().
oshandle sys_open(const char *name);
// One control request. On a device: non-zero when it completed at once, zero when it failed
// or was left pending (sys_lasterror() reads 997 then). On the link: the exchange's error
// code, 0 when the exchange completed (and sys_lasterror() reads 997).
int sys_control(oshandle device, std::uint32_t code, void *in, std::uint32_t inlength, void *out,
                std::uint32_t outlength, std::uint32_t *bytes, sv_overlapped *ov);
// Waits for a pending request. On the link: returns SV_ERROR_PROGRAM at once, as the link's
// exchanges are complete when they return.
int sys_wait(oshandle device, sv_overlapped *ov, std::uint32_t *bytes, int wait);
// Cancels this process's requests on a device (nothing is pending on the link).
void sys_cancel(oshandle device);
// Closes a device, or ends the link.
void sys_close(oshandle device);
// 997 while a simulator link is current; otherwise the platform's last error.
std::uint32_t sys_lasterror();
// Whether `device` is a simulator link that is open in this process (whatever device was
// opened since).
bool sys_is_link(oshandle device);

}  // namespace vok
