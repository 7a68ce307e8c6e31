/*
 * Just enough of the kernel's interface for the stand-in driver's board to run in a test
 * process on the build machine: its types, memory and pool calls, and single-threaded locks and
 * interlocked operations (the tests call the board from one thread).
 */
#ifndef VOK_TEST_NTDDK_H
#define VOK_TEST_NTDDK_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef unsigned char UCHAR;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uint64_t ULONG64;
typedef uintptr_t ULONG_PTR;
typedef unsigned char BOOLEAN;
typedef void *PVOID;
typedef UCHAR KIRQL;
typedef ULONG_PTR KSPIN_LOCK;
typedef struct UNICODE_STRING UNICODE_STRING, *PUNICODE_STRING;

#define TRUE 1
#define FALSE 0
#define __cdecl
#define PagedPool 1

#define RtlCopyMemory(to, from, n) memcpy((to), (from), (n))
#define RtlZeroMemory(to, n) memset((to), 0, (n))
#define RtlFillMemory(to, n, value) memset((to), (value), (n))
#define ExAllocatePoolWithTag(pool, n, tag) malloc(n)
#define ExFreePoolWithTag(p, tag) free(p)
#define KeInitializeSpinLock(lock) (*(lock) = 0)
#define KeAcquireSpinLock(lock, irql) (*(irql) = 0)
#define KeReleaseSpinLock(lock, irql) ((void)(irql))

static inline LONG InterlockedIncrement(LONG volatile *value) {
  const LONG next = *value + 1;
  *value = next;
  return next;
}
static inline PVOID InterlockedCompareExchangePointer(PVOID volatile *target, PVOID value,
                                                      PVOID comparand) {
  PVOID was = *target;
  if (was == comparand) *target = value;
  return was;
}

#endif
