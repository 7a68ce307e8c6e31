// Error codes and their texts: errortext_lookup, sv_errortext, sv_errortext_forward and
// print_error_text.
#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "vokoem/vokoem.h"

namespace {

const std::string kNoText = "Sorry, no error text available.";

struct ListedRow {
  int code;
  const char *name;
  const char *sentence;
};

// clang-format off
#define LISTED_ROW(code, name, sentence) {code, #name, sentence},
const ListedRow kListedRows[] = {SV_ERROR_LIST(LISTED_ROW)};
#undef LISTED_ROW
// clang-format on

// Codes from -1 to 242 that have no row of their own.
const std::set<int> kCodesWithoutRow = {
    50,  129, 130, 131, 132, 133, 134, 135, 136, 141, 144, 145, 173, 174, 175, 176, 180,
    181, 182, 185, 187, 188, 191, 192, 193, 207, 210, 211, 213, 214, 217, 218, 220, 221,
};

struct GivenText {
  int code;
  const char *text;
};

// clang-format off
const GivenText kGivenTexts[] = {
    {-1, "SV_ACTIVE"},
    {0, "SV_OK"},
    {1, "SV_ERROR_PARAMETER. Parameter error."},
    {2, "SV_ERROR_MALLOC. Memory allocation failed."},
    {3, "SV_ERROR_NOTIMPLEMENTED. A not implemented function was called."},
    {4, "SV_ERROR_BUFFERSIZE. Buffer too small."},
    {10, "SV_ERROR_SVNULL. Invalid SV handle."},
    {11, "SV_ERROR_SVMAGIC. Invalid SV magic number."},
    {21, "SV_ERROR_TIMECODE. Timecode not valid, format is 01:00:00:00."},
    {26, "SV_ERROR_TRANSFER. Transfer failed."},
    {30, "SV_ERROR_FIRMWARE. The firmware version is wrong."},
    {35, "SV_ERROR_PROGRAM. Illegal internal state."},
    {59, "SV_ERROR_HARDWARELOAD. Hardware failed to load."},
    {69, "SV_ERROR_FLASH_ERASETIMEOUT. A timeout during the erase of the flash appeared."},
    {70, "SV_ERROR_FLASH_VERIFY. Verify of the flash after programming failed."},
    {71, "SV_ERROR_EPLD_MAGIC. An EPLD with the wrong magic number detected."},
    {72, "SV_ERROR_EPLD_PRODUCT. An EPLD from the wrong device detected."},
    {73, "SV_ERROR_EPLD_CHIP. An EPLD with the wrong chip ID detected."},
    {74, "SV_ERROR_EPLD_VERSION. An EPLD with the wrong version detected."},
    {83, "SV_ERROR_IOCTL_FAILED. An ioctl operation failed."},
    {90, "SV_ERROR_UNKNOWNFLASH. This flash chip is not supported by the software."},
    {118, "SV_ERROR_FLASH_ERASEVERIFY. Verification of the flash erase failed."},
    {123, "SV_ERROR_EPLD_NOTFOUND. Could not find the PLD files needed to program the hardware."},
    {146, "SV_ERROR_OBSOLETE. A function was called that is obsolete."},
    {147, "SV_ERROR_DRIVER_MISMATCH. Driver and library version mismatch."},
    {154, "SV_ERROR_FIFOCLOSED. This command cannot be done while the FIFO is closed."},
    {160, "SV_ERROR_SVOPENSTRING. There is a syntax error in the sv_open() string."},
    {161, "SV_ERROR_DEVICEINUSE. The device is in use."},
    {162, "SV_ERROR_DEVICENOTFOUND. The device could not be found."},
    {163, "SV_ERROR_FLASH_WRITE. Flash write failed."},
    {166, "SV_ERROR_INTERNALMAGIC. An internal library check failed."},
    {179, "SV_ERROR_USERNOTALLOWED. No privileges to interact with Kestor."},
    {202, "SV_ERROR_VERSION. Version mismatch detected."},
    {219, "SV_ERROR_SLEEPING. Driver is still in sleep mode. Please reopen video board."},
    {226, "SV_ERROR_WRONG_TIME. Illegal time detected."},
    {237, "SV_ERROR_DIRECT_CLOSED. This command cannot be done when a Direct API instance is closed."},
    {243, "Sorry, no error text available."},
};
// clang-format on

bool text_is_given(int code) {
  for (const GivenText &given : kGivenTexts) {
    if (given.code == code) return true;
  }
  return false;
}

std::string code_label(int code) {
  return code < 0 ? "minus" + std::to_string(-static_cast<long long>(code)) : std::to_string(code);
}

// Codes to sweep: -1000 to 1000 and the ends of the 32-bit range.
std::vector<int> sweep_codes() {
  std::vector<int> codes = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX};
  for (int code = -1000; code <= 1000; ++code) codes.push_back(code);
  return codes;
}

