/*
 * vokdriver.sys: a stand-in for the Vantrel board's kernel driver. It makes the devices
 * \Device\VOKDriver<n> (\\.\VOKDriver<n>) that the options name, plays a board on each, keeps
 * each client's open request pending until it is cancelled, holds requests pending when asked
 * to, and logs what it sees. Its own control device, \\.\VOKDriverControl, hands out that log
 * and the counters, and takes changed options.
 *
 * Requests arrive with control code 259 (transfer method neither: the record is read at
 * Type3InputBuffer and the answer written to Irp->UserBuffer, the same record on Windows, two
 * copies under Wine) or 256 (buffered: the system buffer).
 */
#include "standin.h"
#include "vokoem/orvello.h"
#include "vokoem/vokoem_codes.h"

#define OPENPROGRAM_IMMEDIATE 14 /* the one open program whose open completes at once */

typedef struct device_ext {
  BOOLEAN control; /* the control device, not a board */
  int number;
  standin_board board;
  vokdrv_board_state state; /* counted with interlocked operations */
} device_ext;

/* What the driver keeps of one open file of a board. */
typedef struct file_ext {
  ULONG number; /* the board's count of creates when it was made */
  ULONG magic;  /* the request magic that its open request gave */
} file_ext;

static PDEVICE_OBJECT boards[VOKDRV_MAX_DEVICES];
static PDEVICE_OBJECT control_device;
static volatile LONG caller_context;

#define COUNT(ext, field) InterlockedIncrement((volatile LONG *)&(ext)->state.field)
#define UNCOUNT(ext, field) InterlockedDecrement((volatile LONG *)&(ext)->state.field)

/* ---- Requests left pending ------------------------------------------------------------------ */

typedef enum wait_kind { WAIT_NONE, WAIT_OPEN, WAIT_HELD, WAIT_CANCELLING } wait_kind;

typedef struct waiting {
  PIRP irp;
  device_ext *ext;
  PFILE_OBJECT file;
  wait_kind kind;
  BOOLEAN timed;  /* completes at `due` (the worker does it) */
  ULONG due;      /* clock_ms() */
  ULONG size;     /* bytes of the answer */
  ULONG code;
} waiting;

#define WAITING_LIMIT 64
static waiting table[WAITING_LIMIT];
static KSPIN_LOCK table_lock;
static KEVENT wake;
static volatile LONG stopping;
static PVOID worker_thread;

static void complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

static void complete_cancelled(device_ext *ext, PIRP irp, ULONG code) {
  COUNT(ext, cancels);
  log_line("board%d request %lu cancelled: completed", ext->number, code);
  complete(irp, STATUS_CANCELLED, 0);
}

/* Forgets a waiting request; with the table lock held. */
static void forget(waiting *w) {
  if (w->kind == WAIT_OPEN) UNCOUNT(w->ext, pending_open);
  if (w->kind == WAIT_HELD) UNCOUNT(w->ext, pending_held);
  if (w->kind == WAIT_CANCELLING) UNCOUNT(w->ext, cancelling);
  RtlZeroMemory(w, sizeof *w);
}

static waiting *find(PIRP irp) {
  for (int i = 0; i < WAITING_LIMIT; ++i) {
    if (table[i].irp == irp) return &table[i];
  }
  return NULL;
}

static void NTAPI cancel(PDEVICE_OBJECT device, PIRP irp) {
  (void)device;
  IoReleaseCancelSpinLock(irp->CancelIrql);
  KIRQL irql;
  KeAcquireSpinLock(&table_lock, &irql);
  waiting *w = find(irp);
  if (w == NULL) { /* not left pending by this driver */
    KeReleaseSpinLock(&table_lock, irql);
    complete(irp, STATUS_CANCELLED, 0);
    return;
  }
  device_ext *ext = w->ext;
  const ULONG code = w->code, delay = options.CancelDelayMs;
  log_line("board%d request %lu cancelled%s", ext->number, code,
           delay != 0 ? ": its completion is delayed" : "");
  if (delay != 0) {
    forget(w);
    w->irp = irp;
    w->ext = ext;
    w->code = code;
    w->kind = WAIT_CANCELLING;
    COUNT(ext, cancelling);
    w->timed = TRUE;
    w->due = clock_ms() + delay;
    KeReleaseSpinLock(&table_lock, irql);
    KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
    return;
  }
  forget(w);
  KeReleaseSpinLock(&table_lock, irql);
  complete_cancelled(ext, irp, code);
}

