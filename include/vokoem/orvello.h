/*
 * Driver request records. Every record begins with the request header and is sent with
 * sv_sys_call(). Callers clear the record, set size and magic, then their own fields.
 * All words are 32-bit little-endian; the layouts are checked at build time.
 */
#ifndef VOKOEM_ORVELLO_H
#define VOKOEM_ORVELLO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ORVELLO_MAGIC 11203 /* 0x2BC3: what a caller stores in the magic word */

/* Request codes. */
#define ORVELLO_REQ_OPEN 15
#define ORVELLO_REQ_STATUS_WORDS 17
#define ORVELLO_REQ_DEBUG 18
#define ORVELLO_REQ_STATUS_RASTER 21
#define ORVELLO_REQ_STATUS_MODE 26
#define ORVELLO_REQ_CHUNKREAD 38
#define ORVELLO_REQ_TRACE 39
#define ORVELLO_REQ_STATUS_DEVICE 42
#define ORVELLO_REQ_FIFO 54
#define ORVELLO_REQ_VERSION 63
#define ORVELLO_REQ_RASTER 64
#define ORVELLO_REQ_QUERY 74
#define ORVELLO_REQ_MEMORY 77
#define ORVELLO_REQ_FLASHWRITE 78
#define ORVELLO_REQ_SIMULATOR 79
#define ORVELLO_REQ_FIRMWARE 96
#define ORVELLO_REQ_MONITORINFO 99
#define ORVELLO_REQ_BLOCKPAIR 100
#define ORVELLO_REQ_HWVERIFY 108
#define ORVELLO_REQ_RTC 128
#define ORVELLO_REQ_DIRECT 150

/* Device control codes. */
#define ORVELLO_IOCTL_CALL 259 /* every request through sv_sys_call, and the open request */
#define ORVELLO_IOCTL_POST 256 /* posted requests, sv_sys_post */

/* Debug commands of ORVELLO_REQ_DEBUG. */
#define OV_DEBUG_R_FLASH 61
#define OV_DEBUG_FLASHINFO 73
#define OV_DEBUG_TEXT 85
#define OV_DEBUG_COMMAND 87

typedef struct orvello_header {
  uint32_t size;  /* bytes of the whole record */
  uint32_t magic; /* ORVELLO_MAGIC; replaced by the request magic while in flight */
  uint32_t code;  /* request code, written by sv_sys_call */
  int32_t result; /* written by the driver */
} orvello_header;

/* The open request, kept pending by the driver for the life of the handle. */
typedef struct orvello_open {
  orvello_header header;
  int32_t openprogram;
  uint32_t opentype;
  uint32_t requestmagic; /* out; bits 24-27: the simulator's per-open number */
  uint32_t unused28;
  uint32_t traceflags;    /* out */
  uint32_t driverversion; /* out, packed version word */
  uint32_t openinfo1;     /* out */
  uint32_t openinfo2;     /* out */
  int32_t card;
  int32_t channel;
  uint32_t openinfo3; /* out */
  uint32_t unused60;
} orvello_open;

typedef struct orvello_query {
  orvello_header header;
  int32_t query;
  int32_t parameter;
  int32_t value; /* out */
} orvello_query;

/* Debug request: flash word reads, flash information, debug texts and commands. */
typedef struct orvello_debug {
  orvello_header header;
  uint32_t command;
  uint32_t parameter;
  uint32_t parameter2;
  uint32_t value; /* out */
  uint32_t reserved[3];
  uint32_t datalength;
  char data[256];
} orvello_debug;

/* Flash write of one whole 4 MiB region, data and description in the sender's memory. */
typedef struct orvello_flashwrite {
  orvello_header header;
  uint64_t data;        /* address of the region's bytes */
  uint64_t description; /* address of a 256-byte NUL-terminated text */
  uint32_t length;
  uint32_t kind;
  uint32_t map;
  uint32_t version; /* packed version word */
  uint32_t option;
  uint32_t reserved[3];
} orvello_flashwrite;

typedef struct orvello_version {
  orvello_header header;
  uint32_t device;
  uint32_t module;
  uint32_t ndevices; /* out */
  uint32_t nmodules; /* out, driver modules of the device */
  uint32_t version;  /* out, packed version word */
  uint32_t date;     /* out, BCD */
  uint32_t time;     /* out, BCD */
  uint32_t flags;    /* out */
  char name[32];     /* out */
  char comment[64];  /* out */
} orvello_version;

typedef struct orvello_firmware {
  orvello_header header;
  uint32_t current[4];
  uint32_t recommended[4];
  uint32_t kind;
  uint32_t currentx, recommendedx;
  uint32_t currenty, recommendedy;
  uint32_t currentz, recommendedz;
  uint32_t further[18];
} orvello_firmware;

typedef struct orvello_hwverify {
  orvello_header header;
  int32_t result[5];
  int32_t reserved[8];
} orvello_hwverify;

typedef struct orvello_raster {
  orvello_header header;
  int32_t rasterid;
  int32_t nrasters; /* out */
  int32_t zero;
  int32_t reserved[7];
  unsigned char definition[332]; /* out */
} orvello_raster;

typedef struct orvello_monitorinfo {
  orvello_header header;
  int32_t selector;
  int32_t reserved[7];
  unsigned char info[256]; /* out */
} orvello_monitorinfo;

typedef struct orvello_rtc {
  orvello_header header;
  int32_t zero;
  int32_t flags;
  int32_t reserved[6];
  int32_t clock[8]; /* out */
} orvello_rtc;

typedef struct orvello_chunkread {
  orvello_header header;
  int32_t count; /* in 512; out bytes delivered */
  int32_t selector;
  unsigned char data[512];
} orvello_chunkread;

typedef struct orvello_blockpair {
  orvello_header header;
  int32_t first[66];
  int32_t second[66];
} orvello_blockpair;

typedef struct orvello_trace {
  orvello_header header;
  uint32_t zero[2];
  char line[512];
} orvello_trace;

/* FIFO and direct-access requests carry their jack number first. */
typedef struct orvello_fifo {
  orvello_header header;
  uint32_t jack;
} orvello_fifo;

typedef struct orvello_direct {
  orvello_header header;
  uint32_t jack;
} orvello_direct;

#ifdef __cplusplus
}
#endif

#endif /* VOKOEM_ORVELLO_H */
