#include "control_client.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vok::standin {
namespace {

HANDLE native(void *device) { return static_cast<HANDLE>(device); }

bool request(void *device, DWORD code, const void *in, DWORD inlength, void *out,
             DWORD outlength, DWORD *bytes = nullptr) {
  DWORD count = 0;
  BOOL done = DeviceIoControl(native(device), code, const_cast<void *>(in), inlength, out,
                              outlength, &count, nullptr);
  if (bytes != nullptr) *bytes = count;
  return done != 0;
}

bool known_option(const std::string &name) {
#define KNOWN(option, value, meaning) if (_stricmp(name.c_str(), #option) == 0) return true;
  VOKDRV_OPTION_LIST(KNOWN)
#undef KNOWN
  return false;
}

}  // namespace

control::control()
    : device_(CreateFileA(VOKDRV_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr)) {}

control::~control() {
  if (ok()) CloseHandle(native(device_));
}

bool control::ok() const { return native(device_) != INVALID_HANDLE_VALUE; }

bool control::state(vokdrv_state &out) const {
  std::memset(&out, 0, sizeof out);
  DWORD bytes = 0;
  return ok() && request(device_, VOKDRV_IOCTL_STATE, nullptr, 0, &out, sizeof out, &bytes) &&
         bytes == sizeof out;
}

std::string control::log(std::uint32_t &position) const {
  std::string text;
  std::vector<char> buffer(0x10004);
  for (;;) {
    DWORD bytes = 0;
    if (!ok() || !request(device_, VOKDRV_IOCTL_LOG, &position, sizeof position, buffer.data(),
                          static_cast<DWORD>(buffer.size()), &bytes) ||
        bytes < 4) {
      return text;
    }
    std::memcpy(&position, buffer.data(), 4);
    text.append(buffer.data() + 4, bytes - 4);
    if (bytes < buffer.size()) return text;
  }
}

bool control::set(const std::string &name, std::uint32_t value) const {
  vokdrv_setting setting{};
  std::snprintf(setting.name, sizeof setting.name, "%s", name.c_str());
  setting.value = value;
  return ok() && request(device_, VOKDRV_IOCTL_SET, &setting, sizeof setting, nullptr, 0);
}

bool control::clear() const { return ok() && request(device_, VOKDRV_IOCTL_CLEAR, nullptr, 0, nullptr, 0); }

std::string parse_setting(const std::string &text, std::string &name, std::uint32_t &value) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return "expected NAME=VALUE: " + text;
  name = text.substr(0, equals);
  const std::string given = text.substr(equals + 1);
  if (!known_option(name)) return "no option is called " + name;
  char extra = 0;
  if (_stricmp(name.c_str(), "Devices") == 0) {
    value = 0;
    for (std::size_t at = 0; at <= given.size();) {
      const auto comma = std::min(given.find(',', at), given.size());
      unsigned number = 0;
      if (std::sscanf(given.substr(at, comma - at).c_str(), "%u%c", &number, &extra) != 1 ||
          number >= VOKDRV_MAX_DEVICES) {
        return "Devices is a list of board numbers 0 to 7, such as 0,2: " + given;
      }
      value |= 1u << number;
      at = comma + 1;
    }
    return {};
  }
  unsigned major = 0, minor = 0, patch = 0, fix = 0;
  const int parts = std::sscanf(given.c_str(), "%u.%u.%u.%u%c", &major, &minor, &patch, &fix, &extra);
  if (given.find('.') != std::string::npos) {
    if (parts < 3 || parts > 4 || major > 255 || minor > 255 || patch > 255 || fix > 255) {
      return "a version is major.minor.patch[.fix], each 0 to 255: " + given;
    }
    value = fix << 24 | major << 16 | minor << 8 | patch;
    return {};
  }
  long long number = 0;
  if (std::sscanf(given.c_str(), "%lli%c", &number, &extra) != 1 || number < -0x80000000LL ||
      number > 0xFFFFFFFFLL) {
    return "expected a number: " + text;
  }
  value = static_cast<std::uint32_t>(number);
  return {};
}

}  // namespace vok::standin
