// The emulated Vantrel board: answers the driver requests of the client library and of the
// update tool as a board and its driver would. vok-simulator serves it to other processes
// through the simulator link; the tests call it in-process through the test device layer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vok::board {

inline constexpr std::size_t region_size = 0x400000;  // one flash region, 4 MiB
inline constexpr int region_count = 5;
inline constexpr std::size_t flash_size = region_size * region_count;

// One module of the version table.
struct module_version {
  std::string name;
  std::uint32_t version = 0;  // packed version word: fix 24-31, major 16-23, minor 8-15, patch 0-7
  std::uint32_t date = 0;     // BCD: day 24-31, month 16-23, year 0-15
  std::uint32_t time = 0;     // BCD: minutes 16-23, hours 8-15
  std::uint32_t flags = 0;    // bit 0: beta
  std::string comment;
};

// The flash region (1 to 4) whose version record the module `name` is, or 0 for any other
// module.
inline int flash_map(const std::string &name) {
  for (int map = 1; map < region_count; ++map) {
    if (name == "pciflash" + std::to_string(map)) return map;
  }
  return 0;
}

// What the board is. The defaults are a healthy Vantrel board that the update is for.
struct config {
  std::int32_t devtype = 21;  // Vantrel
  std::int32_t serial = 10234;
  std::uint32_t driverversion = 0x00020901;  // 2.9.1.0
  std::uint32_t chipversion = 0x10055;       // FX100 with SX55
  std::int32_t flashsize = static_cast<std::int32_t>(flash_size);
  std::int32_t cardoptions = 0;  // bit 0: the Brix variant
  std::uint32_t traceflags = 0;
  std::uint32_t ndevices = 1;
  std::uint32_t cpldversion = 0x00020000;  // cpld 2.0.0.0
  // The version table; when empty, "driver" at the driver version and "cpld" at the CPLD
  // version. The flash modules that it leaves out follow it, pciflash1 to pciflash4; a row
  // named after one of them only holds its place: its values are those of the region.
  std::vector<module_version> modules;
  // Version and description of flash regions 1 to 4 before anything is written.
  std::array<std::uint32_t, 4> flashversion{0x07010021, 0x07010021, 0x07010021, 0x07010021};
  std::array<std::string, 4> flashcomment{"fx 20110301 33.7", "s1 20081120 1.14.18",
                                          "s2 20091016 1.0", "sx 20090403 2.14"};
  // BCD date and time of the region versions (2011/03/01 10:15); a flash write sets them to 0.
  std::array<std::uint32_t, 4> flashdate{0x01032011, 0x01032011, 0x01032011, 0x01032011};
  std::array<std::uint32_t, 4> flashtime{0x151000, 0x151000, 0x151000, 0x151000};
  // Release flags of the region versions (bit 0: beta); a flash write sets them to 0.
  std::array<std::uint32_t, 4> flashflags{};
};

// Reads bytes from the memory of the process that sent a request.
using memory_reader = std::function<bool(std::uint64_t address, void *into, std::size_t length)>;

class board {
 public:
  explicit board(config settings = {});

  // Serves one request record in place: reads its fields, writes its reply and its result
  // word. `size` is the number of bytes of the record that may be read and written.
  void serve(void *record, std::size_t size, const memory_reader &sender);

  // The flash, all regions; erased bytes read 0xFF.
  std::vector<std::uint8_t> &flash() { return flash_; }
  const std::vector<std::uint8_t> &flash() const { return flash_; }
  const config &settings() const { return config_; }
  config &settings() { return config_; }

  // Version, description, BCD date and time, and release flags last written into region
  // `map` (1 to 4).
  struct region_info {
    std::uint32_t version = 0;
    std::string comment;
    std::uint32_t date = 0;
    std::uint32_t time = 0;
    std::uint32_t flags = 0;
  };
  const region_info &region(int map) const { return regions_[map]; }
  void set_region(int map, region_info info) { regions_[map] = std::move(info); }

  // Every trace line (request 39) and debug text (command 85) received, in order.
  std::vector<std::string> trace_lines() const;
  // Called with each trace line as it arrives.
  std::function<void(const std::string &)> on_trace;

  // Request counts, for tests and benchmarks.
  std::uint64_t requests() const { return requests_; }

 private:
  int serve_open(std::uint8_t *r, std::size_t size);
  int serve_query(std::uint8_t *r, std::size_t size);
  int serve_version(std::uint8_t *r, std::size_t size);
  int serve_debug(std::uint8_t *r, std::size_t size);
  int serve_flashwrite(std::uint8_t *r, std::size_t size, const memory_reader &sender);
  int serve_firmware(std::uint8_t *r, std::size_t size);
  int serve_pattern(std::uint8_t *r, std::size_t size, std::uint32_t code);
  int serve_rtc(std::uint8_t *r, std::size_t size);
  int serve_chunkread(std::uint8_t *r, std::size_t size);
  void add_trace(std::string line);
  std::vector<module_version> version_table() const;

  config config_;
  std::vector<std::uint8_t> flash_;
  std::array<region_info, region_count> regions_{};
  std::uint32_t opennumber_ = 0;
  std::uint64_t requests_ = 0;
  std::uint32_t chunkposition_ = 0;
  mutable std::mutex trace_lock_;
  std::vector<std::string> trace_lines_;
};

// Requests that fill words with a pattern read it as: word at byte offset n of a record of
// request `code` holds pattern_word(code, n). No two fields of a reply are equal.
inline std::uint32_t pattern_word(std::uint32_t code, std::size_t offset) {
  return 0x5A000000u | (code << 12) | static_cast<std::uint32_t>(offset);
}

}  // namespace vok::board
