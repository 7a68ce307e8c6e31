// The setup string: prefixes, options, the environment fallback, and texts of any shape.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sv_setup.h"
#include "vokoem/vokoem.h"

namespace {

std::map<std::string, std::string> environment;

const char *fake_getenv(const char *name) {
  auto it = environment.find(name);
  return it == environment.end() ? nullptr : it->second.c_str();
}

class SetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    environment.clear();
    table_ = vok::native_platform();
    table_.getenv = fake_getenv;
    vok::install_platform(&table_);
  }
  void TearDown() override { vok::install_platform(nullptr); }

  struct parsed {
    int result;
    std::int32_t cardid = -7, channelid = 0, openprogram = 1, devtype = 0;
    std::uint32_t opentype = 0;
  };
  static parsed parse(const char *text) {
    parsed p{};
    p.result = vok::parse_setup(text, &p.cardid, &p.channelid, &p.opentype, &p.openprogram,
                                &p.devtype);
    return p;
  }

  vok::platform table_{};
};

struct setup_case {
  const char *text;
  int result;
  std::int32_t cardid, channelid;
  std::uint32_t opentype;
  std::int32_t openprogram, devtype;
};

const setup_case setup_cases[] = {
    {"PCI,card:1", SV_OK, 1, 0, 0, 1, 0},
    {"PCI", SV_OK, 0, 0, 0, 1, 0},
    {"PCIX", SV_OK, 0, 0, 0, 1, 0},
    {"PCI card:4", SV_OK, 0, 0, 0, 1, 0},
    {"PCI,card:1,", SV_ERROR_SVOPENSTRING, 1, 0, 0, 1, 0},
    {"PCI,,card:1", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI, card:1", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"pci,card:1", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,channel:0", SV_OK, 0, 1, 0, 1, 0},
    {"PCI,channel:3,card:2", SV_OK, 2, 4, 0, 1, 0},
    {"PCI,type:input", SV_OK, 0, 0, 12, 1, 0},
    {"PCI,type:output", SV_OK, 0, 0, 3, 1, 0},
    {"PCI,type:noio", SV_OK, 0, 0, 0xA0000000u, 1, 0},
    {"PCI,type:default", SV_OK, 0, 0, 0, 1, 0},
    {"PCI,type:capture", SV_OK, 0, 0, 0x10000, 1, 0},
    {"PCI,type:waitforclose", SV_OK, 0, 0, 0x20000, 1, 0},
    {"PCI,type:inputs", SV_OK, 0, 0, 12, 1, 0},
    {"PCI,type:bogus", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,openprogram:5", SV_OK, 0, 0, 0, 0x1000005, 0},
    {"PCI,card=2", SV_OK, 2, 0, 0, 1, 0},
    {"PCI,card: -3", SV_OK, -3, 0, 0, 1, 0},
    {"PCI,card:+12x", SV_OK, 12, 0, 0, 1, 0},
    {"PCI,card:", SV_OK, 0, 0, 0, 1, 0},
    {"PCI,card:2,extra", SV_ERROR_SVOPENSTRING, 2, 0, 0, 1, 0},
    {"TLX,card:0", SV_OK, 0, 0, 0, 1, 24},
    {"RAW,card:0", SV_OK, 0, 0, 0, 1, 23},
    {"XYZ", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PC", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    // An option that ends right after its keyword has no value: refused, never board 0.
    {"PCI,card", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,card,channel:1", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,channel", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,type", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,openprogram", SV_ERROR_SVOPENSTRING, 0, 0, 0, 1, 0},
    {"PCI,card:99999999999", SV_OK, static_cast<std::int32_t>(1215752191), 0, 0, 1, 0},
};

class SetupTable : public SetupTest, public ::testing::WithParamInterface<setup_case> {};

TEST_P(SetupTable, GivesItsValues) {
  const setup_case &c = GetParam();
  parsed p = parse(c.text);
  EXPECT_EQ(p.result, c.result) << c.text;
  EXPECT_EQ(p.cardid, c.cardid) << c.text;
  EXPECT_EQ(p.channelid, c.channelid) << c.text;
  EXPECT_EQ(p.opentype, c.opentype) << c.text;
  EXPECT_EQ(p.openprogram, c.openprogram) << c.text;
  EXPECT_EQ(p.devtype, c.devtype) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, SetupTable, ::testing::ValuesIn(setup_cases));

TEST_F(SetupTest, NullOrEmptyTextWithNothingInTheEnvironmentKeepsTheDefaults) {
  for (const char *text : {static_cast<const char *>(nullptr), ""}) {
    parsed p = parse(text);
    EXPECT_EQ(p.result, SV_OK);
    EXPECT_EQ(p.cardid, 0);
    EXPECT_EQ(p.devtype, 0);
  }
}

TEST_F(SetupTest, EnvironmentFallbackOrder) {
  environment["ORVELLO"] = "PCI,card:1";
  EXPECT_EQ(parse(nullptr).cardid, 1);
  EXPECT_EQ(parse("").cardid, 1);
  environment["TARVIK_CMD"] = "PCI,card:3";
  EXPECT_EQ(parse(nullptr).cardid, 1) << "ORVELLO comes before TARVIK_CMD";
  EXPECT_EQ(parse("PCI,card:5").cardid, 5) << "the caller's text wins over both";
  environment.erase("ORVELLO");
  EXPECT_EQ(parse(nullptr).cardid, 3);
}

TEST_F(SetupTest, TarvikNamingAnotherTransportIsIgnored) {
  for (const char *value : {"TCPIP:host", "SHM", "ETHERnet", "SCSI,card:2", "ASPI"}) {
    environment["TARVIK_CMD"] = value;
    parsed p = parse(nullptr);
    EXPECT_EQ(p.result, SV_OK) << value;
    EXPECT_EQ(p.cardid, 0) << value;
  }
  environment["TARVIK_CMD"] = "TCP";  // too short to name TCPIP
  EXPECT_EQ(parse(nullptr).result, SV_ERROR_SVOPENSTRING);
}

TEST_F(SetupTest, EmptyEnvironmentValueCountsAsNone) {
  environment["ORVELLO"] = "";
  environment["TARVIK_CMD"] = "PCI,card:2";
  EXPECT_EQ(parse(nullptr).cardid, 0) << "a set ORVELLO wins even when empty, and gives no text";
}

// Random, truncated and mutated texts: each is parsed from an exactly sized heap buffer, so
// that a read past its end shows under AddressSanitizer.
TEST_F(SetupTest, AnyTextIsAcceptedOrRefusedWithoutReadingPastItsEnd) {
  const std::vector<std::string> seeds = {"PCI,card:1",   "TLX,channel:2,type:noio",
                                          "RAW,openprogram:5", "PCI,type:waitforclose",
                                          "PCI,card",     "PCI,"};
  const std::string alphabet = "PCITLXRAW,:=cardhnelypogmiut0123456789 -+";
  std::mt19937 random(12345);
  for (int round = 0; round < 20000; ++round) {
    std::string text = seeds[random() % seeds.size()];
    switch (random() % 3) {
      case 0:
        text.resize(random() % (text.size() + 1));
        break;
      case 1:
        for (int n = 0; n < 3 && !text.empty(); ++n) text[random() % text.size()] = alphabet[random() % alphabet.size()];
        break;
      default:
        text.clear();
        for (unsigned n = random() % 24; n > 0; --n) text += alphabet[random() % alphabet.size()];
    }
    std::vector<char> exact(text.begin(), text.end());
    exact.push_back('\0');
    parsed p = parse(exact.data());
    ASSERT_TRUE(p.result == SV_OK || p.result == SV_ERROR_SVOPENSTRING) << text;
  }
}

}  // namespace
