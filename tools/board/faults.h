// Faults around the board model: a query, a flash write or a flash read that fails, and
// words that read back changed. The board itself stays healthy; the fault layer wraps it.
#pragma once

#include <cstdint>
#include <map>
#include <set>

#include "board.h"

namespace vok::board {

struct fault_plan {
  std::map<std::int32_t, std::int32_t> fail_query;  // query code -> error returned
  std::map<std::uint32_t, std::int32_t> fail_write; // map index -> error returned
  std::map<std::uint32_t, std::int32_t> fail_read;  // flash byte address -> error returned
  std::set<std::uint32_t> flip;                     // flash byte addresses that read inverted

  bool empty() const {
    return fail_query.empty() && fail_write.empty() && fail_read.empty() && flip.empty();
  }
};

// Serves one request through the board with the plan's faults applied.
void serve_with_faults(board &model, const fault_plan &plan, void *record, std::size_t size,
                       const memory_reader &sender);

}  // namespace vok::board
