// vantrel-upgrade: writes the embedded firmware images into the flash of every Vantrel board
// of this machine, verifies them, and reports the versions before and after.
#include <cstdio>

#include "arguments.h"
#include "console.h"
#include "upgrade.h"
#include "vokoem/vokoem.h"

namespace {

constexpr int vantrel_devtype = 21;

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

}  // namespace

int main(int argc, char **argv) {
  const char *program = argv[0];
  vok::update::arguments args;
  if (!vok::update::parse_arguments(argc, argv, args)) {
    usage(program);
    return -1;
  }

  banner();
  bool handed_over = false;
  for (int i = 0; i < args.count; ++i) {
    if (args.count > 1) std::snprintf(args.cardstring, sizeof args.cardstring, "PCI,card:%d", i);
    sv_handle *sv = sv_open_forward(args.cardstring);
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
    std::printf("Card %d is of type %s (s/n %d)\n", args.first + i,
                query_value_name(sv, SV_QUERY_DEVTYPE, devtype), serial);
    if (devtype == vantrel_devtype) {
      std::printf(" Programming card %d\n", args.first + i);
      vok::update::upgradecard(sv);  // closes the board on every path
      handed_over = true;
    } else {
      std::printf(" Skipping card %d\n", args.first + i);
      sv_close(sv);
    }
  }
  if (handed_over) return 0;
  closing_advice();
  vok::update::wait_for_key();
  return -1;
}
