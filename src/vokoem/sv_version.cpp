// Module versions, the version check, and the firmware version calls.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sv_internal.h"
#include "sv_records.h"

namespace vok {
namespace {

std::uint32_t bcd(std::uint32_t value, int digits) {
  std::uint32_t word = 0;
  for (int i = 0; i < digits; ++i) {
    word |= (value % 10) << (4 * i);
    value /= 10;
  }
  return word;
}

// Copies a driver's text field into a record field, always terminated.
void copy_text(char *to, std::size_t capacity, const char *from, std::size_t length) {
  std::size_t n = strnlen(from, length);
  if (n >= capacity) n = capacity - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

std::uint32_t build_date_word(const char *date) {
  static const char *const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::uint32_t month = 0;
  for (int m = 11; m >= 0 && month == 0; --m) {
    if (std::strncmp(date, months[m], 3) == 0) month = static_cast<std::uint32_t>(m + 1);
  }
  unsigned day = 0, year = 0;
  std::sscanf(date + 3, "%u %u", &day, &year);
  return bcd(day, 2) << 24 | bcd(month, 2) << 16 | bcd(year, 4);
}

std::uint32_t build_time_word(const char *time) {
  unsigned hours = 0, minutes = 0;
  std::sscanf(time, "%u:%u", &hours, &minutes);
  return bcd(minutes, 2) << 16 | bcd(hours, 2) << 8;
}

}  // namespace vok

using namespace vok;

namespace {

// The three bytes of an extra word, bits 16-23, 8-15 and 0-7.
struct bytes3 {
  int high, middle, low;
};
bytes3 split(std::uint32_t word) {
  return {static_cast<int>((word >> 16) & 0xFF), static_cast<int>((word >> 8) & 0xFF),
          static_cast<int>(word & 0xFF)};
}

int as_int(std::uint32_t word) { return static_cast<int>(word); }

// The version text of one side of a firmware record, for its layout kind.
void firmware_text(char *text, std::size_t size, const orvello_firmware &f, bool current) {
  const std::uint32_t *c = current ? f.current : f.recommended;
  const std::uint32_t x = current ? f.currentx : f.recommendedx;
  const std::uint32_t y = current ? f.currenty : f.recommendedy;
  const std::uint32_t z = current ? f.currentz : f.recommendedz;
  const bytes3 bx = split(x), bz = split(z);
  const int c0 = as_int(c[0]), c1 = as_int(c[1]), c2 = as_int(c[2]), c3 = as_int(c[3]);
  switch (f.kind) {
    case 4: std::snprintf(text, size, "%d.%d.%d", c0, c1, c2); break;
    case 5: std::snprintf(text, size, "%d.%d.%d.%d-%d-%d", c0, c1, c2, c3, as_int(y), as_int(x)); break;
    case 6: std::snprintf(text, size, "%d.%d.%d.%d-%d", c0, c1, c2, c3, as_int(x)); break;
    case 7:
      std::snprintf(text, size, "%d.%d.%d.%d-%d.%d", c0, c1, c2, c3, bx.middle, bx.low);
      break;
    case 8:
      if (f.recommendedz != 0) {
        std::snprintf(text, size, "%d.%d.%d.%d-%d.%d.%d-%d.%d.%d", c0, c1, c2, c3, bz.high,
                      bz.middle, bz.low, bx.high, bx.middle, bx.low);
      } else {
        std::snprintf(text, size, "%d.%d.%d.%d-%d.%d.%d", c0, c1, c2, c3, bx.high, bx.middle,
                      bx.low);
      }
      break;
    case 9:
      std::snprintf(text, size, "%d.%d.%d.%d-%d.%d.%d", c0, c1, c2, c3, bx.high, bx.middle,
                    bx.low);
      break;
    default: text[0] = '\0';
  }
}

// Whether the first version words disagree: they may differ freely within 0 to 2.
bool first_words_differ(const orvello_firmware &f) {
  return f.current[0] != f.recommended[0] && (f.current[0] > 2 || f.recommended[0] > 2);
}

bool extra_words_differ(const orvello_firmware &f) {
  switch (f.kind) {
    case 5: return f.currenty != f.recommendedy || f.currentx != f.recommendedx;
    case 6:
    case 7:
    case 9: return f.currentx != f.recommendedx;
    case 8:
      return f.currentx != f.recommendedx ||
             (f.recommendedy != 0 && f.currenty != f.recommendedy) ||
             (f.recommendedz != 0 && f.currentz != f.recommendedz);
    default: return false;
  }
}

// Copies `text` into a caller's buffer of `size` bytes, cut to `limit`, always terminated.
void give_text(char *buffer, int size, std::size_t limit, const char *text) {
  if (buffer == nullptr || size <= 0) return;
  const std::size_t capacity = std::min<std::size_t>(static_cast<std::size_t>(size), limit);
  copy_text(buffer, capacity, text, std::strlen(text));
}

// The explanation of a failed firmware check, and its result; SV_OK when it passes.
int check_firmware(const orvello_firmware &f, char *message, std::size_t size) {
  const std::uint32_t *c = f.current, *r = f.recommended;
  if (first_words_differ(f)) {
    std::snprintf(message, size, "Unknown Firmware version %d.%d.%d.%d", as_int(c[0]),
                  as_int(c[1]), as_int(c[2]), as_int(c[3]));
    return SV_ERROR_FIRMWARE;
  }
  if (c[1] != r[1] || c[2] != r[2] || c[3] != r[3]) {
    std::snprintf(message, size, "Firmware version %d.%d.%d.%d != recommended version %d.%d.%d.%d",
                  as_int(c[0]), as_int(c[1]), as_int(c[2]), as_int(c[3]), as_int(r[0]),
                  as_int(r[1]), as_int(r[2]), as_int(r[3]));
    return SV_ERROR_FIRMWARE;
  }
  if (f.kind == 5 && (f.currenty != f.recommendedy || f.currentx != f.recommendedx)) {
    std::snprintf(message, size, "Firmware %d.%d.%d.%d-%d-%d != %d.%d.%d.%d-%d-%d", as_int(c[0]),
                  as_int(c[1]), as_int(c[2]), as_int(c[3]), as_int(f.currenty),
                  as_int(f.currentx), as_int(r[0]), as_int(r[1]), as_int(r[2]), as_int(r[3]),
                  as_int(f.recommendedy), as_int(f.recommendedx));
    return SV_ERROR_PARAMETER;
  }
  if (f.kind == 6 && f.currentx != f.recommendedx) {
    std::snprintf(message, size, "Firmware spartan version %d != %d", as_int(f.currentx),
                  as_int(f.recommendedx));
    return SV_ERROR_FIRMWARE;
  }
  if (f.kind == 9 && f.currentx < f.recommendedx) {
    const bytes3 cx = split(f.currentx), rx = split(f.recommendedx);
    std::snprintf(message, size,
                  "Firmware %d.%d.%d.%d_%d.%d.%d recommended version %d.%d.%d.%d_%d.%d.%d",
                  as_int(c[0]), as_int(c[1]), as_int(c[2]), as_int(c[3]), cx.high, cx.middle,
                  cx.low, as_int(r[0]), as_int(r[1]), as_int(r[2]), as_int(r[3]), rx.high,
                  rx.middle, rx.low);
    return SV_ERROR_FIRMWARE;
  }
  return SV_OK;
}

}  // namespace

extern "C" {

int sv_version_status(sv_handle *sv, sv_version *pversion, int versionsize, int deviceid,
                      int moduleid, int) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  orvello_version request;
  prepare(request);
  if (result == SV_OK && pversion == nullptr) result = SV_ERROR_PARAMETER;
  if (result == SV_OK) {
    std::memset(pversion, 0, sizeof *pversion);
    request.device = static_cast<std::uint32_t>(deviceid);
    request.module = moduleid == 0 ? 0 : static_cast<std::uint32_t>(moduleid) - 1u;  // no overflow for INT_MIN
    result = sv_sys_call(sv, ORVELLO_REQ_VERSION, &request);
  }
  if (result == SV_OK) {
    pversion->version = record_version(request.version);
    copy_text(pversion->comment, sizeof pversion->comment, request.comment, sizeof request.comment);
    copy_text(pversion->name, sizeof pversion->name, request.name, sizeof request.name);
    pversion->ndevices = request.ndevices;
    pversion->nmodules = request.nmodules + 1;
    pversion->time = request.time;
    pversion->date = request.date;
    pversion->flags = request.flags;
    if (moduleid == 0) {
      pversion->version = library_record_version;
      copy_text(pversion->name, sizeof pversion->name, "clib-oem", 8);
      copy_text(pversion->comment, sizeof pversion->comment, "DebugVersion", 12);
      pversion->date = build_date_word(__DATE__);
      pversion->time = build_time_word(__TIME__);
    }
  }
  if (traces(sv, result)) {
    char name[sizeof request.name + 1], comment[sizeof request.comment + 1];
    copy_text(name, sizeof name, request.name, sizeof request.name);
    copy_text(comment, sizeof comment, request.comment, sizeof request.comment);
    sv_trace(sv,
             "sv_version_status(sv,pversion{%s,%s},versionsize=%d,deviceid=%d,moduleid=%d,spare) "
             "= %s\n",
             name, comment, versionsize, deviceid, moduleid, errortext_lookup(result));
  }
  return result;
}

int sv_version_check(sv_handle *sv, int major, int minor, int patch, int fix) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  const std::uint32_t expected = static_cast<std::uint32_t>(fix) << 8 |
                                 static_cast<std::uint32_t>(major) << 16 |
                                 static_cast<std::uint32_t>(minor) << 24 |
                                 static_cast<std::uint32_t>(patch);
  for (int module = 0; module <= 1 && result == SV_OK; ++module) {
    sv_version v;
    result = sv_version_status(sv, &v, sizeof v, 0, module, 0);
    if (result == SV_OK && v.version != expected) result = SV_ERROR_PARAMETER;
  }
  if (traces(sv, result)) {
    sv_trace(sv, "sv_version_check(sv,major=%d,minor=%d,patch=%d,fix=%d) = %s\n", major, minor,
             patch, fix, errortext_lookup(result));
  }
  return result;
}

int sv_firmware_strings(sv_handle *sv, char *current, int currentsize, char *recommended,
                        int recommendedsize) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  orvello_firmware f;
  prepare(f);
  result = sv_sys_call(sv, ORVELLO_REQ_FIRMWARE, &f);
  if (result != SV_OK) return result;
  if (first_words_differ(f) || f.current[1] != f.recommended[1] ||
      f.current[2] != f.recommended[2] || f.current[3] != f.recommended[3] ||
      extra_words_differ(f)) {
    result = SV_ERROR_PARAMETER;
  }
  constexpr std::size_t limit = 128;
  char text[limit];
  firmware_text(text, sizeof text, f, true);
  give_text(current, currentsize, limit, text);
  firmware_text(text, sizeof text, f, false);
  give_text(recommended, recommendedsize, limit, text);
  return result;
}

