// Code names: the six name tables, the value names of queries and options, and the
// translation between device types and the driver's card types.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "vokoem/vokoem.h"

namespace {

using NameFunction = const char *(*)(int);

struct Family {
  const char *label;
  NameFunction lookup;
  const char *prefix;
  int rows;
  bool low_byte_key;  // keyed by the lowest eight bits of the code
};

const Family kFamilies[] = {
    {"master", master_name, "SV_MASTER_", 43, false},
    {"query", query_name, "SV_QUERY_", 172, false},
    {"option", option_name, "SV_OPTION_", 218, false},
    {"vtrslave", vtrslave_name, "SV_VTRSLAVE_", 32, true},
    {"matrix", matrix_name, "SV_MATRIX_", 21, true},
    {"matrixtype", matrixtype_name, "SV_MATRIXTYPE_", 7, true},
};

std::string code_label(int code) {
  return code < 0 ? "minus" + std::to_string(-static_cast<long long>(code)) : std::to_string(code);
}

// Codes to sweep: -1000 to 1000 and the ends of the 32-bit range.
std::vector<int> sweep_codes() {
  std::vector<int> codes = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX};
  for (int code = -1000; code <= 1000; ++code) codes.push_back(code);
  return codes;
}

bool is_unnamed(const char *name) {
  return std::string(name) == "?";
}

sv_handle *stray_handle() {
  // A handle that does not point at a board; the value lookups must not touch it.
  return reinterpret_cast<sv_handle *>(static_cast<uintptr_t>(0x10));
}

// The constants are usable with the numbers the interface fixes.
static_assert(SV_QUERY_AUDIOSIZE_FROMHOST == 0);
static_assert(SV_QUERY_DEVTYPE == 13);
static_assert(SV_QUERY_INTERLACEID_STORAGE == 39);
static_assert(SV_QUERY_STREAMERSIZE == 42);
static_assert(SV_QUERY_SERIALNUMBER == 126);
static_assert(SV_QUERY_IOSPEED == 187);
static_assert(SV_OPTION_NOP == 0);
static_assert(SV_OPTION_INPUTPORT == 31);
static_assert(SV_OPTION_TRACE == 134);
static_assert(SV_OPTION_DVI_OUTPUT == 180);
static_assert(SV_OPTION_AUDIONOFADING == 217);
static_assert(SV_MASTER_AUTOEDITONOFF == 42);
static_assert(SV_VTRSLAVE_TCDELAY == 31);
static_assert(SV_MATRIX_CUSTOM == 1);
static_assert(SV_MATRIX_601HTO274F == 21);
static_assert(SV_MATRIXTYPE_274HEAD == 6);

// ---- Single names. ----

struct NameCase {
  const char *label;
  NameFunction lookup;
  int code;
  const char *name;
};

