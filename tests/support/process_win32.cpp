// Starting vok-simulator and running programs on Windows, for the tests.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "run_process.h"
#include "simulator_process.h"

namespace vok::test {
namespace {

// The programs that the tests start keep the tool's state record (the boards it updated) in a
// folder of this test process's own, removed when it ends.
struct private_state_folder {
  std::string path;
  private_state_folder() {
    if (std::getenv("VANTREL_UPGRADE_STATE_DIR") != nullptr) return;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    path = std::string(temp) + "vok-state-" + std::to_string(GetCurrentProcessId());
    std::filesystem::create_directories(path);
    _putenv_s("VANTREL_UPGRADE_STATE_DIR", path.c_str());
  }
  ~private_state_folder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
} state_folder;

std::string command_line(const std::string &program, const std::vector<std::string> &arguments) {
  std::string line = "\"" + program + "\"";
  for (const auto &a : arguments) line += " \"" + a + "\"";
  return line;
}

// A pipe whose one end the child inherits.
struct pipe_pair {
  HANDLE read = nullptr, write = nullptr;
  explicit pipe_pair(bool child_reads) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    CreatePipe(&read, &write, &sa, 0);
    SetHandleInformation(child_reads ? write : read, HANDLE_FLAG_INHERIT, 0);
  }
  ~pipe_pair() {
    for (HANDLE h : {read, write}) {
      if (h != nullptr) CloseHandle(h);
    }
  }
  void close_read() {
    CloseHandle(read);
    read = nullptr;
  }
  void close_write() {
    CloseHandle(write);
    write = nullptr;
  }
};

HANDLE start(const std::string &program, const std::vector<std::string> &arguments, HANDLE in,
             HANDLE out, HANDLE err, DWORD *pid, DWORD flags = 0) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  std::string line = command_line(program, arguments);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &si, &pi)) {
    return nullptr;
  }
  CloseHandle(pi.hThread);
  *pid = pi.dwProcessId;
  return pi.hProcess;
}

void drain(HANDLE from, std::string *into, std::mutex *lock) {
  char buffer[4096];
  DWORD n = 0;
  while (ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    std::lock_guard<std::mutex> hold(*lock);
    into->append(buffer, n);
  }
}

// Presses Ctrl+C in the console of process `pid`: the event reaches every process attached
// to that console, so this one leaves its own console and ignores Ctrl+C from then on.
bool press_ctrl_c(DWORD pid) {
  FreeConsole();
  if (!AttachConsole(pid)) return false;
  SetConsoleCtrlHandler(nullptr, TRUE);
  const bool sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
  FreeConsole();
  return sent;
}

}  // namespace

std::string simulator_process::program() {
  const char *override_path = std::getenv("VOK_SIMULATOR");
  return override_path != nullptr ? override_path : VOK_SIMULATOR_PATH;
}

simulator_process::simulator_process(const std::vector<std::string> &arguments) {
  pipe_pair out(false);
  DWORD pid = 0;
  HANDLE process = start(program(), arguments, GetStdHandle(STD_INPUT_HANDLE), out.write,
                         GetStdHandle(STD_ERROR_HANDLE), &pid);
  out.close_write();
  if (process == nullptr) return;
  process_ = process;
  pid_ = static_cast<pid_t>(pid);
  // The ready line, read on a thread so that a silent simulator cannot hold the test.
  std::string line;
  std::thread reader([&] {
    char c = 0;
    DWORD n = 0;
    while (ReadFile(out.read, &c, 1, &n, nullptr) && n == 1 && c != '\n') line += c;
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(scaled_seconds(60));
  while (std::chrono::steady_clock::now() < deadline && line.find("ready") == std::string::npos &&
         WaitForSingleObject(process, 50) == WAIT_TIMEOUT) {
  }
  if (line.find("ready") == std::string::npos) TerminateProcess(process, 1);
  reader.join();
  while (!line.empty() && line.back() == '\r') line.pop_back();
  line_ = line;
  ready_ = line.find("ready") != std::string::npos;
}

simulator_process::~simulator_process() { stop(); }

int simulator_process::wait_for_exit(int seconds) {
  if (process_ == nullptr) return -1;
  if (WaitForSingleObject(process_, static_cast<DWORD>(scaled_seconds(seconds)) * 1000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  CloseHandle(process_);
  process_ = nullptr;
  pid_ = -1;
  return static_cast<int>(code);
}

// Windows has no polite stop signal for a console process that is not ours to reach: the
// simulator is ended, and the system closes its objects.
int simulator_process::stop() {
  if (process_ == nullptr) return -1;
  TerminateProcess(static_cast<HANDLE>(process_), 0);
  return wait_for_exit(30);
}

void simulator_process::kill_now() { stop(); }

// The signal of `options` is Ctrl+C in a console of the program's own (whatever its number).
process_result run_process(const std::string &program, const std::vector<std::string> &arguments,
                           const std::string &input, const process_options &options) {
  using input_kind = process_options::input_kind;
  process_result result;
  pipe_pair in(true), out(false), err(false);
  const bool interrupt = !options.signal_after.empty();
  DWORD pid = 0;
  HANDLE process = start(program, arguments, in.read, out.write, err.write, &pid,
                         interrupt ? CREATE_NEW_CONSOLE : 0);
  in.close_read();
  out.close_write();
  err.close_write();
  if (process == nullptr) return result;
  DWORD written = 0;
  if (options.input == input_kind::text && !input.empty()) {
    WriteFile(in.write, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
  }
  if (options.input != input_kind::open_pipe) in.close_write();
  std::mutex lock;
  std::thread out_reader(drain, out.read, &result.out, &lock);
  std::thread err_reader(drain, err.read, &result.err, &lock);

  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::seconds(scaled_seconds(options.timeout_seconds));
  bool pressed = !interrupt;
  DWORD state = WAIT_TIMEOUT;
  while (state == WAIT_TIMEOUT && std::chrono::steady_clock::now() < deadline) {
    state = WaitForSingleObject(process, 20);
    if (pressed) continue;
    bool seen = false;
    {
      std::lock_guard<std::mutex> hold(lock);
      seen = result.out.find(options.signal_after) != std::string::npos;
    }
    if (!seen) continue;
    Sleep(static_cast<DWORD>(options.signal_delay_ms));
    pressed = true;
    press_ctrl_c(pid);
  }
  if (state != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, INFINITE);
    result.status = -1;
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    result.status = static_cast<int>(code);
  }
  out_reader.join();
  err_reader.join();
  CloseHandle(process);
  return result;
}

}  // namespace vok::test
