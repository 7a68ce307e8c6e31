#include "upgrade.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "flash.h"
#include "report.h"

namespace vok::update {
namespace {

constexpr std::int32_t minimum_driver = 0x00020901;  // 2.9.1.0
constexpr std::int32_t supported_chips = 0x10055;    // FX100 with SX55
constexpr int brix_option = 0x1;
constexpr int table_rows = 8;
constexpr int filled_rows = 4;
constexpr int sx_row = 3;

// The description prefix and the flash region of each filled row.
constexpr const char *description_format[filled_rows] = {"fx %d %s", "s1 %d %s", "s2 %d %s",
                                                         "sx %d %s"};
constexpr int map_of_row[filled_rows] = {1, 2, 3, 4};

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// A refusal closes the board and ends the update.
int refuse(sv_handle *sv) {
  sv_close(sv);
  return -1;
}

// Reads one value of the board; on failure reports it.
bool query(sv_handle *sv, int code, std::int32_t &value) {
  int result = sv_query(sv, code, 0, &value);
  if (result != SV_OK) report_error(sv, result);
  return result == SV_OK;
}

bool confirmed() {
  std::printf("\n");
  std::printf("Are you sure that you want to continue ?\n");
  std::printf("\n");
  std::printf("Press 'y' and 'Enter' to continue, any other key and 'Enter' to abort\n");
  flushoutput();
  if (readanswer() == 'y') return true;
  std::printf("\n");
  std::printf("Update aborted\n");
  return false;
}

void check_versions(sv_handle *sv, const char *when, bool report_failure) {
  std::printf("\n");
  std::printf("Checking versions %s upgrade, This takes 30s\n", when);
  flushoutput();
  int result = flashinfo(sv);
  if (report_failure && result != SV_OK) report_error(sv, result);
}

}  // namespace

void report_error(sv_handle *sv, int code) {
  std::printf("\nERROR: ");
  flushoutput();  // the text follows on standard error
  print_error_text(sv, code);
}

std::int32_t bitfiledate(const unsigned char *data, std::int32_t size) {
  for (std::int32_t s = 0; s <= 255 && s + 10 <= size; ++s) {
    const unsigned char *t = data + s;
    bool fits = t[4] == '/' && t[7] == '/';
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) fits = fits && is_digit(t[i]);
    if (!fits) continue;
    std::int32_t date = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) date = date * 10 + (t[i] - '0');
    return date;
  }
  return 0;
}

int upgradecard(sv_handle *sv, const imageentry (&images)[4]) {
  std::int32_t version = 0, chipversion = 0, flashsize = 0, cardoptions = 0;
  if (!query(sv, SV_QUERY_VERSION_DRIVER, version)) return refuse(sv);
  if (version < minimum_driver) {
    const auto v = static_cast<std::uint32_t>(version);
    std::printf("\n");
    std::printf("ERROR: This upgrade requires driver version %d.%d.%d.%d or higher\n", 2, 9, 1, 0);
    std::printf("       Loaded driver is %d.%d.%d.%d\n", (v >> 16) & 0xFF, (v >> 8) & 0xFF,
                v & 0xFF, (v >> 24) & 0xFF);
    return refuse(sv);
  }
  if (!query(sv, SV_QUERY_HW_EPLDTYPE, chipversion)) return refuse(sv);
  if (!query(sv, SV_QUERY_HW_FLASHSIZE, flashsize)) return refuse(sv);
  if (!query(sv, SV_QUERY_HW_CARDOPTIONS, cardoptions)) return refuse(sv);
  std::printf("Card has %d byte flash\n", flashsize);

  if ((cardoptions & brix_option) != 0) {
    const char *sx = images[sx_row].version;
    if (!(sx[0] == '2' && sx[1] == '.')) {
      std::printf("ERROR: This upgrade is not for Brix (%s)\n", sx);
      return refuse(sv);
    }
  }
  if (chipversion != supported_chips) {
    std::printf("ERROR: This upgrade does not support fx%02x / sx%02x chips\n", chipversion / 256,
                chipversion % 256);
    return refuse(sv);
  }
  std::printf("Upgrades Vantrel fx%02x-sx%02x to %s\n", 0x100, 0x55, firmware::package_string);

  imageentry table[table_rows] = {};
  for (int row = 0; row < filled_rows; ++row) table[row] = images[row];
  for (int row = 0; row < filled_rows; ++row) {
    const unsigned char *data = table[row].data;
    if (data != nullptr && table[row].size >= 4 && data[0] == 0xFF && data[1] == 0xFF &&
        data[2] == 0xFF && data[3] == 0xFF) {
      std::printf("table %d is not binary, please check convert script\n", row);
      return refuse(sv);
    }
  }

  check_versions(sv, "before", true);
  if (printversions(sv) == 0) return refuse(sv);
  if (!confirmed()) return refuse(sv);

  char desc[filled_rows][64];
  for (int row = 0; row < filled_rows; ++row) {
    std::snprintf(desc[row], sizeof desc[row], description_format[row],
                  bitfiledate(table[row].data, table[row].size), table[row].version);
  }
  for (int row = 0; row < filled_rows; ++row) {
    programflash(sv, map_of_row[row], table[row], firmware::package_version, desc[row]);
  }

  check_versions(sv, "after", false);
  printversions(sv);
  sv_close(sv);
  return 0;
}

}  // namespace vok::update