/* Leaves a request pending until it is cancelled, or until `hold_ms` have passed (0: no limit).
 * Its answer is in place already. Returns STATUS_PENDING. */
static NTSTATUS leave_pending(device_ext *ext, PIRP irp, wait_kind kind, ULONG code, ULONG size,
                              ULONG hold_ms) {
  IoMarkIrpPending(irp);
  KIRQL irql;
  KeAcquireSpinLock(&table_lock, &irql);
  waiting *w = find(NULL);
  if (w == NULL) {
    KeReleaseSpinLock(&table_lock, irql);
    log_line("board%d request %lu: more than %d requests pending", ext->number, code,
             WAITING_LIMIT);
    complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    return STATUS_PENDING;
  }
  w->irp = irp;
  w->ext = ext;
  w->file = IoGetCurrentIrpStackLocation(irp)->FileObject;
  w->kind = kind;
  w->code = code;
  w->size = size;
  w->timed = hold_ms != 0;
  w->due = clock_ms() + hold_ms;
  if (kind == WAIT_OPEN) COUNT(ext, pending_open);
  if (kind == WAIT_HELD) COUNT(ext, pending_held);
  IoSetCancelRoutine(irp, cancel);
  if (irp->Cancel && IoSetCancelRoutine(irp, NULL) != NULL) {
    forget(w);
    KeReleaseSpinLock(&table_lock, irql);
    complete_cancelled(ext, irp, code);
    return STATUS_PENDING;
  }
  KeReleaseSpinLock(&table_lock, irql);
  log_line("board%d request %lu pending%s", ext->number, code,
           hold_ms != 0 ? ", completes later" : " until cancelled");
  if (hold_ms != 0) KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
  return STATUS_PENDING;
}

/* Completes the pending requests of a file that goes away, as cancelled. */
static void cancel_file(PFILE_OBJECT file) {
  PIRP taken[WAITING_LIMIT];
  device_ext *exts[WAITING_LIMIT];
  ULONG codes[WAITING_LIMIT];
  int count = 0;
  KIRQL irql;
  KeAcquireSpinLock(&table_lock, &irql);
  for (int i = 0; i < WAITING_LIMIT; ++i) {
    waiting *w = &table[i];
    if (w->irp == NULL || w->file != file || w->kind == WAIT_CANCELLING) continue;
    if (IoSetCancelRoutine(w->irp, NULL) == NULL) continue; /* its cancel is under way */
    taken[count] = w->irp;
    exts[count] = w->ext;
    codes[count++] = w->code;
    forget(w);
  }
  KeReleaseSpinLock(&table_lock, irql);
  for (int i = 0; i < count; ++i) complete_cancelled(exts[i], taken[i], codes[i]);
}

