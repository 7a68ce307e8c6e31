// The fixed layouts of the public records, checked at build time on every target.
#include <cstddef>

#include "sv_internal.h"

#define VOK_AT(record, field, offset) static_assert(offsetof(record, field) == (offset))
#define VOK_SIZE(record, size) static_assert(sizeof(record) == (size))

VOK_SIZE(orvello_header, 16);
VOK_AT(orvello_header, magic, 4);
VOK_AT(orvello_header, code, 8);
VOK_AT(orvello_header, result, 12);

VOK_SIZE(orvello_open, 64);
VOK_AT(orvello_open, openprogram, 16);
VOK_AT(orvello_open, opentype, 20);
VOK_AT(orvello_open, requestmagic, 24);
VOK_AT(orvello_open, traceflags, 32);
VOK_AT(orvello_open, driverversion, 36);
VOK_AT(orvello_open, openinfo1, 40);
VOK_AT(orvello_open, openinfo2, 44);
VOK_AT(orvello_open, card, 48);
VOK_AT(orvello_open, channel, 52);
VOK_AT(orvello_open, openinfo3, 56);

VOK_SIZE(orvello_query, 28);
VOK_AT(orvello_query, query, 16);
VOK_AT(orvello_query, parameter, 20);
VOK_AT(orvello_query, value, 24);

VOK_SIZE(orvello_debug, 304);
VOK_AT(orvello_debug, command, 16);
VOK_AT(orvello_debug, parameter, 20);
VOK_AT(orvello_debug, parameter2, 24);
VOK_AT(orvello_debug, value, 28);
VOK_AT(orvello_debug, datalength, 44);
VOK_AT(orvello_debug, data, 48);

VOK_SIZE(orvello_flashwrite, 64);
VOK_AT(orvello_flashwrite, data, 16);
VOK_AT(orvello_flashwrite, description, 24);
VOK_AT(orvello_flashwrite, length, 32);
VOK_AT(orvello_flashwrite, kind, 36);
VOK_AT(orvello_flashwrite, map, 40);
VOK_AT(orvello_flashwrite, version, 44);
VOK_AT(orvello_flashwrite, option, 48);

VOK_SIZE(orvello_version, 144);
VOK_AT(orvello_version, device, 16);
VOK_AT(orvello_version, module, 20);
VOK_AT(orvello_version, ndevices, 24);
VOK_AT(orvello_version, nmodules, 28);
VOK_AT(orvello_version, version, 32);
VOK_AT(orvello_version, date, 36);
VOK_AT(orvello_version, time, 40);
VOK_AT(orvello_version, flags, 44);
VOK_AT(orvello_version, name, 48);
VOK_AT(orvello_version, comment, 80);

VOK_SIZE(orvello_firmware, 148);
VOK_AT(orvello_firmware, current, 16);
VOK_AT(orvello_firmware, recommended, 32);
VOK_AT(orvello_firmware, kind, 48);
VOK_AT(orvello_firmware, currentx, 52);
VOK_AT(orvello_firmware, recommendedx, 56);
VOK_AT(orvello_firmware, currenty, 60);
VOK_AT(orvello_firmware, recommendedy, 64);
VOK_AT(orvello_firmware, currentz, 68);
VOK_AT(orvello_firmware, recommendedz, 72);

VOK_SIZE(orvello_hwverify, 68);
VOK_AT(orvello_hwverify, result, 16);
VOK_SIZE(orvello_raster, 388);
VOK_AT(orvello_raster, nrasters, 20);
VOK_AT(orvello_raster, definition, 56);
VOK_SIZE(orvello_monitorinfo, 304);
VOK_AT(orvello_monitorinfo, info, 48);
VOK_SIZE(orvello_rtc, 80);
VOK_AT(orvello_rtc, flags, 20);
VOK_AT(orvello_rtc, clock, 48);
VOK_SIZE(orvello_chunkread, 536);
VOK_AT(orvello_chunkread, selector, 20);
VOK_AT(orvello_chunkread, data, 24);
VOK_SIZE(orvello_blockpair, 544);
VOK_AT(orvello_blockpair, second, 280);
VOK_SIZE(orvello_trace, 536);
VOK_AT(orvello_trace, line, 24);
VOK_AT(orvello_fifo, jack, 16);
VOK_AT(orvello_direct, jack, 16);

VOK_SIZE(sv_version, 144);
VOK_AT(sv_version, nmodules, 24);
VOK_AT(sv_version, comment, 28);
VOK_AT(sv_version, name, 92);
VOK_AT(sv_version, reserved, 124);
VOK_SIZE(sv_status_info, 256);
VOK_SIZE(sv_hwverify_info, 24);
VOK_SIZE(sv_rtc_time, 64);
VOK_AT(sv_rtc_time, hours, 16);
VOK_AT(sv_rtc_time, microseconds, 28);
