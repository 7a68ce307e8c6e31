/*
 * The board that the stand-in driver plays on each device: the simulator's default Vantrel
 * board as tables (queries, version table, firmware words) and a flash array, with the faults
 * that the options ask for.
 */
#include "standin.h"
#include "vokoem/orvello.h"
#include "vokoem/vokoem_codes.h"

static ULONG get32(const UCHAR *r, ULONG size, ULONG offset) {
  ULONG value = 0;
  if (offset + 4 <= size) RtlCopyMemory(&value, r + offset, 4);
  return value;
}

static void put32(UCHAR *r, ULONG size, ULONG offset, ULONG value) {
  if (offset + 4 <= size) RtlCopyMemory(r + offset, &value, 4);
}

static void put_text(UCHAR *r, ULONG size, ULONG offset, ULONG field, const char *text) {
  if (offset + field > size) return;
  RtlZeroMemory(r + offset, field);
  for (ULONG i = 0; i + 1 < field && text[i] != '\0'; ++i) r[offset + i] = (UCHAR)text[i];
}

static void copy_text(char *to, ULONG room, const char *from, ULONG length) {
  ULONG i = 0;
  for (; i + 1 < room && i < length && from[i] != '\0'; ++i) to[i] = from[i];
  to[i] = '\0';
}

/* The version table's rows before the flash regions. */
typedef struct module_row {
  const char *name;
  ULONG date, time;
  const char *comment;
} module_row;

static const module_row modules[] = {
    {"driver", 0x14112011, 0x591100, "vokdriver"},
    {"cpld", 0, 0, "board logic"},
};
#define MODULE_COUNT (sizeof modules / sizeof modules[0])

/* The flash regions 1 to 4 before anything is written. */
static const char *const region_comments[] = {"fx 20110301 33.7", "s1 20081120 1.14.18",
                                              "s2 20091016 1.0", "sx 20090403 2.14"};

void board_init(standin_board *board, int number) {
  RtlZeroMemory(board, sizeof *board);
  board->number = number;
  KeInitializeSpinLock(&board->lock);
  for (int map = 1; map < STANDIN_REGIONS; ++map) {
    standin_region *region = &board->region[map];
    region->version = 0x07010021; /* 1.7.33.7 */
    region->date = 0x01032011;    /* 2011/03/01 */
    region->time = 0x151000;      /* 10:15 */
    copy_text(region->comment, sizeof region->comment, region_comments[map - 1], 64);
  }
}

void board_release(standin_board *board) {
  if (board->flash != NULL) ExFreePoolWithTag(board->flash, STANDIN_POOL_TAG);
  board->flash = NULL;
}

ULONG board_open_reply(standin_board *board, UCHAR *r, ULONG size) {
  ULONG number = (ULONG)InterlockedIncrement((LONG *)&board->opennumber);
  number = (number - 1) % 15 + 1; /* 1 to 15, in bits 24 to 27 of the request magic */
  const ULONG magic = ORVELLO_MAGIC | number << 24;
  put32(r, size, 24, magic);
  put32(r, size, 32, options.TraceFlags);
  put32(r, size, 36, options.DriverVersion);
  put32(r, size, 40, 0x0F1A0001); /* open information, carried by the library unread */
  put32(r, size, 44, 0x0F1A0002);
  put32(r, size, 56, 0x0F1A0003);
  return magic;
}

static int serve_query(standin_board *board, UCHAR *r, ULONG size) {
  ULONG value;
  switch ((LONG)get32(r, size, 16)) {
    case SV_QUERY_VERSION_DRIVER: value = options.DriverVersion; break;
    case SV_QUERY_DEVTYPE: value = options.Type; break;
    case SV_QUERY_HW_CARDOPTIONS: value = options.CardOptions; break;
    case SV_QUERY_TEMPERATURE: value = 41; break;
    case SV_QUERY_SERIALNUMBER: value = options.Serial + (ULONG)board->number; break;
    case SV_QUERY_HW_FLASHSIZE: value = options.FlashSize; break;
    case SV_QUERY_HW_EPLDTYPE: value = options.ChipVersion; break;
    default: return SV_ERROR_NOTIMPLEMENTED;
  }
  put32(r, size, 24, value);
  return SV_OK;
}

