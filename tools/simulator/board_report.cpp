#include "board_report.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>

namespace vok::sim {
namespace {

using json = nlohmann::json;

constexpr std::int32_t vantrel = 21;
constexpr const char *library_module = "clib-oem";
constexpr std::size_t name_limit = 31, comment_limit = 63;  // the version record's text fields
// A report nests seven levels deep (the members of a region's first mismatches); a file that
// nests deeper than this is no report, and none of its values is built.
constexpr int depth_limit = 16;
// A report of eight boards is some 40 KB; a file that is larger is not read any further.
constexpr std::size_t size_limit = std::size_t{16} << 20;
constexpr std::size_t shown_limit = 40;  // characters of a value that an error shows

// A value as an error shows it: JSON on one line, in ASCII, cut short.
std::string shown(const json &value) {
  std::string text = value.dump(-1, ' ', true, json::error_handler_t::replace);
  if (text.size() > shown_limit) text = text.substr(0, shown_limit) + "...";
  return text;
}

// The member `key` of `owner`, or nullptr when it is missing or null.
const json *member(const json &owner, const char *key) {
  const auto found = owner.find(key);
  return found == owner.end() || found->is_null() ? nullptr : &*found;
}

// A version word as the tool writes it: major.minor.patch.fix.
std::string version_text(std::uint32_t word) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (word >> 16) & 0xFF, (word >> 8) & 0xFF,
                word & 0xFF, word >> 24);
  return text;
}

// Reads the values of one board as the tool writes them, naming the first one (by its path
// in the report) that the board cannot take.
class board_reader {
 public:
  const std::string &problem() const { return problem_; }

  void fail(const std::string &where, const json &value) {
    if (problem_.empty()) problem_ = where + " " + shown(value) + " cannot be played";
  }

  // A whole number of 32 bits, as the tool writes every value that the board answers.
  std::optional<std::int32_t> int32(const json &value, const std::string &where) {
    // Read as it was written: a number of 2^63 or above is unsigned, and never wraps.
    const bool fits = value.is_number_unsigned()
                          ? value.get<std::uint64_t>() <= INT32_MAX
                          : value.is_number_integer() && value.get<std::int64_t>() >= INT32_MIN &&
                                value.get<std::int64_t>() <= INT32_MAX;
    if (!fits) {
      fail(where, value);
      return std::nullopt;
    }
    return static_cast<std::int32_t>(value.get<std::int64_t>());
  }

  // A text as the board holds it: the report's characters U+0001 to U+00FF are its bytes.
  std::optional<std::string> bytes(const json &value, const std::string &where, std::size_t limit) {
    if (!value.is_string()) {
      fail(where, value);
      return std::nullopt;
    }
    const std::string &utf8 = value.get_ref<const std::string &>();
    std::string out;
    for (std::size_t i = 0; i < utf8.size() && out.size() <= limit; ++i) {
      const auto c = static_cast<unsigned char>(utf8[i]);
      if (c != 0 && c < 0x80) {
        out += static_cast<char>(c);
      } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
        out += static_cast<char>((c & 0x03) << 6 | (static_cast<unsigned char>(utf8[++i]) & 0x3F));
      } else {
        fail(where, value);  // NUL, which ends a text, or a character that no byte stands for
        return std::nullopt;
      }
    }
    if (out.size() > limit) {
      fail(where, value);
      return std::nullopt;
    }
    return out;
  }

  // "major.minor.patch.fix" as the tool writes a version word.
  std::optional<std::uint32_t> version(const json &value, const std::string &where) {
    const auto text = bytes(value, where, 15);
    std::uint32_t word = 0;
    if (!text) return std::nullopt;
    if (!parse_version(*text, word).empty() || *text != version_text(word)) {
      fail(where, value);
      return std::nullopt;
    }
    return word;
  }

  // "yyyy/mm/dd hh:mm" as the record's BCD date and time words; "" for none (both 0). The
  // tool writes each field in lower-case hex digits, whatever the words hold.
  bool date(const json &value, const std::string &where, std::uint32_t &day, std::uint32_t &time) {
    const auto text = bytes(value, where, 16);
    if (!text) return false;
    day = time = 0;
    if (text->empty()) return true;
    const std::string_view form = "hhhh/hh/hh hh:hh";
    bool good = text->size() == form.size();
    std::uint32_t field[5] = {};
    for (std::size_t i = 0, f = 0; good && i < form.size(); ++i) {
      const char c = (*text)[i];
      if (form[i] != 'h') {
        good = c == form[i];
        ++f;
      } else if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')) {
        field[f] = field[f] << 4 | static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
      } else {
        good = false;
      }
    }
    if (!good) {
      fail(where, value);
      return false;
    }
    day = field[2] << 24 | field[1] << 16 | field[0];
    time = field[4] << 16 | field[3] << 8;
    // All zero: the tool prints a date when the time word holds only bits that it does not
    // show; bit 0 is one of them.
    if (day == 0 && time == 0) time = 1;
    return true;
  }

 private:
  std::string problem_;
};

