// The stand-in driver's control device as a program sees it: what the driver saw, its log, and
// its options while it runs. Used by vok-driver and by the tests that run against the driver.
#pragma once

#include <cstdint>
#include <string>

#include "vokdriver_control.h"

namespace vok::standin {

class control {
 public:
  control();  // opens \\.\VOKDriverControl; ok() tells whether the driver is there
  ~control();
  control(const control &) = delete;
  control &operator=(const control &) = delete;

  bool ok() const;
  bool state(vokdrv_state &out) const;
  // The log's text from `position` on; `position` moves to its end.
  std::string log(std::uint32_t &position) const;
  bool set(const std::string &name, std::uint32_t value) const;
  bool clear() const;

 private:
  void *device_;
};

// Reads "NAME=VALUE": a number (decimal, 0x hex, negative), a version "major.minor.patch[.fix]"
// as a packed version word, or for Devices a list of board numbers ("0,2"). Returns what is
// wrong with the text, or an empty string.
std::string parse_setting(const std::string &text, std::string &name, std::uint32_t &value);

}  // namespace vok::standin
