/* The driver's options: defaults, the service's Parameters key, and changes while it runs. */
#include "standin.h"

standin_options options;

typedef struct option_row {
  const char *name;
  ULONG *field;
  ULONG value;
} option_row;

#define OPTION_ROW(name, value, meaning) {#name, &options.name, value},
static const option_row rows[] = {VOKDRV_OPTION_LIST(OPTION_ROW)};
#undef OPTION_ROW
#define ROW_COUNT (sizeof rows / sizeof rows[0])

static BOOLEAN same_name(const char *a, const char *b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = *a >= 'A' && *a <= 'Z' ? (char)(*a + 32) : *a;
    char y = *b >= 'A' && *b <= 'Z' ? (char)(*b + 32) : *b;
    if (x != y) return FALSE;
  }
  return *a == *b;
}

/* One REG_DWORD value of the key; FALSE when it is missing or of another type. */
static BOOLEAN read_value(HANDLE key, const char *name, ULONG *value) {
  WCHAR wide[32];
  ULONG i = 0;
  for (; name[i] != '\0' && i + 1 < sizeof wide / sizeof wide[0]; ++i) wide[i] = (WCHAR)name[i];
  wide[i] = 0;
  UNICODE_STRING value_name;
  RtlInitUnicodeString(&value_name, wide);
  union {
    KEY_VALUE_PARTIAL_INFORMATION info;
    UCHAR bytes[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 8];
  } answer;
  ULONG length = 0;
  NTSTATUS status = ZwQueryValueKey(key, &value_name, KeyValuePartialInformation, &answer,
                                    sizeof answer, &length);
  if (!NT_SUCCESS(status) || answer.info.Type != REG_DWORD || answer.info.DataLength != 4) {
    return FALSE;
  }
  RtlCopyMemory(value, answer.info.Data, 4);
  return TRUE;
}

void options_load(PUNICODE_STRING service_key) {
  for (ULONG i = 0; i < ROW_COUNT; ++i) *rows[i].field = rows[i].value;

  OBJECT_ATTRIBUTES attributes;
  HANDLE service = NULL, parameters = NULL;
  InitializeObjectAttributes(&attributes, service_key, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             NULL, NULL);
  if (!NT_SUCCESS(ZwOpenKey(&service, KEY_READ, &attributes))) return;
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, L"Parameters");
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, service,
                             NULL);
  if (NT_SUCCESS(ZwOpenKey(&parameters, KEY_READ, &attributes))) {
    for (ULONG i = 0; i < ROW_COUNT; ++i) {
      ULONG value;
      if (read_value(parameters, rows[i].name, &value)) {
        *rows[i].field = value;
        log_line("option %s=0x%lx", rows[i].name, value);
      }
    }
    ZwClose(parameters);
  }
  ZwClose(service);
}

BOOLEAN options_set(const char *name, ULONG value) {
  if (same_name(name, "Devices")) return FALSE; /* the devices are made at load */
  for (ULONG i = 0; i < ROW_COUNT; ++i) {
    if (same_name(name, rows[i].name)) {
      *rows[i].field = value;
      log_line("option %s=0x%lx", rows[i].name, value);
      return TRUE;
    }
  }
  return FALSE;
}
