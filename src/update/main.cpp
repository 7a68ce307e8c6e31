// vantrel-upgrade: writes the embedded firmware images into the flash of every Vantrel board
// of this machine, verifies them, and reports the versions before and after.
#include <cstdio>
#include <cstring>

#include "console.h"
#include "upgrade.h"
#include "vokoem/vokoem.h"

namespace {

constexpr int vantrel_devtype = 21;
constexpr int boards_to_try = 8;
constexpr const char board_prefix[] = "PCI,card:";
constexpr std::size_t cardstring_size = 128;

void usage(const char *program) {
  std::printf("Program %s called with unknown parameter.\n\n", program);
  std::printf("Syntax: %s [PCI,card:<board#>]\n", program);
  std::printf("        <board#>     Zero-based index on all recognized VOK video boards.\n");
}

void banner() {
  std::printf("Vantrel Upgrade version %s %s", __DATE__, __TIME__);
  std::printf(" (SW %d.%d.%d.%d)\n", VANTREL_UPGRADE_VERSION);
  const std::uint32_t v = vok::firmware::package_version;
  std::printf("           Version   %d.%d.%d.%d:'%s'\n", (v >> 16) & 0xFF, (v >> 8) & 0xFF,
              v & 0xFF, (v >> 24) & 0xFF, vok::firmware::package_string);
  std::printf("\n");
  std::printf("\n");
  std::printf("You will need to reboot your computer with power off to reload the new hardware.\n");
}

void closing_advice() {
  std::printf("\n");
  std::printf("This upgrade is only for Vantrel\n");
  std::printf("\n");
  std::printf("ERROR: Could not open card, press 'Enter' to exit\n");
  std::printf("\n");
  std::printf("If you have any applications using the Vantrel please close them.\n");
  std::printf("Start vokconf to check that the driver is loaded, if not load the driver.\n");
  vok::update::flushoutput();
}

// The board number of a "PCI,card:" argument: decimal digits after optional blanks and an
// optional sign, up to the first other character; 0 when there are none.
int board_number(const char *text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  unsigned value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + static_cast<unsigned>(*text - '0');
  return static_cast<int>(negative ? 0u - value : value);
}

}  // namespace

int main(int argc, char **argv) {
  const char *program = argv[0];
  int next = 1;
  if (next < argc && std::strcmp(argv[next], "-c") == 0) ++next;  // accepted, no effect

  char cardstring[cardstring_size] = {};
  int first = 0;
  int count = boards_to_try;
  if (next < argc) {
    const char *argument = argv[next];
    // A board argument too long for the buffer is refused: cutting it could name another board.
    if (std::strncmp(argument, board_prefix, sizeof board_prefix - 1) != 0 ||
        std::strlen(argument) >= cardstring_size) {
      usage(program);
      return -1;
    }
    std::strcpy(cardstring, argument);
    first = board_number(argument + sizeof board_prefix - 1);
    count = 1;
  }

  banner();
  bool handed_over = false;
  for (int i = 0; i < count; ++i) {
    if (count > 1) std::snprintf(cardstring, sizeof cardstring, "PCI,card:%d", i);
    sv_handle *sv = sv_open_forward(cardstring);
    if (sv == nullptr) continue;

    int devtype = 0, serial = 0;
    int result = sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype);
    if (result != SV_OK) {
      vok::update::report_error(sv, result);
      sv_close(sv);
      return -1;
    }
    result = sv_query(sv, SV_QUERY_SERIALNUMBER, 0, &serial);
    if (result != SV_OK) vok::update::report_error(sv, result);
    std::printf("Card %d is of type %s (s/n %d)\n", first + i,
                query_value_name(sv, SV_QUERY_DEVTYPE, devtype), serial);
    if (devtype == vantrel_devtype) {
      std::printf(" Programming card %d\n", first + i);
      vok::update::upgradecard(sv);  // closes the board on every path
      handed_over = true;
    } else {
      std::printf(" Skipping card %d\n", first + i);
      sv_close(sv);
    }
  }
  if (handed_over) return 0;
  closing_advice();
  vok::update::wait_for_key();
  return -1;
}
