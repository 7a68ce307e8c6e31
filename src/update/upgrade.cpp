#include "upgrade.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include "console.h"
#include "flash.h"
#include "interrupt.h"
#include "report.h"

namespace vok::update {
namespace {

constexpr std::int32_t minimum_driver = 0x00020901;  // 2.9.1.0
constexpr std::int32_t supported_chips = 0x10055;    // FX100 with SX55
constexpr int brix_option = 0x1;
constexpr int table_rows = 8;
constexpr int filled_rows = 4;
constexpr int sx_row = 3;

// The description prefix and the flash region of each filled row.
constexpr const char *description_format[filled_rows] = {"fx %d %s", "s1 %d %s", "s2 %d %s",
                                                         "sx %d %s"};
constexpr int map_of_row[filled_rows] = {1, 2, 3, 4};

bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// One board's passage through the steps: its handle, what the mode decides, and what the
// steps learn about it.
struct passage {
  sv_handle *sv;
  const update_steps &mode;
  board_record &board;

  // Ends the passage before anything is written: closes the board and returns -1.
  int stop(outcome result, std::string reason) {
    board.result = result;
    board.reason = std::move(reason);
    sv_close(sv);
    return -1;
  }

  // Reads one value of the board into `value` and the record; on failure reports it.
  bool query(int code, std::int32_t &value, std::optional<std::int32_t> &kept) {
    const int result = sv_query(sv, code, 0, &value);
    if (result != SV_OK) {
      report_error(sv, result);
      board.reason = std::string("query ") + std::to_string(code) + " failed: " +
                     errortext_lookup(result);
      return false;
    }
    kept = value;
    return true;
  }
  int query_failed() { return stop(outcome::failed, board.reason); }

  // Stops the passage when an interrupt has arrived; nothing has been written yet.
  bool stopped_by_interrupt() {
    if (!interrupted()) return false;
    std::printf("\nInterrupted: nothing was written to the board\n");
    stop(outcome::interrupted, "interrupted before anything was written");
    return true;
  }

  bool confirmed() {
    std::printf("\n");
    std::printf("Are you sure that you want to continue ?\n");
    std::printf("\n");
    if (!mode.ask) {
      std::printf("Answered 'y' by --yes\n");
      return true;
    }
    std::printf("Press 'y' and 'Enter' to continue, any other key and 'Enter' to abort\n");
    flushoutput();
    if (readanswer() == 'y') return true;
    if (interrupted()) return true;  // the interrupt, not the answer, ends the passage
    std::printf("\n");
    std::printf("Update aborted\n");
    return false;
  }

  // Says, after an interrupt between regions, what each region went through. A region done
  // before the interrupt that failed (or, when comparing, differs) decides the outcome, with
  // the interrupt noted: running the update again is no advice for a write that the board
  // refuses.
  void report_interrupted_regions() {
    std::printf("\nInterrupted:");
    for (int row = 0; row < filled_rows; ++row) {
      const char *state = mode.write ? "not written" : "not compared";
      if (static_cast<std::size_t>(row) < board.regions.size()) {
        const region_record &r = board.regions[row];
        if (!mode.write) {
          state = r.result == SV_OK && r.record_matches != false ? "matches"
                                                                  : "differs or could not be read";
        } else if (r.bytes_written == 0 && r.result == SV_OK) {
          state = "current, not written";
        } else if (r.bytes_written != 0) {
          state = r.result == SV_OK ? "written and verified" : "written, verification failed";
        } else if (r.result != SV_OK) {
          state = "write failed";
        }
      }
      std::printf(" map %d %s%s", map_of_row[row], state, row + 1 < filled_rows ? "," : "\n");
    }
    conclude();
    const char *interrupt = "interrupted between regions";
    if (board.result == outcome::failed || board.result == outcome::differs) {
      if (mode.write) std::printf("The update is not complete, and a region failed (see above).\n");
      board.reason += std::string("; then ") + interrupt;
      return;
    }
    if (mode.write) {
      std::printf("The update is not complete: run this program again before the computer is "
                  "powered off.\n");
    }
    board.result = outcome::interrupted;
    board.reason = interrupt;
  }

  // Marks the region in hand, then lets the run keep its report for a forced end.
  void begin_region(int row, bool writing) {
    board.region_in_hand = map_of_row[row];
    board.writing_in_hand = writing;
    long_step_begins();
  }

  // The region's record in the version table before the update (module "pciflash<map>")
  // against the version and description that the update writes; unknown when the board
  // lists no record for the region, and the data alone then decides.
  std::optional<bool> record_matches(int row, const char *description) const {
    const std::string name = "pciflash" + std::to_string(map_of_row[row]);
    for (const module_record &m : board.modules_before) {
      if (m.name != name) continue;
      const bool same = m.version == version_text(firmware::package_version) &&
                        m.comment == description;
      if (!same) {
        std::printf("map %d is described as %s '%s'; the update writes %s '%s'\n",
                    map_of_row[row], m.version.c_str(), m.comment.c_str(),
                    version_text(firmware::package_version).c_str(), description);
      }
      return same;
    }
    return std::nullopt;
  }

