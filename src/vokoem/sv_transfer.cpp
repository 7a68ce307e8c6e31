// Raster, monitor, clock, chunk, block and debug transfers.
#include <algorithm>
#include <cstring>

#include "sv_internal.h"

using namespace vok;

namespace {

constexpr std::size_t raster_definition_size = 332;
constexpr int monitor_minimum = 128;
constexpr int monitor_maximum = 256;
constexpr std::int32_t chunk_size = 512;
constexpr std::size_t debug_text_limit = 255;

int chunkread(sv_handle *sv, int selector, void *buffer, int length, int *count) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  if (buffer == nullptr && length > 0) result = SV_ERROR_PARAMETER;
  auto *bytes = static_cast<unsigned char *>(buffer);
  int total = 0;
  std::int32_t delivered = chunk_size;
  while (result == SV_OK && total < length && delivered == chunk_size) {
    orvello_chunkread record;
    prepare(record);
    record.count = chunk_size;
    record.selector = selector;
    result = sv_sys_call(sv, ORVELLO_REQ_CHUNKREAD, &record);
    if (result != SV_OK) break;
    delivered = std::clamp(record.count, 0, chunk_size);
    // Never past the length the caller gave: copy at most what is left of it.
    const int copied = std::min(delivered, length - total);
    std::memcpy(bytes + total, record.data, static_cast<std::size_t>(copied));
    total += copied;
  }
  if (count != nullptr) *count = result == SV_OK ? total : 0;
  return result;
}

}  // namespace

extern "C" {

int sv_raster_status(sv_handle *sv, int rasterid, void *raster, unsigned rastersize, int *nrasters,
                     int) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  if (result == SV_OK && raster == nullptr) result = SV_ERROR_PARAMETER;
  orvello_raster record;
  prepare(record);
  if (result == SV_OK) {
    record.rasterid = rasterid;
    result = sv_sys_call(sv, ORVELLO_REQ_RASTER, &record);
    std::size_t copy = rastersize;
    if (copy > raster_definition_size) {
      std::memset(static_cast<unsigned char *>(raster) + raster_definition_size, 0,
                  copy - raster_definition_size);
      copy = raster_definition_size;
    }
    std::memcpy(raster, record.definition, copy);
    if (nrasters != nullptr) *nrasters = record.nrasters;
  }
  if (traces(sv, result)) {
    sv_trace(sv, "sv_raster_status(sv,rasterid=%d,raster,rastersize,nrasters=%d,spare) = %s\n",
             rasterid, record.nrasters, errortext_lookup(result));
  }
  return result;
}

int sv_monitorinfo(sv_handle *sv, int selector, void *buffer, int buffersize) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  if (result == SV_OK && buffersize < monitor_minimum) result = SV_ERROR_BUFFERSIZE;
  if (result == SV_OK && buffer == nullptr) result = SV_ERROR_PARAMETER;
  orvello_monitorinfo record;
  prepare(record);
  if (result == SV_OK) {
    record.selector = selector;
    result = sv_sys_call(sv, ORVELLO_REQ_MONITORINFO, &record);
    std::memcpy(buffer, record.info, static_cast<std::size_t>(std::min(buffersize, monitor_maximum)));
  }
  if (traces(sv, result)) sv_trace(sv, "sv_monitorinfo(sv,...) = %s\n", errortext_lookup(result));
  return result;
}

int sv_realtimeclock(sv_handle *sv, int, sv_rtc_time *rtc, int flags) {
  if (sv == nullptr) return SV_ERROR_SVNULL;
  int result = check_handle(sv);
  if (rtc != nullptr) {
    std::memset(rtc, 0, sizeof *rtc);
  } else {
    result = SV_ERROR_PARAMETER;
  }
  orvello_rtc record;
  prepare(record);
  if (result == SV_OK) {
    record.flags = flags;
    result = sv_sys_call(sv, ORVELLO_REQ_RTC, &record);
    if (result == SV_OK || result == SV_ERROR_WRONG_TIME) {
      std::int32_t *words[8] = {&rtc->year,  &rtc->month,   &rtc->day,     &rtc->weekday,
                                &rtc->hours, &rtc->minutes, &rtc->seconds, &rtc->microseconds};
      for (int i = 0; i < 8; ++i) *words[i] = record.clock[i];
    }
  }
  if (traces(sv, result)) {
    const std::int32_t *c = record.clock;
    sv_trace(sv, "sv_realtimeclock(sv,%04d/%02d/%02d-%02d:%02d:%02d-%06d) = %s\n", c[0], c[1], c[2],
             c[4], c[5], c[6], c[7], errortext_lookup(result));
  }
  return result;
}

int sv_chunkread(sv_handle *sv, void *buffer, int length, int *count) {
  return chunkread(sv, 0, buffer, length, count);
}

int sv_chunkread_select(sv_handle *sv, int selector, void *buffer, int length, int *count) {
  return chunkread(sv, selector, buffer, length, count);
}

int sv_blockpair_read(sv_handle *sv, int32_t *first, int32_t *second) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  orvello_blockpair record;
  prepare(record);
  result = sv_sys_call(sv, ORVELLO_REQ_BLOCKPAIR, &record);
  if (result != SV_OK) return result;
  // The request's second block goes to the caller's first, and the other way round.
  for (int i = 1; i < 34; ++i) {
    if (first != nullptr) first[i] = record.second[i];
    if (second != nullptr) second[i] = record.first[i];
  }
  return SV_OK;
}

int sv_debug_text(sv_handle *sv, const char *text) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  if (text == nullptr) return SV_ERROR_PARAMETER;
  if (std::strchr(text, '?') != nullptr || std::strstr(text, "proxy") != nullptr) return SV_OK;
  const std::size_t length = std::strlen(text);
  if (length > debug_text_limit) return SV_ERROR_PARAMETER;
  orvello_debug record;
  prepare(record);
  record.command = OV_DEBUG_TEXT;
  record.datalength = static_cast<std::uint32_t>(length);
  std::memcpy(record.data, text, length);
  return sv_sys_call(sv, ORVELLO_REQ_DEBUG, &record);
}

int sv_debug_command(sv_handle *sv) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  orvello_debug record;
  prepare(record);
  record.command = OV_DEBUG_COMMAND;
  return sv_sys_call(sv, ORVELLO_REQ_DEBUG, &record);
}

}  // extern "C"