// clang-format off
const NameCase kNameCases[] = {
    {"query", query_name, 13, "SV_QUERY_DEVTYPE"},
    {"query", query_name, 126, "SV_QUERY_SERIALNUMBER"},
    {"query", query_name, 40, "?"},
    {"query", query_name, 41, "?"},
    {"query", query_name, 188, "?"},
    {"query", query_name, -1, "?"},
    {"query", query_name, 0, "SV_QUERY_AUDIOSIZE_FROMHOST"},
    {"query", query_name, 39, "SV_QUERY_INTERLACEID_STORAGE"},
    {"query", query_name, 42, "SV_QUERY_STREAMERSIZE"},
    {"query", query_name, 149, "SV_QUERY_APROD_UB"},
    {"query", query_name, 152, "SV_QUERY_FEATURE_AUDIOCHANNELS"},
    {"query", query_name, 154, "SV_QUERY_RASTER_XSIZE"},
    {"query", query_name, 170, "SV_QUERY_ANC_MAXVANCLINENR"},
    {"query", query_name, 174, "SV_QUERY_INPUTRASTER_SDID"},
    {"query", query_name, 178, "SV_QUERY_IOSPEED_SDID"},
    {"query", query_name, 187, "SV_QUERY_IOSPEED"},
    {"query", query_name, 256 + 13, "?"},
    {"option", option_name, 134, "SV_OPTION_TRACE"},
    {"option", option_name, 218, "?"},
    {"option", option_name, -1, "?"},
    {"option", option_name, 0, "SV_OPTION_NOP"},
    {"option", option_name, 180, "SV_OPTION_DVI_OUTPUT"},
    {"option", option_name, 217, "SV_OPTION_AUDIONOFADING"},
    {"option", option_name, 256 + 134, "?"},
    {"master", master_name, 43, "?"},
    {"master", master_name, -1, "?"},
    {"master", master_name, 0, "SV_MASTER_NOP"},
    {"master", master_name, 42, "SV_MASTER_AUTOEDITONOFF"},
    {"master", master_name, 256 + 1, "?"},
    {"vtrslave", vtrslave_name, 0x101, "SV_VTRSLAVE_TIMECODE"},
    {"vtrslave", vtrslave_name, 1, "SV_VTRSLAVE_TIMECODE"},
    {"vtrslave", vtrslave_name, 32, "?"},
    {"vtrslave", vtrslave_name, 0, "SV_VTRSLAVE_NOP"},
    {"vtrslave", vtrslave_name, 31, "SV_VTRSLAVE_TCDELAY"},
    {"vtrslave", vtrslave_name, 0x7FFFFF1F, "SV_VTRSLAVE_TCDELAY"},
    {"vtrslave", vtrslave_name, INT_MIN, "SV_VTRSLAVE_NOP"},
    {"vtrslave", vtrslave_name, -1, "?"},
    {"matrix", matrix_name, 0, "?"},
    {"matrix", matrix_name, 0x103, "SV_MATRIX_CCIR601"},
    {"matrix", matrix_name, 1, "SV_MATRIX_CUSTOM"},
    {"matrix", matrix_name, 21, "SV_MATRIX_601HTO274F"},
    {"matrix", matrix_name, 22, "?"},
    {"matrix", matrix_name, INT_MIN, "?"},
    {"matrixtype", matrixtype_name, 7, "?"},
    {"matrixtype", matrixtype_name, 0, "SV_MATRIXTYPE_DEFAULT"},
    {"matrixtype", matrixtype_name, 6, "SV_MATRIXTYPE_274HEAD"},
    {"matrixtype", matrixtype_name, 0x10006, "SV_MATRIXTYPE_274HEAD"},
    {"matrixtype", matrixtype_name, -256, "SV_MATRIXTYPE_DEFAULT"},
};
// clang-format on

class NameCaseTest : public testing::TestWithParam<NameCase> {};

TEST_P(NameCaseTest, GivesTheName) {
  EXPECT_STREQ(GetParam().lookup(GetParam().code), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Names, NameCaseTest, testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase> &info) {
                           return std::string(info.param.label) + "_" + code_label(info.param.code);
                         });

// ---- Whole tables. ----

class FamilyTest : public testing::TestWithParam<Family> {};

TEST_P(FamilyTest, HoldsItsNumberOfNamedRows) {
  const Family &family = GetParam();
  const int first = family.low_byte_key ? 0 : -1000;
  const int last = family.low_byte_key ? 255 : 1000;
  int named = 0;
  for (int code = first; code <= last; ++code) {
    if (!is_unnamed(family.lookup(code))) ++named;
  }
  EXPECT_EQ(named, family.rows);
}

TEST_P(FamilyTest, NamesCarryTheFamilyPrefixAndAreUnique) {
  const Family &family = GetParam();
  std::set<std::string> names;
  for (int code = 0; code <= 255; ++code) {
    const std::string name = family.lookup(code);
    if (name == "?") continue;
    EXPECT_EQ(name.rfind(family.prefix, 0), 0u) << name;
    EXPECT_GT(name.size(), std::string(family.prefix).size()) << name;
    names.insert(name);
  }
  EXPECT_EQ(static_cast<int>(names.size()), family.rows);
}

TEST_P(FamilyTest, EveryCodeGivesANameAndTheKeyIsAsDocumented) {
  const Family &family = GetParam();
  for (int code : sweep_codes()) {
    const char *name = family.lookup(code);
    ASSERT_NE(name, nullptr) << "code " << code;
    if (family.low_byte_key) {
      EXPECT_STREQ(name, family.lookup(code & 0xFF)) << "code " << code;
    } else if (code < 0 || code > 255) {
      EXPECT_STREQ(name, "?") << "code " << code;
    }
  }
}