  // Compares one region with what the update writes: its record, then its data.
  region_record compare(int row, const imageentry &image, const char *description) {
    begin_region(row, false);
    region_record r = verifyflash(sv, map_of_row[row], image, description);
    board.region_in_hand = 0;
    r.record_matches = record_matches(row, description);
    return r;
  }

  // With compare_first: compares regions 1 to 4 with what the update writes (a region whose
  // record differs is not read: it is written anyway). Each region that is current is kept in
  // `current`, and only the others are to be written. True when a region is to be written;
  // otherwise the passage has ended (the flash is current, a region could not be read, or an
  // interrupt came), with the comparisons as its regions.
  bool differs_from(const imageentry *table, const char (*desc)[64],
                    std::optional<region_record> (&current)[filled_rows]) {
    std::printf("\nComparing the flash with the images before writing\n");
    bool differs = false;
    // The regions compared so far, in map order, when the passage ends here.
    auto keep_compared = [&](std::optional<region_record> last) {
      std::vector<region_record> kept;
      for (auto &r : current) {
        if (r) kept.push_back(std::move(*r));
      }
      if (last) kept.push_back(std::move(*last));
      board.regions = std::move(kept);
    };
    for (int row = 0; row < filled_rows; ++row) {
      if (interrupted()) keep_compared(std::nullopt);
      if (stopped_by_interrupt()) return false;
      if (record_matches(row, desc[row]) == false) {
        differs = true;
        continue;
      }
      region_record r = compare(row, table[row], desc[row]);
      if (r.result == SV_ERROR_FLASH_VERIFY) {
        differs = true;
      } else if (r.result != SV_OK) {
        keep_compared(std::move(r));
        sv_close(sv);
        board.result = outcome::failed;
        board.reason = "map " + std::to_string(board.regions.back().map) +
                       " could not be read: " + errortext_lookup(board.regions.back().result);
        return false;
      } else {
        current[row] = std::move(r);
      }
    }
    if (differs) return true;
    keep_compared(std::nullopt);
    std::printf("The flash matches the images: nothing is written\n");
    board.result = outcome::verified;
    board.reason = "the flash matches the images: nothing written";
    sv_close(sv);
    return false;
  }

  // The outcome of the regions that ran: the first that failed, else whether any differs (in
  // its data, or in its record).
  void conclude() {
    bool differs = false;
    for (const region_record &r : board.regions) {
      if (r.result == SV_OK && (mode.write || r.record_matches != false)) continue;
      if ((r.result == SV_ERROR_FLASH_VERIFY || r.result == SV_OK) && !mode.write) {
        if (!differs) {
          board.reason = "map " + std::to_string(r.map) +
                         (r.result == SV_OK ? "'s record differs from the update's"
                                            : " differs from its image");
        }
        differs = true;
        continue;
      }
      board.result = outcome::failed;
      board.reason = "map " + std::to_string(r.map) + ": " + errortext_lookup(r.result);
      return;
    }
    board.result = differs           ? outcome::differs
                   : mode.write      ? outcome::updated
                                     : outcome::verified;
  }
};

void check_versions(sv_handle *sv, const char *line, bool report_failure) {
  std::printf("\n");
  std::printf("%s", line);
  flushoutput();
  long_step_begins();
  int result = flashinfo(sv);
  if (report_failure && result != SV_OK) report_error(sv, result);
}

}  // namespace

void report_error(sv_handle *sv, int code) {
  std::printf("\nERROR: ");
  flushoutput();  // the text follows on standard error
  print_error_text(sv, code);
}

std::int32_t bitfiledate(const unsigned char *data, std::int32_t size) {
  for (std::int32_t s = 0; s <= 255 && s + 10 <= size; ++s) {
    const unsigned char *t = data + s;
    bool fits = t[4] == '/' && t[7] == '/';
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) fits = fits && is_digit(t[i]);
    if (!fits) continue;
    std::int32_t date = 0;
    for (int i : {0, 1, 2, 3, 5, 6, 8, 9}) date = date * 10 + (t[i] - '0');
    return date;
  }
  return 0;
}

int upgradecard(sv_handle *sv, const imageentry (&images)[4]) {
  board_record board;
  return upgradecard(sv, images, update_steps{}, board);
}

