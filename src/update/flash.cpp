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
constexpr std::size_t mismatches_kept = 10;    // the report keeps the first ten
constexpr std::uint32_t flashread_size = 64;
constexpr std::uint32_t flashinfo_size = 304;

struct buffer_release {
  void operator()(unsigned char *p) const { working_buffer_memory.release(p); }
};
using region_buffer = std::unique_ptr<unsigned char, buffer_release>;

std::uint32_t little_endian_word(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The region's exact content: the image, then zeros. Empty (after saying why) when the
// buffer cannot be had or the image does not fit; `region.result` then says which.
region_buffer region_content(const imageentry &image, region_record &region) {
  region_buffer buffer(static_cast<unsigned char *>(working_buffer_memory.allocate(region_size)));
  if (!buffer) {
    std::printf("Buffer malloc failed\n");
    region.result = SV_ERROR_MALLOC;
    return buffer;
  }
  if (image.size < 0 || static_cast<std::uint32_t>(image.size) > region_size) {
    std::printf("Chip %d to large\n", 0);
    region.result = SV_ERROR_PARAMETER;
    return nullptr;
  }
  std::memset(buffer.get(), 0, region_size);
  std::memcpy(buffer.get(), image.data, static_cast<std::size_t>(image.size));
  return buffer;
}

// Reads region `map` back and compares it with `buffer`. Returns the first read failure, or
// SV_ERROR_FLASH_VERIFY when words differ, or SV_OK.
int read_back(sv_handle *sv, const unsigned char *buffer, region_record &region) {
  orvello_debug pd{};
  pd.header.size = flashread_size;
  pd.header.magic = ORVELLO_MAGIC;
  const std::uint32_t base = static_cast<std::uint32_t>(region.map) * region_size;
  const std::uint32_t end = region_size - unverified_tail;
  progress shown(region.map, "verifying", end / 4);
  for (std::uint32_t offset = 0; offset < end; offset += 4) {
    shown.update(offset / 4);
    pd.command = OV_DEBUG_R_FLASH;
    pd.parameter = base + offset;
    const int read = sv_sys_call(sv, ORVELLO_REQ_DEBUG, &pd);
    if (read != SV_OK) {
      std::printf("OV_DEBUG_R_FLASH failed for offset:0x%08x p.offset:0x%08x\n", offset,
                  base + offset);
      return region.mismatches != 0 ? SV_ERROR_FLASH_VERIFY : read;
    }
    ++region.words_read;
    const std::uint32_t expected = little_endian_word(buffer + offset);
    if (pd.value != expected) {
      std::printf("FAIL> map:%d 0x%08x: 0x%x != 0x%x\n", region.map, offset, pd.value, expected);
      if (region.first_mismatches.size() < mismatches_kept) {
        region.first_mismatches.push_back({offset, pd.value, expected});
      }
      if (++region.mismatches > mismatch_limit) break;
    }
  }
  return region.mismatches != 0 ? SV_ERROR_FLASH_VERIFY : SV_OK;
}

}  // namespace

buffer_memory working_buffer_memory = {std::malloc, std::free};

region_record programflash(sv_handle *sv, int map, const imageentry &image,
                           std::uint32_t version, const char *description, bool wait) {
  region_record region;
  region.map = map;
  orvello_flashwrite p{};
  p.header.size = sizeof p;
  p.header.magic = ORVELLO_MAGIC;

  region_buffer buffer = region_content(image, region);
  if (!buffer) return region;
  char dbuffer[256] = {};
  std::strncpy(dbuffer, description, sizeof dbuffer - 1);

  p.data = reinterpret_cast<std::uintptr_t>(buffer.get());
  p.description = reinterpret_cast<std::uintptr_t>(dbuffer);
  p.length = region_size;
  p.kind = flashwrite_kind;
  p.map = static_cast<std::uint32_t>(map);
  p.version = version;
  p.option = flashwrite_option;
  std::printf("Programming %d %d %s %d '%s'\n", p.kind, map, version_text(version).c_str(),
              p.length, dbuffer);
  flushoutput();  // a log that is followed sees which region is in hand

  {
    progress shown(map, "writing", 1);
    region.result = sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p);
  }
  if (region.result == SV_OK) {
    region.bytes_written = region_size;
    region.result = read_back(sv, buffer.get(), region);
  }
  if (region.mismatches != 0) {
    std::printf(
        "\n\nERROR: Programming of firmware failed. Please retry executing this program\n");
    std::printf("up to 3 times. If this error still occurs, please contact the VOK Service\n");
    std::printf("department about this problem.\n");
    std::printf("Please attach the complete text output of this program.\n\n\n");
  }
  if (region.result != SV_OK) {
    if (wait) {
      std::printf("program: res=%d '%s', press 'Enter' to continue.\n", region.result,
                  errortext_lookup(region.result));
      flushoutput();
      readanswer();
    } else {
      std::printf("program: res=%d '%s'\n", region.result, errortext_lookup(region.result));
    }
  }
  return region;
}

region_record verifyflash(sv_handle *sv, int map, const imageentry &image,
                          const char *description) {
  region_record region;
  region.map = map;
  region_buffer buffer = region_content(image, region);
  if (!buffer) return region;
  std::printf("Verifying map %d '%s'\n", map, description);
  flushoutput();
  region.result = read_back(sv, buffer.get(), region);
  if (region.result == SV_OK) {
    std::printf("map %d matches\n", map);
  } else if (region.result == SV_ERROR_FLASH_VERIFY) {
    std::printf("map %d differs from the image\n", map);
  } else {
    std::printf("map %d could not be read: res=%d '%s'\n", map, region.result,
                errortext_lookup(region.result));
  }
  return region;
}

int flashinfo(sv_handle *sv) {
  orvello_debug p{};
  p.header.size = flashinfo_size;
  p.header.magic = ORVELLO_MAGIC;
  p.command = OV_DEBUG_FLASHINFO;
  return sv_sys_call(sv, ORVELLO_REQ_DEBUG, &p);
}

}  // namespace vok::update
