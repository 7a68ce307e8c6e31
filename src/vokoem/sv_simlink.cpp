#include "sv_simlink.h"

#include <cstring>
#include <initializer_list>

#include "sv_internal.h"
#include "vokoem/vokoem.h"

namespace vok {
namespace {

// Takes the host-to-device mutex. An abandoned mutex (its owner died holding it) is held
// now; it counts as taken only where the exchange accepts it, and is given back otherwise.
bool take_mutex(sim_link *link, bool accept_abandoned) {
  if (link->h2d_mutex == nullptr) return false;
  wait_result taken = os().named_mutex_wait(link->h2d_mutex);
  if (taken == wait_result::signalled) return true;
  if (taken == wait_result::abandoned) {
    if (accept_abandoned) return true;
    os().named_mutex_release(link->h2d_mutex);
  }
  return false;
}

// Writes a header word only where the area holds another value. The header is the same for
// every request of a connection: left unwritten, its cache line stays shared with the
// simulator that reads it, instead of changing hands twice a request.
void refresh32(unsigned char *area, std::size_t offset, std::uint32_t value) {
  if (get32(area, offset) != value) put32(area, offset, value);
}

void write_header(sim_link *link, std::uint32_t type) {
  unsigned char *area = link->h2d_area;
  refresh32(area, simmsg::type, type);
  refresh32(area, simmsg::pid, os().process_id());
  refresh32(area, simmsg::tid, os().thread_id());
  refresh32(area, simmsg::connection, link->connection);
  refresh32(area, simmsg::opennumber, static_cast<std::uint32_t>(link->opennumber));
  refresh32(area, simmsg::reserved, link->reserved);
}

// Signals the message and waits for the simulator's reply. False when the simulator went away.
bool handshake(sim_link *link) {
  os().named_event_reset(link->h2d_ready);
  os().named_event_set(link->h2d_trigger);
  return os().named_event_wait(link->h2d_ready, link->peer) == wait_result::signalled;
}

// One "I" exchange: the record goes to offset 128 of the area and the reply comes back from
// there. A mutex that cannot be taken is a failed exchange, as is a reply that never comes.
int exchange_record(sim_link *link, void *record, std::uint32_t size, bool accept_abandoned) {
  if (!take_mutex(link, accept_abandoned)) return SV_ERROR_TRANSFER;
  write_header(link, sim_request_message);
  std::memcpy(link->h2d_area + sim_record_offset, record, size);
  int result = SV_ERROR_TRANSFER;
  if (handshake(link)) {
    std::memcpy(record, link->h2d_area + sim_record_offset, size);
    result = SV_OK;
  }
  os().named_mutex_release(link->h2d_mutex);
  return result;
}

// A failed step of the link's open: its report, with the platform's last error.
bool report(const char *text) {
  error_popup(text, static_cast<int>(os().last_error()));
  return false;
}

// Opens the simulator's objects in their fixed order, each only if all before it opened.
bool open_objects(sim_link *link) {
  const platform &p = os();
  link->requestmap = p.mapping_open(sim_map_name);
  if (link->requestmap == nullptr) return false;  // no simulator is running: silent
  link->requestview = static_cast<unsigned char *>(p.mapping_view(link->requestmap, sim_view_size));
  if (link->requestview == nullptr) {
    return report("simulator_driver_open: Failed to map mapping, gle=%d\n");
  }
  link->statusmap = p.mapping_open(sim_statusmap_name);
  if (link->statusmap == nullptr) {
    return report("simulator_driver_open: Failed to create status mapping, gle=%d\n");
  }
  link->statusview = static_cast<unsigned char *>(p.mapping_view(link->statusmap, 0));
  if (link->statusview == nullptr) {
    return report("simulator_driver_open: Failed to map mapping, gle=%d\n");
  }
  link->statussize = p.view_size(link->statusmap, link->statusview);
  if (link->statussize == 0) {
    return report("simulator_driver_open: VirtualQuery to statusmap, gle=%d\n");
  }
  struct named_object {
    oshandle *object;
    const char *name;
    bool mutex;
    const char *report;
  };
  const named_object objects[] = {
      {&link->d2h_trigger, sim_d2h_trigger_name, false,
       "simulator_driver_open: Failed to open device2host eventtrigger, gle=%d\n"},
      {&link->d2h_ready, sim_d2h_ready_name, false,
       "simulator_driver_open: Failed to open device2host eventinuse, gle=%d\n"},
      {&link->d2h_mutex, sim_d2h_mutex_name, true,
       "simulator_driver_open: Failed to open device2host mutex, gle=%d\n"},
      {&link->h2d_trigger, sim_h2d_trigger_name, false,
       "simulator_driver_open: Failed to open host2device eventtrigger, gle=%d\n"},
      {&link->h2d_ready, sim_h2d_ready_name, false,
       "simulator_driver_open: Failed to open host2device eventready, gle=%d\n"},
      {&link->h2d_mutex, sim_h2d_mutex_name, true,
       "simulator_driver_open: Failed to open host2device mutex, gle=%d\n"},
  };
  for (const auto &o : objects) {
    *o.object = o.mutex ? p.named_mutex_open(o.name) : p.named_event_open(o.name);
    if (*o.object == nullptr) return report(o.report);
  }
  return true;
}

}  // namespace

oshandle simulator_driver_open(std::uint32_t hostarg, std::int32_t number) {
  auto *link = static_cast<sim_link *>(os().allocate(sizeof(sim_link)));
  if (link == nullptr) return invalid_handle;
  std::memset(link, 0, sizeof *link);
  bool opened = hostarg == 0 && number == 0 && open_objects(link);
  if (!opened) {
    simulator_driver_close(link);
    return invalid_handle;
  }
  link->h2d_area = link->requestview + sim_h2d_offset;
  link->h2d_size = sim_area_size;
  link->d2h_area = link->requestview + sim_d2h_offset;
  link->d2h_size = sim_area_size;
  link->hostarg = hostarg;
  link->number = number;
  link->valid = 1;
  link->peer =
      os().link_opened(link->h2d_mutex, sim_marked_process(link->statusview, link->statussize));
  sim_message(link, sim_open);
  return link;
}

void sim_message(sim_link *link, std::uint32_t type) {
  if (!take_mutex(link, true)) return;
  write_header(link, type);
  if (handshake(link) && type == sim_open) {
    link->connection = get32(link->h2d_area, simmsg::connection);
  }
  if (type == sim_open) link->opennumber = -1;
  os().named_mutex_release(link->h2d_mutex);
}

int sim_request(sim_link *link, void *record) {
  const std::uint32_t size = get32(record, 0);
  if (size > sim_record_limit) return SV_ERROR_BUFFERSIZE;
  const std::uint32_t code = size >= 12 ? get32(record, 8) : 0;

  // Request 79 with 5 or 6 at offset 28 is answered by the link itself.
  if (code == ORVELLO_REQ_SIMULATOR && size >= 32) {
    std::uint32_t what = get32(record, 28);
    if (what == 5) return SV_OK;
    if (what == 6) {
      auto address = reinterpret_cast<std::uintptr_t>(link->statusview);
      put32(record, 16, static_cast<std::uint32_t>(address));
      put32(record, 20, static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32));
      put32(record, 24, static_cast<std::uint32_t>(link->statussize));
      return SV_OK;
    }
  }

