#include "board.h"

#include <algorithm>
#include <cstring>

#include "vokoem/vokoem.h"

namespace vok::board {
namespace {

std::uint32_t get32(const std::uint8_t *r, std::size_t size, std::size_t offset) {
  if (offset + 4 > size) return 0;
  std::uint32_t value;
  std::memcpy(&value, r + offset, 4);
  return value;
}

void put32(std::uint8_t *r, std::size_t size, std::size_t offset, std::uint32_t value) {
  if (offset + 4 <= size) std::memcpy(r + offset, &value, 4);
}

void put_text(std::uint8_t *r, std::size_t size, std::size_t offset, std::size_t field,
              const std::string &text) {
  if (offset + field > size) return;
  std::memset(r + offset, 0, field);
  std::memcpy(r + offset, text.data(), std::min(text.size(), field - 1));
}

constexpr std::size_t offset_result = 12;

// Query codes this board answers.
constexpr std::int32_t query_driver_version = 2, query_devtype = 13, query_cardoptions = 84,
                       query_temperature = 87, query_serial = 126, query_flashsize = 131,
                       query_chipversion = 132;

}  // namespace

board::board(config settings) : config_(std::move(settings)), flash_(flash_size, 0xFF) {
  for (int map = 1; map < region_count; ++map) {
    regions_[map] = {config_.flashversion[map - 1], config_.flashcomment[map - 1],
                     config_.flashdate[map - 1], config_.flashtime[map - 1],
                     config_.flashflags[map - 1]};
  }
}

std::vector<std::string> board::trace_lines() const {
  std::lock_guard<std::mutex> hold(trace_lock_);
  return trace_lines_;
}

void board::add_trace(std::string line) {
  if (on_trace) on_trace(line);
  std::lock_guard<std::mutex> hold(trace_lock_);
  trace_lines_.push_back(std::move(line));
}

std::vector<module_version> board::version_table() const {
  std::vector<module_version> table = config_.modules;
  if (table.empty()) {
    table.push_back({"driver", config_.driverversion, 0x14112011, 0x591100, 0, "vokdriver"});
    table.push_back({"cpld", config_.cpldversion, 0, 0, 0, "board logic"});
  }
  // A flash module's row holds what was last written into its region, wherever it stands;
  // those the configured table leaves out follow it in map order.
  bool listed[region_count] = {};
  for (module_version &m : table) {
    const int map = flash_map(m.name);
    if (map == 0) continue;
    const region_info &r = regions_[map];
    m = {m.name, r.version, r.date, r.time, r.flags, r.comment};
    listed[map] = true;
  }
  for (int map = 1; map < region_count; ++map) {
    if (listed[map]) continue;
    const region_info &r = regions_[map];
    table.push_back(
        {"pciflash" + std::to_string(map), r.version, r.date, r.time, r.flags, r.comment});
  }
  return table;
}

void board::serve(void *record, std::size_t size, const memory_reader &sender) {
  auto *r = static_cast<std::uint8_t *>(record);
  if (size < 16) return;
  ++requests_;
  const std::uint32_t magic = get32(r, size, 4);
  const std::uint32_t code = get32(r, size, 8);
  int result = SV_OK;
  if (code == ORVELLO_REQ_OPEN) {
    result = serve_open(r, size);
  } else if ((magic & 0xF0FFFFFFu) != ORVELLO_MAGIC || (magic >> 24) == 0) {
    result = SV_ERROR_INTERNALMAGIC;  // not stamped with a request magic of this board
  } else {
    switch (code) {
      case ORVELLO_REQ_QUERY: result = serve_query(r, size); break;
      case ORVELLO_REQ_VERSION: result = serve_version(r, size); break;
      case ORVELLO_REQ_DEBUG: result = serve_debug(r, size); break;
      case ORVELLO_REQ_FLASHWRITE: result = serve_flashwrite(r, size, sender); break;
      case ORVELLO_REQ_FIRMWARE: result = serve_firmware(r, size); break;
      case ORVELLO_REQ_RTC: result = serve_rtc(r, size); break;
      case ORVELLO_REQ_CHUNKREAD: result = serve_chunkread(r, size); break;
      case ORVELLO_REQ_TRACE:
        add_trace(std::string(reinterpret_cast<const char *>(r) + 24,
                              strnlen(reinterpret_cast<const char *>(r) + 24,
                                      size > 24 ? size - 24 : 0)));
        break;
      case ORVELLO_REQ_STATUS_WORDS:
      case ORVELLO_REQ_STATUS_RASTER:
      case ORVELLO_REQ_STATUS_MODE:
      case ORVELLO_REQ_STATUS_DEVICE:
      case ORVELLO_REQ_RASTER:
      case ORVELLO_REQ_MONITORINFO:
      case ORVELLO_REQ_BLOCKPAIR:
      case ORVELLO_REQ_HWVERIFY: result = serve_pattern(r, size, code); break;
      default: result = SV_ERROR_NOTIMPLEMENTED;
    }
  }
  put32(r, size, offset_result, static_cast<std::uint32_t>(result));
}

int board::serve_open(std::uint8_t *r, std::size_t size) {
  opennumber_ = opennumber_ % 15 + 1;  // 1 to 15, in bits 24 to 27 of the request magic
  put32(r, size, 24, ORVELLO_MAGIC | (opennumber_ << 24));
  put32(r, size, 32, config_.traceflags);
  put32(r, size, 36, config_.driverversion);
  put32(r, size, 40, 0x0F1A0001);  // open information, carried by the library unread
  put32(r, size, 44, 0x0F1A0002);
  put32(r, size, 56, 0x0F1A0003);
  return SV_OK;
}

int board::serve_query(std::uint8_t *r, std::size_t size) {
  const auto query = static_cast<std::int32_t>(get32(r, size, 16));
  std::uint32_t value = 0;
  switch (query) {
    case query_driver_version: value = config_.driverversion; break;
    case query_devtype: value = static_cast<std::uint32_t>(config_.devtype); break;
    case query_cardoptions: value = static_cast<std::uint32_t>(config_.cardoptions); break;
    case query_temperature: value = 41; break;
    case query_serial: value = static_cast<std::uint32_t>(config_.serial); break;
    case query_flashsize: value = static_cast<std::uint32_t>(config_.flashsize); break;
    case query_chipversion: value = config_.chipversion; break;
    default: return SV_ERROR_NOTIMPLEMENTED;
  }
  put32(r, size, 24, value);
  return SV_OK;
}

int board::serve_version(std::uint8_t *r, std::size_t size) {
  const std::uint32_t device = get32(r, size, 16);
  const std::uint32_t index = get32(r, size, 20);
  const std::vector<module_version> table = version_table();
  if (device >= config_.ndevices || index >= table.size()) return SV_ERROR_PARAMETER;
  const module_version &m = table[index];
  put32(r, size, 24, config_.ndevices);
  put32(r, size, 28, static_cast<std::uint32_t>(table.size()));
  put32(r, size, 32, m.version);
  put32(r, size, 36, m.date);
  put32(r, size, 40, m.time);
  put32(r, size, 44, m.flags);
  put_text(r, size, 48, 32, m.name);
  put_text(r, size, 80, 64, m.comment);
  return SV_OK;
}

int board::serve_debug(std::uint8_t *r, std::size_t size) {
  const std::uint32_t command = get32(r, size, 16);
  switch (command) {
    case OV_DEBUG_R_FLASH: {
      const std::uint32_t address = get32(r, size, 20);
      if (address % 4 != 0 || address + 4 > flash_.size()) return SV_ERROR_PARAMETER;
      std::uint32_t word;
      std::memcpy(&word, flash_.data() + address, 4);
      put32(r, size, 28, word);
      return SV_OK;
    }
    case OV_DEBUG_FLASHINFO:
      return SV_OK;
    case OV_DEBUG_TEXT: {
      const std::uint32_t length = std::min<std::uint32_t>(get32(r, size, 44), 255);
      if (48 + length > size) return SV_ERROR_PARAMETER;
      add_trace(std::string(reinterpret_cast<const char *>(r) + 48, length));
      return SV_OK;
    }
    case OV_DEBUG_COMMAND:
      return SV_OK;
    default:
      return SV_ERROR_NOTIMPLEMENTED;
  }
}

int board::serve_flashwrite(std::uint8_t *r, std::size_t size, const memory_reader &sender) {
  if (size < 64) return SV_ERROR_BUFFERSIZE;
  std::uint64_t data, description;
  std::memcpy(&data, r + 16, 8);
  std::memcpy(&description, r + 24, 8);
  const std::uint32_t length = get32(r, size, 32);
  const std::uint32_t map = get32(r, size, 40);
  const std::uint32_t version = get32(r, size, 44);
  if (map >= region_count || length != region_size) return SV_ERROR_PARAMETER;

  std::vector<std::uint8_t> bytes(region_size);
  if (!sender(data, bytes.data(), bytes.size())) return SV_ERROR_TRANSFER;
  // The description is a NUL-terminated text of at most 256 bytes.
  char text[257] = {};
  if (description != 0 && !sender(description, text, 256)) return SV_ERROR_TRANSFER;
  std::memcpy(flash_.data() + map * region_size, bytes.data(), region_size);
  set_region(static_cast<int>(map), {version, std::string(text, strnlen(text, 256)), 0, 0, 0});
  return SV_OK;
}

int board::serve_firmware(std::uint8_t *r, std::size_t size) {
  // Kind 9 firmware, on the board as the driver recommends it: 2.1.4.0-1.2.3.
  const std::uint32_t words[] = {2, 1, 4, 0, 2, 1, 4, 0, 9, 0x010203, 0x010203};
  for (std::size_t i = 0; i < sizeof words / sizeof words[0]; ++i) {
    put32(r, size, 16 + 4 * i, words[i]);
  }
  return SV_OK;
}

int board::serve_pattern(std::uint8_t *r, std::size_t size, std::uint32_t code) {
  for (std::size_t offset = 16; offset + 4 <= size; offset += 4) {
    put32(r, size, offset, pattern_word(code, offset));
  }
  return SV_OK;
}

int board::serve_rtc(std::uint8_t *r, std::size_t size) {
  const std::uint32_t clock[8] = {2011, 11, 14, 1, 11, 59, 11, 250000};
  for (int i = 0; i < 8; ++i) put32(r, size, 48 + 4 * i, clock[i]);
  return SV_OK;
}

// A chunk stream: the flash's first bytes, 512 at a time, ending after 1300 bytes.
int board::serve_chunkread(std::uint8_t *r, std::size_t size) {
  constexpr std::uint32_t stream_length = 1300;
  if (size < 536) return SV_ERROR_BUFFERSIZE;
  const std::uint32_t count =
      std::min<std::uint32_t>(512, stream_length - chunkposition_ % stream_length);
  std::memcpy(r + 24, flash_.data() + chunkposition_ % stream_length, count);
  chunkposition_ = (chunkposition_ + count) % stream_length;
  put32(r, size, 16, count);
  return SV_OK;
}

}  // namespace vok::board
