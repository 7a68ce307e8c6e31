// The update tool's parts in-process, against the board model: the version report's gates,
// the image checks, the dates of the descriptions, and the operator's answers.
#include <gtest/gtest.h>

#include <cstdio>
#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif
#include <string>
#include <vector>

#include "console.h"
#include "flash.h"
#include "lifecycle.h"
#include "report.h"
#include "stdin_text.h"
#include "upgrade.h"

namespace vok::test {
namespace {

using update::printversions;

struct answer_case {
  std::string input;
  int first;
};

class ReadAnswer : public ::testing::TestWithParam<answer_case> {};

TEST_P(ReadAnswer, ReturnsTheFirstCharacterOfTheLine) {
  stdin_text in(GetParam().input);
  EXPECT_EQ(update::readanswer(), GetParam().first);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReadAnswer,
    ::testing::Values(answer_case{"y\n", 'y'}, answer_case{"yes\n", 'y'}, answer_case{"Y\n", 'Y'},
                      answer_case{"\n", '\n'}, answer_case{"\r", '\r'},
                      answer_case{std::string("\0y\n", 3), 'y'},
                      answer_case{"", '\n'},      // the end of input: as an empty line
                      answer_case{"y", '\n'}));  // a line that never ends is no answer

TEST(BitfileDate, FirstDateWithinTheFirst265Bytes) {
  auto date_of = [](const std::string &text) {
    return update::bitfiledate(reinterpret_cast<const unsigned char *>(text.data()),
                               static_cast<std::int32_t>(text.size()));
  };
  EXPECT_EQ(date_of("ab2011/10/17xx"), 20111017);
  EXPECT_EQ(date_of("2008/11/20 and 2009/10/16"), 20081120);
  EXPECT_EQ(date_of("201/10/17 2011-10-17"), 0);
  EXPECT_EQ(date_of(std::string(255, 'x') + "2011/10/17"), 20111017) << "starts at 255";
  EXPECT_EQ(date_of(std::string(256, 'x') + "2011/10/17"), 0) << "starts past 255";
  EXPECT_EQ(date_of("2011/10/1"), 0) << "never reads past the image";
  for (int row = 0; row < 4; ++row) {
    const imageentry &image = firmware::image_set[row];
    const std::int32_t expected[] = {20111017, 20081120, 20091016, 20090403};
    EXPECT_EQ(update::bitfiledate(image.data, image.size), expected[row]);
  }
}

class UpdateTest : public board_test {
 protected:
  std::string report(std::vector<board::module_version> modules, int *result) {
    model().settings().modules = std::move(modules);
    sv_handle *sv = open();
    ::testing::internal::CaptureStdout();
    *result = printversions(sv);
    std::string out = ::testing::internal::GetCapturedStdout();
    close(sv);
    return out;
  }
};

struct gate_case {
  const char *name;
  std::uint32_t version;  // packed
  int result;
  const char *line;  // what the report says, or "" for the flash lines
};

class DriverGate : public UpdateTest, public ::testing::WithParamInterface<gate_case> {};

TEST_P(DriverGate, DecidesOnMajorMinorAndPatch) {
  const gate_case &c = GetParam();
  int result = -1;
  const std::string out =
      report({{c.name, c.version, 0, 0, 0, ""}, {"cpld", 0x00020000, 0, 0, 0, ""}}, &result);
  EXPECT_EQ(result, c.result) << c.name;
  if (*c.line != '\0') {
    EXPECT_EQ(out, c.line);
  } else {
    EXPECT_NE(out.find("pciflash1      :   1.0.33.7 2011/03/01 10:15 fx 20110301 33.7\n"),
              std::string::npos)
        << out;
  }
}

constexpr const char *too_old = "Driver version less than 2.3p15 does not support flash info dump\n";
constexpr const char *bad_26 =
    "Driver version 2.6p0 to 2.6p5 should not be used for flash programming.\n";

INSTANTIATE_TEST_SUITE_P(
    Versions, DriverGate,
    ::testing::Values(gate_case{"driver", 0x0002030E, 0, too_old},
                      gate_case{"driver", 0xFF02030E, 0, too_old},  // the fix never matters
                      gate_case{"driver", 0x0002030F, 1, ""}, gate_case{"driver", 0x00020400, 1, ""},
                      gate_case{"driver", 0x00020563, 1, ""}, gate_case{"driver", 0x00020600, 0, bad_26},
                      gate_case{"driver", 0x07020605, 0, bad_26}, gate_case{"driver", 0x00020606, 1, ""},
                      gate_case{"driver2", 0x0002030E, 0, too_old},
                      gate_case{"drive", 0x00010000, 1, ""}));

TEST_F(UpdateTest, CpldGateNamesItsError) {
  int result = -1;
  std::string out = report({{"cpld", 0x00010900, 0, 0, 0, ""}}, &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out,
            "This update is only for cpldversion 2 and higher\n"
            "Error 30 'SV_ERROR_FIRMWARE. The firmware version is wrong.'\n");
  out = report({{"cpld2", 0x00010900, 0, 0, 0, ""}}, &result);
  EXPECT_EQ(result, 1) << "cpld2 is not the cpld";
  out = report({{"cpld", 0x00020000, 0, 0, 0, ""}}, &result);
  EXPECT_EQ(result, 1);
}

TEST_F(UpdateTest, FlashModuleLines) {
  int result = -1;
  const std::string out = report({{"pciflash7", 0x08010022, 0x14112011, 0x591100, 1, "beta one"},
                                  {"pciflashX", 0x00020000, 0, 0, 0, "no date"}},
                                 &result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(out.substr(0, out.find('\n', out.find("pciflashX")) + 1),
            "pciflash7      :   1.0.34.8 beta (0) 2011/11/14 11:59 beta one\n"
            "pciflashX      :    2.0.0.0 no date\n");
}

// A driver that claims 2^32 devices of 2^32 modules and answers for each: the walk stops at
// 256 of each instead of holding the tool.
TEST_F(UpdateTest, AHugeTableIsWalkedOnlyAsFarAsTheLimit) {
  sv_handle *sv = open();
  int versions = 0;
  d.at(0).answer = [this, &versions](void *record, std::size_t size) {
    serve_in_process(model(), record, size);
    auto *v = static_cast<orvello_version *>(record);
    if (v->header.code != ORVELLO_REQ_VERSION) return;
    ++versions;
    v->header.result = SV_OK;
    v->ndevices = 0xFFFFFFFF;
    v->nmodules = 0xFFFFFFFE;  // the library adds its own module: 0xFFFFFFFF
    std::snprintf(v->name, sizeof v->name, "module");
  };
  d.log_requests = false;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(printversions(sv), 1);
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(versions, 256 * 256);
  close(sv);
}

TEST_F(UpdateTest, ATableThatEndsAtOnceIsEmpty) {
  d.at(0).result_for[ORVELLO_REQ_VERSION] = SV_ERROR_PARAMETER;
  sv_handle *sv = open();
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(printversions(sv), 1);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  d.at(0).result_for[ORVELLO_REQ_VERSION] = SV_ERROR_TRANSFER;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(printversions(sv), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Error 26 'SV_ERROR_TRANSFER. Transfer failed.'\n");
  close(sv);
}

// The image set with one row changed.
struct image_set_copy {
  imageentry rows[4];
  std::vector<unsigned char> bytes;
  image_set_copy() {
    for (int i = 0; i < 4; ++i) rows[i] = firmware::image_set[i];
  }
};

class Refusal : public UpdateTest {
 protected:
  // Runs the update with `answer` on standard input; returns its output.
  std::string upgrade(const imageentry (&images)[4], const std::string &answer, int *result) {
    sv_handle *sv = open();
    stdin_text in(answer);
    ::testing::internal::CaptureStdout();
    *result = update::upgradecard(sv, images);
    std::string out = ::testing::internal::GetCapturedStdout();
    expect_nothing_left();  // the update closed the board
    return out;
  }
};

TEST_F(Refusal, AnImageThatIsNotBinaryStopsTheUpdateBeforeAnythingIsWritten) {
  for (int row = 0; row < 4; ++row) {
    image_set_copy set;
    set.bytes.assign(64, 0xFF);
    set.rows[row] = {set.bytes.data(), set.rows[row].version, 64};
    int result = 0;
    const std::string out = upgrade(set.rows, "y\n", &result);
    EXPECT_EQ(result, -1);
    EXPECT_NE(out.find("table " + std::to_string(row) + " is not binary, please check convert script\n"),
              std::string::npos);
    EXPECT_EQ(count(ORVELLO_REQ_FLASHWRITE), 0);
    d.clear_requests();
  }
}

TEST_F(Refusal, BrixBoardNeedsAnSxImageOfVersion2) {
  model().settings().cardoptions = 1;
  image_set_copy set;
  set.rows[3].version = "3.1";
  int result = 0;
  std::string out = upgrade(set.rows, "y\n", &result);
  EXPECT_EQ(result, -1);
  EXPECT_NE(out.find("ERROR: This upgrade is not for Brix (3.1)\n"), std::string::npos);
  EXPECT_EQ(count(ORVELLO_REQ_FLASHWRITE), 0);
  // A board that is no Brix never looks at the sx version.
  model().settings().cardoptions = 2;
  out = upgrade(set.rows, "n\n", &result);
  EXPECT_NE(out.find("Update aborted\n"), std::string::npos);
  EXPECT_EQ(count(ORVELLO_REQ_FLASHWRITE), 0);
}

TEST_F(Refusal, AnImageWithoutADateGetsDate0) {
  d.log_requests = false;  // a whole update: four million read-back requests
  image_set_copy set;
  set.bytes.assign(1000, 0x11);
  set.rows[2] = {set.bytes.data(), "9.9", 1000};
  int result = -1;
  const std::string out = upgrade(set.rows, "y\n", &result);
  EXPECT_EQ(result, 0);
  EXPECT_NE(out.find("Programming 10 3 1.0.34.8 4194304 's2 0 9.9'\n"), std::string::npos) << out;
  EXPECT_EQ(model().region(3).comment, "s2 0 9.9");
}

TEST_F(UpdateTest, ProgramflashWritesTheImageThenZeros) {
  sv_handle *sv = open();
  const imageentry &fx = firmware::image_set[0];
  ::testing::internal::CaptureStdout();
  update::programflash(sv, 1, fx, 0x08010022, "fx 20111017 34.8");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "Programming 10 1 1.0.34.8 4194304 'fx 20111017 34.8'\n");
  const auto &flash = model().flash();
  EXPECT_TRUE(std::equal(fx.data, fx.data + fx.size, flash.begin() + 0x400000));
  EXPECT_TRUE(std::all_of(flash.begin() + 0x400000 + fx.size, flash.begin() + 0x800000,
                          [](unsigned char b) { return b == 0; }));
  EXPECT_EQ(count(ORVELLO_REQ_DEBUG), (0x400000 - 64) / 4) << "the last 64 bytes are not read";
  const request_log write = last(ORVELLO_REQ_FLASHWRITE);
  EXPECT_EQ(write.size, 64u);
  std::uint32_t words[16];
  std::memcpy(words, write.record.data(), 64);
  EXPECT_EQ(words[8], 0x400000u);
  EXPECT_EQ(words[9], 10u);
  EXPECT_EQ(words[10], 1u);
  EXPECT_EQ(words[11], 0x08010022u);
  EXPECT_EQ(words[12], 1u);
  const request_log read = last(ORVELLO_REQ_DEBUG);
  EXPECT_EQ(read.size, 64u);
  close(sv);
}

TEST_F(UpdateTest, ProgramflashRefusesAnImageLargerThanARegion) {
  sv_handle *sv = open();
  std::vector<unsigned char> big(0x400001, 0);
  ::testing::internal::CaptureStdout();
  update::programflash(sv, 1, {big.data(), "1", static_cast<std::int32_t>(big.size())}, 0, "x");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Chip 0 to large\n");
  EXPECT_EQ(count(ORVELLO_REQ_FLASHWRITE), 0);
  close(sv);
}

TEST_F(UpdateTest, FlashinfoSendsCommand73) {
  sv_handle *sv = open();
  EXPECT_EQ(update::flashinfo(sv), SV_OK);
  const request_log r = last(ORVELLO_REQ_DEBUG);
  EXPECT_EQ(r.size, 304u);
  std::uint32_t command;
  std::memcpy(&command, r.record.data() + 16, 4);
  EXPECT_EQ(command, static_cast<std::uint32_t>(OV_DEBUG_FLASHINFO));
  close(sv);
}

}  // namespace
}  // namespace vok::test
