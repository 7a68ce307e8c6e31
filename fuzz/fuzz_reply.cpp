// The library against a driver that answers with any bytes: each request's record, the open
// request's included, is overwritten with the next bytes of the input. Then the update tool's
// board report on that board.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "report.h"
#include "test_driver.h"
#include "vokoem/vokoem.h"

namespace {

constexpr int request_budget = 512;

// Standard output goes to /dev/null while the report prints.
class quiet_stdout {
 public:
  quiet_stdout() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    close(null);
  }
  ~quiet_stdout() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size == 0) return 0;
  // One driver for all inputs: its board model (20 MiB of flash) is made only once.
  static vok::test::driver d;
  d.log_requests = false;
  d.clear_output();
  std::size_t cursor = 0;
  int answered = 0;
  d.at(0).answer = [&](void *record, std::size_t length) {
    auto *bytes = static_cast<unsigned char *>(record);
    for (std::size_t i = 0; i < length; ++i, cursor = (cursor + 1) % size) bytes[i] = data[cursor];
    // The board report walks as many devices and modules as the driver claims, up to 256 of
    // each: after a budget the driver fails every request, so that an input is done soon.
    if (++answered > request_budget && length >= 16) {
      const std::int32_t failed = SV_ERROR_TRANSFER;
      std::memcpy(bytes + 12, &failed, sizeof failed);
    }
  };

  sv_handle *sv = sv_open("PCI,card:0");
  if (sv == nullptr) return 0;
  int value = 0;
  sv_query(sv, SV_QUERY_DEVTYPE, 0, &value);
  sv_status_info info;
  sv_status(sv, &info);
  sv_version version;
  sv_version_status(sv, &version, sizeof version, 0, 1, 0);
  char current[64], recommended[64], message[256];
  sv_firmware_strings(sv, current, sizeof current, recommended, sizeof recommended);
  sv_firmware_check(sv, message, sizeof message);
  unsigned char raster[400];
  int nrasters = 0;
  sv_raster_status(sv, 0, raster, sizeof raster, &nrasters, 0);
  const int length = data[0] * 8;  // 0 to 2040 bytes: up to four chunks
  auto buffer = std::make_unique<unsigned char[]>(static_cast<std::size_t>(length));
  int count = 0;
  sv_chunkread(sv, buffer.get(), length, &count);
  {
    quiet_stdout quiet;
    vok::update::printversions(sv);
  }
  sv_close(sv);
  return 0;
}
