/*
 * The stand-in board driver's own interface: its options, and the control device through which
 * a program reads what the driver saw and changes its options while it runs. Plain C: the
 * driver and the programs that load and watch it include it alike.
 */
#ifndef VOKDRIVER_CONTROL_H
#define VOKDRIVER_CONTROL_H

#include <stdint.h>

/* The service that loads the driver, and the driver file beside the programs. */
#define VOKDRV_SERVICE "VOKDriver"
#define VOKDRV_FILE "vokdriver.sys"

/* Boards are \Device\VOKDriver<n>, n below VOKDRV_MAX_DEVICES; the control device is beside them. */
#define VOKDRV_MAX_DEVICES 8
#define VOKDRV_CONTROL_PATH "\\\\.\\VOKDriverControl"

/*
 * The options: registry values (REG_DWORD) of the service's Parameters key, read when the
 * driver loads; all but Devices may also be changed while it runs (VOKDRV_IOCTL_SET).
 * X(name, default, meaning)
 */
#define VOKDRV_OPTION_LIST(X) \
  X(Devices, 0x1, "bit n set: board n is present (0x5: boards 0 and 2, board 1 absent)") \
  X(Type, 21, "board type, SV_QUERY_DEVTYPE (21: Vantrel)") \
  X(Serial, 10234, "serial number of board 0; board n answers Serial + n") \
  X(DriverVersion, 0x00020901, "driver version, packed (2.9.1.0)") \
  X(CpldVersion, 0x00020000, "version of the cpld module, packed (2.0.0.0)") \
  X(ChipVersion, 0x10055, "FPGA chip pair (FX100 with SX55)") \
  X(FlashSize, 0x1400000, "flash size in bytes, SV_QUERY_FLASHSIZE") \
  X(CardOptions, 0, "card option bits (bit 0: the Brix variant)") \
  X(TraceFlags, 0, "trace flags of the open reply: 1 traces failed calls, 2 every call") \
  X(FailWriteMap, 0, "the flash write of this map index (1 to 4) is refused; 0: none") \
  X(FailWriteError, 163, "the error of a refused flash write (SV_ERROR_FLASH_WRITE)") \
  X(FailReadAddress, 0xFFFFFFFF, "the flash read of this byte address fails") \
  X(FailReadError, 26, "the error of that read (SV_ERROR_TRANSFER)") \
  X(FlipAddress, 0xFFFFFFFF, "from this byte address on, flash words read back inverted") \
  X(FlipWords, 1, "how many words read back inverted") \
  X(HoldCode, 0, "requests of this code are held pending; 0: none") \
  X(HoldMs, 0, "a held request completes after this many ms; 0: only a cancel ends it") \
  X(CancelDelayMs, 0, "a cancelled request completes this many ms after the cancel") \
  X(UnreachableWrite, 26, "result of a flash write whose data the driver cannot reach")

/* Control codes of the control device: device type 0x22 (unknown), buffered, any access. */
#define VOKDRV_CONTROL_CODE(function) ((0x22u << 16) | ((uint32_t)(function) << 2))
/* out: vokdrv_state */
#define VOKDRV_IOCTL_STATE VOKDRV_CONTROL_CODE(0x900)
/* in: uint32_t position in the log (0: its start); out: uint32_t the position after the text
 * handed out, then the text from the position (or from the oldest whole line kept) up to the
 * log's end or as much as the output holds */
#define VOKDRV_IOCTL_LOG VOKDRV_CONTROL_CODE(0x901)
/* in: vokdrv_setting; refused (invalid parameter) for an unknown name or Devices */
#define VOKDRV_IOCTL_SET VOKDRV_CONTROL_CODE(0x902)
/* clears the log and the counters; open files and pending requests are kept */
#define VOKDRV_IOCTL_CLEAR VOKDRV_CONTROL_CODE(0x903)

/* What the driver saw on one board. */
typedef struct vokdrv_board_state {
  uint32_t present;
  uint32_t open_files;    /* created and not closed yet */
  uint32_t pending_open;  /* open requests pending */
  uint32_t pending_held;  /* other requests held pending */
  uint32_t cancelling;    /* cancelled, their completion delayed */
  uint32_t creates;       /* IRP_MJ_CREATE */
  uint32_t cleanups;      /* IRP_MJ_CLEANUP */
  uint32_t closes;        /* IRP_MJ_CLOSE */
  uint32_t cancels;       /* requests completed as cancelled */
  uint32_t requests;      /* device control requests, the open request included */
  uint32_t posted;        /* of them with control code 256 */
  uint32_t unstamped;     /* requests that carried magic 0: the caller never saw the open reply */
  uint32_t refused;       /* requests refused for a request magic that no open gave */
  uint32_t last_magic;    /* the magic word of the last request */
  uint32_t trace_lines;   /* trace requests and debug texts */
  uint32_t flash_writes;
  uint32_t flash_reads;
  uint32_t unreachable;   /* flash writes whose data the driver could not reach */
} vokdrv_board_state;

typedef struct vokdrv_state {
  uint32_t size;             /* sizeof (vokdrv_state) */
  uint32_t caller_context;   /* the last request ran in its caller's process (Windows does
                                that; Wine hands the driver copies in a process of its own) */
  uint32_t log_end;          /* bytes ever written to the log */
  uint32_t reserved;
  vokdrv_board_state board[VOKDRV_MAX_DEVICES];
} vokdrv_state;

typedef struct vokdrv_setting {
  char name[32]; /* an option's name, NUL-terminated */
  uint32_t value;
} vokdrv_setting;

#endif /* VOKDRIVER_CONTROL_H */