  int result = exchange_record(link, record, size, true);
  if (code == ORVELLO_REQ_OPEN && result == SV_OK) {
    auto word = static_cast<std::int32_t>(get32(record, 12));
    if (word != 0 && word != -1) return word;
    static constexpr std::size_t reply_offsets[8] = {56, 48, 44, 52, 24, 36, 20, 40};
    for (int i = 0; i < 8; ++i) link->openreply[i] = get32(record, reply_offsets[i]);
    link->opennumber = static_cast<std::int32_t>((get32(record, 24) >> 24) & 0xF);
  }
  return result;
}

int sim_post_request(sim_link *link, void *record) {
  const std::uint32_t size = get32(record, 0);
  if (size > sim_record_limit) return SV_ERROR_BUFFERSIZE;
  const std::uint32_t code = size >= 12 ? get32(record, 8) : 0;
  if (code == ORVELLO_REQ_MEMORY) {
    if (size < 68) return SV_ERROR_BUFFERSIZE;
    return sim_memory(link, get32(record, 28) != 0, get32(record, 16), get32(record, 24),
                      get32(record, 64), get32(record, 36));
  }
  return exchange_record(link, record, size, false);
}

int sim_memory(sim_link *link, bool read, std::uint32_t address, std::uint32_t length,
               std::uint32_t offset_high, std::uint32_t offset_low) {
  if (!take_mutex(link, false)) return SV_ERROR_TRANSFER;
  write_header(link, read ? sim_read : sim_write);
  unsigned char *area = link->h2d_area;
  // The 32-bit host address, sign-extended to 64 bits.
  put32(area, simmsg::address_high, static_cast<std::int32_t>(address) < 0 ? 0xFFFFFFFFu : 0u);
  put32(area, simmsg::address_low, address);
  put32(area, simmsg::length, length);
  put32(area, simmsg::offset_high, offset_high);
  put32(area, simmsg::offset_low, offset_low);
  int result = handshake(link) ? SV_OK : SV_ERROR_TRANSFER;
  os().named_mutex_release(link->h2d_mutex);
  return result;
}

void simulator_driver_close(oshandle handle) {
  auto *link = static_cast<sim_link *>(handle);
  const platform &p = os();
  if (link->h2d_area != nullptr && link->h2d_trigger != nullptr && link->h2d_ready != nullptr) {
    sim_message(link, sim_close);
  }
  p.link_closed(link->peer);
  for (oshandle event : {link->h2d_trigger, link->h2d_ready}) {
    if (event != nullptr) p.named_event_close(event);
  }
  if (link->h2d_mutex != nullptr) p.named_mutex_close(link->h2d_mutex);
  for (oshandle event : {link->d2h_trigger, link->d2h_ready}) {
    if (event != nullptr) p.named_event_close(event);
  }
  if (link->d2h_mutex != nullptr) p.named_mutex_close(link->d2h_mutex);
  if (link->requestmap != nullptr) {
    p.mapping_unview(link->requestmap, link->requestview, sim_view_size);
    p.mapping_close(link->requestmap);
  }
  if (link->statusmap != nullptr) {
    p.mapping_unview(link->statusmap, link->statusview, link->statussize);
    p.mapping_close(link->statusmap);
  }
  p.release(link);
}

}  // namespace vok