int upgradecard(sv_handle *sv, const imageentry (&images)[4], const update_steps &mode,
                board_record &board) {
  passage run{sv, mode, board};
  std::int32_t version = 0, chipversion = 0, flashsize = 0, cardoptions = 0;
  if (!run.query(SV_QUERY_VERSION_DRIVER, version, board.driver_version)) return run.query_failed();
  if (version < minimum_driver) {
    const auto v = static_cast<std::uint32_t>(version);
    std::printf("\n");
    std::printf("ERROR: This upgrade requires driver version %d.%d.%d.%d or higher\n", 2, 9, 1, 0);
    std::printf("       Loaded driver is %s\n", version_text(v).c_str());
    return run.stop(outcome::refused, "driver " + version_text(v) + " is older than 2.9.1.0");
  }
  if (!run.query(SV_QUERY_HW_EPLDTYPE, chipversion, board.chipversion)) return run.query_failed();
  if (!run.query(SV_QUERY_HW_FLASHSIZE, flashsize, board.flashsize)) return run.query_failed();
  if (!run.query(SV_QUERY_HW_CARDOPTIONS, cardoptions, board.cardoptions)) {
    return run.query_failed();
  }
  std::printf("Card has %d byte flash\n", flashsize);

  if ((cardoptions & brix_option) != 0) {
    const char *sx = images[sx_row].version;
    if (!(sx[0] == '2' && sx[1] == '.')) {
      std::printf("ERROR: This upgrade is not for Brix (%s)\n", sx);
      return run.stop(outcome::refused, std::string("the sx image ") + sx + " is not for Brix");
    }
  }
  if (chipversion != supported_chips) {
    std::printf("ERROR: This upgrade does not support fx%02x / sx%02x chips\n", chipversion / 256,
                chipversion % 256);
    char reason[64];
    std::snprintf(reason, sizeof reason, "chips fx%02x / sx%02x are not supported",
                  chipversion / 256, chipversion % 256);
    return run.stop(outcome::refused, reason);
  }
  std::printf("Upgrades Vantrel fx%02x-sx%02x to %s\n", 0x100, 0x55, firmware::package_string);

  imageentry table[table_rows] = {};
  for (int row = 0; row < filled_rows; ++row) table[row] = images[row];
  for (int row = 0; row < filled_rows; ++row) {
    const unsigned char *data = table[row].data;
    if (data != nullptr && table[row].size >= 4 && data[0] == 0xFF && data[1] == 0xFF &&
        data[2] == 0xFF && data[3] == 0xFF) {
      std::printf("table %d is not binary, please check convert script\n", row);
      return run.stop(outcome::refused, "image " + std::to_string(row) + " is not binary");
    }
  }
  if (run.stopped_by_interrupt()) return -1;

  check_versions(sv,
                 mode.write ? "Checking versions before upgrade, This takes 30s\n"
                            : "Checking versions, This takes 30s\n",
                 true);
  version_walk before;
  const int may_go_on = printversions(sv, before);
  board.modules_before = std::move(before.modules);
  if (may_go_on == 0) {
    return run.stop(before.failed ? outcome::failed : outcome::refused, before.reason);
  }
  if (run.stopped_by_interrupt()) return -1;
  char desc[filled_rows][64];
  for (int row = 0; row < filled_rows; ++row) {
    std::snprintf(desc[row], sizeof desc[row], description_format[row],
                  bitfiledate(table[row].data, table[row].size), table[row].version);
  }
  std::optional<region_record> current[filled_rows];  // compared first and current: not written
  if (mode.write && mode.compare_first && !run.differs_from(table, desc, current)) {
    return board.result == outcome::interrupted ? -1 : 0;
  }
  if (mode.write && !run.confirmed()) return run.stop(outcome::declined, "not confirmed");
  if (run.stopped_by_interrupt()) return -1;

  // Once a region is started it is finished: an interrupt is looked at between regions.
  for (int row = 0; row < filled_rows && !interrupted(); ++row) {
    if (current[row]) {
      std::printf("map %d is current: not written\n", map_of_row[row]);
      board.regions.push_back(std::move(*current[row]));
      continue;
    }
    if (!mode.write) {
      board.regions.push_back(run.compare(row, table[row], desc[row]));
      continue;
    }
    run.begin_region(row, true);
    board.regions.push_back(programflash(sv, map_of_row[row], table[row],
                                         firmware::package_version, desc[row], mode.wait));
    board.region_in_hand = 0;
    board.writing_in_hand = false;
  }
  if (board.regions.size() < static_cast<std::size_t>(filled_rows)) {
    run.report_interrupted_regions();
    sv_close(sv);
    return 0;
  }
  if (mode.write) {
    check_versions(sv, "Checking versions after upgrade, This takes 30s\n", false);
    version_walk after;
    printversions(sv, after);
    board.modules_after = std::move(after.modules);
  }
  run.conclude();
  sv_close(sv);
  return 0;
}

}  // namespace vok::update
