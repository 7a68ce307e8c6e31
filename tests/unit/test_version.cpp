// Module versions, the version check and the firmware version calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "scripted_board.h"
#include "sv_records.h"

namespace vok::test {
namespace {

const std::string parameter = "SV_ERROR_PARAMETER. Parameter error.";

bool all_zero(const void *p, std::size_t n) {
  const auto *b = static_cast<const unsigned char *>(p);
  return std::all_of(b, b + n, [](unsigned char c) { return c == 0; });
}

// A version reply whose fields all differ.
struct module_reply {
  std::uint32_t ndevices = 3, nmodules = 9, version = 0x01020304, date = 0x01011999,
                time = 0x123400, flags = 5;
  std::string name = "drv", comment = "drvcomment";
  std::int32_t result = SV_OK;
};

// The words of a firmware version reply.
struct firmware {
  std::uint32_t c[4], r[4], kind, cx = 0, rx = 0, cy = 0, ry = 0, cz = 0, rz = 0;
};

class VersionTest : public scripted_board_test {
 protected:
  void SetUp() override {
    scripted_board_test::SetUp();
    replies[ORVELLO_REQ_VERSION] = [this](unsigned char *r, std::size_t size) {
      if (!version_reply) return serve_in_process(model(), r, size);
      const module_reply &m = *version_reply;
      const std::uint32_t w[] = {m.ndevices, m.nmodules, m.version, m.date, m.time, m.flags};
      for (int i = 0; i < 6; ++i) put(r, 24 + 4 * i, w[i]);
      std::memcpy(r + 48, m.name.data(), std::min<std::size_t>(m.name.size(), 32));
      std::memcpy(r + 80, m.comment.data(), std::min<std::size_t>(m.comment.size(), 64));
      put(r, 12, static_cast<std::uint32_t>(m.result));
    };
    replies[ORVELLO_REQ_FIRMWARE] = [this](unsigned char *r, std::size_t size) {
      if (!firmware_reply) return serve_in_process(model(), r, size);
      const firmware &f = *firmware_reply;
      const std::uint32_t w[] = {f.c[0], f.c[1], f.c[2], f.c[3], f.r[0], f.r[1], f.r[2], f.r[3],
                                 f.kind, f.cx,   f.rx,   f.cy,   f.ry,   f.cz,   f.rz};
      for (int i = 0; i < 15; ++i) put(r, 16 + 4 * i, w[i]);
    };
  }

  static sv_version filled() {
    sv_version v;
    std::memset(&v, 0x77, sizeof v);
    return v;
  }

