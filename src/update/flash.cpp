#include "flash.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "console.h"

namespace vok::update {
namespace {

constexpr std::uint32_t flashwrite_kind = 10;
constexpr std::uint32_t flashwrite_option = 1;
constexpr std::uint32_t unverified_tail = 64;  // the last 64 bytes of a region are not read back
constexpr int mismatch_limit = 10;             // stop once more than this many words differ
constexpr std::uint32_t flashread_size = 64;
constexpr std::uint32_t flashinfo_size = 304;

struct buffer_release {
  void operator()(unsigned char *p) const { working_buffer_memory.release(p); }
};

std::uint32_t little_endian_word(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads region `map` back and compares it with `buffer`. Returns the first read failure, or
// SV_ERROR_FLASH_VERIFY when words differ, or SV_OK.
int verify_region(sv_handle *sv, int map, const unsigned char *buffer) {
  orvello_debug pd{};
  pd.header.size = flashread_size;
  pd.header.magic = ORVELLO_MAGIC;
  const std::uint32_t base = static_cast<std::uint32_t>(map) * region_size;
  const std::uint32_t end = region_size - unverified_tail;
  progress shown(map, "verifying", end / 4);
  int result = SV_OK;
  int mismatches = 0;
  for (std::uint32_t offset = 0; offset < end; offset += 4) {
    shown.update(offset / 4);
    pd.command = OV_DEBUG_R_FLASH;
    pd.parameter = base + offset;
    const int read = sv_sys_call(sv, ORVELLO_REQ_DEBUG, &pd);
    if (read != SV_OK) {
      std::printf("OV_DEBUG_R_FLASH failed for offset:0x%08x p.offset:0x%08x\n", offset,
                  base + offset);
      result = read;
      break;
    }
    const std::uint32_t expected = little_endian_word(buffer + offset);
    if (pd.value != expected) {
      std::printf("FAIL> map:%d 0x%08x: 0x%x != 0x%x\n", map, offset, pd.value, expected);
      if (++mismatches > mismatch_limit) break;
    }
  }
  if (mismatches != 0) {
    std::printf(
        "\n\nERROR: Programming of firmware failed. Please retry executing this program\n");
    std::printf("up to 3 times. If this error still occurs, please contact the VOK Service\n");
    std::printf("department about this problem.\n");
    std::printf("Please attach the complete text output of this program.\n\n\n");
    result = SV_ERROR_FLASH_VERIFY;
  }
  return result;
}

}  // namespace

buffer_memory working_buffer_memory = {std::malloc, std::free};

void programflash(sv_handle *sv, int map, const imageentry &image, std::uint32_t version,
                  const char *description) {
  orvello_flashwrite p{};
  p.header.size = sizeof p;
  p.header.magic = ORVELLO_MAGIC;

  std::unique_ptr<unsigned char, buffer_release> buffer(
      static_cast<unsigned char *>(working_buffer_memory.allocate(region_size)));
  if (!buffer) {
    std::printf("Buffer malloc failed\n");
    return;
  }
  if (image.size < 0 || static_cast<std::uint32_t>(image.size) > region_size) {
    std::printf("Chip %d to large\n", 0);
    return;
  }
  // The region's exact content: the image, then zeros.
  std::memset(buffer.get(), 0, region_size);
  std::memcpy(buffer.get(), image.data, static_cast<std::size_t>(image.size));
  char dbuffer[256] = {};
  std::strncpy(dbuffer, description, sizeof dbuffer - 1);

  p.data = reinterpret_cast<std::uintptr_t>(buffer.get());
  p.description = reinterpret_cast<std::uintptr_t>(dbuffer);
  p.length = region_size;
  p.kind = flashwrite_kind;
  p.map = static_cast<std::uint32_t>(map);
  p.version = version;
  p.option = flashwrite_option;
  std::printf("Programming %d %d %d.%d.%d.%d %d '%s'\n", p.kind, map, (version >> 16) & 0xFF,
              (version >> 8) & 0xFF, version & 0xFF, (version >> 24) & 0xFF, p.length, dbuffer);

  int result;
  {
    progress shown(map, "writing", 1);
    result = sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p);
  }
  if (result == SV_OK) result = verify_region(sv, map, buffer.get());
  if (result != SV_OK) {
    std::printf("program: res=%d '%s', press 'Enter' to continue.\n", result,
                errortext_lookup(result));
    flushoutput();
    readanswer();
  }
}

int flashinfo(sv_handle *sv) {
  orvello_debug p{};
  p.header.size = flashinfo_size;
  p.header.magic = ORVELLO_MAGIC;
  p.command = OV_DEBUG_FLASHINFO;
  return sv_sys_call(sv, ORVELLO_REQ_DEBUG, &p);
}

}  // namespace vok::update