// The index of the board to play: that of `card`, else the first Vantrel board, else the
// first; -1 when there is none.
int choose_board(const json &boards, int card) {
  int first = -1, first_vantrel = -1;
  for (std::size_t i = 0; i < boards.size(); ++i) {
    const json &b = boards[i];
    if (!b.is_object()) continue;
    const auto number = b.find("card");
    if (card >= 0) {
      if (number != b.end() && *number == card) return static_cast<int>(i);
      continue;
    }
    if (first < 0) first = static_cast<int>(i);
    const auto type = b.find("type");
    if (first_vantrel < 0 && type != b.end() && type->is_object() &&
        type->value("number", json()) == vantrel) {
      first_vantrel = static_cast<int>(i);
    }
  }
  return first_vantrel >= 0 ? first_vantrel : first;
}

// The module table, in the report's order: each flash module sets its region's version record
// and holds its place, every other module is a row of its own, but for the client library's
// own record, which the library answers itself. A report without a table leaves the
// simulator's own, and one of flash modules only the simulator's other modules.
void load_modules(board_reader &read, const json &list, const std::string &where,
                  board::config &config) {
  if (list.empty()) return;
  std::vector<board::module_version> rows;
  bool others = false;
  for (std::size_t i = 0; i < list.size() && read.problem().empty(); ++i) {
    const json &m = list[i];
    const std::string at = where + "[" + std::to_string(i) + "]";
    if (!m.is_object()) {
      read.fail(at, m);
      return;
    }
    const auto name = read.bytes(m.value("name", json()), at + ".name", name_limit);
    const auto version = read.version(m.value("version", json()), at + ".version");
    const auto comment = read.bytes(m.value("comment", json()), at + ".comment", comment_limit);
    std::uint32_t day = 0, time = 0;
    const bool dated = read.date(m.value("date", json()), at + ".date", day, time);
    // A beta flag and its number; a report of an older tool has neither. This library
    // answers every beta number as 0.
    const json beta = m.value("beta", json(false));
    const json beta_number = m.value("beta_number", json(0));
    if (!beta.is_boolean()) read.fail(at + ".beta", beta);
    if (!beta_number.is_number_integer() || beta_number != 0) {
      read.fail(at + ".beta_number", beta_number);
    }
    if (!name || !version || !comment || !dated || !read.problem().empty()) return;
    const std::uint32_t flags = beta == true ? 1 : 0;
    if (*name == library_module) continue;
    if (const int map = board::flash_map(*name); map != 0) {
      config.flashversion[map - 1] = *version;
      config.flashcomment[map - 1] = *comment;
      config.flashdate[map - 1] = day;
      config.flashtime[map - 1] = time;
      config.flashflags[map - 1] = flags;
    } else {
      others = true;
    }
    rows.push_back({*name, *version, day, time, flags, *comment});
  }
  if (others) {
    config.modules = std::move(rows);
  } else {
    config.modules.clear();
  }
}

}  // namespace

