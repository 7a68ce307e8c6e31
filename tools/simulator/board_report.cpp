#include "board_report.h"

#include <climits>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

namespace vok::sim {
namespace {

using json = nlohmann::json;

constexpr std::int32_t vantrel = 21;
constexpr const char *library_module = "clib-oem";
constexpr std::size_t name_limit = 31, comment_limit = 63;  // the version record's text fields

// Reads the members of one board, naming the first value that the board cannot take.
class board_reader {
 public:
  explicit board_reader(const json &board) : board_(board) {}
  const std::string &problem() const { return problem_; }

  // A whole number within [low, high], or nothing when the member is missing or null.
  std::optional<long long> number(const json &owner, const char *key, long long low,
                                  long long high) {
    const auto found = owner.find(key);
    if (found == owner.end() || found->is_null()) return std::nullopt;
    if (!found->is_number_integer() || found->get<long long>() < low ||
        found->get<long long>() > high) {
      fail(key, found->dump());
      return std::nullopt;
    }
    return found->get<long long>();
  }
  std::optional<std::int32_t> int32(const char *key) {
    const auto value = number(board_, key, INT32_MIN, INT32_MAX);
    return value ? std::optional<std::int32_t>(static_cast<std::int32_t>(*value)) : std::nullopt;
  }

  // A text as the board holds it: the report's characters U+0000 to U+00FF are its bytes.
  std::optional<std::string> bytes(const json &owner, const char *key, std::size_t limit) {
    const auto found = owner.find(key);
    if (found == owner.end() || !found->is_string()) {
      fail(key, found == owner.end() ? "nothing" : found->dump());
      return std::nullopt;
    }
    const std::string &utf8 = found->get_ref<const std::string &>();
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
      const auto c = static_cast<unsigned char>(utf8[i]);
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
        out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
      } else {
        fail(key, found->dump());  // a character that no byte stands for
        return std::nullopt;
      }
    }
    if (out.size() > limit) {
      fail(key, found->dump());
      return std::nullopt;
    }
    return out;
  }

  std::optional<std::uint32_t> version(const json &owner, const char *key) {
    const auto text = bytes(owner, key, SIZE_MAX);
    std::uint32_t word = 0;
    if (text && !parse_version(*text, word).empty()) fail(key, owner[key].dump());
    return text && problem_.empty() ? std::optional<std::uint32_t>(word) : std::nullopt;
  }

  // "yyyy/mm/dd hh:mm" as the record's BCD date and time words; "" for none (both 0).
  bool date(const json &owner, std::uint32_t &day, std::uint32_t &time) {
    const auto text = bytes(owner, "date", SIZE_MAX);
    if (!text) return false;
    day = time = 0;
    if (text->empty()) return true;
    unsigned year = 0, month = 0, mday = 0, hour = 0, minute = 0;
    char extra = 0;
    if (text->size() != 16 || std::sscanf(text->c_str(), "%4x/%2x/%2x %2x:%2x%c", &year, &month,
                                          &mday, &hour, &minute, &extra) != 5) {
      fail("date", owner["date"].dump());
      return false;
    }
    day = mday << 24 | month << 16 | year;
    time = minute << 16 | hour << 8;
    return true;
  }

 private:
  void fail(const char *key, const std::string &value) {
    if (problem_.empty()) problem_ = std::string(key) + " " + value + " cannot be played";
  }

  const json &board_;
  std::string problem_;
};

// The board to play: that of `card`, else the first Vantrel board, else the first.
const json *choose_board(const json &boards, int card) {
  const json *first = nullptr, *first_vantrel = nullptr;
  for (const json &b : boards) {
    if (!b.is_object()) continue;
    const auto number = b.find("card");
    if (card >= 0) {
      if (number != b.end() && *number == card) return &b;
      continue;
    }
    if (first == nullptr) first = &b;
    const auto type = b.find("type");
    if (first_vantrel == nullptr && type != b.end() && type->is_object() &&
        type->value("number", json()) == vantrel) {
      first_vantrel = &b;
    }
  }
  return first_vantrel != nullptr ? first_vantrel : first;
}