// The constants are usable with the numbers the interface fixes.
static_assert(SV_ACTIVE == -1);
static_assert(SV_OK == 0);
static_assert(SV_ERROR_PARAMETER == 1);
static_assert(SV_ERROR_MALLOC == 2);
static_assert(SV_ERROR_SVNULL == 10);
static_assert(SV_ERROR_FIRMWARE == 30);
static_assert(SV_ERROR_FRAME_NOACCESS == 51);
static_assert(SV_ERROR_CLIP_BLOCKED == 137);
static_assert(SV_ERROR_DEVICENOTFOUND == 162);
static_assert(SV_ERROR_SLEEPING == 219);
static_assert(SV_ERROR_DIRECT_CUDA_ARRAY_INVALID == 242);
static_assert(SV_ERROR_TEXT_TERMINATOR == 243);

// ---- The given texts, exactly. ----

class GivenTextTest : public testing::TestWithParam<GivenText> {};

TEST_P(GivenTextTest, LookupGivesTheTextExactly) {
  EXPECT_STREQ(errortext_lookup(GetParam().code), GetParam().text);
}

TEST_P(GivenTextTest, SvErrortextGivesTheSameText) {
  EXPECT_STREQ(sv_errortext(nullptr, GetParam().code), GetParam().text);
  EXPECT_STREQ(sv_errortext_forward(nullptr, GetParam().code), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(ErrorText, GivenTextTest, testing::ValuesIn(kGivenTexts),
                         [](const testing::TestParamInfo<GivenText> &info) {
                           return "code_" + code_label(info.param.code);
                         });

TEST(ErrorText, AllGivenTextsAreChecked) {
  EXPECT_EQ(std::size(kGivenTexts), 37u);
}

// ---- Codes without a row. ----

class NoRowTest : public testing::TestWithParam<int> {};

TEST_P(NoRowTest, GivesTheTerminatorText) {
  EXPECT_EQ(errortext_lookup(GetParam()), kNoText);
}

INSTANTIATE_TEST_SUITE_P(EdgeCodes, NoRowTest,
                         testing::Values(243, 244, 1000, -2, -1000, 256, 4096, INT_MIN, INT_MAX,
                                         INT_MIN + 1, INT_MAX - 1),
                         [](const testing::TestParamInfo<int> &info) {
                           return "code_" + code_label(info.param);
                         });

INSTANTIATE_TEST_SUITE_P(GapCodes, NoRowTest, testing::ValuesIn(kCodesWithoutRow),
                         [](const testing::TestParamInfo<int> &info) {
                           return "code_" + code_label(info.param);
                         });

TEST(ErrorText, EveryCodeFromMinusOneTo242OutsideTheGapsHasItsOwnText) {
  int rows = 0;
  for (int code = -1; code <= 242; ++code) {
    if (kCodesWithoutRow.count(code) != 0) continue;
    EXPECT_NE(errortext_lookup(code), kNoText) << "code " << code;
    ++rows;
  }
  EXPECT_EQ(rows, 210);
}

TEST(ErrorText, DistinctCodesHaveDistinctTexts) {
  std::set<std::string> texts;
  for (int code = -1; code <= 242; ++code) {
    if (kCodesWithoutRow.count(code) == 0) texts.insert(errortext_lookup(code));
  }
  EXPECT_EQ(texts.size(), 210u);
}

// ---- The rows of the list. ----

TEST(ErrorList, HoldsEveryCodeOnceInAscendingOrder) {
  ASSERT_EQ(std::size(kListedRows), 210u);
  EXPECT_EQ(kListedRows[0].code, -1);
  EXPECT_EQ(kListedRows[std::size(kListedRows) - 1].code, 242);
  for (std::size_t i = 1; i < std::size(kListedRows); ++i) {
    EXPECT_LT(kListedRows[i - 1].code, kListedRows[i].code) << "row " << i;
  }
  for (const ListedRow &row : kListedRows) {
    EXPECT_EQ(kCodesWithoutRow.count(row.code), 0u) << "code " << row.code;
    EXPECT_NE(row.code, SV_ERROR_TEXT_TERMINATOR);
  }
}

TEST(ErrorList, NamesAreUnique) {
  std::set<std::string> names;
  for (const ListedRow &row : kListedRows) names.insert(row.name);
  EXPECT_EQ(names.size(), std::size(kListedRows));
}

class ListedRowTest : public testing::TestWithParam<ListedRow> {};

TEST_P(ListedRowTest, TextHasTheTextForm) {
  const ListedRow &row = GetParam();
  const std::string text = errortext_lookup(row.code);
  const std::string name = row.name;
  if (row.code <= 0) {
    EXPECT_EQ(text, name);
    return;
  }
  EXPECT_EQ(name.rfind("SV_ERROR_", 0), 0u) << name;
  ASSERT_EQ(text.rfind(name + ". ", 0), 0u) << text;
  const std::string sentence = text.substr(name.size() + 2);
  ASSERT_GE(sentence.size(), 2u) << text;
  EXPECT_TRUE(std::isupper(static_cast<unsigned char>(sentence.front()))) << text;
  EXPECT_EQ(sentence.back(), '.') << text;
  EXPECT_EQ(sentence.find("  "), std::string::npos) << text;
  if (!text_is_given(row.code)) {
    // One sentence: no other full stop ends a sentence inside it.
    EXPECT_EQ(sentence.find(". "), std::string::npos) << text;
  }
}

TEST_P(ListedRowTest, TextIsStatic) {
  const char *first = errortext_lookup(GetParam().code);
  EXPECT_EQ(errortext_lookup(GetParam().code), first);
  EXPECT_EQ(sv_errortext(nullptr, GetParam().code), first);
}

INSTANTIATE_TEST_SUITE_P(ErrorList, ListedRowTest, testing::ValuesIn(kListedRows),
                         [](const testing::TestParamInfo<ListedRow> &info) {
                           return std::string(info.param.name);
                         });

// ---- Totality. ----

TEST(ErrorText, EveryCodeGivesAText) {
  for (int code : sweep_codes()) {
    const char *text = errortext_lookup(code);
    ASSERT_NE(text, nullptr) << "code " << code;
    if (code < -1 || code > 242) {
      EXPECT_EQ(text, kNoText) << "code " << code;
    }
  }
}

TEST(ErrorText, SvErrortextAndItsForwardAgreeWithTheLookup) {
  for (int code : sweep_codes()) {
    EXPECT_EQ(sv_errortext(nullptr, code), errortext_lookup(code)) << "code " << code;
    EXPECT_EQ(sv_errortext_forward(nullptr, code), errortext_lookup(code)) << "code " << code;
  }
}

TEST(ErrorText, SvErrortextWithNullHandle) {
  EXPECT_STREQ(sv_errortext(nullptr, 10), "SV_ERROR_SVNULL. Invalid SV handle.");
}

TEST(ErrorText, SvErrortextDoesNotLookAtTheHandle) {
  // A handle that does not point at a board must not be touched.
  sv_handle *stray = reinterpret_cast<sv_handle *>(static_cast<uintptr_t>(0x10));
  EXPECT_STREQ(sv_errortext(stray, 2), "SV_ERROR_MALLOC. Memory allocation failed.");
  EXPECT_STREQ(sv_errortext_forward(stray, 2), "SV_ERROR_MALLOC. Memory allocation failed.");
}

// ---- The printer. ----

struct Printed {
  int result;
  std::string out;
  std::string err;
};

Printed print(sv_handle *sv, int code) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Printed printed;
  printed.result = print_error_text(sv, code);
  printed.err = testing::internal::GetCapturedStderr();
  printed.out = testing::internal::GetCapturedStdout();
  return printed;
}

TEST(PrintErrorText, WritesTheTextAndANewlineToStandardErrorOnly) {
  const std::string line = "SV_ERROR_DEVICENOTFOUND. The device could not be found.\n";
  const Printed printed = print(nullptr, 162);
  EXPECT_EQ(printed.err, line);
  EXPECT_EQ(printed.out, "");
  EXPECT_EQ(printed.result, static_cast<int>(line.size()));
}

class PrintErrorTextTest : public testing::TestWithParam<int> {};

TEST_P(PrintErrorTextTest, PrintsTheLookupTextAndReturnsTheCount) {
  const std::string line = std::string(errortext_lookup(GetParam())) + "\n";
  const Printed printed = print(nullptr, GetParam());
  EXPECT_EQ(printed.err, line);
  EXPECT_EQ(printed.out, "");
  EXPECT_EQ(printed.result, static_cast<int>(line.size()));
}

INSTANTIATE_TEST_SUITE_P(Codes, PrintErrorTextTest,
                         testing::Values(-1, 0, 1, 219, 237, 242, 243, -2, INT_MIN, INT_MAX),
                         [](const testing::TestParamInfo<int> &info) {
                           return "code_" + code_label(info.param);
                         });

TEST(PrintErrorText, TheTextsOfMinusOneAndZeroAreTheBareNames) {
  EXPECT_EQ(print(nullptr, -1).err, "SV_ACTIVE\n");
  EXPECT_EQ(print(nullptr, 0).err, "SV_OK\n");
  EXPECT_EQ(print(nullptr, 1000).err, kNoText + "\n");
}

TEST(PrintErrorText, DoesNotUseTheHandle) {
  sv_handle *stray = reinterpret_cast<sv_handle *>(static_cast<uintptr_t>(0x10));
  const Printed printed = print(stray, 10);
  EXPECT_EQ(printed.err, "SV_ERROR_SVNULL. Invalid SV handle.\n");
  EXPECT_EQ(printed.out, "");
}

}  // namespace