int sv_firmware_check(sv_handle *sv, char *message, int messagesize) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  char text[512] = "";
  orvello_firmware f;
  prepare(f);
  result = sv_sys_call(sv, ORVELLO_REQ_FIRMWARE, &f);
  if (result == SV_OK) {
    orvello_query q;  // sent directly: the check writes no query trace
    prepare(q);
    q.query = SV_QUERY_VERSION_DRIVER;
    result = sv_sys_call(sv, ORVELLO_REQ_QUERY, &q);
    const auto v = static_cast<std::uint32_t>(q.value);
    if (result == SV_OK && v != library_packed_version) {
      std::snprintf(text, sizeof text, "Driver version = %d.%d.%d.%d != DLL version %d.%d.%d.%d",
                    as_int((v >> 16) & 0xFF), as_int((v >> 8) & 0xFF), as_int(v & 0xFF),
                    as_int(v >> 24), SV_VERSION_MAJOR, SV_VERSION_MINOR, SV_VERSION_PATCH,
                    SV_VERSION_FIX);
      result = SV_ERROR_DRIVER_MISMATCH;
    }
  }
  if (result == SV_OK) result = check_firmware(f, text, sizeof text);
  give_text(message, messagesize, sizeof text, text);
  return result;
}

}  // extern "C"
