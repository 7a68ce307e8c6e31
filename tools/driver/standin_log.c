/* The driver's log: text lines in a ring that the control device hands out by position. */
#include "standin.h"

#define RING_SIZE 0x10000u /* a power of two */

static char ring[RING_SIZE];
static ULONG end; /* bytes ever written; the ring holds the last RING_SIZE of them */
static KSPIN_LOCK lock;
static LARGE_INTEGER start, frequency;

void log_init(void) {
  KeInitializeSpinLock(&lock);
  end = 0;
  start = KeQueryPerformanceCounter(&frequency);
}

ULONG clock_ms(void) {
  LARGE_INTEGER now = KeQueryPerformanceCounter(NULL);
  if (frequency.QuadPart == 0) return 0;
  return (ULONG)((now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
}

void log_line(const char *format, ...) {
  char text[256];
  const ULONG ms = clock_ms();
  int used = _snprintf(text, sizeof text, "%lu.%03lu ", ms / 1000, ms % 1000);
  if (used < 0) used = 0;
  va_list args;
  va_start(args, format);
  int more = _vsnprintf(text + used, sizeof text - 2 - used, format, args);
  va_end(args);
  /* _vsnprintf gives -1 and no terminator when the text is cut */
  ULONG length = more < 0 ? sizeof text - 2 : (ULONG)(used + more);
  text[length++] = '\n';

  KIRQL irql;
  KeAcquireSpinLock(&lock, &irql);
  for (ULONG i = 0; i < length; ++i) ring[(end + i) & (RING_SIZE - 1)] = text[i];
  end += length;
  KeReleaseSpinLock(&lock, irql);
}

ULONG log_read(ULONG position, char *out, ULONG room, ULONG *end_position) {
  KIRQL irql;
  KeAcquireSpinLock(&lock, &irql);
  const ULONG first = end > RING_SIZE ? end - RING_SIZE : 0;
  if (position < first || position > end) {
    /* from the oldest whole line kept */
    position = first;
    if (first != 0) {
      while (position < end && ring[position & (RING_SIZE - 1)] != '\n') ++position;
      if (position < end) ++position;
    }
  }
  ULONG count = end - position;
  if (count > room) count = room;
  for (ULONG i = 0; i < count; ++i) out[i] = ring[(position + i) & (RING_SIZE - 1)];
  *end_position = position + count;
  KeReleaseSpinLock(&lock, irql);
  return count;
}

void log_clear(void) {
  KIRQL irql;
  KeAcquireSpinLock(&lock, &irql);
  end = 0;
  KeReleaseSpinLock(&lock, irql);
}

ULONG log_end(void) { return end; }
