// The driver request channel: every request record reaches the driver through sv_sys_call,
// stamped with its code and the handle's request magic, on the lock slot its code selects.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "sv_device.h"
#include "sv_internal.h"

namespace vok {
namespace {

constexpr std::size_t report_size = 256;  // 255 characters and the NUL

std::uint32_t record_word(const void *record, std::uint32_t size, std::size_t offset) {
  if (size < offset + 4) return 0;
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, sizeof value);
  return value;
}

// The slot that a request runs on: its completion record, and the lock to take if any.
struct slot_choice {
  sv_lockslot *slot = nullptr;  // the slot whose lock is taken; null when none is
  sv_overlapped *ov = nullptr;
  int error = SV_OK;  // a refusal before anything is sent
};

// The ioctl locks that sv_sys_post took on this thread and sv_sys_finish has not released yet
// (a post and its finish run on one thread when they use the ioctl slot).
class held_locks {
 public:
  bool take(const sv_handle *sv) {
    for (const sv_handle *&h : held_) {
      if (h == nullptr) {
        h = sv;
        return true;
      }
    }
    return false;  // more outstanding posts on one thread than any caller makes
  }
  bool release(const sv_handle *sv) {
    for (const sv_handle *&h : held_) {
      if (h == sv) {
        h = nullptr;
        return true;
      }
    }
    return false;
  }

 private:
  const sv_handle *held_[64] = {};
};
thread_local held_locks posted_locks;

// The assertion reports of a jack beyond the table name the places that the board's support
// staff know them by, whatever the line in this file.
constexpr int fifo_assert_line = 458;
constexpr int direct_assert_line = 467;

slot_choice locked_slot(sv_lockslot &slot) { return {&slot, &slot.overlapped, SV_OK}; }

// A FIFO or direct-access request runs on the slot of its jack, which must be open.
slot_choice jack_slot(sv_lockslot (&slots)[16], std::uint32_t jack, int closed_error,
                      const char *expression, int line) {
  if (jack >= 16) {
    assert_popup(expression, "sv_sys", line);
    return {nullptr, nullptr, SV_ERROR_PARAMETER};
  }
  if (slots[jack].inuse == 0) return {nullptr, nullptr, closed_error};
  return locked_slot(slots[jack]);
}

slot_choice choose_slot(sv_handle *sv, int code, const void *record, std::uint32_t size) {
  const std::uint32_t p16 = record_word(record, size, 16);
  const std::uint32_t p20 = record_word(record, size, 20);
  auto &slots = sv->locked;
  switch (code) {
    case 16:
      if (p20 == 5) return {nullptr, &slots.aux2.overlapped, SV_OK};
      if (p20 == 6) return {nullptr, &slots.aux1.overlapped, SV_OK};
      return locked_slot(slots.ioctl);
    case ORVELLO_REQ_FIFO:
      return jack_slot(slots.fifo, p16, SV_ERROR_FIFOCLOSED,
                       "((orvello_fifo *) pointer)->jack < arraysize(sv->locked.fifo)",
                       fifo_assert_line);
    case 65:
      return locked_slot(slots.aux4);
    case 89:
      return locked_slot(p16 == 1 || p16 == 3 ? slots.aux2 : slots.aux1);
    case 95:
    case 146:
      return locked_slot(slots.aux3);
    case ORVELLO_REQ_DIRECT:
      return jack_slot(slots.direct, p16, SV_ERROR_DIRECT_CLOSED,
                       "((orvello_direct *) pointer)->jack < arraysize(sv->locked.direct)",
                       direct_assert_line);
    default:
      return locked_slot(slots.ioctl);
  }
}

// Sends a stamped record with control code 259 and waits for it.
int send_and_wait(sv_handle *sv, void *record, std::uint32_t size, sv_overlapped *ov) {
  auto *header = static_cast<orvello_header *>(record);
  std::uint32_t bytes = 0;
  int sent = sys_control(sv->device, ORVELLO_IOCTL_CALL, record, size, record, size, &bytes, ov);
  if (sys_is_link(sv->device)) {
    // The link's exchange is complete when it returns; a failed exchange is its own error,
    // never a result word that nobody wrote.
    if (sent != SV_OK) return sent;
    return header->result < 0 ? SV_OK : header->result;
  }
  if (sent != 0) return header->result;
  const std::uint32_t error = sys_lasterror();
  if (error == error_io_pending) {
    sys_wait(sv->device, ov, &bytes, 1);
    return header->result < 0 ? SV_OK : header->result;
  }
  error_popup("SV_ERROR_IOCTL_FAILED:GetLastError:%d", static_cast<int>(error));
  return SV_ERROR_IOCTL_FAILED;
}

int check_request(sv_handle *sv, const void *record) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  if (record == nullptr) return SV_ERROR_PARAMETER;
  if (static_cast<const orvello_header *>(record)->magic != ORVELLO_MAGIC) {
    return SV_ERROR_INTERNALMAGIC;
  }
  return SV_OK;
}

}  // namespace