/* Completes the held requests and delayed cancels whose time has come. */
static void NTAPI worker(PVOID unused) {
  (void)unused;
  while (!stopping) {
    PIRP done[16];
    waiting was[16];
    int count = 0;
    LONG next = -1; /* ms until the next due request; -1: none */
    KIRQL irql;
    KeAcquireSpinLock(&table_lock, &irql);
    const ULONG now = clock_ms();
    for (int i = 0; i < WAITING_LIMIT; ++i) {
      waiting *w = &table[i];
      if (w->irp == NULL || !w->timed) continue;
      const LONG left = (LONG)(w->due - now);
      if (left > 0 || count == 16) {
        if (next < 0 || (left > 0 ? left : 0) < next) next = left > 0 ? left : 0;
        continue;
      }
      if (w->kind == WAIT_HELD && IoSetCancelRoutine(w->irp, NULL) == NULL) {
        w->timed = FALSE; /* its cancel routine is under way and takes it */
        continue;
      }
      was[count] = *w;
      done[count++] = w->irp;
      forget(w);
    }
    KeReleaseSpinLock(&table_lock, irql);
    for (int i = 0; i < count; ++i) {
      if (was[i].kind == WAIT_CANCELLING) {
        complete_cancelled(was[i].ext, done[i], was[i].code);
      } else {
        log_line("board%d request %lu completed", was[i].ext->number, was[i].code);
        complete(done[i], STATUS_SUCCESS, was[i].size);
      }
    }
    LARGE_INTEGER timeout;
    timeout.QuadPart = -10000LL * (next < 0 ? 0 : next); /* relative, in 100 ns */
    KeWaitForSingleObject(&wake, Executive, KernelMode, FALSE, next < 0 ? NULL : &timeout);
  }
  PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---- Board requests ------------------------------------------------------------------------- */

/* On Windows the driver lives in kernel space and a device control request reaches it in the
 * thread of the process that sent it, whose memory the addresses in a record name. Under Wine it
 * lives in a process of its own (winedevice), at a user-space address, with copies of the
 * records: the addresses in them name memory of another process. */
#if defined(_WIN64)
#define KERNEL_SPACE ((ULONG_PTR)0xFFFF800000000000ULL)
#else
#define KERNEL_SPACE ((ULONG_PTR)0x80000000UL)
#endif

static BOOLEAN in_caller_context(void) { return (ULONG_PTR)&in_caller_context >= KERNEL_SPACE; }


/* Whether the data address of a flash write can be read: only in the caller's own process,
 * where every page of it is present. */
typedef struct request_context {
  device_ext *ext;
  BOOLEAN in_caller;
} request_context;

static BOOLEAN reach_caller(void *context, ULONG64 address, void *into, ULONG length) {
  request_context *request = context;
  if (request->in_caller && standin_in_user_space(address, length, 1)) {
    const ULONG_PTR first = (ULONG_PTR)address, last = first + length - 1;
    BOOLEAN present = TRUE;
    for (ULONG_PTR page = first & ~(ULONG_PTR)(PAGE_SIZE - 1); present && page <= last;
         page += PAGE_SIZE) {
      present = MmIsAddressValid((PVOID)page);
    }
    if (present) {
      RtlCopyMemory(into, (const void *)first, length);
      return TRUE;
    }
  }
  COUNT(request->ext, unreachable);
  return FALSE;
}

/* A word of a record of `size` bytes; 0 beyond its end. */
static ULONG field(const UCHAR *record, ULONG size, ULONG offset) {
  ULONG value = 0;
  if (offset + 4 <= size) RtlCopyMemory(&value, record + offset, 4);
  return value;
}

static void put_word(UCHAR *record, ULONG offset, ULONG value) {
  RtlCopyMemory(record + offset, &value, 4);
}

static NTSTATUS board_control(device_ext *ext, PIRP irp, PIO_STACK_LOCATION stack) {
  const ULONG control = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG inlength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outlength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  const UCHAR *in;
  UCHAR *out;
  if (control == ORVELLO_IOCTL_CALL) {
    in = stack->Parameters.DeviceIoControl.Type3InputBuffer;
    out = irp->UserBuffer;
  } else if (control == ORVELLO_IOCTL_POST) {
    in = out = irp->AssociatedIrp.SystemBuffer;
  } else {
    complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    return STATUS_INVALID_DEVICE_REQUEST;
  }
  /* With the transfer method neither, the record's addresses are the caller's own (on Windows;
   * Wine hands the driver copies of its own). */
  const BOOLEAN callers_buffers = control == ORVELLO_IOCTL_CALL && in_caller_context();
  if (in == NULL || out == NULL || inlength < 16 || outlength < 16 ||
      (callers_buffers && (!standin_in_user_space((ULONG_PTR)in, inlength, 4) ||
                     !standin_in_user_space((ULONG_PTR)out, outlength, 4)))) {
    complete(irp, STATUS_INVALID_PARAMETER, 0);
    return STATUS_INVALID_PARAMETER;
  }
  ULONG size = field(in, inlength, 0);
  if (size > inlength) size = inlength;
  if (size > outlength) size = outlength;
  if (size < 16 || size > STANDIN_RECORD_LIMIT) {
    complete(irp, STATUS_INVALID_PARAMETER, 0);
    return STATUS_INVALID_PARAMETER;
  }
  UCHAR record[STANDIN_RECORD_LIMIT];
  RtlCopyMemory(record, in, size);

  file_ext *file = stack->FileObject->FsContext;
  request_context context = {ext, in_caller_context()};
  InterlockedExchange(&caller_context, context.in_caller);
  const ULONG magic = field(record, size, 4), code = field(record, size, 8);
  COUNT(ext, requests);
  if (control == ORVELLO_IOCTL_POST) COUNT(ext, posted);
  InterlockedExchange((volatile LONG *)&ext->state.last_magic, (LONG)magic);

  const char *note = "";
  BOOLEAN pending = FALSE;
  if (code == ORVELLO_REQ_OPEN) {
    file->magic = board_open_reply(&ext->board, record, size);
    const BOOLEAN at_once = (LONG)field(record, size, 16) == OPENPROGRAM_IMMEDIATE;
    put_word(record, 12, at_once ? SV_OK : (ULONG)SV_ACTIVE);
    pending = !at_once;
  } else if (magic == 0) {
    COUNT(ext, unstamped);
    note = " (magic 0: the caller never saw the open reply)";
    board_serve(&ext->board, record, size, reach_caller, &context);
  } else if (magic != file->magic) {
    COUNT(ext, refused);
    note = " (refused: no open gave this magic)";
    put_word(record, 12, SV_ERROR_INTERNALMAGIC);
  } else {
    board_serve(&ext->board, record, size, reach_caller, &context);
  }
  const ULONG command = code == ORVELLO_REQ_DEBUG ? field(record, size, 16) : 0;
  if (code == ORVELLO_REQ_TRACE || command == OV_DEBUG_TEXT) COUNT(ext, trace_lines);
  if (code == ORVELLO_REQ_FLASHWRITE) COUNT(ext, flash_writes);
  if (command == OV_DEBUG_R_FLASH) COUNT(ext, flash_reads);
  RtlCopyMemory(out, record, size);
  log_line("board%d file%lu request %lu control %lu magic 0x%08lx size %lu: result %ld%s",
           ext->number, file->number, code, control, magic, size, (LONG)field(record, size, 12), note);

  if (pending) return leave_pending(ext, irp, WAIT_OPEN, code, size, 0);
  if (options.HoldCode != 0 && code == options.HoldCode) {
    return leave_pending(ext, irp, WAIT_HELD, code, size, options.HoldMs);
  }
  complete(irp, STATUS_SUCCESS, size);
  return STATUS_SUCCESS;
}

static NTSTATUS board_file(device_ext *ext, PIRP irp, PIO_STACK_LOCATION stack) {
  PFILE_OBJECT file = stack->FileObject;
  file_ext *data = file->FsContext;
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      data = ExAllocatePoolWithTag(NonPagedPool, sizeof *data, STANDIN_POOL_TAG);
      if (data == NULL) {
        complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
        return STATUS_INSUFFICIENT_RESOURCES;
      }
      data->number = (ULONG)COUNT(ext, creates);
      data->magic = 0;
      file->FsContext = data;
      COUNT(ext, open_files);
      log_line("board%d file%lu created", ext->number, data->number);
      break;
    case IRP_MJ_CLEANUP:
      COUNT(ext, cleanups);
      log_line("board%d file%lu cleanup", ext->number, data != NULL ? data->number : 0);
      cancel_file(file);
      break;
    case IRP_MJ_CLOSE:
      cancel_file(file);
      COUNT(ext, closes);
      UNCOUNT(ext, open_files);
      log_line("board%d file%lu closed", ext->number, data != NULL ? data->number : 0);
      if (data != NULL) ExFreePoolWithTag(data, STANDIN_POOL_TAG);
      file->FsContext = NULL;
      break;
  }
  complete(irp, STATUS_SUCCESS, 0);
  return STATUS_SUCCESS;
}

