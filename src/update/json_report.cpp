#include "json_report.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <nlohmann/json.hpp>  // ahead of <windows.h> and its min and max
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#include <windows.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include "image_set.h"
#include "vokoem/vokoem.h"

namespace vok::update {
namespace {

// The report must be on the disk when the tool tells the operator that the computer may be
// powered off: the file's contents reach the disk before the rename, and the rename itself
// (the directory entry) after it. Each returns false with errno, or `reason`, set.
#if defined(_WIN32)
constexpr int untranslated = O_BINARY;

bool flush_file(std::FILE *file) {
  if (FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != 0) return true;
  errno = EIO;
  return false;
}

// The narrow names as open() took them: both go through the ANSI code page.
bool rename_flushed(const std::string &from, const std::string &to, std::string &reason,
                    std::string &) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  reason = std::system_category().message(static_cast<int>(GetLastError()));
  return false;
}
#else
constexpr int untranslated = 0;

bool flush_file(std::FILE *file) {
  return fsync(fileno(file)) == 0;
}

// Once the rename is done the report is at its name: a folder that cannot be flushed after it
// leaves the report written, with a warning that it may not outlast a power failure.
bool rename_flushed(const std::string &from, const std::string &to, std::string &reason,
                    std::string &warning) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    reason = std::strerror(errno);
    return false;
  }
  const std::filesystem::path folder = std::filesystem::path(to).parent_path();
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  // EINVAL: a file system that has no way to flush a directory; nothing more can be done.
  const bool flushed = fd >= 0 && (fsync(fd) == 0 || errno == EINVAL);
  if (!flushed) {
    warning = "'" + to + "' is written, but its folder could not be flushed to the disk (" +
              std::strerror(errno) + "): it may be lost if the power fails now";
  }
  if (fd >= 0) ::close(fd);
  return true;
}
#endif

const char *error_name(int code) {
  switch (code) {
#define SV_ERROR_NAME(code, name, sentence) \
  case code:                                 \
    return #name;
    SV_ERROR_LIST(SV_ERROR_NAME)
#undef SV_ERROR_NAME
    default:
      return nullptr;
  }
}

using json = nlohmann::ordered_json;

// A driver's text as the report holds it: bytes of 0x80 and above, which a driver's texts may
// hold in any code page, as the Latin-1 characters they are taken for, so that the report is
// valid UTF-8 whatever the board says.
json text(const std::string &value) {
  std::string utf8;
  utf8.reserve(value.size());
  for (unsigned char c : value) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

json text_or_null(const char *value) { return value != nullptr ? text(value) : json(nullptr); }

json number_or_null(const std::optional<std::int32_t> &value) {
  return value ? json(*value) : json(nullptr);
}

json modules(const std::vector<module_record> &list) {
  json out = json::array();
  for (const module_record &m : list) {
    out.push_back({{"name", text(m.name)},
                   {"version", text(m.version)},
                   {"date", text(m.date)},
                   {"comment", text(m.comment)},
                   {"beta", m.beta},
                   {"beta_number", m.beta_number}});
  }
  return out;
}

json region(const region_record &r) {
  json first = json::array();
  for (const mismatch &m : r.first_mismatches) {
    first.push_back({{"offset", m.offset}, {"read", m.read}, {"expected", m.expected}});
  }
  return {{"map", r.map},
          {"bytes_written", r.bytes_written},
          {"words_read", r.words_read},
          {"mismatches", r.mismatches},
          {"first_mismatches", std::move(first)},
          {"result",
           {{"code", r.result},
            {"name", text_or_null(error_name(r.result))},
            {"text", text(errortext_lookup(r.result))}}},
          {"record_matches", r.record_matches ? json(*r.record_matches) : json(nullptr)}};
}

json board(const board_record &b) {
  json out;
  out["card"] = b.card;
  out["setup"] = text(b.setup);
  out["type"] =
      b.devtype ? json{{"number", *b.devtype}, {"name", text(b.type_name)}} : json(nullptr);
  out["serial"] = number_or_null(b.serial);
  out["driver_version"] =
      b.driver_version ? json(version_text(static_cast<std::uint32_t>(*b.driver_version)))
                       : json(nullptr);
  if (b.chipversion) {
    char pair[32];
    std::snprintf(pair, sizeof pair, "fx%02x-sx%02x", *b.chipversion / 256, *b.chipversion % 256);
    out["chips"] = {{"word", *b.chipversion}, {"text", pair}};
  } else {
    out["chips"] = nullptr;
  }
  out["flash_size"] = number_or_null(b.flashsize);
  out["card_options"] = number_or_null(b.cardoptions);
  out["modules_before"] = modules(b.modules_before);
  out["modules_after"] = modules(b.modules_after);
  out["outcome"] = outcome_name(b.result);
  out["reason"] = text_or_null(b.reason.empty() ? nullptr : b.reason.c_str());
  out["regions"] = json::array();
  for (const region_record &r : b.regions) out["regions"].push_back(region(r));
  const power_cycle state = power_cycle_of(b);
  out["power_cycle"] = power_cycle_name(state);
  // Unknown after the computer has started again: neither needed nor not needed.
  out["power_cycle_needed"] =
      state == power_cycle::unconfirmed ? json(nullptr) : json(state == power_cycle::needed);
  out["run_again_needed"] = state == power_cycle::run_again;
  out["region_in_hand"] =
      b.region_in_hand != 0
          ? json{{"map", b.region_in_hand}, {"step", b.writing_in_hand ? "write" : "read"}}
          : json(nullptr);
  out["updated_earlier"] = text_or_null(b.earlier_written.empty() ? nullptr
                                                                  : b.earlier_written.c_str());
  return out;
}

}  // namespace