// The module table: each flash module sets its region's version record, every other module
// is a row ahead of them, but for the client library's own record, which the library answers
// itself. A report without a table leaves the simulator's own.
bool load_modules(board_reader &read, const json &list, board::config &config) {
  if (!list.is_array() || list.empty()) return true;
  std::vector<board::module_version> rows;
  for (const json &m : list) {
    if (!m.is_object()) return false;
    const auto name = read.bytes(m, "name", name_limit);
    const auto version = read.version(m, "version");
    const auto comment = read.bytes(m, "comment", comment_limit);
    std::uint32_t day = 0, time = 0;
    if (!name || !version || !comment || !read.date(m, day, time)) return false;
    if (*name == library_module) continue;
    int map = 1;
    while (map <= 4 && *name != "pciflash" + std::to_string(map)) ++map;
    if (map <= 4) {
      config.flashversion[map - 1] = *version;
      config.flashcomment[map - 1] = *comment;
      config.flashdate[map - 1] = day;
      config.flashtime[map - 1] = time;
    } else {
      rows.push_back({*name, *version, day, time, 0, *comment});
    }
  }
  config.modules = std::move(rows);
  return true;
}

}  // namespace

std::string parse_version(const std::string &text, std::uint32_t &word) {
  unsigned major = 0, minor = 0, patch = 0, fix = 0;
  char extra = 0;
  int n = std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &major, &minor, &patch, &fix, &extra);
  if (n < 3 || n > 4 || major > 255 || minor > 255 || patch > 255 || fix > 255) {
    return "a version is major.minor.patch[.fix], each 0 to 255: " + text;
  }
  word = fix << 24 | major << 16 | minor << 8 | patch;
  return {};
}

bool load_board_report(const std::string &path, int card, board::config &config,
                       std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read the board report '" + path + "'";
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  const json report = json::parse(text.str(), nullptr, false);
  if (report.is_discarded()) {
    error = "the board report '" + path + "' is not JSON";
    return false;
  }
  if (!report.is_object() || report.value("schema", json()) != 1 || !report.contains("boards") ||
      !report["boards"].is_array()) {
    error = "'" + path + "' is not a report of schema 1";
    return false;
  }
  const json *chosen = choose_board(report["boards"], card);
  if (chosen == nullptr) {
    error = "'" + path + "' has " +
            (card >= 0 ? "no board of card " + std::to_string(card) : std::string("no board"));
    return false;
  }
  const json &b = *chosen;
  board_reader read(b);
  board::config played = config;
  if (b.contains("type") && b["type"].is_object()) {
    if (auto type = read.number(b["type"], "number", INT32_MIN, INT32_MAX)) {
      played.devtype = static_cast<std::int32_t>(*type);
    }
  }
  if (auto serial = read.int32("serial")) played.serial = *serial;
  if (b.contains("driver_version") && !b["driver_version"].is_null()) {
    if (auto word = read.version(b, "driver_version")) played.driverversion = *word;
  }
  if (b.contains("chips") && b["chips"].is_object()) {
    if (auto word = read.number(b["chips"], "word", INT32_MIN, UINT32_MAX)) {
      played.chipversion = static_cast<std::uint32_t>(*word);
    }
  }
  if (auto size = read.number(b, "flash_size", 0, INT32_MAX)) {
    played.flashsize = static_cast<std::int32_t>(*size);
  }
  if (auto options = read.int32("card_options")) played.cardoptions = *options;
  const json &after = b.contains("modules_after") ? b["modules_after"] : json();
  const json &before = b.contains("modules_before") ? b["modules_before"] : json();
  const bool modules_read =
      load_modules(read, after.is_array() && !after.empty() ? after : before, played);
  if (!read.problem().empty() || !modules_read) {
    const json &number = b.contains("card") ? b["card"] : json();
    error = "'" + path + "', card " + number.dump() + ": " +
            (read.problem().empty() ? std::string("a module that is not an object")
                                    : read.problem());
    return false;
  }
  config = std::move(played);
  return true;
}

}  // namespace vok::sim
