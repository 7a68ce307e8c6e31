#include "report.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace vok::update {
namespace {

constexpr int driver_flashinfo_key = 0x2030F;  // 2.3p15: the first driver with flash info

// The most devices, and modules of a device, that the report walks. A board has one device
// with a handful of modules; a broken driver that claims 2^32 of them and answers for every
// one would otherwise hold the tool for hours.
constexpr std::uint32_t table_limit = 256;

struct module_number {
  int major, minor, patch, fix;
  int key() const { return major * 65536 + minor * 256 + patch; }
};

// The parts of a record version word: minor 24-31, major 16-23, fix 8-15, patch 0-7.
module_number parts(std::uint32_t version) {
  return {static_cast<int>((version >> 16) & 0xFF), static_cast<int>((version >> 24) & 0xFF),
          static_cast<int>(version & 0xFF), static_cast<int>((version >> 8) & 0xFF)};
}

void print_flash_module(const sv_version &v, const char *tmp) {
  std::printf("%-15s: %10s ", v.name, tmp);
  if ((v.flags & 1) != 0) std::printf("beta (%d) ", static_cast<int>(v.betanumber));
  if (v.date != 0 || v.time != 0) {
    std::printf("%04x/%02x/%02x %02x:%02x ", v.date & 0xFFFF, (v.date >> 16) & 0xFF,
                (v.date >> 24) & 0xFF, (v.time >> 8) & 0xFF, (v.time >> 16) & 0xFF);
  }
  std::printf("%s\n", v.comment);
}

// The module's date and time as yyyy/mm/dd hh:mm; empty when both are 0.
std::string bcd_date(const sv_version &v) {
  if (v.date == 0 && v.time == 0) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04x/%02x/%02x %02x:%02x", v.date & 0xFFFF,
                (v.date >> 16) & 0xFF, (v.date >> 24) & 0xFF, (v.time >> 8) & 0xFF,
                (v.time >> 16) & 0xFF);
  return text;
}

std::string field_text(const char *field, std::size_t size) {
  return std::string(field, std::find(field, field + size, '\0'));
}

}  // namespace

int printversions(sv_handle *sv) {
  version_walk walk;
  return printversions(sv, walk);
}

int printversions(sv_handle *sv, version_walk &walk) {
  std::uint32_t ndevices = 1;
  std::uint32_t nmodules = 1;
  int error = SV_OK;
  for (std::uint32_t d = 0; error == SV_OK && d < ndevices; ++d) {
    for (std::uint32_t m = 0; error == SV_OK && m < nmodules; ++m) {
      sv_version v;
      error = sv_version_status(sv, &v, sizeof v, static_cast<int>(d), static_cast<int>(m), 0);
      if (error != SV_OK) break;
      if (m == 0) {
        if (d == 0) ndevices = std::min(v.ndevices, table_limit);
        nmodules = std::min(v.nmodules, table_limit);
      }
      const module_number n = parts(v.version);
      char tmp[32];
      std::snprintf(tmp, sizeof tmp, "%d.%d.%d.%d", n.major, n.minor, n.patch, n.fix);
      walk.modules.push_back({field_text(v.name, sizeof v.name), tmp, bcd_date(v),
                              field_text(v.comment, sizeof v.comment), (v.flags & 1) != 0,
                              static_cast<std::int32_t>(v.betanumber)});

      if (walk.gates && std::strncmp(v.name, "driver", 6) == 0) {
        if (n.key() < driver_flashinfo_key) {
          std::printf("Driver version less than 2.3p15 does not support flash info dump\n");
          walk.reason = std::string("driver module ") + tmp + " is older than 2.3p15";
          return 0;
        }
        if (n.major == 2 && n.minor == 6 && n.patch < 6) {
          std::printf("Driver version 2.6p0 to 2.6p5 should not be used for flash programming.\n");
          walk.reason = std::string("driver module ") + tmp + " is one of 2.6p0 to 2.6p5";
          return 0;
        }
      }
      if (walk.gates && std::strcmp(v.name, "cpld") == 0 && n.major < 2) {
        std::printf("This update is only for cpldversion 2 and higher\n");
        walk.reason = std::string("cpld module ") + tmp + " is older than 2";
        error = SV_ERROR_FIRMWARE;
      }
      if (std::strncmp(v.name, "pciflash", 8) == 0) print_flash_module(v, tmp);
    }
  }
  if (error == SV_OK || error == SV_ERROR_PARAMETER) return 1;  // the end of the table
  std::printf("Error %d '%s'\n", error, errortext_lookup(error));
  if (walk.reason.empty()) {  // not the CPLD gate: the request itself failed
    walk.failed = true;
    walk.reason = std::string("version report: ") + errortext_lookup(error);
  }
  return 0;
}

}  // namespace vok::update
