// The update tool's command line: the input split at NUL bytes is argv.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  // Each argument in its own exactly sized buffer, so that a read past one shows.
  std::vector<std::vector<char>> words(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      words.back().push_back('\0');
      words.emplace_back();
    } else {
      words.back().push_back(static_cast<char>(data[i]));
    }
  }
  words.back().push_back('\0');
  std::vector<const char *> argv;
  for (const auto &w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  vok::update::arguments args;
  const int argc = static_cast<int>(argv.size()) - 1;
  if (!vok::update::parse_arguments(argc, argv.data(), args)) return 0;
  const std::size_t length = std::strlen(args.cardstring);
  if (length >= sizeof args.cardstring) std::abort();
  if (args.count == 1 ? std::strncmp(args.cardstring, "PCI,card:", 9) != 0
                      : args.count != vok::update::boards_to_try || length != 0) {
    std::abort();
  }
  return 0;
}
