#include "faults.h"

#include <cstring>

#include "vokoem/vokoem.h"

namespace vok::board {
namespace {

std::uint32_t word(const void *record, std::size_t size, std::size_t offset) {
  if (offset + 4 > size) return 0;
  std::uint32_t value;
  std::memcpy(&value, static_cast<const unsigned char *>(record) + offset, 4);
  return value;
}

void set_word(void *record, std::size_t offset, std::uint32_t value) {
  std::memcpy(static_cast<unsigned char *>(record) + offset, &value, 4);
}

// The error that the plan gives this request, or 0.
std::int32_t planned_error(const fault_plan &plan, const void *record, std::size_t size) {
  const std::uint32_t code = word(record, size, 8);
  auto find = [](const auto &table, auto key) -> std::int32_t {
    auto it = table.find(key);
    return it == table.end() ? 0 : it->second;
  };
  if (code == ORVELLO_REQ_QUERY) {
    return find(plan.fail_query, static_cast<std::int32_t>(word(record, size, 16)));
  }
  if (code == ORVELLO_REQ_FLASHWRITE) return find(plan.fail_write, word(record, size, 40));
  if (code == ORVELLO_REQ_DEBUG && word(record, size, 16) == OV_DEBUG_R_FLASH) {
    return find(plan.fail_read, word(record, size, 20));
  }
  return 0;
}

}  // namespace

void serve_with_faults(board &model, const fault_plan &plan, void *record, std::size_t size,
                       const memory_reader &sender) {
  if (size < 16) return;
  if (std::int32_t error = planned_error(plan, record, size); error != 0) {
    set_word(record, 12, static_cast<std::uint32_t>(error));
    return;
  }
  model.serve(record, size, sender);
  const bool flash_read = word(record, size, 8) == ORVELLO_REQ_DEBUG &&
                          word(record, size, 16) == OV_DEBUG_R_FLASH && size >= 32;
  if (flash_read && plan.flip.count(word(record, size, 20)) != 0) {
    set_word(record, 28, ~word(record, size, 28));
  }
}

}  // namespace vok::board