TEST_P(FamilyTest, NamesAreStatic) {
  const Family &family = GetParam();
  for (int code = 0; code <= 255; ++code) EXPECT_EQ(family.lookup(code), family.lookup(code));
}

INSTANTIATE_TEST_SUITE_P(Names, FamilyTest, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family> &info) {
                           return std::string(info.param.label);
                         });

// Each family's named codes form one run without gaps, except the queries.
struct Range {
  const char *label;
  NameFunction lookup;
  int first;
  int last;
};

// clang-format off
const Range kRanges[] = {
    {"master", master_name, 0, 42},
    {"option", option_name, 0, 217},
    {"vtrslave", vtrslave_name, 0, 31},
    {"matrix", matrix_name, 1, 21},
    {"matrixtype", matrixtype_name, 0, 6},
};
// clang-format on

class RangeTest : public testing::TestWithParam<Range> {};

TEST_P(RangeTest, NamesExactlyTheCodesOfItsRange) {
  const Range &range = GetParam();
  for (int code = 0; code <= 255; ++code) {
    const bool inside = code >= range.first && code <= range.last;
    EXPECT_EQ(!is_unnamed(range.lookup(code)), inside) << "code " << code;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, RangeTest, testing::ValuesIn(kRanges),
                         [](const testing::TestParamInfo<Range> &info) {
                           return std::string(info.param.label);
                         });

TEST(QueryName, TheUnusedCodesAreExactlyTheDocumentedGaps) {
  const std::set<int> gaps = {40,  41,  150, 151, 153, 171, 172, 173,
                              179, 180, 181, 182, 183, 184, 185, 186};
  for (int code = 0; code <= 187; ++code) {
    EXPECT_EQ(is_unnamed(query_name(code)), gaps.count(code) != 0) << "code " << code;
  }
}

// The lists behind the enums and the lookups agree row by row.
struct ListedName {
  const char *family;
  NameFunction lookup;
  int code;
  const char *name;
};

// clang-format off
#define MASTER_ROW(code, name) {"master", master_name, code, #name},
#define QUERY_ROW(code, name) {"query", query_name, code, #name},
#define OPTION_ROW(code, name) {"option", option_name, code, #name},
#define VTRSLAVE_ROW(code, name) {"vtrslave", vtrslave_name, code, #name},
#define MATRIX_ROW(code, name) {"matrix", matrix_name, code, #name},
#define MATRIXTYPE_ROW(code, name) {"matrixtype", matrixtype_name, code, #name},
const ListedName kListedNames[] = {
    SV_MASTER_LIST(MASTER_ROW)
    SV_QUERY_LIST(QUERY_ROW)
    SV_OPTION_LIST(OPTION_ROW)
    SV_VTRSLAVE_LIST(VTRSLAVE_ROW)
    SV_MATRIX_LIST(MATRIX_ROW)
    SV_MATRIXTYPE_LIST(MATRIXTYPE_ROW)
};
#undef MASTER_ROW
#undef QUERY_ROW
#undef OPTION_ROW
#undef VTRSLAVE_ROW
#undef MATRIX_ROW
#undef MATRIXTYPE_ROW
// clang-format on

TEST(NameLists, EachListAscendsAndHoldsItsNumberOfRows) {
  for (const Family &family : kFamilies) {
    int rows = 0;
    int previous = INT_MIN;
    for (const ListedName &listed : kListedNames) {
      if (std::string(listed.family) != family.label) continue;
      EXPECT_GT(listed.code, previous) << listed.name;
      previous = listed.code;
      ++rows;
    }
    EXPECT_EQ(rows, family.rows) << family.label;
  }
}

TEST(NameLists, EveryListedRowIsNamedByItsLookup) {
  for (const ListedName &listed : kListedNames) {
    EXPECT_STREQ(listed.lookup(listed.code), listed.name) << listed.family << " " << listed.code;
  }
}

// ---- Device type names. ----

struct ValueName {
  int value;
  const char *name;
};

// clang-format off
const ValueName kDevtypeNames[] = {
    {0, "Unknown"},
    {1, "Tarvik-1"},
    {2, "Tarvik-2"},
    {3, "Quell"},
    {4, "Quell-RGB"},
    {5, "Minaro"},
    {6, "Orvello"},
    {7, "Sendal"},
    {8, "Corvane"},
    {9, "Brellan"},
    {10, "Dovrin"},
    {11, "Pashet"},
    {12, "Halvera"},
    {13, "Tolvin"},
    {14, "Ruskel"},
    {15, "Fennor"},
    {16, "Istrel"},
    {17, "Ombrin"},
    {18, "Zerrat"},
    {19, "Lumeth"},
    {20, "Carvath"},
    {21, "Vantrel"},
    {22, "Pellox"},
    {23, "CarvathX"},
    {24, "?"},
    {25, "Pellox LT"},
    {26, "Pellox HDMI"},
    {27, "?"},
    {-1, "?"},
    {256 + 21, "?"},
    {INT_MIN, "?"},
    {INT_MAX, "?"},
};
// clang-format on

class DevtypeNameTest : public testing::TestWithParam<ValueName> {};

TEST_P(DevtypeNameTest, GivesTheDeviceTypeName) {
  EXPECT_STREQ(query_value_name(nullptr, SV_QUERY_DEVTYPE, GetParam().value), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(QueryValueName, DevtypeNameTest, testing::ValuesIn(kDevtypeNames),
                         [](const testing::TestParamInfo<ValueName> &info) {
                           return "devtype_" + code_label(info.param.value);
                         });

TEST(QueryValueName, DeviceTypesOutsideTheTableAreUnnamed) {
  for (int value : sweep_codes()) {
    if (value >= 0 && value <= 26) continue;
    EXPECT_STREQ(query_value_name(nullptr, SV_QUERY_DEVTYPE, value), "?") << "value " << value;
  }
}

// ---- Query value names. ----

struct QueryValueCase {
  int query;
  const char *name;
};

// Queries whose name does not depend on the value.
// clang-format off
const QueryValueCase kFixedQueryNames[] = {
    {1, "Vokoem"},
    {2, "Driver"},
    {87, "Temperature"},
    {121, "1.5V"},
    {122, "2.5V"},
    {123, "3.3V"},
    {124, "5.0V"},
    {125, "12.0V"},
    {141, "Fanspeed"},
    {171, "1.2V"},
    {172, "1.8V"},
    {173, "2.3V"},
};
// clang-format on

class FixedQueryNameTest : public testing::TestWithParam<QueryValueCase> {};

TEST_P(FixedQueryNameTest, GivesTheNameWhateverTheValue) {
  for (int value : {0, 1, -1, 21, 12345, INT_MIN, INT_MAX}) {
    EXPECT_STREQ(query_value_name(nullptr, GetParam().query, value), GetParam().name)
        << "value " << value;
  }
}

INSTANTIATE_TEST_SUITE_P(QueryValueName, FixedQueryNameTest, testing::ValuesIn(kFixedQueryNames),
                         [](const testing::TestParamInfo<QueryValueCase> &info) {
                           return "query_" + code_label(info.param.query);
                         });

TEST(QueryValueName, PortQueriesNameTheOptionValues) {
  EXPECT_STREQ(query_value_name(nullptr, 14, 3), "dvi");
  EXPECT_STREQ(query_value_name(nullptr, 90, 1), "swapped");
  for (int value : sweep_codes()) {
    EXPECT_STREQ(query_value_name(nullptr, SV_QUERY_INPUTPORT, value),
                 option_value_name(nullptr, SV_OPTION_INPUTPORT, value))
        << "value " << value;
    EXPECT_STREQ(query_value_name(nullptr, SV_QUERY_OUTPUTPORT, value),
                 option_value_name(nullptr, SV_OPTION_OUTPUTPORT, value))
        << "value " << value;
  }
}

TEST(QueryValueName, OtherQueriesAreUnnamed) {
  const std::set<int> named = {1, 2, 13, 14, 87, 90, 121, 122, 123, 124, 125, 141, 171, 172, 173};
  EXPECT_STREQ(query_value_name(nullptr, 126, 0), "?");
  for (int query : sweep_codes()) {
    if (named.count(query) != 0) continue;
    for (int value : {0, 1, 3, 21, -1}) {
      const char *name = query_value_name(nullptr, query, value);
      ASSERT_NE(name, nullptr) << "query " << query;
      EXPECT_STREQ(name, "?") << "query " << query << " value " << value;
    }
  }
}

TEST(QueryValueName, DoesNotUseTheHandle) {
  EXPECT_STREQ(query_value_name(stray_handle(), SV_QUERY_DEVTYPE, 21), "Vantrel");
  EXPECT_STREQ(query_value_name(stray_handle(), SV_QUERY_INPUTPORT, 0), "sdi");
}

// ---- Option value names. ----

struct OptionValueCase {
  int option;
  int value;
  const char *name;
};

// clang-format off
const OptionValueCase kOptionValueCases[] = {
    {31, 0, "sdi"},
    {31, 1, "analog"},
    {31, 2, "sdi2"},
    {31, 3, "dvi"},
    {31, 4, "sdi3"},
    {31, 5, "?"},
    {31, -1, "?"},
    {31, 0x100, "?"},
    {96, 0, "default"},
    {96, 1, "swapped"},
    {96, 2, "mirror"},
    {96, 3, "?"},
    {96, 0x101, "?"},
    {180, 0x11, "dvi12 stereo"},
    {180, 0x21, "dvi12"},
    {180, 3, "?"},
    {180, 0x13, "?"},
    {180, 0x7FFFFFE0, "dvi8"},
    {180, 0x7FFFFFF2, "dvi16 stereo"},
    {180, -16, "dvi8 stereo"},
    {180, -1, "?"},
    {180, INT_MIN, "dvi8"},
    {202, 0, "sdi"},
    {202, 1, "dvi"},
    {202, 2, "?"},
    {202, 0x100, "?"},
    {205, 0, "?"},
    {205, 1, "1.5GBit"},
    {205, 2, "3GBit/A"},
    {205, 3, "3GBit/B"},
    {205, 4, "SDTV"},
    {205, 5, "?"},
    {205, 0x101, "?"},
    {209, 0, "default"},
    {209, 1, "head"},
    {209, 2, "full"},
    {209, 3, "?"},
    {209, -256, "?"},
};
// clang-format on

class OptionValueTest : public testing::TestWithParam<OptionValueCase> {};

TEST_P(OptionValueTest, GivesTheValueName) {
  EXPECT_STREQ(option_value_name(nullptr, GetParam().option, GetParam().value), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(OptionValueName, OptionValueTest, testing::ValuesIn(kOptionValueCases),
                         [](const testing::TestParamInfo<OptionValueCase> &info) {
                           return "option_" + code_label(info.param.option) + "_value_" +
                                  code_label(info.param.value);
                         });

// SV_OPTION_DVI_OUTPUT over all combinations of the five bits it reads.
TEST(OptionValueName, DviOutputReadsTheLowFourBitsAndTheStereoBit) {
  // clang-format off
  const char *const expected[32] = {
      "dvi8", "dvi12", "dvi16", "?", "?", "?", "?", "?",
      "?", "?", "?", "?", "?", "?", "?", "?",
      "dvi8 stereo", "dvi12 stereo", "dvi16 stereo", "?", "?", "?", "?", "?",
      "?", "?", "?", "?", "?", "?", "?", "?",
  };
  // clang-format on
  for (int value = 0; value < 32; ++value) {
    EXPECT_STREQ(option_value_name(nullptr, 180, value), expected[value]) << "value " << value;
  }
  for (int value : sweep_codes()) {
    EXPECT_STREQ(option_value_name(nullptr, 180, value), expected[value & 0x1F])
        << "value " << value;
  }
}

TEST(OptionValueName, OtherOptionsAreUnnamed) {
  const std::set<int> named = {31, 96, 180, 202, 205, 209};
  for (int option : sweep_codes()) {
    if (named.count(option) != 0) continue;
    for (int value : {0, 1, 2, -1}) {
      const char *name = option_value_name(nullptr, option, value);
      ASSERT_NE(name, nullptr) << "option " << option;
      EXPECT_STREQ(name, "?") << "option " << option << " value " << value;
    }
  }
}

TEST(OptionValueName, EveryValueGivesAName) {
  for (int option : {31, 96, 180, 202, 205, 209}) {
    for (int value : sweep_codes()) {
      EXPECT_NE(option_value_name(nullptr, option, value), nullptr)
          << "option " << option << " value " << value;
    }
  }
}

TEST(OptionValueName, DoesNotUseTheHandle) {
  EXPECT_STREQ(option_value_name(stray_handle(), 205, 4), "SDTV");
}

// ---- Device type and card type. ----

struct CodePair {
  int from;
  int to;
};

// The card-type table that sv_status applies: driver card type to device type.
// clang-format off
const CodePair kCardToDevtype[] = {
    {1, 4},
    {2, 0},
    {4, 1},
    {5, 5},
    {6, 7},
    {7, 8},
    {8, 16},
    {9, 9},
    {15, 12},
    {16, 13},
    {17, 14},
    {18, 15},
    {19, 17},
    {20, 18},
    {22, 19},
    {23, 23},
    {24, 24},
    {25, 25},
    {26, 26},
};

const CodePair kDevtypeToCard[] = {
    {0, 2},
    {1, 4},
    {4, 1},
    {5, 5},
    {6, 3},
    {7, 6},
    {8, 7},
    {9, 9},
    {10, 16},
    {11, 5},
    {12, 15},
    {13, 16},
    {14, 17},
    {15, 18},
    {16, 8},
    {17, 19},
    {18, 20},
    {19, 22},
    {23, 23},
    {24, 24},
    {25, 25},
    {26, 26},
};
// clang-format on

const CodePair *find_pair(const CodePair *first, const CodePair *last, int from) {
  for (; first != last; ++first) {
    if (first->from == from) return first;
  }
  return nullptr;
}

class DriverToDevtypeTest : public testing::TestWithParam<CodePair> {};

TEST_P(DriverToDevtypeTest, MapsTheCardType) {
  EXPECT_EQ(driver_to_devtype(GetParam().from), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(CardType, DriverToDevtypeTest, testing::ValuesIn(kCardToDevtype),
                         [](const testing::TestParamInfo<CodePair> &info) {
                           return "card_" + code_label(info.param.from);
                         });

TEST(DriverToDevtype, OtherCardTypesGiveType2) {
  for (int card : {0, 3, 10, 11, 12, 13, 14, 21, 27, -1}) {
    EXPECT_EQ(driver_to_devtype(card), 2) << "card " << card;
  }
  for (int card : sweep_codes()) {
    if (find_pair(std::begin(kCardToDevtype), std::end(kCardToDevtype), card) != nullptr) continue;
    EXPECT_EQ(driver_to_devtype(card), 2) << "card " << card;
  }
}

class DevtypeToDriverTest : public testing::TestWithParam<CodePair> {};

TEST_P(DevtypeToDriverTest, MapsTheDeviceType) {
  EXPECT_EQ(devtype_to_driver(GetParam().from), GetParam().to);
}

INSTANTIATE_TEST_SUITE_P(DeviceType, DevtypeToDriverTest, testing::ValuesIn(kDevtypeToCard),
                         [](const testing::TestParamInfo<CodePair> &info) {
                           return "devtype_" + code_label(info.param.from);
                         });

TEST(DevtypeToDriver, EdgeCases) {
  EXPECT_EQ(devtype_to_driver(21), 0);
  EXPECT_EQ(devtype_to_driver(13), 16);
}

TEST(DevtypeToDriver, OtherDeviceTypesGiveZero) {
  for (int devtype : {2, 3, 20, 21, 22, 27, -1}) {
    EXPECT_EQ(devtype_to_driver(devtype), 0) << "devtype " << devtype;
  }
  for (int devtype : sweep_codes()) {
    if (find_pair(std::begin(kDevtypeToCard), std::end(kDevtypeToCard), devtype) != nullptr) {
      continue;
    }
    EXPECT_EQ(devtype_to_driver(devtype), 0) << "devtype " << devtype;
  }
}

TEST(DevtypeToDriver, ReversesTheCardTypeTable) {
  for (const CodePair &pair : kCardToDevtype) {
    EXPECT_EQ(devtype_to_driver(driver_to_devtype(pair.from)), pair.from) << "card " << pair.from;
  }
}

TEST(DevtypeToDriver, HoldsThreeRowsOfItsOwn) {
  // Device types 6, 10 and 11 are never reported by the card-type table.
  for (const CodePair &extra : {CodePair{6, 3}, CodePair{10, 16}, CodePair{11, 5}}) {
    EXPECT_EQ(devtype_to_driver(extra.from), extra.to) << "devtype " << extra.from;
    EXPECT_NE(driver_to_devtype(extra.to), extra.from) << "devtype " << extra.from;
    for (int card : sweep_codes()) EXPECT_NE(driver_to_devtype(card), extra.from);
  }
}

}  // namespace