/* ---- The control device --------------------------------------------------------------------- */

static NTSTATUS control_request(PIRP irp, PIO_STACK_LOCATION stack) {
  const ULONG inlength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outlength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR *buffer = irp->AssociatedIrp.SystemBuffer;
  NTSTATUS status = STATUS_SUCCESS;
  ULONG_PTR information = 0;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case VOKDRV_IOCTL_STATE: {
      if (outlength < sizeof(vokdrv_state)) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      vokdrv_state *state = (vokdrv_state *)buffer;
      RtlZeroMemory(state, sizeof *state);
      state->size = sizeof *state;
      state->caller_context = (uint32_t)caller_context;
      state->log_end = log_end();
      for (int n = 0; n < VOKDRV_MAX_DEVICES; ++n) {
        if (boards[n] == NULL) continue;
        device_ext *ext = boards[n]->DeviceExtension;
        state->board[n] = ext->state;
        state->board[n].present = 1;
      }
      information = sizeof *state;
      break;
    }
    case VOKDRV_IOCTL_LOG: {
      if (inlength < 4 || outlength < 4) {
        status = STATUS_BUFFER_TOO_SMALL;
        break;
      }
      ULONG position = field(buffer, inlength, 0), next = 0;
      const ULONG copied = log_read(position, (char *)buffer + 4, outlength - 4, &next);
      put_word(buffer, 0, next);
      information = 4 + copied;
      break;
    }
    case VOKDRV_IOCTL_SET: {
      vokdrv_setting setting;
      if (inlength < sizeof setting) {
        status = STATUS_INVALID_PARAMETER;
        break;
      }
      RtlCopyMemory(&setting, buffer, sizeof setting);
      setting.name[sizeof setting.name - 1] = '\0';
      if (!options_set(setting.name, setting.value)) status = STATUS_INVALID_PARAMETER;
      break;
    }
    case VOKDRV_IOCTL_CLEAR:
      for (int n = 0; n < VOKDRV_MAX_DEVICES; ++n) {
        if (boards[n] == NULL) continue;
        vokdrv_board_state *s = &((device_ext *)boards[n]->DeviceExtension)->state;
        const vokdrv_board_state kept = *s;
        RtlZeroMemory(s, sizeof *s);
        s->open_files = kept.open_files;
        s->pending_open = kept.pending_open;
        s->pending_held = kept.pending_held;
        s->cancelling = kept.cancelling;
        s->creates = kept.creates; /* files keep their numbers */
      }
      log_clear();
      break;
    default:
      status = STATUS_INVALID_DEVICE_REQUEST;
  }
  complete(irp, status, information);
  return status;
}

