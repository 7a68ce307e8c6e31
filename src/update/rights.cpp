#include "rights.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace vok::update {

bool (*board_rights)() = has_board_rights;

#if defined(_WIN32)
bool has_board_rights() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return true;  // cannot tell
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool known =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) != 0;
  CloseHandle(token);
  return !known || elevation.TokenIsElevated != 0;
}
#else
bool has_board_rights() { return true; }
#endif

}  // namespace vok::update
