// Setting and removing a variable of this process's environment, on POSIX and on Windows.
#pragma once

#include <cstdlib>
#include <string>

namespace vok::test {

inline void set_environment(const char *name, const std::string &value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

inline void remove_environment(const char *name) {
#if defined(_WIN32)
  _putenv_s(name, "");  // an empty value removes it
#else
  unsetenv(name);
#endif
}

}  // namespace vok::test