static NTSTATUS NTAPI dispatch(PDEVICE_OBJECT device, PIRP irp) {
  device_ext *ext = device->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (ext->control) {
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return control_request(irp, stack);
    complete(irp, STATUS_SUCCESS, 0);
    return STATUS_SUCCESS;
  }
  if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) return board_control(ext, irp, stack);
  return board_file(ext, irp, stack);
}

/* ---- Load and unload ------------------------------------------------------------------------ */

/* "<prefix><number>" as a counted string in `buffer`. */
static void device_name(UNICODE_STRING *name, WCHAR *buffer, ULONG room, const WCHAR *prefix,
                        int number) {
  ULONG i = 0;
  for (; prefix[i] != 0 && i + 2 < room; ++i) buffer[i] = prefix[i];
  if (number >= 0) buffer[i++] = (WCHAR)(L'0' + number);
  buffer[i] = 0;
  RtlInitUnicodeString(name, buffer);
}

static NTSTATUS make_device(PDRIVER_OBJECT driver, int number, PDEVICE_OBJECT *made) {
  WCHAR name_text[48], link_text[48];
  UNICODE_STRING name, link;
  const BOOLEAN control = number < 0;
  device_name(&name, name_text, 48, control ? L"\\Device\\VOKDriverControl" : L"\\Device\\VOKDriver",
              number);
  device_name(&link, link_text, 48,
              control ? L"\\DosDevices\\VOKDriverControl" : L"\\DosDevices\\VOKDriver", number);
  /* A board is exclusive: one open file at a time (Windows keeps to it; Wine does not). */
  NTSTATUS status = IoCreateDevice(driver, sizeof(device_ext), &name, FILE_DEVICE_UNKNOWN, 0,
                                   control ? FALSE : TRUE, made);
  if (!NT_SUCCESS(status)) return status;
  device_ext *ext = (*made)->DeviceExtension;
  RtlZeroMemory(ext, sizeof *ext);
  ext->control = control;
  ext->number = number;
  if (!control) board_init(&ext->board, number);
  status = IoCreateSymbolicLink(&link, &name);
  if (!NT_SUCCESS(status)) {
    IoDeleteDevice(*made);
    *made = NULL;
  }
  return status;
}

