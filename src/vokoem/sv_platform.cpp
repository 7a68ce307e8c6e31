#include <atomic>

#include "platform/platform.h"

namespace vok {
namespace {
std::atomic<const platform *> installed{nullptr};
}

const platform &os() {
  const platform *table = installed.load(std::memory_order_acquire);
  return table != nullptr ? *table : native_platform();
}

void install_platform(const platform *table) { installed.store(table, std::memory_order_release); }

}  // namespace vok
