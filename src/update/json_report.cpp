#include "json_report.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#if defined(_WIN32)
#include <io.h>
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

#include "image_set.h"
#include "vokoem/vokoem.h"

namespace vok::update {
namespace {

#if defined(_WIN32)
constexpr int untranslated = O_BINARY;
#else
constexpr int untranslated = 0;
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

// Appends JSON values; the caller places the commas and brackets.
class json_text {
 public:
  std::string text;

  void string(const std::string &value) {
    text += '"';
    for (unsigned char c : value) {
      if (c == '"' || c == '\\') {
        text += '\\';
        text += static_cast<char>(c);
      } else if (c < 0x20 || c >= 0x7F) {
        // Control characters, and bytes that a driver's texts may hold in any code page,
        // as the Latin-1 characters they are taken for: the report stays valid UTF-8.
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
        text += escaped;
      } else {
        text += static_cast<char>(c);
      }
    }
    text += '"';
  }
  void string_or_null(const char *value) {
    if (value == nullptr) {
      text += "null";
    } else {
      string(value);
    }
  }
  void number(long long value) { text += std::to_string(value); }
  void number(const std::optional<std::int32_t> &value) {
    if (value) {
      number(*value);
    } else {
      text += "null";
    }
  }
  void time(std::time_t value) {
    char stamp[32] = "";
    if (const std::tm *utc = std::gmtime(&value); utc != nullptr) {  // single-threaded
      std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", utc);
    }
    string(stamp);
  }
  // `"name": ` before a member's value; `first` suppresses the comma.
  json_text &key(const char *name, bool first = false) {
    if (!first) text += ", ";
    string(name);
    text += ": ";
    return *this;
  }
};

void modules(json_text &j, const std::vector<module_record> &list) {
  j.text += '[';
  for (std::size_t i = 0; i < list.size(); ++i) {
    const module_record &m = list[i];
    j.text += i == 0 ? "{" : ", {";
    j.key("name", true).string(m.name);
    j.key("version").string(m.version);
    j.key("date").string(m.date);
    j.key("comment").string(m.comment);
    j.text += '}';
  }
  j.text += ']';
}

void region(json_text &j, const region_record &r) {
  j.text += '{';
  j.key("map", true).number(r.map);
  j.key("bytes_written").number(r.bytes_written);
  j.key("words_read").number(r.words_read);
  j.key("mismatches").number(r.mismatches);
  j.key("first_mismatches").text += '[';
  for (std::size_t i = 0; i < r.first_mismatches.size(); ++i) {
    const mismatch &m = r.first_mismatches[i];
    j.text += i == 0 ? "{" : ", {";
    j.key("offset", true).number(m.offset);
    j.key("read").number(m.read);
    j.key("expected").number(m.expected);
    j.text += '}';
  }
  j.text += ']';
  j.key("result").text += '{';
  j.key("code", true).number(r.result);
  j.key("name").string_or_null(error_name(r.result));
  j.key("text").string(errortext_lookup(r.result));
  j.text += "}}";
}

void board(json_text &j, const board_record &b) {
  j.text += "\n    {";
  j.key("card", true).number(b.card);
  j.key("setup").string(b.setup);
  j.key("type");
  if (b.devtype) {
    j.text += '{';
    j.key("number", true).number(*b.devtype);
    j.key("name").string(b.type_name);
    j.text += '}';
  } else {
    j.text += "null";
  }
  j.key("serial").number(b.serial);
  j.key("driver_version");
  if (b.driver_version) {
    j.string(version_text(static_cast<std::uint32_t>(*b.driver_version)));
  } else {
    j.text += "null";
  }
  j.key("chips");
  if (b.chipversion) {
    char pair[32];
    std::snprintf(pair, sizeof pair, "fx%02x-sx%02x", *b.chipversion / 256, *b.chipversion % 256);
    j.text += '{';
    j.key("word", true).number(*b.chipversion);
    j.key("text").string(pair);
    j.text += '}';
  } else {
    j.text += "null";
  }
  j.key("flash_size").number(b.flashsize);
  j.key("card_options").number(b.cardoptions);
  j.key("modules_before");
  modules(j, b.modules_before);
  j.key("modules_after");
  modules(j, b.modules_after);
  j.key("outcome").string(outcome_name(b.result));
  j.key("reason").string_or_null(b.reason.empty() ? nullptr : b.reason.c_str());
  j.key("regions").text += '[';
  for (std::size_t i = 0; i < b.regions.size(); ++i) {
    j.text += i == 0 ? "\n      " : ",\n      ";
    region(j, b.regions[i]);
  }
  j.text += "]}";
}

}  // namespace

std::string version_text(std::uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF,
                (v >> 24) & 0xFF);
  return text;
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
  }
  return "none";
}

std::string to_json(const run_record &run) {
  json_text j;
  j.text += "{\n  ";
  j.key("schema", true).number(report_schema);
  j.text += ",\n  ";
  j.key("tool", true).text += '{';
  j.key("name", true).string("vantrel-upgrade");
  j.key("version").string(run.tool_version);
  j.key("build").string(run.build);
  j.text += "},\n  ";
  j.key("package", true).text += '{';
  j.key("name", true).string(firmware::package_string);
  j.key("version").string(version_text(firmware::package_version));
  j.text += "},\n  ";
  j.key("mode", true).string(run.mode);
  j.key("started").time(run.started);
  j.key("ended").time(run.ended);
  j.text += ",\n  ";
  j.key("boards", true).text += '[';
  for (std::size_t i = 0; i < run.boards.size(); ++i) {
    if (i != 0) j.text += ',';
    board(j, run.boards[i]);
  }
  j.text += run.boards.empty() ? "],\n  " : "\n  ],\n  ";
  j.key("exit", true).number(run.exit_value);
  j.text += "\n}\n";
  return j.text;
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
                       std::fflush(file_) == 0;
  const int saved = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  std::error_code renamed;
  if (written && closed) std::filesystem::rename(temporary_, path_, renamed);
  if (written && closed && !renamed) return true;
  error = "'" + path_ + "': " +
          (renamed ? renamed.message() : std::strerror(written ? errno : saved));
  std::remove(temporary_.c_str());
  return false;
}

}  // namespace vok::update
