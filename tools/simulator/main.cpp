// vok-simulator: an emulated Vantrel board in a process of its own, served through the
// simulator link, for the update tool and for applications developed without a board.
#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "board_report.h"
#include "server.h"
#include "vokoem/vokoem.h"

namespace {

using vok::sim::parse_version;

std::atomic<bool> stop_requested{false};

#if defined(_WIN32)
BOOL WINAPI on_console_event(DWORD) {
  stop_requested.store(true);
  return TRUE;
}

void catch_stop_signals() { SetConsoleCtrlHandler(on_console_event, TRUE); }
int process_id() { return static_cast<int>(GetCurrentProcessId()); }
#else
void on_signal(int) { stop_requested.store(true); }

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no restart: a blocked wait ends at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}
int process_id() { return static_cast<int>(getpid()); }
#endif

// "CODE" or "CODE=ERROR".
template <typename Key>
std::string parse_fault(const std::string &text, std::int32_t default_error,
                        std::map<Key, std::int32_t> &table) {
  long long key = 0, error = default_error;
  char extra = 0;
  int n = std::sscanf(text.c_str(), "%lli=%lli%c", &key, &error, &extra);
  if (n < 1 || n > 2) return "expected N or N=ERROR: " + text;
  table[static_cast<Key>(key)] = static_cast<std::int32_t>(error);
  return {};
}

}  // namespace

