/*
 * Error texts: the one text that belongs to each error code, and its printer.
 *
 * The error table is made from SV_ERROR_LIST: one constant row per code, in ascending code
 * order from SV_ACTIVE upward, closed by the terminator row. The texts are static.
 */
#include <cstddef>
#include <cstdio>
#include <iterator>

#include "vokoem/vokoem.h"

namespace {

struct ErrorRow {
  int code;
  const char *text;
};

// SV_ACTIVE and SV_OK carry an empty sentence and their text is the bare name; every other
// text is the name, a full stop, one blank and the sentence.
// clang-format off
#define SV_ERROR_ROW(code, name, sentence) \
  {code, sizeof(sentence) == 1 ? #name : #name ". " sentence},

constexpr ErrorRow kErrorTable[] = {
  SV_ERROR_LIST(SV_ERROR_ROW)
  {SV_ERROR_TEXT_TERMINATOR, "Sorry, no error text available."},
};
// clang-format on
#undef SV_ERROR_ROW

// The lookup relies on the order of the rows and on the terminator closing the table.
constexpr bool rows_ascend() {
  for (std::size_t i = 1; i < std::size(kErrorTable); ++i) {
    if (kErrorTable[i - 1].code >= kErrorTable[i].code) return false;
  }
  return true;
}

static_assert(rows_ascend(), "error rows must stand in ascending code order");
static_assert(kErrorTable[0].code == SV_ACTIVE, "the error table starts at SV_ACTIVE");
static_assert(kErrorTable[std::size(kErrorTable) - 1].code == SV_ERROR_TEXT_TERMINATOR,
              "the error table ends with the terminator");

}  // namespace

extern "C" {

// Scans from the first row and stops at the terminator or at the wanted code.
const char *errortext_lookup(int code) {
  const ErrorRow *row = kErrorTable;
  while (row->code != SV_ERROR_TEXT_TERMINATOR && row->code != code) ++row;
  return row->text;
}

const char *sv_errortext(sv_handle *sv, int code) {
  (void)sv;
  return errortext_lookup(code);
}

const char *sv_errortext_forward(sv_handle *sv, int code) {
  return sv_errortext(sv, code);
}

int print_error_text(sv_handle *sv, int code) {
  (void)sv;
  return std::fprintf(stderr, "%s\n", errortext_lookup(code));
}

}  // extern "C"