sv_lockslot *named_slot(sv_handle *sv, int index) {
  sv_lockslot *slots[named_slot_count] = {
      &sv->locked.read, &sv->locked.write, &sv->locked.aux1, &sv->locked.aux2,
      &sv->locked.ioctl, &sv->locked.open, &sv->locked.aux3, &sv->locked.aux4};
  return slots[index];
}

void os_lock(sv_handle *, oslock *lock) { os().lock_enter(lock); }
void os_unlock(sv_handle *, oslock *lock) { os().lock_leave(lock); }

void error_popup(const char *format, ...) {
  char text[report_size];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  os().notice("Error:VOKOEM", text);
  os().debug_output(text);
}

int assert_popup(const char *expression, const char *source, int line) {
  char text[report_size];
  std::snprintf(text, sizeof text, "Assert Failed\n%s\nFile:'%s':%d", expression, source, line);
  return os().notice("Assert:VOKOEM", text);
}

}  // namespace vok

using namespace vok;

extern "C" {

int sv_sys_call(sv_handle *sv, int code, void *record) {
  int result = check_request(sv, record);
  if (result != SV_OK) return result;
  auto *header = static_cast<orvello_header *>(record);
  const std::uint32_t size = header->size;
  header->code = static_cast<std::uint32_t>(code);
  header->magic = sv->requestmagic;

  slot_choice choice = choose_slot(sv, code, record, size);
  if (choice.error != SV_OK) {
    header->magic = ORVELLO_MAGIC;
    return choice.error;
  }
  if (choice.slot != nullptr) os_lock(sv, &choice.slot->lock);
  result = send_and_wait(sv, record, size, choice.ov);
  // A FIFO or direct slot that was closed meanwhile has no lock left to release.
  if (choice.slot != nullptr && choice.slot->inuse != 0) os_unlock(sv, &choice.slot->lock);

  header->magic = ORVELLO_MAGIC;
  return result;
}

int sv_sys_post(sv_handle *sv, int code, void *record, sv_overlapped *completion) {
  int result = check_request(sv, record);
  if (result != SV_OK) return result;
  auto *header = static_cast<orvello_header *>(record);
  const std::uint32_t size = header->size;
  sv_overlapped *ov = completion;
  if (ov == nullptr) {
    if (!posted_locks.take(sv)) return SV_ERROR_MALLOC;
    os_lock(sv, &sv->locked.ioctl.lock);  // held until sv_sys_finish
    ov = &sv->locked.ioctl.overlapped;
  }
  header->code = static_cast<std::uint32_t>(code);
  header->magic = sv->requestmagic;
  std::uint32_t bytes = 0;
  int sent = sys_control(sv->device, ORVELLO_IOCTL_POST, record, size, record, size, &bytes, ov);
  header->magic = ORVELLO_MAGIC;
  if (sys_is_link(sv->device)) return sent != SV_OK ? sent : SV_ACTIVE;
  if (sent != 0) return header->result;
  return sys_lasterror() == error_io_pending ? SV_ACTIVE : SV_ERROR_IOCTL_FAILED;
}

int sv_sys_finish(sv_handle *sv, void *record, sv_overlapped *completion, int posted) {
  int result = check_handle(sv);
  if (result != SV_OK) return result;
  sv_overlapped *ov = completion != nullptr ? completion : &sv->locked.ioctl.overlapped;
  result = posted;
  if (posted == SV_ACTIVE && record != nullptr) {
    std::uint32_t bytes = 0;
    sys_wait(sv->device, ov, &bytes, 1);
    const int word = static_cast<orvello_header *>(record)->result;
    result = word < 0 ? SV_OK : word;
  }
  // Only a lock that sv_sys_post took is left: it refuses some records before it locks.
  if (completion == nullptr && posted_locks.release(sv)) os_unlock(sv, &sv->locked.ioctl.lock);
  return result;
}

}  // extern "C"