static int serve_version(standin_board *board, UCHAR *r, ULONG size) {
  const ULONG device = get32(r, size, 16), index = get32(r, size, 20);
  const ULONG count = MODULE_COUNT + STANDIN_REGIONS - 1;
  if (device != 0 || index >= count) return SV_ERROR_PARAMETER;
  put32(r, size, 24, 1);
  put32(r, size, 28, count);
  if (index < MODULE_COUNT) {
    put32(r, size, 32, index == 0 ? options.DriverVersion : options.CpldVersion);
    put32(r, size, 36, modules[index].date);
    put32(r, size, 40, modules[index].time);
    put_text(r, size, 48, 32, modules[index].name);
    put_text(r, size, 80, 64, modules[index].comment);
  } else {
    const ULONG map = index - MODULE_COUNT + 1;
    char name[16] = "pciflash0";
    name[8] = (char)('0' + map);
    KIRQL irql;
    KeAcquireSpinLock(&board->lock, &irql);
    const standin_region region = board->region[map];
    KeReleaseSpinLock(&board->lock, irql);
    put32(r, size, 32, region.version);
    put32(r, size, 36, region.date);
    put32(r, size, 40, region.time);
    put_text(r, size, 48, 32, name);
    put_text(r, size, 80, 64, region.comment);
  }
  put32(r, size, 44, 0);
  return SV_OK;
}

static int read_flash_word(standin_board *board, UCHAR *r, ULONG size) {
  const ULONG address = get32(r, size, 20);
  if (address % 4 != 0 || address > STANDIN_REGIONS * STANDIN_REGION_SIZE - 4) {
    return SV_ERROR_PARAMETER;
  }
  if (address == options.FailReadAddress) return (int)options.FailReadError;
  ULONG word = 0xFFFFFFFF;
  if (board->flash != NULL) RtlCopyMemory(&word, board->flash + address, 4);
  if (address >= options.FlipAddress && (address - options.FlipAddress) / 4 < options.FlipWords) {
    word = ~word;
  }
  put32(r, size, 28, word);
  return SV_OK;
}

static void trace_line(standin_board *board, const char *text, ULONG length) {
  char line[200];
  copy_text(line, sizeof line, text, length);
  for (ULONG n = (ULONG)strlen(line); n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r');) {
    line[--n] = '\0';
  }
  log_line("board%d trace: %s", board->number, line);
}

static int serve_debug(standin_board *board, UCHAR *r, ULONG size) {
  switch (get32(r, size, 16)) {
    case OV_DEBUG_R_FLASH: return read_flash_word(board, r, size);
    case OV_DEBUG_FLASHINFO: return SV_OK;
    case OV_DEBUG_TEXT: {
      ULONG length = get32(r, size, 44);
      if (length > 255) length = 255;
      if (48 + length > size) return SV_ERROR_PARAMETER;
      trace_line(board, (const char *)r + 48, length);
      return SV_OK;
    }
    case OV_DEBUG_COMMAND: return SV_OK;
    default: return SV_ERROR_NOTIMPLEMENTED;
  }
}

/* The flash, made erased at the first write. */
static UCHAR *board_flash(standin_board *board) {
  if (board->flash != NULL) return board->flash;
  UCHAR *made = ExAllocatePoolWithTag(PagedPool, STANDIN_REGIONS * STANDIN_REGION_SIZE, STANDIN_POOL_TAG);
  if (made == NULL) return NULL;
  RtlFillMemory(made, STANDIN_REGIONS * STANDIN_REGION_SIZE, 0xFF);
  if (InterlockedCompareExchangePointer((PVOID *)&board->flash, made, NULL) != NULL) {
    ExFreePoolWithTag(made, STANDIN_POOL_TAG);
  }
  return board->flash;
}

