#include "sv_device.h"

#include <atomic>
#include <cstring>

#include "sv_setup.h"
#include "sv_simlink.h"
#include "vokoem/vokoem.h"

namespace vok {
namespace {

// The simulator link that the last device open produced, or none. One per process; it serves
// the last-error rule only.
std::atomic<oshandle> simulator_device{nullptr};

// Every simulator link open in this process. Device operations are routed by the device
// itself, so that another device's failed open cannot send an open link's requests to the
// platform. More links at once than a simulator numbers connections make the open fail.
constexpr int link_capacity = 64;
std::atomic<oshandle> live_links[link_capacity];
// The slots ever used: every request asks whether its device is a link, and a process has
// one or two links, so the lookup stops there.
std::atomic<int> links_used{0};

bool register_link(oshandle link) {
  for (int i = 0; i < link_capacity; ++i) {
    oshandle expected = nullptr;
    if (!live_links[i].compare_exchange_strong(expected, link)) continue;
    int used = links_used.load();
    while (used <= i && !links_used.compare_exchange_weak(used, i + 1)) {
    }
    return true;
  }
  return false;
}

void forget_link(oshandle link) {
  for (auto &slot : live_links) {
    oshandle expected = link;
    if (slot.compare_exchange_strong(expected, nullptr)) return;
  }
}

constexpr const char *default_family = "VOKDriver";

}  // namespace

bool sys_is_link(oshandle device) {
  if (device == nullptr || device == invalid_handle) return false;
  const int used = links_used.load(std::memory_order_acquire);
  for (int i = 0; i < used; ++i) {
    if (live_links[i].load(std::memory_order_relaxed) == device) return true;
  }
  return false;
}

oshandle sys_open(const char *name) {
  oshandle device = os().device_open(name);
  if (device != invalid_handle) {
    simulator_device.store(nullptr, std::memory_order_relaxed);
    return device;
  }
  const std::uint32_t error = os().last_error();
  oshandle link = invalid_handle;
  if (const char *family = std::strstr(name, default_family); family != nullptr) {
    const char *number = family + std::strlen(default_family);
    link = simulator_driver_open(0, *number == 'X' ? -1 : read_decimal(number));
    if (link != invalid_handle && !register_link(link)) {
      simulator_driver_close(link);
      link = invalid_handle;
    }
  }
  if (link == invalid_handle) os().set_last_error(error);
  simulator_device.store(link == invalid_handle ? nullptr : link, std::memory_order_relaxed);
  return link;
}

int sys_control(oshandle device, std::uint32_t code, void *in, std::uint32_t inlength, void *out,
                std::uint32_t outlength, std::uint32_t *bytes, sv_overlapped *ov) {
  if (sys_is_link(device)) {
    auto *link = static_cast<sim_link *>(device);
    if (code == ORVELLO_IOCTL_CALL) return sim_request(link, in);
    if (code == ORVELLO_IOCTL_POST) return sim_post_request(link, in);
    return SV_ERROR_PROGRAM;
  }
  return os().device_control(device, code, in, inlength, out, outlength, bytes, ov);
}

int sys_wait(oshandle device, sv_overlapped *ov, std::uint32_t *bytes, int wait) {
  if (sys_is_link(device)) return SV_ERROR_PROGRAM;
  return os().device_wait(device, ov, bytes, wait);
}

void sys_cancel(oshandle device) {
  if (!sys_is_link(device)) os().device_cancel(device);
}

void sys_close(oshandle device) {
  if (sys_is_link(device)) {
    forget_link(device);
    simulator_driver_close(device);
    simulator_device.store(nullptr, std::memory_order_relaxed);
    return;
  }
  os().device_close(device);
}

std::uint32_t sys_lasterror() {
  if (simulator_device.load(std::memory_order_relaxed) != nullptr) return error_io_pending;
  return os().last_error();
}

}  // namespace vok
