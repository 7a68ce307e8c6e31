// The loaded stand-in driver as the tests reach it: its control device, what it saw, and its
// options changed for a scope.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "control_client.h"

namespace vok::test {

inline const standin::control &driver() {
  static const standin::control control;
  return control;
}

inline vokdrv_state driver_state() {
  vokdrv_state state{};
  EXPECT_TRUE(driver().state(state));
  return state;
}

// Whether the driver works on its callers' own records (Windows) or on copies (Wine).
inline bool in_caller_context() { return driver_state().caller_context != 0; }

inline std::uint32_t default_of(const std::string &name) {
#define DEFAULT(option, value, meaning) \
  if (name == #option) return value;
  VOKDRV_OPTION_LIST(DEFAULT)
#undef DEFAULT
  return 0;
}

// A driver option changed for a scope, back at its default after.
class option {
 public:
  option(const char *name, std::uint32_t value) : name_(name) {
    EXPECT_TRUE(driver().set(name, value)) << name;
  }
  ~option() { driver().set(name_, default_of(name_)); }
  option(const option &) = delete;
  option &operator=(const option &) = delete;

 private:
  std::string name_;
};

}  // namespace vok::test
