// vok-driver: loads the stand-in board driver (vokdriver.sys, beside this program) through the
// service control manager, with its options in the service's Parameters key, and shows what
// the driver saw.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "control_client.h"

namespace {

constexpr const char *parameters_key =
    "SYSTEM\\CurrentControlSet\\Services\\" VOKDRV_SERVICE "\\Parameters";
constexpr DWORD wait_limit_ms = 60000;  // an emulated machine is slow

const char *usage =
    "usage: vok-driver COMMAND [NAME=VALUE...]\n"
    "  load [NAME=VALUE...]  install the driver with these options and start it\n"
    "  unload                stop the driver and remove it\n"
    "  install [NAME=VALUE...], start, stop, remove   the steps one at a time\n"
    "  set NAME=VALUE...     change options while the driver runs (not Devices)\n"
    "  state                 what the driver saw on each board\n"
    "  log                   the driver's log\n"
    "  clear                 clear the log and the counters\n"
    "  options               the options, their defaults and meanings\n"
    "A VALUE is a number (decimal or 0x hex), a version major.minor.patch[.fix], or for Devices\n"
    "a list of board numbers such as 0,2.\n";

int fail(const char *what, DWORD error = GetLastError()) {
  std::fprintf(stderr, "vok-driver: %s (error %lu)\n", what, static_cast<unsigned long>(error));
  return 1;
}

std::string driver_path() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string text(path, length);
  const auto slash = text.find_last_of("\\/");
  return (slash == std::string::npos ? std::string() : text.substr(0, slash + 1)) + VOKDRV_FILE;
}

struct service_manager {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ~service_manager() {
    if (manager != nullptr) CloseServiceHandle(manager);
  }
  SC_HANDLE open() const { return OpenServiceA(manager, VOKDRV_SERVICE, SERVICE_ALL_ACCESS); }
};

bool wait_for_state(SC_HANDLE service, DWORD wanted) {
  for (DWORD waited = 0; waited < wait_limit_ms; waited += 50) {
    SERVICE_STATUS status{};
    if (!QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == wanted) return true;
    Sleep(50);
  }
  return false;
}

// Reads each NAME=VALUE of `settings` and hands it to `take`. 2 at the first that cannot be
// read (said on standard error), the first non-zero result of `take`, else 0.
template <typename Take>
int each_setting(const std::vector<std::string> &settings, Take take) {
  for (const std::string &text : settings) {
    std::string name;
    std::uint32_t value = 0;
    const std::string problem = vok::standin::parse_setting(text, name, value);
    if (!problem.empty()) {
      std::fprintf(stderr, "vok-driver: %s\n", problem.c_str());
      return 2;
    }
    if (const int result = take(text, name, value); result != 0) return result;
  }
  return 0;
}

int write_options(const std::vector<std::string> &settings) {
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, parameters_key);  // no option of an earlier load lingers
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, parameters_key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return fail("cannot make the Parameters key");
  }
  const int result = each_setting(settings, [key](const std::string &, const std::string &name,
                                                 std::uint32_t value) {
    const DWORD word = value;
    RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&word), 4);
    return 0;
  });
  RegCloseKey(key);
  return result;
}

int install(const std::vector<std::string> &settings) {
  service_manager scm;
  if (scm.manager == nullptr) return fail("cannot open the service control manager");
  const std::string path = driver_path();
  SC_HANDLE service = CreateServiceA(scm.manager, VOKDRV_SERVICE, "Vantrel stand-in board driver",
                                     SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
    service = scm.open();
    if (service != nullptr &&
        !ChangeServiceConfigA(service, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                              SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr,
                              nullptr, nullptr, nullptr)) {
      CloseServiceHandle(service);
      return fail("cannot change the installed driver's file");
    }
  }
  if (service == nullptr) return fail("cannot install the driver service");
  CloseServiceHandle(service);
  const int result = write_options(settings);
  if (result == 0) std::printf("vok-driver: installed %s\n", path.c_str());
  return result;
}

// Runs `step` on the installed driver's service and closes the service after it.
template <typename Step>
int with_service(Step step) {
  service_manager scm;
  SC_HANDLE service = scm.open();
  if (service == nullptr) return fail("the driver is not installed");
  const int result = step(service);
  CloseServiceHandle(service);
  return result;
}