/* The caller's NUL-terminated text at `address`, read up to its end and never past it (what
 * follows it need not be the caller's), at most `size` - 1 bytes. */
static BOOLEAN reach_text(standin_reach reach, void *context, ULONG64 address, char *text,
                          ULONG size) {
  for (ULONG n = 0; n + 1 < size; ++n) {
    if (!reach(context, address + n, &text[n], 1)) return FALSE;
    if (text[n] == '\0') return TRUE;
  }
  text[size - 1] = '\0';
  return TRUE;
}

/* Everything of the caller's is reached before the flash changes: a write answered with an
 * error leaves the region as it was. */
static int serve_flashwrite(standin_board *board, UCHAR *r, ULONG size, standin_reach reach,
                            void *context) {
  if (size < 64) return SV_ERROR_BUFFERSIZE;
  ULONG64 data, description;
  RtlCopyMemory(&data, r + 16, 8);
  RtlCopyMemory(&description, r + 24, 8);
  const ULONG length = get32(r, size, 32), map = get32(r, size, 40);
  if (map != 0 && map == options.FailWriteMap) return (int)options.FailWriteError;
  if (map >= STANDIN_REGIONS || length != STANDIN_REGION_SIZE) return SV_ERROR_PARAMETER;
  UCHAR *flash = board_flash(board);
  if (flash == NULL) return SV_ERROR_MALLOC;
  char text[256];
  RtlZeroMemory(text, sizeof text);
  if ((description != 0 && !reach_text(reach, context, description, text, sizeof text)) ||
      !reach(context, data, flash + map * STANDIN_REGION_SIZE, STANDIN_REGION_SIZE)) {
    log_line("board%d flash write of map %lu: its data cannot be reached, answered %ld",
             board->number, map, (LONG)options.UnreachableWrite);
    return (int)options.UnreachableWrite;
  }
  KIRQL irql;
  KeAcquireSpinLock(&board->lock, &irql);
  standin_region *region = &board->region[map];
  region->version = get32(r, size, 44);
  region->date = 0;
  region->time = 0;
  copy_text(region->comment, sizeof region->comment, text, sizeof text);
  KeReleaseSpinLock(&board->lock, irql);
  return SV_OK;
}

static int serve_firmware(UCHAR *r, ULONG size) {
  /* Kind 9 firmware, on the board as the driver recommends it: 2.1.4.0-1.2.3. */
  static const ULONG words[] = {2, 1, 4, 0, 2, 1, 4, 0, 9, 0x010203, 0x010203};
  for (ULONG i = 0; i < sizeof words / sizeof words[0]; ++i) put32(r, size, 16 + 4 * i, words[i]);
  return SV_OK;
}

void board_serve(standin_board *board, UCHAR *r, ULONG size, standin_reach reach, void *context) {
  int result;
  switch (get32(r, size, 8)) {
    case ORVELLO_REQ_QUERY: result = serve_query(board, r, size); break;
    case ORVELLO_REQ_VERSION: result = serve_version(board, r, size); break;
    case ORVELLO_REQ_DEBUG: result = serve_debug(board, r, size); break;
    case ORVELLO_REQ_FIRMWARE: result = serve_firmware(r, size); break;
    case ORVELLO_REQ_FLASHWRITE: result = serve_flashwrite(board, r, size, reach, context); break;
    case ORVELLO_REQ_TRACE:
      trace_line(board, (const char *)r + 24, size > 24 ? size - 24 : 0);
      result = SV_OK;
      break;
    default: result = SV_ERROR_NOTIMPLEMENTED;
  }
  put32(r, size, 12, (ULONG)result);
}
