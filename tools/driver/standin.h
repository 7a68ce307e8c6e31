/*
 * The stand-in board driver's parts: its options, the board it plays on each device (tables
 * and a flash array), and its log. Kernel-mode C without a C runtime.
 */
#ifndef STANDIN_H
#define STANDIN_H

#include <ntddk.h>
#include <stdarg.h>

#include "vokdriver_control.h"

/* Exports of ntoskrnl that the DDK headers do not declare. */
int __cdecl _snprintf(char *buffer, size_t count, const char *format, ...);
int __cdecl _vsnprintf(char *buffer, size_t count, const char *format, va_list args);

/* Allocations are tagged "VoVk". */
#define STANDIN_POOL_TAG ((ULONG)('V' | 'o' << 8 | 'V' << 16 | 'k' << 24))

/* ---- Options (standin_options.c) ------------------------------------------------------------ */

typedef struct standin_options {
#define STANDIN_OPTION_FIELD(name, value, meaning) ULONG name;
  VOKDRV_OPTION_LIST(STANDIN_OPTION_FIELD)
#undef STANDIN_OPTION_FIELD
} standin_options;

extern standin_options options;

/* Takes the defaults, then the values found under the service's Parameters key. */
void options_load(PUNICODE_STRING service_key);
/* Sets one option by name; FALSE for an unknown name or one fixed at load. */
BOOLEAN options_set(const char *name, ULONG value);

/* The end of user space as the system probes a caller's buffer, by the pointer width; below
 * it on x64 every address is canonical. */
#if UINTPTR_MAX > 0xFFFFFFFFu
#define STANDIN_USER_LIMIT ((ULONG64)0x00007FFFFFFF0000ULL)
#else
#define STANDIN_USER_LIMIT ((ULONG64)0x7FFF0000UL)
#endif

/* Whether `length` bytes at `address` lie in user space, without wrapping, aligned to
 * `alignment`. What can be checked without structured exception handling, which MinGW's C
 * lacks: a page that is not there still stops the machine (the stand-in is for test machines
 * only). */
static inline BOOLEAN standin_in_user_space(ULONG64 address, ULONG64 length, ULONG alignment) {
  return address != 0 && address % alignment == 0 && address < STANDIN_USER_LIMIT &&
         length <= STANDIN_USER_LIMIT - address;
}

/* ---- The board (standin_board.c) ------------------------------------------------------------ */

#define STANDIN_REGION_SIZE 0x400000u
#define STANDIN_REGIONS 5
#define STANDIN_RECORD_LIMIT 1024u /* the largest request record served */

typedef struct standin_region {
  ULONG version; /* packed version word */
  ULONG date;    /* BCD */
  ULONG time;    /* BCD */
  char comment[64];
} standin_region;

typedef struct standin_board {
  int number;
  KSPIN_LOCK lock;         /* the flash and the regions */
  UCHAR *flash;            /* all regions, made at the first write; until then erased (0xFF) */
  standin_region region[STANDIN_REGIONS];
  ULONG opennumber;        /* 1 to 15, the last open's number */
} standin_board;

/* Reads `length` bytes at a request's address in the caller's memory; FALSE where the driver
 * cannot reach it. */
typedef BOOLEAN (*standin_reach)(void *context, ULONG64 address, void *into, ULONG length);

void board_init(standin_board *board, int number);
void board_release(standin_board *board);
/* The reply of an open request: request magic, trace flags, driver version, open words.
 * Returns the request magic given. */
ULONG board_open_reply(standin_board *board, UCHAR *record, ULONG size);
/* Serves one request record in place and writes its result word. */
void board_serve(standin_board *board, UCHAR *record, ULONG size, standin_reach reach,
                 void *context);

/* ---- The log (standin_log.c) ---------------------------------------------------------------- */

void log_init(void);
/* Appends one line, "<ms since load> <text>", cut to 255 characters. */
void log_line(const char *format, ...);
/* Copies the text from `position` into `out` (at most `room` bytes); returns the bytes copied
 * and puts the log's end position in *end. */
ULONG log_read(ULONG position, char *out, ULONG room, ULONG *end);
void log_clear(void);
ULONG log_end(void);
/* Milliseconds since the driver loaded. */
ULONG clock_ms(void);

#endif /* STANDIN_H */
