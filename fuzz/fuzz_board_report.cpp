// A report file of any content, read as the board that the simulator plays: refused with one
// short line, or played.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "board_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  for (const int card : {-1, 1}) {  // the first Vantrel board, and the board of card 1
    vok::board::config config;
    std::string error;
    if (vok::sim::read_board_report(text, "report.json", card, config, error)) {
      if (!error.empty()) std::abort();
    } else if (error.empty() || error.size() > 200 || error.find('\n') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}