  std::optional<module_reply> version_reply;
  std::optional<firmware> firmware_reply;
};

// ---- sv_version_status ----------------------------------------------------------------------

TEST_F(VersionTest, VersionRequestCarriesDeviceAndModuleIndex) {
  model().settings().ndevices = 8;
  start();
  struct row {
    int device, module;
    std::uint32_t index;
  };
  for (const row &x : {row{0, 0, 0}, row{0, 1, 0}, row{0, 2, 1}, row{3, 5, 4}, row{7, 6, 5},
                       row{0, INT_MIN, 0x7FFFFFFF}}) {
    d.clear_requests();
    sv_version v = filled();
    const int result = sv_version_status(sv, &v, 144, x.device, x.module, 55);
    EXPECT_EQ(result, x.module == INT_MIN ? SV_ERROR_PARAMETER : SV_OK);
    ASSERT_EQ(d.requests().size(), 1u);
    expect_sent(d.requests()[0], ORVELLO_REQ_VERSION, 144,
                {{16, static_cast<std::uint32_t>(x.device)}, {20, x.index}});
  }
}

TEST_F(VersionTest, Module0IsTheLibraryWithTheDriversCounts) {
  start();
  version_reply = module_reply{};
  sv_version v = filled();
  ASSERT_EQ(sv_version_status(sv, &v, 144, 0, 0, 0), SV_OK);
  EXPECT_EQ(v.version, 0x7040000u);
  EXPECT_STREQ(v.name, "clib-oem");
  EXPECT_STREQ(v.comment, "DebugVersion");
  EXPECT_EQ(v.ndevices, 3u);
  EXPECT_EQ(v.nmodules, 10u);
  EXPECT_EQ(v.flags, 5u) << "the driver's flags for module index 0";
  EXPECT_EQ(v.betanumber, 0u);
  EXPECT_TRUE(all_zero(v.reserved, sizeof v.reserved));
  // The library's own build date and time, as BCD.
  char bcd[20];
  std::snprintf(bcd, sizeof bcd, "%08x %08x", v.date, v.time);
  EXPECT_TRUE(std::regex_match(bcd, std::regex("(0[1-9]|[12][0-9]|3[01])(0[1-9]|1[0-2])20[0-9]{2} "
                                               "00[0-5][0-9]([01][0-9]|2[0-3])00")))
      << bcd;
  version_reply.reset();
  model().settings().ndevices = 2;
  ASSERT_EQ(sv_version_status(sv, &v, 144, 1, 0, 0), SV_OK);
  EXPECT_EQ(v.ndevices, 2u);
  EXPECT_EQ(v.nmodules, 7u) << "six driver modules and the library";
}

TEST_F(VersionTest, DriverModuleFieldsAreTakenFromTheReply) {
  start();
  version_reply = module_reply{};
  sv_version v = filled();
  ASSERT_EQ(sv_version_status(sv, &v, 144, 0, 2, 0), SV_OK);
  EXPECT_EQ(v.version, 0x03020104u);
  EXPECT_EQ(v.flags, 5u);
  EXPECT_EQ(v.betanumber, 0u);
  EXPECT_EQ(v.date, 0x01011999u);
  EXPECT_EQ(v.time, 0x123400u);
  EXPECT_EQ(v.ndevices, 3u);
  EXPECT_EQ(v.nmodules, 10u);
  EXPECT_STREQ(v.name, "drv");
  EXPECT_STREQ(v.comment, "drvcomment");
  EXPECT_TRUE(all_zero(v.name + 4, sizeof v.name - 4));
  EXPECT_TRUE(all_zero(v.reserved, sizeof v.reserved));
  // Unterminated texts are cut to their fields.
  version_reply->name = std::string(32, 'N');
  version_reply->comment = std::string(64, 'C');
  ASSERT_EQ(sv_version_status(sv, &v, 144, 0, 1, 0), SV_OK);
  EXPECT_EQ(std::string(v.name), std::string(31, 'N'));
  EXPECT_EQ(std::string(v.comment), std::string(63, 'C'));
}

TEST_F(VersionTest, PackedVersionBecomesARecordVersionWord) {
  start();
  version_reply = module_reply{};
  const std::pair<std::uint32_t, std::uint32_t> rows[] = {{0x01020304, 0x03020104},
                                                          {0x00020901, 0x09020001},
                                                          {0x08010022, 0x00010822},
                                                          {0x00040700, 0x07040000},
                                                          {0xAABBCCDD, 0xCCBBAADD}};
  for (const auto &[packed, record] : rows) {
    version_reply->version = packed;
    sv_version v = filled();
    ASSERT_EQ(sv_version_status(sv, &v, 144, 0, 1, 0), SV_OK);
    EXPECT_EQ(v.version, record) << std::hex << packed;
    EXPECT_EQ(record_version(packed), record) << std::hex << packed;
  }
}

TEST_F(VersionTest, NullRecordAndFailedReads) {
  start(1);
  EXPECT_EQ(sv_version_status(sv, nullptr, 144, 0, 1, 0), SV_ERROR_PARAMETER);
  EXPECT_EQ(count(ORVELLO_REQ_VERSION), 0);
  version_reply = module_reply{};
  version_reply->result = SV_ERROR_TIMEOUT;
  for (int module : {0, 2}) {
    sv_version v = filled();
    EXPECT_EQ(sv_version_status(sv, &v, 144, 0, module, 0), SV_ERROR_TIMEOUT);
    EXPECT_TRUE(all_zero(&v, sizeof v)) << "module " << module;
  }
  expect_lines(
      {"sv_version_status(sv,pversion{,},versionsize=144,deviceid=0,moduleid=1,spare) = " +
           parameter + "\n",
       "sv_version_status(sv,pversion{drv,drvcomment},versionsize=144,deviceid=0,moduleid=0,"
       "spare) = SV_ERROR_TIMEOUT. Timeout.\n",
       "sv_version_status(sv,pversion{drv,drvcomment},versionsize=144,deviceid=0,moduleid=2,"
       "spare) = SV_ERROR_TIMEOUT. Timeout.\n"});
}

// The board report's walk: device 0 module 0 gives the devices; each device's module 0 its
// modules; then modules 0 to nmodules - 1.
TEST_F(VersionTest, EnumerationWalksEveryDeviceAndModule) {
  model().settings().ndevices = 2;
  start();
  sv_version v{};
  ASSERT_EQ(sv_version_status(sv, &v, 144, 0, 0, 0), SV_OK);
  const int ndevices = static_cast<int>(v.ndevices);
  ASSERT_EQ(ndevices, 2);
  std::vector<std::string> names;
  for (int device = 0; device < ndevices; ++device) {
    ASSERT_EQ(sv_version_status(sv, &v, 144, device, 0, 0), SV_OK);
    const int nmodules = static_cast<int>(v.nmodules);
    ASSERT_EQ(nmodules, 7);
    for (int module = 0; module < nmodules; ++module) {
      ASSERT_EQ(sv_version_status(sv, &v, 144, device, module, 0), SV_OK);
      names.push_back(std::to_string(device) + ":" + v.name);
    }
    EXPECT_EQ(sv_version_status(sv, &v, 144, device, nmodules, 0), SV_ERROR_PARAMETER);
  }
  const std::vector<std::string> expected = {
      "0:clib-oem",  "0:driver",    "0:cpld",      "0:pciflash1", "0:pciflash2",
      "0:pciflash3", "0:pciflash4", "1:clib-oem",  "1:driver",    "1:cpld",
      "1:pciflash1", "1:pciflash2", "1:pciflash3", "1:pciflash4"};
  EXPECT_EQ(names, expected);
}

TEST(BuildWords, DateAndTime) {
  const std::pair<const char *, std::uint32_t> dates[] = {{"Nov 14 2011", 0x14112011},
                                                          {"Jan  1 2000", 0x01012000},
                                                          {"Dec 31 1999", 0x31121999},
                                                          {"Sep  9 2024", 0x09092024},
                                                          {"Jun 30 2031", 0x30062031}};
  for (const auto &[text, value] : dates) EXPECT_EQ(build_date_word(text), value) << text;
  const std::pair<const char *, std::uint32_t> times[] = {
      {"11:57:05", 0x571100}, {"00:00:59", 0}, {"23:59:59", 0x592300}, {"09:05:00", 0x050900}};
  for (const auto &[text, value] : times) EXPECT_EQ(build_time_word(text), value) << text;
}

// ---- sv_version_check -----------------------------------------------------------------------

TEST_F(VersionTest, VersionCheckComparesTheLibraryAndTheFirstDriverModule) {
  struct row {
    std::uint32_t driver;  // packed version of the first driver module
    int major, minor, patch, fix;
    int expected, reads;
  };
  const row rows[] = {{0x40700, 4, 7, 0, 0, SV_OK, 2},
                      {0x40700, 0, 7, 0x40000, 0, SV_OK, 2},  // the fields are not masked
                      {0x40700, 0, 7, 0, 0x400, SV_OK, 2},
                      {0x40700, 0x704, 0, 0, 0, SV_OK, 2},
                      {0x40700, 4, 7, 0, 1, SV_ERROR_PARAMETER, 1},
                      {0x40700, 2, 9, 1, 0, SV_ERROR_PARAMETER, 1},
                      {0x20901, 4, 7, 0, 0, SV_ERROR_PARAMETER, 2},
                      {0x01040700, 4, 7, 0, 0, SV_ERROR_PARAMETER, 2},
                      {0x01040700, 4, 7, 0, 1, SV_ERROR_PARAMETER, 1}};
  start();
  for (const row &x : rows) {
    SCOPED_TRACE(&x - rows);
    d.clear_requests();
    model().settings().driverversion = x.driver;
    EXPECT_EQ(sv_version_check(sv, x.major, x.minor, x.patch, x.fix), x.expected);
    const auto sent = d.requests();
    ASSERT_EQ(sent.size(), static_cast<std::size_t>(x.reads));
    for (const auto &r : sent) expect_sent(r, ORVELLO_REQ_VERSION, 144);  // device 0, index 0
  }
  d.clear_requests();
  d.at(0).result_for[ORVELLO_REQ_VERSION] = SV_ERROR_TIMEOUT;
  EXPECT_EQ(sv_version_check(sv, 4, 7, 0, 0), SV_ERROR_TIMEOUT);
  EXPECT_EQ(count(ORVELLO_REQ_VERSION), 1);
}

TEST_F(VersionTest, VersionTraceLines) {
  model().settings().driverversion = 0x40700;
  start(2);
  sv_version v;
  EXPECT_EQ(sv_version_status(sv, &v, 100, 0, 3, 0), SV_OK);
  EXPECT_EQ(sv_version_check(sv, 4, 7, 0, 0), SV_OK);
  d.at(0).result_for[ORVELLO_REQ_VERSION] = SV_ERROR_TIMEOUT;
  EXPECT_EQ(sv_version_status(sv, &v, 144, 0, 2, 0), SV_ERROR_TIMEOUT);
  const std::string driver = "sv_version_status(sv,pversion{driver,vokdriver},versionsize=144,";
  expect_lines(
      {"sv_version_status(sv,pversion{pciflash1,fx 20110301 33.7},versionsize=100,"
       "deviceid=0,moduleid=3,spare) = SV_OK\n",
       driver + "deviceid=0,moduleid=0,spare) = SV_OK\n",
       driver + "deviceid=0,moduleid=1,spare) = SV_OK\n",
       "sv_version_check(sv,major=4,minor=7,patch=0,fix=0) = SV_OK\n",
       "sv_version_status(sv,pversion{,},versionsize=144,deviceid=0,moduleid=2,spare) = "
       "SV_ERROR_TIMEOUT. Timeout.\n"});
}

TEST_F(VersionTest, VersionTraceflags1TracesFailuresOnly) {
  start(1);
  sv_version v;
  EXPECT_EQ(sv_version_status(sv, &v, 144, 0, 1, 0), SV_OK);
  EXPECT_EQ(sv_version_status(sv, &v, 144, 4, 1, 0), SV_ERROR_PARAMETER);
  EXPECT_EQ(sv_version_check(sv, 2, 9, 1, 0), SV_ERROR_PARAMETER);
  expect_lines({"sv_version_status(sv,pversion{,},versionsize=144,deviceid=4,moduleid=1,spare) = " +
                    parameter + "\n",
                "sv_version_check(sv,major=2,minor=9,patch=1,fix=0) = " + parameter + "\n"});
}

// ---- Firmware ------------------------------------------------------------------------------

struct firmware_case {
  const char *name;
  firmware f;
  int strings;
  const char *current, *recommended;
  int check;
  const char *message;
};

void PrintTo(const firmware_case &c, std::ostream *os) {
  *os << c.name;
}

class Firmware : public VersionTest, public ::testing::WithParamInterface<firmware_case> {};

TEST_P(Firmware, StringsAndCheck) {
  const firmware_case &c = GetParam();
  model().settings().driverversion = 0x40700;
  start(2);
  firmware_reply = c.f;
  char current[64], recommended[64], message[600];
  std::memset(current, 'Z', sizeof current);
  std::memset(recommended, 'Z', sizeof recommended);
  std::memset(message, 'Z', sizeof message);
  EXPECT_EQ(sv_firmware_strings(sv, current, sizeof current, recommended, sizeof recommended),
            c.strings);
  EXPECT_STREQ(current, c.current);
  EXPECT_STREQ(recommended, c.recommended);
  EXPECT_EQ(sv_firmware_check(sv, message, sizeof message), c.check);
  EXPECT_STREQ(message, c.message);
  const auto sent = d.requests();
  ASSERT_EQ(sent.size(), 3u) << "neither call traces, nor does the version query";
  expect_sent(sent[0], ORVELLO_REQ_FIRMWARE, 148);
  expect_sent(sent[1], ORVELLO_REQ_FIRMWARE, 148);
  expect_sent(sent[2], ORVELLO_REQ_QUERY, 28, {{16, SV_QUERY_VERSION_DRIVER}});
  EXPECT_TRUE(d.debug_lines().empty());
}

constexpr firmware with(std::uint32_t kind, std::uint32_t cx, std::uint32_t rx,
                        std::uint32_t cy = 0, std::uint32_t ry = 0, std::uint32_t cz = 0,
                        std::uint32_t rz = 0) {
  return {{2, 5, 4, 3}, {2, 5, 4, 3}, kind, cx, rx, cy, ry, cz, rz};
}
// Current c0..c3 and recommended r0..r3 of a firmware of `kind`, without extra words.
constexpr firmware ver(std::uint32_t kind, std::uint32_t c0, std::uint32_t c1, std::uint32_t c2,
                       std::uint32_t c3, std::uint32_t r0, std::uint32_t r1, std::uint32_t r2,
                       std::uint32_t r3) {
  return {{c0, c1, c2, c3}, {r0, r1, r2, r3}, kind};
}
constexpr firmware x(firmware f, std::uint32_t cx, std::uint32_t rx) {
  f.cx = cx;
  f.rx = rx;
  return f;
}
constexpr int P = SV_ERROR_PARAMETER, F = SV_ERROR_FIRMWARE;

INSTANTIATE_TEST_SUITE_P(
    Kinds, Firmware,
    ::testing::Values(
        firmware_case{"Kind4FirstWordsUpTo2", ver(4, 1, 4, 2, 7, 2, 4, 2, 7), 0, "1.4.2", "2.4.2",
                      0, ""},
        firmware_case{"Kind4FirstWordsFree", ver(4, 2, 4, 2, 7, 0, 4, 2, 7), 0, "2.4.2", "0.4.2", 0,
                      ""},
        firmware_case{"Kind4Unknown", ver(4, 3, 4, 2, 7, 2, 4, 2, 7), P, "3.4.2", "2.4.2", F,
                      "Unknown Firmware version 3.4.2.7"},
        firmware_case{"Kind4UnknownRecommended", ver(4, 0, 4, 2, 7, 3, 4, 2, 7), P, "0.4.2",
                      "3.4.2", F, "Unknown Firmware version 0.4.2.7"},
        firmware_case{"Kind4UnknownFirst", ver(4, 3, 4, 2, 7, 2, 5, 2, 7), P, "3.4.2", "2.5.2", F,
                      "Unknown Firmware version 3.4.2.7"},
        firmware_case{"Kind4Minor", ver(4, 1, 4, 2, 7, 1, 5, 2, 7), P, "1.4.2", "1.5.2", F,
                      "Firmware version 1.4.2.7 != recommended version 1.5.2.7"},
        firmware_case{"Kind4Patch", ver(4, 1, 4, 2, 7, 1, 4, 3, 7), P, "1.4.2", "1.4.3", F,
                      "Firmware version 1.4.2.7 != recommended version 1.4.3.7"},
        firmware_case{"Kind4Fix", ver(4, 1, 4, 2, 7, 1, 4, 2, 8), P, "1.4.2", "1.4.2", F,
                      "Firmware version 1.4.2.7 != recommended version 1.4.2.8"},
        firmware_case{"Kind5Match", with(5, 7, 7, 3, 3), 0, "2.5.4.3-3-7", "2.5.4.3-3-7", 0, ""},
        firmware_case{"Kind5X", with(5, 7, 8, 3, 3), P, "2.5.4.3-3-7", "2.5.4.3-3-8", P,
                      "Firmware 2.5.4.3-3-7 != 2.5.4.3-3-8"},
        firmware_case{"Kind5Y", with(5, 7, 7, 3, 4), P, "2.5.4.3-3-7", "2.5.4.3-4-7", P,
                      "Firmware 2.5.4.3-3-7 != 2.5.4.3-4-7"},
        firmware_case{"Kind6Match", with(6, 11, 11, 1, 2), 0, "2.5.4.3-11", "2.5.4.3-11", 0, ""},
        firmware_case{"Kind6X", with(6, 11, 12), P, "2.5.4.3-11", "2.5.4.3-12", F,
                      "Firmware spartan version 11 != 12"},
        firmware_case{"Kind6MinorFirst", x(ver(6, 2, 5, 4, 3, 2, 6, 4, 3), 11, 12), P, "2.5.4.3-11",
                      "2.6.4.3-12", F, "Firmware version 2.5.4.3 != recommended version 2.6.4.3"},
        firmware_case{"Kind7X", with(7, 0x010203, 0x010204), P, "2.5.4.3-2.3", "2.5.4.3-2.4", 0,
                      ""},
        firmware_case{"Kind7HighByte", with(7, 0x050203, 0x010203), P, "2.5.4.3-2.3", "2.5.4.3-2.3",
                      0, ""},
        firmware_case{"Kind8Z", with(8, 0x010203, 0x010203, 0, 0, 0x040506, 0x040507), P,
                      "2.5.4.3-4.5.6-1.2.3", "2.5.4.3-4.5.7-1.2.3", 0, ""},
        firmware_case{"Kind8ZUnchecked", with(8, 0x010203, 0x010203, 0, 0, 0x040506, 0), 0,
                      "2.5.4.3-1.2.3", "2.5.4.3-1.2.3", 0, ""},
        firmware_case{"Kind8Y", with(8, 0x010203, 0x010203, 6, 5), P, "2.5.4.3-1.2.3",
                      "2.5.4.3-1.2.3", 0, ""},
        firmware_case{"Kind8YUnchecked", with(8, 0x010203, 0x010203, 6, 0), 0, "2.5.4.3-1.2.3",
                      "2.5.4.3-1.2.3", 0, ""},
        firmware_case{"Kind8X", with(8, 0x010203, 0x010303), P, "2.5.4.3-1.2.3", "2.5.4.3-1.3.3", 0,
                      ""},
        firmware_case{"Kind9Newer", with(9, 0x010203, 0x010202), P, "2.5.4.3-1.2.3",
                      "2.5.4.3-1.2.2", 0, ""},
        firmware_case{"Kind9Older", with(9, 0x010202, 0x010203), P, "2.5.4.3-1.2.2",
                      "2.5.4.3-1.2.3", F,
                      "Firmware 2.5.4.3_1.2.2 recommended version 2.5.4.3_1.2.3"},
        firmware_case{"Kind9NewerUnsigned", with(9, 0x80000000, 0x010203), P, "2.5.4.3-0.0.0",
                      "2.5.4.3-1.2.3", 0, ""},
        firmware_case{"Kind9Match", with(9, 0x010203, 0x010203, 1, 2, 3, 4), 0, "2.5.4.3-1.2.3",
                      "2.5.4.3-1.2.3", 0, ""},
        firmware_case{"Kind9FirstWordFree", x(ver(9, 0, 5, 4, 3, 2, 5, 4, 3), 7, 7), 0,
                      "0.5.4.3-0.0.7", "2.5.4.3-0.0.7", 0, ""},
        firmware_case{"UnknownKind", with(3, 1, 2, 3, 4, 5, 6), 0, "", "", 0, ""},
        firmware_case{"UnknownKindFix", ver(10, 2, 5, 4, 3, 2, 5, 4, 4), P, "", "", F,
                      "Firmware version 2.5.4.3 != recommended version 2.5.4.4"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(VersionTest, FirmwareCheckRequiresTheLibrarysDriverVersion) {
  start();
  firmware_reply = with(6, 1, 2);  // would fail the check too
  const std::pair<std::uint32_t, const char *> versions[] = {
      {0x20901, "Driver version = 2.9.1.0 != DLL version 4.7.0.0"},
      {0x03020901, "Driver version = 2.9.1.3 != DLL version 4.7.0.0"},
      {0x01040700, "Driver version = 4.7.0.1 != DLL version 4.7.0.0"}};
  for (const auto &[driver, text] : versions) {
    model().settings().driverversion = driver;
    char message[100];
    EXPECT_EQ(sv_firmware_check(sv, message, sizeof message), SV_ERROR_DRIVER_MISMATCH);
    EXPECT_STREQ(message, text);
  }
}

TEST_F(VersionTest, FirmwareRequestAndQueryErrorsAreReturnedUnchanged) {
  model().settings().driverversion = 0x40700;
  start();
  firmware_reply = with(6, 1, 2);  // would fail the check
  char message[100], current[32], recommended[32];
  d.at(0).result_for[ORVELLO_REQ_QUERY] = SV_ERROR_TIMEOUT;
  std::memset(message, 'Z', sizeof message);
  EXPECT_EQ(sv_firmware_check(sv, message, sizeof message), SV_ERROR_TIMEOUT);
  EXPECT_STREQ(message, "");
  d.at(0).result_for[ORVELLO_REQ_FIRMWARE] = SV_ERROR_BUFFERSIZE;
  d.clear_requests();
  std::memset(message, 'Z', sizeof message);
  EXPECT_EQ(sv_firmware_check(sv, message, sizeof message), SV_ERROR_BUFFERSIZE);
  EXPECT_STREQ(message, "");
  EXPECT_EQ(d.request_codes(), std::vector<std::uint32_t>{ORVELLO_REQ_FIRMWARE});
  std::memset(current, 'Z', sizeof current);
  std::memset(recommended, 'Z', sizeof recommended);
  EXPECT_EQ(sv_firmware_strings(sv, current, sizeof current, recommended, sizeof recommended),
            SV_ERROR_BUFFERSIZE);
  EXPECT_EQ(std::string(current, sizeof current), std::string(sizeof current, 'Z'));
  EXPECT_EQ(std::string(recommended, sizeof recommended), std::string(sizeof recommended, 'Z'));
}

TEST_F(VersionTest, FirmwareTextsAreCutToTheirBuffers) {
  model().settings().driverversion = 0x40700;
  start();
  firmware_reply = with(8, 0x010203, 0x010203, 0, 0, 0x040506, 0x040507);
  firmware_reply->c[0] = 3;
  const std::string message = "Unknown Firmware version 3.5.4.3";
  const std::string current = "3.5.4.3-4.5.6-1.2.3", recommended = "2.5.4.3-4.5.7-1.2.3";
  for (int size : {0, 1, 2, 8, 19, 20, 32, 33, 200}) {
    char m[201], c[201], r[201];
    std::memset(m, 'Z', sizeof m);
    std::memset(c, 'Z', sizeof c);
    std::memset(r, 'Z', sizeof r);
    EXPECT_EQ(sv_firmware_check(sv, m, size), SV_ERROR_FIRMWARE);
    EXPECT_EQ(sv_firmware_strings(sv, c, size, r, size), SV_ERROR_PARAMETER);
    for (const auto &[buffer, text] : {std::pair{m, message}, {c, current}, {r, recommended}}) {
      if (size == 0) {
        EXPECT_EQ(buffer[0], 'Z') << "size 0 writes nothing";
        continue;
      }
      const std::size_t n = std::min(text.size(), static_cast<std::size_t>(size) - 1);
      EXPECT_EQ(std::string(buffer), text.substr(0, n)) << "size " << size;
      EXPECT_EQ(buffer[n + 1], 'Z') << "nothing written past the terminator, size " << size;
    }
  }
  EXPECT_EQ(sv_firmware_check(sv, nullptr, 100), SV_ERROR_FIRMWARE);
  EXPECT_EQ(sv_firmware_strings(sv, nullptr, 100, nullptr, 100), SV_ERROR_PARAMETER);
  char c[40];
  EXPECT_EQ(sv_firmware_strings(sv, c, sizeof c, nullptr, 100), SV_ERROR_PARAMETER);
  EXPECT_EQ(std::string(c), current);
}

// ---- Handle checks --------------------------------------------------------------------------

TEST_F(VersionTest, BadHandles) {
  start(1);
  sv_handle copy = *sv;
  copy.magic = 0;
  sv_version v = filled();
  char text[16];
  std::memset(text, 'Z', sizeof text);
  for (sv_handle *bad : {static_cast<sv_handle *>(nullptr), &copy}) {
    const int expected = bad == nullptr ? SV_ERROR_SVNULL : SV_ERROR_SVMAGIC;
    EXPECT_EQ(sv_version_status(bad, &v, 144, 0, 0, 0), expected);
    EXPECT_EQ(sv_version_check(bad, 4, 7, 0, 0), expected);
    EXPECT_EQ(sv_firmware_strings(bad, text, sizeof text, text, sizeof text), expected);
    EXPECT_EQ(sv_firmware_check(bad, text, sizeof text), expected);
  }
  EXPECT_EQ(v.version, 0x77777777u) << "the record is left alone";
  EXPECT_EQ(text[0], 'Z');
  EXPECT_TRUE(d.requests().empty());
  const std::string magic = "SV_ERROR_SVMAGIC. Invalid SV magic number.\n";
  EXPECT_EQ(d.debug_lines(),
            (std::vector<std::string>{
                "sv_version_status(sv,pversion{,},versionsize=144,deviceid=0,moduleid=0,spare) = " +
                    magic,
                "sv_version_check(sv,major=4,minor=7,patch=0,fix=0) = " + magic}));
}

}  // namespace
}  // namespace vok::test
