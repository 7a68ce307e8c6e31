// The setup string parser on any text, with nothing in the environment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "platform/platform.h"
#include "sv_setup.h"
#include "vokoem/vokoem.h"

namespace {

const char *no_environment(const char *) {
  return nullptr;
}

void install_table() {
  static vok::platform table = [] {
    vok::platform t = vok::native_platform();
    t.getenv = no_environment;
    return t;
  }();
  vok::install_platform(&table);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  install_table();
  std::vector<char> text(data, data + size);
  text.push_back('\0');
  std::int32_t cardid = -7, channelid = 0, openprogram = 1, devtype = 0;
  std::uint32_t opentype = 0;
  const int result =
      vok::parse_setup(text.data(), &cardid, &channelid, &opentype, &openprogram, &devtype);
  if (result != SV_OK && result != SV_ERROR_SVOPENSTRING) std::abort();
  return 0;
}