int start() {
  const int result = with_service([](SC_HANDLE service) {
    if (!StartServiceA(service, 0, nullptr) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      return fail("cannot start the driver");
    }
    return wait_for_state(service, SERVICE_RUNNING) ? 0 : fail("the driver did not come up", 0);
  });
  if (result != 0) return result;
  for (DWORD waited = 0;; waited += 50) {
    if (vok::standin::control().ok()) break;
    if (waited >= wait_limit_ms) return fail("the driver's control device did not appear");
    Sleep(50);
  }
  std::printf("vok-driver: started\n");
  return 0;
}

int stop() {
  const int result = with_service([](SC_HANDLE service) {
    SERVICE_STATUS status{};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status) &&
        GetLastError() != ERROR_SERVICE_NOT_ACTIVE) {
      return fail("cannot stop the driver");
    }
    return wait_for_state(service, SERVICE_STOPPED) ? 0 : fail("the driver did not stop", 0);
  });
  if (result == 0) std::printf("vok-driver: stopped\n");
  return result;
}

int remove() {
  const int result = with_service([](SC_HANDLE service) {
    return DeleteService(service) ? 0 : fail("cannot remove the driver");
  });
  if (result == 0) std::printf("vok-driver: removed\n");
  return result;
}

int set(const std::vector<std::string> &settings) {
  vok::standin::control driver;
  if (!driver.ok()) return fail("the driver is not running");
  return each_setting(settings, [&driver](const std::string &text, const std::string &name,
                                          std::uint32_t value) {
    return driver.set(name, value) ? 0 : fail(("the driver refused " + text).c_str());
  });
}

int show_state() {
  vok::standin::control driver;
  vokdrv_state state;
  if (!driver.state(state)) return fail("the driver is not running");
  std::printf("requests run in the caller's process: %s\n", state.caller_context ? "yes" : "no");
  for (int n = 0; n < VOKDRV_MAX_DEVICES; ++n) {
    const vokdrv_board_state &b = state.board[n];
    if (!b.present) continue;
    std::printf("board %d: %u open files, %u open requests pending, %u held, %u cancelling; "
                "%u creates, %u cleanups, %u closes, %u cancels; %u requests (%u posted, %u "
                "with magic 0, %u refused), last magic 0x%08x; %u trace lines, %u flash writes "
                "(%u unreachable), %u flash reads\n",
                n, b.open_files, b.pending_open, b.pending_held, b.cancelling, b.creates,
                b.cleanups, b.closes, b.cancels, b.requests, b.posted, b.unstamped, b.refused,
                b.last_magic, b.trace_lines, b.flash_writes, b.unreachable, b.flash_reads);
  }
  return 0;
}

int show_log() {
  vok::standin::control driver;
  if (!driver.ok()) return fail("the driver is not running");
  std::uint32_t position = 0;
  std::fputs(driver.log(position).c_str(), stdout);
  return 0;
}

int show_options() {
#define SHOW(name, value, meaning) \
  std::printf("  %-16s %-10s %s\n", #name, #value, meaning);
  VOKDRV_OPTION_LIST(SHOW)
#undef SHOW
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const std::vector<std::string> settings(argv + (argc > 1 ? 2 : 1), argv + argc);
  const bool takes_settings = command == "load" || command == "install" || command == "set";
  if (!takes_settings && !settings.empty()) {
    std::fputs(usage, stderr);
    return 2;
  }
  if (command == "load") {
    int result = install(settings);
    return result != 0 ? result : start();
  }
  if (command == "unload") {
    int result = stop();
    return result != 0 ? result : remove();
  }
  if (command == "install") return install(settings);
  if (command == "start") return start();
  if (command == "stop") return stop();
  if (command == "remove") return remove();
  if (command == "set") return set(settings);
  if (command == "state") return show_state();
  if (command == "log") return show_log();
  if (command == "clear") return vok::standin::control().clear() ? 0 : fail("the driver is not running");
  if (command == "options") return show_options();
  std::fputs(usage, command == "--help" || command == "-h" ? stdout : stderr);
  return command == "--help" || command == "-h" ? 0 : 2;
}