static void remove_device(PDEVICE_OBJECT *device, int number) {
  if (*device == NULL) return;
  WCHAR link_text[48];
  UNICODE_STRING link;
  device_name(&link, link_text, 48,
              number < 0 ? L"\\DosDevices\\VOKDriverControl" : L"\\DosDevices\\VOKDriver", number);
  IoDeleteSymbolicLink(&link);
  device_ext *ext = (*device)->DeviceExtension;
  if (!ext->control) board_release(&ext->board);
  IoDeleteDevice(*device);
  *device = NULL;
}

static void NTAPI unload(PDRIVER_OBJECT driver) {
  (void)driver;
  InterlockedExchange(&stopping, 1);
  KeSetEvent(&wake, IO_NO_INCREMENT, FALSE);
  if (worker_thread != NULL) {
    KeWaitForSingleObject(worker_thread, Executive, KernelMode, FALSE, NULL);
    ObDereferenceObject(worker_thread);
  }
  for (int n = 0; n < VOKDRV_MAX_DEVICES; ++n) remove_device(&boards[n], n);
  remove_device(&control_device, -1);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
  log_init();
  options_load(registry);
  KeInitializeSpinLock(&table_lock);
  KeInitializeEvent(&wake, SynchronizationEvent, FALSE);
  driver->MajorFunction[IRP_MJ_CREATE] = dispatch;
  driver->MajorFunction[IRP_MJ_CLEANUP] = dispatch;
  driver->MajorFunction[IRP_MJ_CLOSE] = dispatch;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = dispatch;
  driver->DriverUnload = unload;

  NTSTATUS status = make_device(driver, -1, &control_device);
  for (int n = 0; NT_SUCCESS(status) && n < VOKDRV_MAX_DEVICES; ++n) {
    if (options.Devices & (1u << n)) status = make_device(driver, n, &boards[n]);
  }
  HANDLE thread = NULL;
  if (NT_SUCCESS(status)) {
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, worker, NULL);
  }
  if (NT_SUCCESS(status)) {
    status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, NULL, KernelMode, &worker_thread,
                                       NULL);
    ZwClose(thread);
  }
  if (!NT_SUCCESS(status)) {
    log_line("load failed: 0x%08lx", (ULONG)status);
    unload(driver);
    return status;
  }
  log_line("loaded: boards 0x%lx; the driver at %p, in %s", options.Devices, (void *)&DriverEntry,
           in_caller_context() ? "kernel space, requests in their callers' context"
                               : "user space, requests as copies");
  return STATUS_SUCCESS;
}