int main(int argc, char **argv) {
  vok::sim::options settings;
  vok::board::config &config = settings.config;
  std::string driver_version = "2.9.1.0", cpld_version = "2.0.0.0";
  std::vector<std::string> modules, fail_queries, fail_writes, fail_reads;
  std::vector<std::uint32_t> flips;

  // A board report sets the board first; the options given beside it change single values.
  std::string board_report;
  int report_card = -1;
  {
    CLI::App first;
    first.allow_extras();
    first.set_help_flag();
    first.add_option("--board-report", board_report);
    first.add_option("--report-board", report_card);
    try {
      first.parse(argc, argv);
    } catch (const CLI::ParseError &) {
      // the whole command line is parsed below, and its faults reported there
    }
  }
  if (!board_report.empty()) {
    std::string error;
    if (!vok::sim::load_board_report(board_report, report_card, config, error)) {
      std::fprintf(stderr, "vok-simulator: %s\n", error.c_str());
      return 2;
    }
  }

  CLI::App app{
      "vok-simulator: an emulated Vantrel board for the client library and vantrel-upgrade.\n"
      "It publishes the simulator link's objects, prints one line when it is ready, and serves\n"
      "until SIGINT or SIGTERM, removing its objects on the way out."};
  CLI::Option *report_option = app.add_option(
      "--board-report", board_report,
      "FILE: play the board that a report of vantrel-upgrade (--json) describes; the options "
      "given beside it change single values");
  app.add_option("--report-board", report_card,
                 "CARD: the board of this card in the report (default: the first Vantrel board, "
                 "else the first)")
      ->needs(report_option);
  app.add_option("--type", config.devtype, "board type answered to SV_QUERY_DEVTYPE (21: Vantrel)")
      ->capture_default_str();
  app.add_option("--serial", config.serial, "serial number")->capture_default_str();
  app.add_option("--driver-version", driver_version, "driver version, major.minor.patch.fix")
      ->capture_default_str();
  app.add_option("--chips", config.chipversion,
                 "FPGA chip pair word: FX number above the low byte, SX number in it, as hex "
                 "digits (0x10055: FX100 with SX55)")
      ->capture_default_str();
  app.add_option("--card-options", config.cardoptions, "card option bits (bit 0: Brix variant)")
      ->capture_default_str();
  app.add_option("--flash-size", config.flashsize, "flash size in bytes")->capture_default_str();
  app.add_option("--cpld-version", cpld_version, "version of the cpld module")
      ->capture_default_str();
  app.add_option("--module", modules,
                 "NAME=VERSION: set a module of the version table ahead of the flash modules "
                 "(driver, cpld or a new one such as driver2=2.3.14.0); repeatable");
  app.add_option("--traceflags", config.traceflags,
                 "trace flags of the open reply: 1 traces failed calls, 2 every call")
      ->capture_default_str();
  app.add_option("--flash-file", settings.flash_file,
                 "file that keeps the flash and the region versions between runs");
  app.add_option("--trace-log", settings.trace_log, "file to append the received trace lines to");
  app.add_option("--fail-query", fail_queries,
                 "CODE[=ERROR]: answer this query code with an error (default 88); repeatable");
  app.add_option("--fail-write", fail_writes,
                 "MAP[=ERROR]: refuse the flash write of this map index (default 163); repeatable");
  app.add_option("--fail-read", fail_reads,
                 "ADDRESS[=ERROR]: refuse the flash read of this byte address (default 26); "
                 "repeatable");
  app.add_option("--flip", flips, "ADDRESS: the flash word at this byte address reads inverted; "
                                  "repeatable");
  app.add_option("--die-after", settings.die_after,
                 "serve this many requests, then exit in the middle of the next one");
  app.add_option("--slow", settings.slow_us, "wait this many microseconds before each answer");
  app.add_flag("--verbose", settings.verbose, "report connections on standard error");
  CLI11_PARSE(app, argc, argv);

  // The versions given go into the board, and into its modules of those names.
  std::string problem;
  if (app.count("--driver-version") != 0) {
    problem = parse_version(driver_version, config.driverversion);
  }
  if (problem.empty() && app.count("--cpld-version") != 0) {
    problem = parse_version(cpld_version, config.cpldversion);
  }
  for (const std::string &text : fail_queries) {
    if (problem.empty()) problem = parse_fault(text, SV_ERROR_TIMEOUT, settings.faults.fail_query);
  }
  for (const std::string &text : fail_writes) {
    if (problem.empty()) problem = parse_fault(text, SV_ERROR_FLASH_WRITE, settings.faults.fail_write);
  }
  for (const std::string &text : fail_reads) {
    if (problem.empty()) problem = parse_fault(text, SV_ERROR_TRANSFER, settings.faults.fail_read);
  }
  settings.faults.flip.insert(flips.begin(), flips.end());
  if (config.modules.empty()) {
    config.modules = {{"driver", config.driverversion, 0x14112011, 0x591100, 0, "vokdriver"},
                      {"cpld", config.cpldversion, 0, 0, 0, "board logic"}};
  }
  for (auto &m : config.modules) {
    if (m.name == "driver" && app.count("--driver-version") != 0) m.version = config.driverversion;
    if (m.name == "cpld" && app.count("--cpld-version") != 0) m.version = config.cpldversion;
  }
  for (const std::string &text : modules) {
    const auto equals = text.find('=');
    std::uint32_t word = 0;
    if (equals == std::string::npos || equals == 0) {
      problem = "a module is NAME=VERSION: " + text;
    } else if (std::string e = parse_version(text.substr(equals + 1), word); !e.empty()) {
      problem = e;
    } else {
      const std::string name = text.substr(0, equals);
      bool found = false;
      for (auto &m : config.modules) {
        if (m.name == name) {
          m.version = word;
          found = true;
        }
      }
      if (!found) {
        // Ahead of the flash modules, also where a board report lists them.
        auto at = config.modules.begin();
        while (at != config.modules.end() && vok::board::flash_map(at->name) == 0) ++at;
        config.modules.insert(at, {name, word, 0, 0, 0, ""});
      }
    }
    if (!problem.empty()) break;
  }
  if (!problem.empty()) {
    std::fprintf(stderr, "vok-simulator: %s\n", problem.c_str());
    return 2;
  }

  catch_stop_signals();
  vok::sim::objects link;
  std::string error;
  if (!link.create(0x10000, error)) {
    std::fprintf(stderr, "vok-simulator: %s\n", error.c_str());
    return 1;
  }
  vok::sim::server server(link, settings);
  if (!server.load(error)) {
    std::fprintf(stderr, "vok-simulator: %s\n", error.c_str());
    return 1;
  }
  std::printf("vok-simulator: ready, serving a board of type %d (s/n %d), pid %d\n", config.devtype,
              config.serial, process_id());
  std::fflush(stdout);
  server.run(stop_requested);
  link.remove();
  return 0;
}