std::string utc_text(std::time_t value) {
  char stamp[32] = "";
  if (const std::tm *time = std::gmtime(&value); time != nullptr) {  // single-threaded
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", time);
  }
  return stamp;
}

std::string version_text(std::uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF,
                (v >> 24) & 0xFF);
  return text;
}

const char *power_cycle_name(power_cycle state) {
  switch (state) {
    case power_cycle::not_needed: return "not needed";
    case power_cycle::needed: return "needed";
    case power_cycle::run_again: return "run again first";
    case power_cycle::unconfirmed: return "unconfirmed";
  }
  return "not needed";
}

const char *outcome_name(outcome o) {
  switch (o) {
    case outcome::none: return "none";
    case outcome::skipped: return "skipped";
    case outcome::listed: return "listed";
    case outcome::updated: return "updated";
    case outcome::verified: return "verified";
    case outcome::differs: return "differs";
    case outcome::refused: return "refused";
    case outcome::declined: return "declined";
    case outcome::failed: return "failed";
    case outcome::interrupted: return "interrupted";
    case outcome::busy: return "busy";
  }
  return "none";
}

std::string to_json(const run_record &run) {
  json report;
  report["schema"] = report_schema;
  report["tool"] = {{"name", "vantrel-upgrade"}, {"version", text(run.tool_version)},
                    {"build", text(run.build)}};
  report["package"] = {{"name", text(firmware::package_string)},
                       {"version", version_text(firmware::package_version)}};
  report["mode"] = run.mode;
  report["started"] = utc_text(run.started);
  report["ended"] = utc_text(run.ended);
  report["boards"] = json::array();
  for (const board_record &b : run.boards) report["boards"].push_back(board(b));
  report["cards_not_tried"] = run.not_tried;
  report["exit"] = run.exit_value;
  report["power_cycle_needed"] = power_cycle_needed(run)                    ? json(true)
                                 : any_board(run, power_cycle::unconfirmed) ? json(nullptr)
                                                                            : json(false);
  report["run_again_needed"] = run_again_needed(run);
  // ASCII only: every other character as its \u escape.
  return report.dump(2, ' ', true) + "\n";
}

json_report::~json_report() {
  if (file_ != nullptr) {
    std::fclose(file_);
    std::remove(temporary_.c_str());
  }
}

bool json_report::open(const char *path, std::string &error) {
  namespace fs = std::filesystem;
  path_ = path;
  // The rename at the end cannot put the report at a name that ends in a separator, nor over
  // a directory or a device: found now, before any board is opened.
  const fs::path target(path_);
  std::error_code status;
  if (!target.has_filename()) {
    error = "'" + path_ + "': not the name of a file";
    return false;
  }
  if (fs::exists(target, status) && !fs::is_regular_file(target, status)) {
    error = "'" + path_ + "': not a regular file";
    return false;
  }
  // A temporary file of this run's own beside the report, created exclusively: a file that is
  // there already, or another run's, is never written.
  for (int attempt = 0; file_ == nullptr; ++attempt) {
    temporary_ = path_ + "." + std::to_string(getpid()) + "." + std::to_string(attempt) + ".tmp";
    const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | untranslated, 0666);
    if (fd < 0 && errno == EEXIST && attempt < 100) continue;
    if (fd < 0 || (file_ = fdopen(fd, "wb")) == nullptr) {
      error = "'" + path_ + "': " + std::strerror(errno);
      if (fd >= 0) {
        ::close(fd);
        std::remove(temporary_.c_str());
      }
      return false;
    }
  }
  return true;
}

bool json_report::commit(const run_record &run, std::string &error) {
  const std::string text = to_json(run);
  std::lock_guard<std::mutex> held(lock_);
  return kept_written_ || write(text, error);
}

void json_report::keep(const run_record &run) {
  std::string text = to_json(run);
  std::lock_guard<std::mutex> held(lock_);
  kept_.swap(text);
}

void json_report::commit_kept() {
  std::lock_guard<std::mutex> held(lock_);
  std::string error;
  kept_written_ = !kept_.empty() && write(kept_, error);
}

bool json_report::write(const std::string &text, std::string &error) {
  if (file_ == nullptr) {
    error = "the report file was not opened";
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size() &&
                       std::fflush(file_) == 0 && flush_file(file_);
  const int saved = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  std::string reason;
  if (written && closed && rename_flushed(temporary_, path_, reason, warning_)) return true;
  error = "'" + path_ + "': " + (!reason.empty() ? reason : std::strerror(written ? errno : saved));
  std::remove(temporary_.c_str());
  return false;
}

}  // namespace vok::update