std::string parse_version(const std::string &text, std::uint32_t &word) {
  // Decimal digits only: no sign, space or other character before, between or after.
  unsigned part[4] = {};
  const char *at = text.data(), *const end = at + text.size();
  int count = 0;
  bool good = true;
  while (good) {
    const auto [next, error] = std::from_chars(at, end, part[count]);
    good = error == std::errc() && part[count] <= 255;
    at = next;
    if (!good || ++count == 4 || at == end) break;
    good = *at++ == '.';
  }
  if (!good || at != end || count < 3) {
    return "a version is major.minor.patch[.fix], each 0 to 255: " + text;
  }
  word = part[3] << 24 | part[0] << 16 | part[1] << 8 | part[2];
  return {};
}

bool read_board_report(const std::string &text, const std::string &name, int card,
                       board::config &config, std::string &error) {
  if (text.size() > size_limit) {
    error = "the board report '" + name + "' is larger than 16 MiB";
    return false;
  }
  bool too_deep = false;
  const json report = json::parse(
      text,
      [&too_deep](int depth, json::parse_event_t, json &) {
        too_deep = too_deep || depth > depth_limit;
        return !too_deep;
      },
      false);
  if (too_deep) {
    error = "the board report '" + name + "' nests deeper than a report";
    return false;
  }
  if (report.is_discarded()) {
    error = "the board report '" + name + "' is not JSON";
    return false;
  }
  if (!report.is_object() || report.value("schema", json()) != 1 || !report.contains("boards") ||
      !report["boards"].is_array()) {
    error = "'" + name + "' is not a report of schema 1";
    return false;
  }
  const int index = choose_board(report["boards"], card);
  if (index < 0) {
    error = "'" + name + "' has " +
            (card >= 0 ? "no board of card " + std::to_string(card) : std::string("no board"));
    return false;
  }
  const json &b = report["boards"][static_cast<std::size_t>(index)];
  const std::string at = "boards[" + std::to_string(index) + "]";
  board_reader read;
  board::config played = config;
  if (const json *type = member(b, "type")) {
    if (!type->is_object()) {
      read.fail(at + ".type", *type);
    } else if (auto number = read.int32(type->value("number", json()), at + ".type.number")) {
      played.devtype = *number;
    }
  }
  if (const json *serial = member(b, "serial")) {
    if (auto value = read.int32(*serial, at + ".serial")) played.serial = *value;
  }
  if (const json *driver = member(b, "driver_version")) {
    if (auto word = read.version(*driver, at + ".driver_version")) played.driverversion = *word;
  }
  if (const json *chips = member(b, "chips")) {
    if (!chips->is_object()) {
      read.fail(at + ".chips", *chips);
    } else if (auto word = read.int32(chips->value("word", json()), at + ".chips.word")) {
      played.chipversion = static_cast<std::uint32_t>(*word);
    }
  }
  if (const json *size = member(b, "flash_size")) {
    if (auto value = read.int32(*size, at + ".flash_size")) played.flashsize = *value;
  }
  if (const json *options = member(b, "card_options")) {
    if (auto value = read.int32(*options, at + ".card_options")) played.cardoptions = *value;
  }
  // The table after the update where the run made one, else the one before it.
  const json *after = member(b, "modules_after"), *before = member(b, "modules_before");
  if (after != nullptr && !after->is_array()) read.fail(at + ".modules_after", *after);
  if (before != nullptr && !before->is_array()) read.fail(at + ".modules_before", *before);
  const bool updated = after != nullptr && after->is_array() && !after->empty();
  if (read.problem().empty() && (updated || before != nullptr)) {
    load_modules(read, updated ? *after : *before,
                 at + (updated ? ".modules_after" : ".modules_before"), played);
  }
  if (!read.problem().empty()) {
    error = "'" + name + "': " + read.problem();
    return false;
  }
  config = std::move(played);
  return true;
}

bool load_board_report(const std::string &path, int card, board::config &config,
                       std::string &error) {
  std::ifstream in(path, std::ios::binary);
  // Read no further than a chunk beyond the largest report: a device such as /dev/zero never
  // ends.
  std::string text;
  char chunk[65536];
  while (in && text.size() <= size_limit) {
    in.read(chunk, sizeof chunk);
    text.append(chunk, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad() || (!in && !in.eof())) {
    error = "cannot read the board report '" + path + "'";
    return false;
  }
  return read_board_report(text, path, card, config, error);
}

}  // namespace vok::sim
