#include "state.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>  // ahead of <windows.h> and its min and max
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "image_set.h"

namespace vok::update {
namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr int state_schema = 1;
constexpr std::uintmax_t largest_state = 1 << 20;  // a record per board is a few dozen bytes

std::string environment(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

std::string machine_state::folder() {
  if (std::string chosen = environment("VANTREL_UPGRADE_STATE_DIR"); !chosen.empty()) {
    return chosen;
  }
#if defined(_WIN32)
  std::string data = environment("ProgramData");
  return (data.empty() ? std::string("C:\\ProgramData") : data) + "\\Vantrel\\Upgrade";
#else
  if (geteuid() == 0) return "/var/lib/vantrel-upgrade";
  if (std::string state = environment("XDG_STATE_HOME"); !state.empty()) {
    return state + "/vantrel-upgrade";
  }
  return environment("HOME") + "/.local/state/vantrel-upgrade";
#endif
}

std::string machine_state::boot_identity() {
#if defined(_WIN32)
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks_100ns =
      (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const unsigned long long seconds = ticks_100ns / 10000000ULL - GetTickCount64() / 1000ULL;
  return std::to_string(seconds);
#else
  std::ifstream in("/proc/sys/kernel/random/boot_id");
  std::string id;
  std::getline(in, id);
  return id;
#endif
}

bool machine_state::same_boot(const std::string &a, const std::string &b) {
  if (a.empty() || b.empty()) return false;
#if defined(_WIN32)
  char *end_a = nullptr, *end_b = nullptr;
  const long long x = std::strtoll(a.c_str(), &end_a, 10);
  const long long y = std::strtoll(b.c_str(), &end_b, 10);
  if (*end_a != '\0' || *end_b != '\0') return false;
  return (x > y ? x - y : y - x) <= 30;
#else
  return a == b;
#endif
}

void machine_state::load(std::string &warning) {
  boards_.clear();
  const fs::path file = fs::path(folder()) / "state.json";
  std::error_code error;
  if (!fs::exists(file, error)) return;
  const std::uintmax_t size = fs::file_size(file, error);
  if (error || size > largest_state) {
    warning = "the state record '" + file.string() + "' is ignored: " +
              (error ? error.message() : std::string("it is too large"));
    return;
  }
  std::ifstream in(file, std::ios::binary);
  const std::string text{std::istreambuf_iterator<char>(in), {}};
  // A record that is not what this tool writes is ignored whole: nothing of it is trusted.
  const json read = json::parse(text, nullptr, false);
  std::vector<written_board> boards;
  bool usable = read.is_object() && read.contains("schema") &&
                read["schema"].is_number_integer() && read["schema"] == state_schema &&
                read.contains("boards") && read["boards"].is_array();
  for (std::size_t i = 0; usable && i < read["boards"].size(); ++i) {
    const json &b = read["boards"][i];
    usable = b.is_object() && b.contains("serial") && b["serial"].is_number_integer() &&
             b.contains("package") && b["package"].is_string() && b.contains("written") &&
             b["written"].is_string() && b.contains("boot") && b["boot"].is_string();
    if (!usable) break;
    const long long serial = b["serial"].get<long long>();
    usable = serial >= INT32_MIN && serial <= INT32_MAX;
    boards.push_back({static_cast<std::int32_t>(serial), b["package"], b["written"], b["boot"]});
  }
  if (!usable) {
    warning = "the state record '" + file.string() + "' is not one of this tool's: it is ignored";
    return;
  }
  boards_ = std::move(boards);
}

bool machine_state::save(std::string &problem) const {
  const fs::path dir(folder());
  std::error_code error;
  fs::create_directories(dir, error);
  json out;
  out["schema"] = state_schema;
  out["boards"] = json::array();
  for (const written_board &b : boards_) {
    out["boards"].push_back(
        {{"serial", b.serial}, {"package", b.package}, {"written", b.written}, {"boot", b.boot}});
  }
  const std::string text = out.dump(2) + "\n";
  const fs::path file = dir / "state.json";
  const fs::path temporary = dir / ("state.json." + std::to_string(
#if defined(_WIN32)
                                        GetCurrentProcessId()
#else
                                        getpid()
#endif
                                            ) +
                                    ".tmp");
  // On the disk before the rename, and the rename after it: the operator is told next to power
  // the computer off.
  std::FILE *f = std::fopen(temporary.string().c_str(), "wb");
  bool written = f != nullptr && std::fwrite(text.data(), 1, text.size(), f) == text.size() &&
                 std::fflush(f) == 0 &&
#if defined(_WIN32)
                 FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != 0;
#else
                 fsync(fileno(f)) == 0;
#endif
  if (f != nullptr) written = std::fclose(f) == 0 && written;
  if (!written) {
    problem = "'" + temporary.string() + "': " + std::strerror(errno);
    fs::remove(temporary, error);
    return false;
  }
#if defined(_WIN32)
  const bool renamed = MoveFileExA(temporary.string().c_str(), file.string().c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  if (!renamed) problem = "'" + file.string() + "': " + std::system_category().message(static_cast<int>(GetLastError()));
#else
  const bool renamed = std::rename(temporary.string().c_str(), file.string().c_str()) == 0;
  if (!renamed) problem = "'" + file.string() + "': " + std::strerror(errno);
  if (const int folder = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY); renamed && folder >= 0) {
    fsync(folder);  // the new name; a folder that cannot be flushed keeps the old record at worst
    ::close(folder);
  }
#endif
  if (!renamed) fs::remove(temporary, error);
  return renamed;
}

void machine_state::remember(const written_board &board) {
  forget(board.serial);
  boards_.push_back(board);
}

void machine_state::forget(std::int32_t serial) {
  std::erase_if(boards_, [&](const written_board &b) { return b.serial == serial; });
}

bool apply_state(machine_state &state, run_record &run, const std::string &boot,
                 const std::string &now) {
  bool changed = false;
  for (board_record &b : run.boards) {
    if (b.result == outcome::skipped || b.result == outcome::none) continue;
    if (!b.serial) {
      // Without a serial number the board cannot be found in the record: whether an earlier
      // run wrote it is unknown.
      if (!regions_written(b)) b.earlier_update = board_record::earlier::unknown;
      continue;
    }
    if (regions_written(b)) {
      // Written in this boot, completed or not: once a later run finds its flash current, the
      // board waits for its power cycle.
      state.remember({*b.serial, version_text(firmware::package_version), now, boot});
      changed = true;
      continue;
    }
    // An earlier update counts only for a flash that this run found current (or did not read):
    // a board that differs now, or could not be read, needs another run first.
    if (b.result != outcome::verified && b.result != outcome::listed) continue;
    for (const written_board &w : state.boards()) {
      if (w.serial != *b.serial) continue;
      b.earlier_update = machine_state::same_boot(w.boot, boot)
                             ? board_record::earlier::this_boot
                             : board_record::earlier::before_restart;
      b.earlier_written = w.written;
    }
  }
  return changed;
}

void print_earlier_updates(const run_record &run) {
  for (const board_record &b : run.boards) {
    switch (b.earlier_update) {
      case board_record::earlier::this_boot:
        std::printf("Card %d was updated since the computer started: power the computer off "
                    "and on to load the new images\n",
                    b.card);
        break;
      case board_record::earlier::before_restart:
        std::printf("Card %d was updated before the computer last started: unless its power "
                    "was off since (a restart does not reload the board), power the computer off "
                    "and on; --power-cycled says that it was\n",
                    b.card);
        break;
      case board_record::earlier::unknown:
        std::printf("Card %d: its serial number could not be read, so whether an earlier update "
                    "waits for a power cycle is not known\n",
                    b.card);
        break;
      case board_record::earlier::none:
        break;
    }
  }
}

}  // namespace vok::update
