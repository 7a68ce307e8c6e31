/*
 * vokoem: client library of the Vantrel video board.
 *
 * A board is opened by a short setup string ("PCI,card:0"), queried, and closed again.
 * Every call returns an error code: SV_OK (0), a positive SV_ERROR_ code, or SV_ACTIVE (-1)
 * for a request still in flight. The texts of the codes come from errortext_lookup().
 *
 * The header is plain C; every record has a fixed layout of 32-bit little-endian words.
 */
#ifndef VOKOEM_VOKOEM_H
#define VOKOEM_VOKOEM_H

#include <stddef.h>
#include <stdint.h>

#include "vokoem/vokoem_codes.h"
#include "vokoem/vokoem_export.h"
#include "vokoem/orvello.h"
#include "vokoem/vokoem_version.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One open board. Created by sv_open()/sv_openex(), released by sv_close(). */
typedef struct sv_handle sv_handle;

/* The platform's overlapped completion record (the layout of Win32's OVERLAPPED). */
typedef struct sv_overlapped {
  uintptr_t internal;     /* status: 259 while a request on this record is in flight */
  uintptr_t internalhigh; /* byte count */
  uint32_t offset;
  uint32_t offsethigh;
  void *event; /* manual-reset event of the slot */
} sv_overlapped;

/* Module version record of sv_version_status(); 144 bytes. */
typedef struct sv_version {
  uint32_t version;    /* record form: minor 24-31, major 16-23, fix 8-15, patch 0-7 */
  uint32_t flags;      /* bit 0: beta release */
  uint32_t betanumber; /* always 0 from this library */
  uint32_t date;       /* BCD: day 24-31, month 16-23, year 0-15 */
  uint32_t time;       /* BCD: minutes 16-23, hours 8-15 */
  uint32_t ndevices;
  uint32_t nmodules;
  char comment[64];
  char name[32];
  char reserved[20];
} sv_version;

/* Composite status record of sv_status(); 64 words. */
typedef struct sv_status_info {
  int32_t word[64];
} sv_status_info;

/* Hardware verification record of sv_hwverify(). */
typedef struct sv_hwverify_info {
  int32_t version; /* always 1 */
  int32_t result[5];
} sv_hwverify_info;

/* Real-time clock record of sv_realtimeclock(); 16 words. */
typedef struct sv_rtc_time {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t weekday; /* passed through from the driver */
  int32_t hours;
  int32_t minutes;
  int32_t seconds;
  int32_t microseconds;
  int32_t spare[8];
} sv_rtc_time;

/* Handle, open and close. */
VOKOEM_API sv_handle *sv_open(const char *setup);
VOKOEM_API sv_handle *sv_open_forward(const char *setup);
VOKOEM_API int sv_openex(sv_handle **psv, const char *setup, int openprogram, int opentype,
                         int timeout, int spare);
VOKOEM_API int sv_openex_forward(sv_handle **psv, const char *setup, int openprogram,
                                 int opentype, int timeout, int spare);
VOKOEM_API int sv_close(sv_handle *sv);

/* The driver request channel: one request record, sent and completed. */
VOKOEM_API int sv_sys_call(sv_handle *sv, int code, void *record);
VOKOEM_API int sv_sys_post(sv_handle *sv, int code, void *record, sv_overlapped *completion);
VOKOEM_API int sv_sys_finish(sv_handle *sv, void *record, sv_overlapped *completion, int posted);

/* Queries, status, versions. */
VOKOEM_API int sv_query(sv_handle *sv, int cmd, int par, int *presult);
VOKOEM_API int sv_status(sv_handle *sv, sv_status_info *info);
VOKOEM_API int sv_hwverify(sv_handle *sv, sv_hwverify_info *info);
VOKOEM_API int sv_version_status(sv_handle *sv, sv_version *pversion, int versionsize,
                                 int deviceid, int moduleid, int spare);
VOKOEM_API int sv_version_check(sv_handle *sv, int major, int minor, int patch, int fix);
VOKOEM_API int sv_firmware_strings(sv_handle *sv, char *current, int currentsize,
                                   char *recommended, int recommendedsize);
VOKOEM_API int sv_firmware_check(sv_handle *sv, char *message, int messagesize);

/* Raster, monitor, clock and debug transfers. */
VOKOEM_API int sv_raster_status(sv_handle *sv, int rasterid, void *raster, unsigned rastersize,
                                int *nrasters, int spare);
VOKOEM_API int sv_monitorinfo(sv_handle *sv, int selector, void *buffer, int buffersize);
VOKOEM_API int sv_realtimeclock(sv_handle *sv, int unused, sv_rtc_time *rtc, int flags);
VOKOEM_API int sv_chunkread(sv_handle *sv, void *buffer, int length, int *count);
VOKOEM_API int sv_chunkread_select(sv_handle *sv, int selector, void *buffer, int length,
                                   int *count);
VOKOEM_API int sv_blockpair_read(sv_handle *sv, int32_t *first, int32_t *second);
VOKOEM_API int sv_debug_text(sv_handle *sv, const char *text);
VOKOEM_API int sv_debug_command(sv_handle *sv);

/* Call trace and library services. */
VOKOEM_API void sv_trace(sv_handle *sv, const char *format, ...);
VOKOEM_API int os_sleep(sv_handle *sv, int microseconds);
VOKOEM_API int os_versiontext(sv_handle *sv, char *version, char *builddate);
VOKOEM_API int sv_debug_request(sv_handle *sv, int command, int par1, int par2, int *presult);

/* Error codes and texts. The texts are static; never null. */
VOKOEM_API const char *errortext_lookup(int code);
VOKOEM_API const char *sv_errortext(sv_handle *sv, int code);
VOKOEM_API const char *sv_errortext_forward(sv_handle *sv, int code);
VOKOEM_API int print_error_text(sv_handle *sv, int code);

/* Code names. A code that a table does not hold gives "?". */
VOKOEM_API const char *master_name(int code);
VOKOEM_API const char *query_name(int code);
VOKOEM_API const char *option_name(int code);
VOKOEM_API const char *vtrslave_name(int code);
VOKOEM_API const char *matrix_name(int code);
VOKOEM_API const char *matrixtype_name(int code);
VOKOEM_API const char *query_value_name(sv_handle *sv, int query, int value);
VOKOEM_API const char *option_value_name(sv_handle *sv, int option, int value);
VOKOEM_API int devtype_to_driver(int devtype);
VOKOEM_API int driver_to_devtype(int cardtype);

/* Timecode text and coded words. */
VOKOEM_API int timecode_to_text(sv_handle *sv, int timecode, char *text);
VOKOEM_API int text_to_timecode(sv_handle *sv, const char *text, int *ptimecode);
VOKOEM_API uint32_t read_marked_word(const void *bytes, int samples, int step);
VOKOEM_API uint32_t read_spaced_word(const void *bytes, int index);

#ifdef __cplusplus
}
#endif

#endif /* VOKOEM_VOKOEM_H */
