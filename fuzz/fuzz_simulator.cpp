// The simulator's message handling against a hostile host: the input fills the message area
// (header and the record at offset 128, size word included). The sender's pid names no
// process, so every read or write of its memory fails.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "objects.h"
#include "server.h"
#include "sv_simlink.h"

namespace {

constexpr std::uint32_t no_process = 0x7FFFFFF0;  // above any pid the kernel hands out
constexpr std::size_t status_size = 0x10000;

struct served {
  std::vector<unsigned char> area = std::vector<unsigned char>(vok::sim_area_size);
  std::vector<unsigned char> status = std::vector<unsigned char>(status_size);
  vok::sim::objects link;
  std::unique_ptr<vok::sim::server> server;
  served() {
    link.serve_memory(area.data(), status.data(), status.size());
    vok::sim::options settings;
    settings.config.traceflags = 0;
    server = std::make_unique<vok::sim::server>(link, settings);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static served s;  // the board keeps its flash between inputs, as a serving simulator does
  std::fill(s.area.begin(), s.area.end(), 0);
  std::memcpy(s.area.data(), data, std::min(size, s.area.size()));
  std::memcpy(s.area.data() + vok::simmsg::pid, &no_process, sizeof no_process);
  s.server->handle_message();
  return 0;
}
