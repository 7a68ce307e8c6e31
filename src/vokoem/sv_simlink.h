// The simulator link: a board simulator in another process, reached through named shared
// memory, events and mutexes. Each request is one message exchange in the host-to-device
// area, serialised across threads and processes by the host-to-device mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace vok {

// Names of the simulator's objects.
inline constexpr const char *sim_map_name = "VOKSIMULATOR_MAP";
inline constexpr const char *sim_statusmap_name = "VOKSIMULATOR_STATUSMAP";
inline constexpr const char *sim_h2d_trigger_name = "VOKSIMULATOR_HOST2DEVICE_TRIGGER";
inline constexpr const char *sim_h2d_ready_name = "VOKSIMULATOR_HOST2DEVICE_READY";
inline constexpr const char *sim_h2d_mutex_name = "VOKSIMULATOR_HOST2DEVICE_MUTEX";
inline constexpr const char *sim_d2h_trigger_name = "VOKSIMULATOR_DEVICE2HOST_TRIGGER";
inline constexpr const char *sim_d2h_ready_name = "VOKSIMULATOR_DEVICE2HOST_READY";
inline constexpr const char *sim_d2h_mutex_name = "VOKSIMULATOR_DEVICE2HOST_MUTEX";

// Layout of the request memory and of a message.
inline constexpr std::size_t sim_view_size = 0x10000;
inline constexpr std::size_t sim_h2d_offset = 0x4000;
inline constexpr std::size_t sim_d2h_offset = 0x8000;
inline constexpr std::size_t sim_area_size = 0x4000;
inline constexpr std::size_t sim_record_offset = 128;
inline constexpr std::uint32_t sim_record_limit = sim_area_size - sim_record_offset;  // 16256

enum sim_message_type : std::uint32_t {
  sim_open = 'O',
  sim_close = 'C',
  sim_request_message = 'I',
  sim_read = 'R',
  sim_write = 'W',
};

// Byte offsets of the message header words.
namespace simmsg {
inline constexpr std::size_t type = 0, pid = 4, tid = 8, connection = 12, opennumber = 16,
                             reserved = 20, address_high = 40, address_low = 44, length = 48,
                             offset_high = 52, offset_low = 56;
}

// A simulator may name its process in the last 8 bytes of its status memory: this mark, then
// its process id. Where nothing else tells the host that the simulator has gone (Windows),
// the link's waits watch that process.
inline constexpr std::uint32_t sim_process_mark = 0x44495056;  // "VPID"
inline constexpr std::size_t sim_process_tail = 8;

// A 32-bit word of a message area or record, at a byte offset (no alignment needed).
inline std::uint32_t get32(const void *base, std::size_t offset) {
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char *>(base) + offset, sizeof value);
  return value;
}

inline void put32(void *base, std::size_t offset, std::uint32_t value) {
  std::memcpy(static_cast<unsigned char *>(base) + offset, &value, sizeof value);
}

// Writes the process mark into status memory of `size` bytes.
inline void sim_mark_process(unsigned char *status, std::size_t size, std::uint32_t pid) {
  if (size < sim_process_tail) return;
  put32(status, size - sim_process_tail, sim_process_mark);
  put32(status, size - sim_process_tail + 4, pid);
}

// The process named by the mark in status memory of `size` bytes; 0 without the mark.
inline std::uint32_t sim_marked_process(const unsigned char *status, std::size_t size) {
  if (size < sim_process_tail || get32(status, size - sim_process_tail) != sim_process_mark) return 0;
  return get32(status, size - sim_process_tail + 4);
}

struct sim_link {
  std::uint32_t valid;
  std::uint32_t connection;
  std::uint32_t hostarg;
  std::int32_t number;
  std::int32_t opennumber;
  std::uint32_t reserved;
  oshandle requestmap;
  unsigned char *requestview;
  oshandle statusmap;
  unsigned char *statusview;
  std::size_t statussize;
  oshandle h2d_trigger, h2d_ready, h2d_mutex;
  unsigned char *h2d_area;
  std::size_t h2d_size;
  oshandle d2h_trigger, d2h_ready, d2h_mutex;
  unsigned char *d2h_area;
  std::size_t d2h_size;
  std::uint32_t openreply[8];
  oshandle peer;  // what the waits for a reply watch for the simulator's end (link_opened)
};

// Sets up a link to simulator `number` (only hostarg 0 with number 0 has one) and sends "O".
// Returns the link, or invalid_handle.
oshandle simulator_driver_open(std::uint32_t hostarg, std::int32_t number);
// Sends "C" and releases every object of the link.
void simulator_driver_close(oshandle link);
// One handshake without a record ("O" or "C").
void sim_message(sim_link *link, std::uint32_t type);
// The exchange behind control code 259. 0 when it completed; SV_ERROR_BUFFERSIZE for a record
// above 16256 bytes; SV_ERROR_TRANSFER when the exchange failed (the record is then as sent).
int sim_request(sim_link *link, void *record);
// The exchange behind control code 256.
int sim_post_request(sim_link *link, void *record);
// One "R" or "W" handshake for a host buffer.
int sim_memory(sim_link *link, bool read, std::uint32_t address, std::uint32_t length,
               std::uint32_t offset_high, std::uint32_t offset_low);

}  // namespace vok
