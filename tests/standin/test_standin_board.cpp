// The stand-in driver's board in a test process: what a flash write reaches of the caller's
// memory, and which caller addresses the driver takes.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include "standin.h"
#include "vokoem/orvello.h"
#include "vokoem/vokoem_codes.h"

standin_options options;
void log_line(const char *, ...) {}
int _vsnprintf(char *buffer, size_t count, const char *format, va_list args) {
  return std::vsnprintf(buffer, count, format, args);
}
int _snprintf(char *buffer, size_t count, const char *format, ...) {
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, count, format, args);
  va_end(args);
  return n;
}
}

namespace {

// The caller's memory: bytes at `base`, and nothing the driver can reach around them.
struct caller_memory {
  ULONG64 base = 0x10000;
  std::vector<UCHAR> bytes;

  static BOOLEAN reach(void *context, ULONG64 address, void *into, ULONG length) {
    const auto *m = static_cast<const caller_memory *>(context);
    if (address < m->base || address + length > m->base + m->bytes.size()) return FALSE;
    std::memcpy(into, m->bytes.data() + (address - m->base), length);
    return TRUE;
  }
};

struct write_case {
  const char *name;
  bool data_reachable;
  bool description_reachable;
  int result;
};

class FlashWrite : public ::testing::TestWithParam<write_case> {
 protected:
  void SetUp() override {
    options.UnreachableWrite = SV_ERROR_TRANSFER;
    board_init(&board, 0);
  }
  void TearDown() override { board_release(&board); }
  standin_board board;
};

// The data, then the description "fx 20111017 34.8" and its NUL at the very end of what the
// caller owns: a write reaches the description up to its end only, and a write that cannot
// reach all of it leaves the flash and the region as they were.
TEST_P(FlashWrite, ReachesEverythingBeforeTheFlashChanges) {
  const write_case &c = GetParam();
  const std::string description = "fx 20111017 34.8";
  caller_memory memory;
  memory.bytes.assign(STANDIN_REGION_SIZE, 0x5A);
  memory.bytes.insert(memory.bytes.end(), description.begin(), description.end() + 1);
  const ULONG64 data = c.data_reachable ? memory.base : 0x10;
  const ULONG64 text = c.description_reachable ? memory.base + STANDIN_REGION_SIZE : 0x10;

  UCHAR record[64] = {};
  const ULONG words[] = {64, 0, ORVELLO_REQ_FLASHWRITE};
  std::memcpy(record, words, sizeof words);
  std::memcpy(record + 16, &data, 8);
  std::memcpy(record + 24, &text, 8);
  const ULONG fields[] = {STANDIN_REGION_SIZE, 10, 1, 0x08010022};  // length, kind, map, version
  std::memcpy(record + 32, fields, sizeof fields);
  board_serve(&board, record, sizeof record, caller_memory::reach, &memory);

  LONG result;
  std::memcpy(&result, record + 12, 4);
  EXPECT_EQ(result, c.result);
  const bool written = c.result == SV_OK;
  EXPECT_EQ(std::string(board.region[1].comment), written ? description : "fx 20110301 33.7");
  EXPECT_EQ(board.region[1].version, written ? 0x08010022u : 0x07010021u);
  const UCHAR first = board.flash != nullptr ? board.flash[STANDIN_REGION_SIZE] : 0xFF;
  EXPECT_EQ(first, written ? 0x5A : 0xFF);
}

INSTANTIATE_TEST_SUITE_P(
    Caller, FlashWrite,
    ::testing::Values(write_case{"all_reachable", true, true, SV_OK},
                      write_case{"description_unreachable", true, false, SV_ERROR_TRANSFER},
                      write_case{"data_unreachable", false, true, SV_ERROR_TRANSFER}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CallerAddress, OnlyUserSpaceWithoutWrapAndAligned) {
  const ULONG64 limit = STANDIN_USER_LIMIT;
  struct address_case {
    ULONG64 address, length;
    ULONG alignment;
    bool taken;
  };
  const address_case cases[] = {
      {0x10000, 64, 4, true},
      {limit - 64, 64, 4, true},
      {0, 64, 4, false},              // null
      {0x10002, 64, 4, false},        // not aligned
      {limit - 64, 65, 1, false},     // runs past user space
      {limit, 4, 4, false},           // system space
      {~0ull - 3, 16, 1, false},      // wraps
      {0x0000800000000000ull, 4, 4, false},  // not canonical on x64
  };
  for (const address_case &c : cases) {
    EXPECT_EQ(standin_in_user_space(c.address, c.length, c.alignment) != 0, c.taken)
        << std::hex << c.address << " + " << c.length;
  }
}

}  // namespace
