/*
 * Code names: the constant's name for a query, option, master, VTR slave, matrix or matrix
 * type code; the names of the values some queries and options return; and the translation
 * between device types and the driver's card types.
 *
 * No lookup fails: a code that a table does not hold gives "?". The names are static.
 */
#include <cstddef>
#include <span>

#include "vokoem/vokoem.h"

namespace {

constexpr const char *kNoName = "?";

struct NameRow {
  int code;
  const char *name;
};

// clang-format off
#define SV_NAME_ROW(code, name) {code, #name},
constexpr NameRow kMasterRows[] = {SV_MASTER_LIST(SV_NAME_ROW)};
constexpr NameRow kQueryRows[] = {SV_QUERY_LIST(SV_NAME_ROW)};
constexpr NameRow kOptionRows[] = {SV_OPTION_LIST(SV_NAME_ROW)};
constexpr NameRow kVtrslaveRows[] = {SV_VTRSLAVE_LIST(SV_NAME_ROW)};
constexpr NameRow kMatrixRows[] = {SV_MATRIX_LIST(SV_NAME_ROW)};
constexpr NameRow kMatrixtypeRows[] = {SV_MATRIXTYPE_LIST(SV_NAME_ROW)};
#undef SV_NAME_ROW
// clang-format on

// A name table selects directly by the key. Every family's codes lie below 256, so one
// table size serves all of them; the keys without a row hold "?".
constexpr int kNameKeys = 256;

struct NameTable {
  const char *name[kNameKeys];
};

constexpr NameTable make_table(std::span<const NameRow> rows) {
  NameTable table{};
  for (const char *&name : table.name) name = kNoName;
  for (const NameRow &row : rows) table.name[row.code] = row.name;
  return table;
}

constexpr NameTable kMasterTable = make_table(kMasterRows);
constexpr NameTable kQueryTable = make_table(kQueryRows);
constexpr NameTable kOptionTable = make_table(kOptionRows);
constexpr NameTable kVtrslaveTable = make_table(kVtrslaveRows);
constexpr NameTable kMatrixTable = make_table(kMatrixRows);
constexpr NameTable kMatrixtypeTable = make_table(kMatrixtypeRows);

const char *select_name(const NameTable &table, int key) {
  if (key < 0 || key >= kNameKeys) return kNoName;
  return table.name[key];
}

// The lowest eight bits of a code, for the families keyed by them.
int low_byte(int code) {
  return code & 0xFF;
}

// Small value tables are searched row by row.
const char *find_name(std::span<const NameRow> rows, int code) {
  for (const NameRow &row : rows) {
    if (row.code == code) return row.name;
  }
  return kNoName;
}

// Device types, the values of SV_QUERY_DEVTYPE. Type 24 has no name.
// clang-format off
constexpr NameRow kDevtypeNames[] = {
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
    {25, "Pellox LT"},
    {26, "Pellox HDMI"},
};
// clang-format on

// Values of the options that have value names.
// clang-format off
constexpr NameRow kInputportNames[] = {
    {0, "sdi"},
    {1, "analog"},
    {2, "sdi2"},
    {3, "dvi"},
    {4, "sdi3"},
};
// clang-format on

// clang-format off
constexpr NameRow kOutputportNames[] = {
    {0, "default"},
    {1, "swapped"},
    {2, "mirror"},
};
// clang-format on

// clang-format off
constexpr NameRow kMainoutputNames[] = {
    {0, "sdi"},
    {1, "dvi"},
};
// clang-format on

// clang-format off
constexpr NameRow kIospeedNames[] = {
    {1, "1.5GBit"},
    {2, "3GBit/A"},
    {3, "3GBit/B"},
    {4, "SDTV"},
};
// clang-format on

// clang-format off
constexpr NameRow kCroppingmodeNames[] = {
    {0, "default"},
    {1, "head"},
    {2, "full"},
};
// clang-format on

// SV_OPTION_DVI_OUTPUT: the lowest four bits select the depth, bit 0x10 the stereo form;
// all other bits are ignored.
constexpr const char *kDviOutputNames[2][3] = {
    {"dvi8", "dvi12", "dvi16"},
    {"dvi8 stereo", "dvi12 stereo", "dvi16 stereo"},
};

const char *dvi_output_name(int value) {
  int depth = value & 0xF;
  int stereo = (value & 0x10) != 0 ? 1 : 0;
  if (depth > 2) return kNoName;
  return kDviOutputNames[stereo][depth];
}

struct CodePair {
  int from;
  int to;
};

int map_code(std::span<const CodePair> pairs, int from, int fallback) {
  for (const CodePair &pair : pairs) {
    if (pair.from == from) return pair.to;
  }
  return fallback;
}

// Driver card type to device type, as sv_status reports it.
// clang-format off
constexpr CodePair kCardToDevtype[] = {
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
// clang-format on
constexpr int kUnknownDevtype = 2;

// Device type to driver card type: the card-type table reversed, and three rows of its own
// (6 -> 3, 10 -> 16, 11 -> 5).
// clang-format off
constexpr CodePair kDevtypeToCard[] = {
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
constexpr int kUnknownCard = 0;

}  // namespace

extern "C" {

const char *master_name(int code) {
  return select_name(kMasterTable, code);
}

const char *query_name(int code) {
  return select_name(kQueryTable, code);
}

const char *option_name(int code) {
  return select_name(kOptionTable, code);
}

const char *vtrslave_name(int code) {
  return select_name(kVtrslaveTable, low_byte(code));
}

const char *matrix_name(int code) {
  return select_name(kMatrixTable, low_byte(code));
}

const char *matrixtype_name(int code) {
  return select_name(kMatrixtypeTable, low_byte(code));
}

const char *option_value_name(sv_handle *sv, int option, int value) {
  (void)sv;
  switch (option) {
    case SV_OPTION_INPUTPORT:
      return find_name(kInputportNames, value);
    case SV_OPTION_OUTPUTPORT:
      return find_name(kOutputportNames, value);
    case SV_OPTION_DVI_OUTPUT:
      return dvi_output_name(value);
    case SV_OPTION_MAINOUTPUT:
      return find_name(kMainoutputNames, value);
    case SV_OPTION_IOSPEED:
      return find_name(kIospeedNames, value);
    case SV_OPTION_CROPPINGMODE:
      return find_name(kCroppingmodeNames, value);
    default:
      return kNoName;
  }
}

// Names the value a query returned, or the quantity the query measures. The queries 171 to
// 173 read the remaining supply voltages and have no name of their own.
const char *query_value_name(sv_handle *sv, int query, int value) {
  switch (query) {
    case SV_QUERY_VERSION_VOKOEM:
      return "Vokoem";
    case SV_QUERY_VERSION_DRIVER:
      return "Driver";
    case SV_QUERY_DEVTYPE:
      return find_name(kDevtypeNames, value);
    case SV_QUERY_INPUTPORT:
      return option_value_name(sv, SV_OPTION_INPUTPORT, value);
    case SV_QUERY_TEMPERATURE:
      return "Temperature";
    case SV_QUERY_OUTPUTPORT:
      return option_value_name(sv, SV_OPTION_OUTPUTPORT, value);
    case SV_QUERY_VOLTAGE_1V5:
      return "1.5V";
    case SV_QUERY_VOLTAGE_2V5:
      return "2.5V";
    case SV_QUERY_VOLTAGE_3V3:
      return "3.3V";
    case SV_QUERY_VOLTAGE_5V0:
      return "5.0V";
    case SV_QUERY_VOLTAGE_12V0:
      return "12.0V";
    case SV_QUERY_FANSPEED:
      return "Fanspeed";
    case 171:
      return "1.2V";
    case 172:
      return "1.8V";
    case 173:
      return "2.3V";
    default:
      return kNoName;
  }
}

int devtype_to_driver(int devtype) {
  return map_code(kDevtypeToCard, devtype, kUnknownCard);
}

int driver_to_devtype(int cardtype) {
  return map_code(kCardToDevtype, cardtype, kUnknownDevtype);
}

}  // extern "C"
