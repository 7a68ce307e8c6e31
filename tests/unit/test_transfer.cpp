// Raster, monitor, clock, chunk, block and debug transfers: the records sent, the bounds on
// the caller's buffers, the failure paths and the trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "scripted_board.h"

namespace vok::test {
namespace {

using board::pattern_word;

constexpr std::int32_t sentinel = 0x77777777;
constexpr unsigned char untouched = 0xEE;

// The byte at `offset` of a pattern reply to request `code`.
unsigned char pattern_byte(std::uint32_t code, std::size_t offset) {
  const std::uint32_t w = pattern_word(code, offset & ~std::size_t{3});
  return static_cast<unsigned char>(w >> (8 * (offset & 3)));
}

class TransferTest : public scripted_board_test {};

// ---- sv_raster_status, sv_monitorinfo -------------------------------------------------------

TEST_F(TransferTest, RasterCopiesAtMost332BytesAndClearsTheRest) {
  start();
  for (unsigned size : {0u, 100u, 331u, 332u, 333u, 400u}) {
    d.clear_requests();
    const int id = static_cast<int>(size) - 200;
    std::vector<unsigned char> raster(420, untouched);
    int n = sentinel;
    EXPECT_EQ(sv_raster_status(sv, id, raster.data(), size, size == 100 ? nullptr : &n, 9), SV_OK);
    ASSERT_EQ(d.requests().size(), 1u);
    expect_sent(d.requests()[0], ORVELLO_REQ_RASTER, 388, {{16, static_cast<std::uint32_t>(id)}});
    EXPECT_EQ(n, size == 100 ? sentinel : static_cast<int>(pattern_word(64, 20)));
    for (std::size_t i = 0; i < raster.size(); ++i) {
      const unsigned char want = i >= size ? untouched : i < 332 ? pattern_byte(64, 56 + i) : 0;
      ASSERT_EQ(raster[i], want) << "byte " << i << " of size " << size;
    }
  }
}

TEST_F(TransferTest, MonitorCopiesBetween128And256Bytes) {
  start();
  const std::pair<int, std::size_t> rows[] = {{127, 0},   {0, 0},     {-300, 0},  {128, 128},
                                              {200, 200}, {256, 256}, {257, 256}, {1000, 256}};
  for (const auto &[size, copied] : rows) {
    d.clear_requests();
    std::vector<unsigned char> buffer(1000, untouched);
    EXPECT_EQ(sv_monitorinfo(sv, size, buffer.data(), size), copied ? SV_OK : SV_ERROR_BUFFERSIZE);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
      ASSERT_EQ(buffer[i], i < copied ? pattern_byte(99, 48 + i) : untouched) << i << "/" << size;
    }
    ASSERT_EQ(d.requests().size(), copied ? 1u : 0u) << size;
    if (copied) {
      expect_sent(d.requests()[0], ORVELLO_REQ_MONITORINFO, 304,
                  {{16, static_cast<std::uint32_t>(size)}});
    }
  }
}

TEST_F(TransferTest, RasterAndMonitorAreCopiedAlsoWhenTheRequestFails) {
  start();
  replies[ORVELLO_REQ_RASTER] = [](unsigned char *r, std::size_t) {
    std::memset(r + 56, 0xAB, 332);
    put(r, 20, 9);
    put(r, 12, SV_ERROR_TIMEOUT);
  };
  replies[ORVELLO_REQ_MONITORINFO] = [](unsigned char *r, std::size_t) {
    std::memset(r + 48, 0xCD, 256);
    put(r, 12, SV_ERROR_TIMEOUT);
  };
  std::vector<unsigned char> raster(332, untouched), monitor(256, untouched);
  int n = sentinel;
  EXPECT_EQ(sv_raster_status(sv, 1, raster.data(), 332, &n, 0), SV_ERROR_TIMEOUT);
  EXPECT_EQ(raster, std::vector<unsigned char>(332, 0xAB));
  EXPECT_EQ(n, 9);
  EXPECT_EQ(sv_monitorinfo(sv, 0, monitor.data(), 256), SV_ERROR_TIMEOUT);
  EXPECT_EQ(monitor, std::vector<unsigned char>(256, 0xCD));
  n = sentinel;
  EXPECT_EQ(sv_raster_status(sv, 1, nullptr, 332, &n, 0), SV_ERROR_PARAMETER);
  EXPECT_EQ(n, sentinel);
  EXPECT_EQ(sv_monitorinfo(sv, 0, nullptr, 256), SV_ERROR_PARAMETER);
  EXPECT_EQ(d.requests().size(), 2u);
}

// ---- sv_realtimeclock -----------------------------------------------------------------------

std::vector<std::int32_t> rtc_words(const sv_rtc_time &t) {
  std::vector<std::int32_t> w(16);
  std::memcpy(w.data(), &t, sizeof t);
  return w;
}

sv_rtc_time filled_rtc() {
  sv_rtc_time t;
  std::fill_n(&t.year, 16, sentinel);
  return t;
}

TEST_F(TransferTest, ClockRequestCarriesTheFlagsAndFillsTheRecord) {
  start();
  for (int flags : {0, 3, -1}) {
    sv_rtc_time t = filled_rtc();
    EXPECT_EQ(sv_realtimeclock(sv, 0x55, &t, flags), SV_OK);
    expect_sent(last(ORVELLO_REQ_RTC), ORVELLO_REQ_RTC, 80,
                {{20, static_cast<std::uint32_t>(flags)}});
    EXPECT_EQ(rtc_words(t), (std::vector<std::int32_t>{2011, 11, 14, 1, 11, 59, 11, 250000, 0, 0, 0,
                                                       0, 0, 0, 0, 0}));
  }
}

TEST_F(TransferTest, ClockIsFilledOnSuccessAndOnWrongTime) {
  start(1);
  const std::vector<std::int32_t> clock = {2012, 2, 29, 4, 23, 58, 57, 123456};
  const std::string line = "sv_realtimeclock(sv,2012/02/29-23:58:57-123456) = ";
  const std::pair<int, const char *> rows[] = {
      {SV_OK, nullptr},
      {SV_ERROR_WRONG_TIME, "SV_ERROR_WRONG_TIME. Illegal time detected.\n"},
      {SV_ERROR_TIMEOUT, "SV_ERROR_TIMEOUT. Timeout.\n"}};
  for (const auto &[result, text] : rows) {
    forget();
    replies[ORVELLO_REQ_RTC] = [&, result = result](unsigned char *r, std::size_t) {
      for (int i = 0; i < 8; ++i) put(r, 48 + 4 * i, static_cast<std::uint32_t>(clock[i]));
      put(r, 12, static_cast<std::uint32_t>(result));
    };
    sv_rtc_time t = filled_rtc();
    EXPECT_EQ(sv_realtimeclock(sv, 0, &t, 0), result);
    std::vector<std::int32_t> want(16, 0);
    if (result != SV_ERROR_TIMEOUT) std::copy(clock.begin(), clock.end(), want.begin());
    EXPECT_EQ(rtc_words(t), want) << result;
    const auto lines = text ? std::vector<std::string>{line + text} : std::vector<std::string>{};
    EXPECT_EQ(d.debug_lines(), lines);
    EXPECT_EQ(driver_lines(), lines);
  }
}

TEST_F(TransferTest, ClockNullRecordOutranksABadMagic) {
  start(1);
  sv_handle copy = *sv;
  copy.magic = 1;
  EXPECT_EQ(sv_realtimeclock(&copy, 0, nullptr, 0), SV_ERROR_PARAMETER);
  sv_rtc_time t = filled_rtc();
  EXPECT_EQ(sv_realtimeclock(&copy, 0, &t, 0), SV_ERROR_SVMAGIC);
  EXPECT_EQ(rtc_words(t), std::vector<std::int32_t>(16, 0)) << "cleared also on a bad magic";
  t = filled_rtc();
  EXPECT_EQ(sv_realtimeclock(nullptr, 0, &t, 0), SV_ERROR_SVNULL);
  EXPECT_EQ(rtc_words(t), std::vector<std::int32_t>(16, sentinel));
  EXPECT_EQ(sv_realtimeclock(sv, 0, nullptr, 0), SV_ERROR_PARAMETER);
  EXPECT_EQ(count(ORVELLO_REQ_RTC), 0);
  EXPECT_EQ(d.debug_lines(),
            (std::vector<std::string>{
                "sv_realtimeclock(sv,0000/00/00-00:00:00-000000) = SV_ERROR_PARAMETER. Parameter "
                "error.\n",
                "sv_realtimeclock(sv,0000/00/00-00:00:00-000000) = SV_ERROR_SVMAGIC. Invalid SV "
                "magic number.\n",
                "sv_realtimeclock(sv,0000/00/00-00:00:00-000000) = SV_ERROR_PARAMETER. Parameter "
                "error.\n"}));
}

// ---- sv_chunkread, sv_chunkread_select ------------------------------------------------------

struct chunk_case {
  int length;
  std::vector<std::int32_t> counts;  // what the driver delivers, request by request
  int requests, total;
};
void PrintTo(const chunk_case &c, std::ostream *os) {
  *os << "length " << c.length << ", " << c.counts.size() << " chunks";
}

class ChunkRead : public TransferTest,
                  public ::testing::WithParamInterface<std::tuple<chunk_case, bool>> {
 protected:
  static unsigned char chunk_byte(int chunk, int i) {
    return static_cast<unsigned char>(chunk * 37 + i * 7 + 1);
  }
  // Delivers `counts` in turn, always with 512 bytes of data in the record.
  void deliver(std::vector<std::int32_t> counts, int fail_at = -1) {
    replies[ORVELLO_REQ_CHUNKREAD] = [this, counts, fail_at](unsigned char *r, std::size_t) {
      const int chunk = served++;
      for (int i = 0; i < 512; ++i) r[24 + i] = chunk_byte(chunk, i);
      put(r, 16,
          static_cast<std::uint32_t>(chunk < static_cast<int>(counts.size()) ? counts[chunk]
                                                                             : 512));
      if (chunk == fail_at) put(r, 12, SV_ERROR_TIMEOUT);
    };
  }
  int read(bool select, void *buffer, int length, int *count) {
    return select ? sv_chunkread_select(sv, 0x5A5, buffer, length, count)
                  : sv_chunkread(sv, buffer, length, count);
  }
  int served = 0;
};

TEST_P(ChunkRead, StopsOnAShortChunkOrTheLengthAndNeverWritesPastIt) {
  const auto &[c, select] = GetParam();
  start();
  deliver(c.counts);
  const std::size_t room = static_cast<std::size_t>(std::max(c.length, 0));
  std::vector<unsigned char> buffer(room + 64, untouched);
  int total = sentinel;
  EXPECT_EQ(read(select, buffer.data(), c.length, &total), SV_OK);
  EXPECT_EQ(total, c.total);
  const auto sent = d.requests();
  ASSERT_EQ(sent.size(), static_cast<std::size_t>(c.requests));
  for (const auto &r : sent) {
    expect_sent(r, ORVELLO_REQ_CHUNKREAD, 536, {{16, 512}, {20, select ? 0x5A5u : 0u}});
  }
  std::vector<unsigned char> want;
  for (int chunk = 0; chunk < c.requests; ++chunk) {
    for (int i = 0; i < c.counts[chunk]; ++i) want.push_back(chunk_byte(chunk, i));
  }
  want.resize(static_cast<std::size_t>(c.total));
  want.resize(buffer.size(), untouched);
  EXPECT_EQ(buffer, want);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ChunkRead,
    ::testing::Combine(::testing::Values(chunk_case{1024, {512, 512, 100}, 2, 1024},
                                         chunk_case{1024, {512, 100}, 2, 612},
                                         chunk_case{700, {512, 512}, 2, 700},
                                         chunk_case{512, {512, 512}, 1, 512},
                                         chunk_case{100, {512}, 1, 100},
                                         chunk_case{2000, {512, 512, 512, 0}, 4, 1536},
                                         chunk_case{2000, {512, 512, 512, 512}, 4, 2000},
                                         chunk_case{1000, {0}, 1, 0}, chunk_case{0, {512}, 0, 0},
                                         chunk_case{-5, {512}, 0, 0}),
                       ::testing::Bool()));

TEST_F(TransferTest, ChunkReadIntoAnExactlySizedBuffer) {
  start();
  auto buffer = std::make_unique<unsigned char[]>(700);
  int total = 0;
  EXPECT_EQ(sv_chunkread(sv, buffer.get(), 700, &total), SV_OK);  // the board sends 512 + 512
  EXPECT_EQ(total, 700);
  EXPECT_EQ(count(ORVELLO_REQ_CHUNKREAD), 2);
  EXPECT_EQ(sv_chunkread(sv, buffer.get(), 700, nullptr), SV_OK);
}

TEST_F(TransferTest, AFailedChunkReportsNoBytes) {
  start();
  int served = 0;
  replies[ORVELLO_REQ_CHUNKREAD] = [&served](unsigned char *r, std::size_t) {
    put(r, 16, 512);
    if (served++ == 1) put(r, 12, SV_ERROR_TIMEOUT);
  };
  std::vector<unsigned char> buffer(2048);
  int total = sentinel;
  EXPECT_EQ(sv_chunkread_select(sv, 3, buffer.data(), 2048, &total), SV_ERROR_TIMEOUT);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(count(ORVELLO_REQ_CHUNKREAD), 2);
}

// ---- sv_blockpair_read ----------------------------------------------------------------------

TEST_F(TransferTest, BlockPairSwapsTheBlocksAndKeepsWord0) {
  start();
  std::vector<std::int32_t> first(36, sentinel), second(36, sentinel);
  EXPECT_EQ(sv_blockpair_read(sv, first.data(), second.data()), SV_OK);
  ASSERT_EQ(d.requests().size(), 1u);
  expect_sent(d.requests()[0], ORVELLO_REQ_BLOCKPAIR, 544);
  for (int i = 0; i < 36; ++i) {
    const bool copied = i >= 1 && i <= 33;
    EXPECT_EQ(first[i],
              copied ? static_cast<std::int32_t>(pattern_word(100, 280 + 4 * i)) : sentinel)
        << "first " << i;
    EXPECT_EQ(second[i],
              copied ? static_cast<std::int32_t>(pattern_word(100, 16 + 4 * i)) : sentinel)
        << "second " << i;
  }
}

TEST_F(TransferTest, BlockPairSkipsNullBlocksAndWritesNothingOnFailure) {
  start();
  std::vector<std::int32_t> block(34, sentinel);
  EXPECT_EQ(sv_blockpair_read(sv, nullptr, block.data()), SV_OK);
  EXPECT_EQ(block[1], static_cast<std::int32_t>(pattern_word(100, 20)));
  block.assign(34, sentinel);
  EXPECT_EQ(sv_blockpair_read(sv, block.data(), nullptr), SV_OK);
  EXPECT_EQ(block[33], static_cast<std::int32_t>(pattern_word(100, 280 + 4 * 33)));
  EXPECT_EQ(sv_blockpair_read(sv, nullptr, nullptr), SV_OK);
  d.at(0).result_for[ORVELLO_REQ_BLOCKPAIR] = SV_ERROR_TIMEOUT;
  std::vector<std::int32_t> first(34, sentinel), second(34, sentinel);
  EXPECT_EQ(sv_blockpair_read(sv, first.data(), second.data()), SV_ERROR_TIMEOUT);
  EXPECT_EQ(first, std::vector<std::int32_t>(34, sentinel));
  EXPECT_EQ(second, std::vector<std::int32_t>(34, sentinel));
}

// ---- sv_debug_text, sv_debug_command --------------------------------------------------------

TEST_F(TransferTest, DebugTextIsSentWithItsLength) {
  start();
  for (const std::string &text : {std::string("hello"), std::string("Proxy server"),
                                  std::string("prox y"), std::string(), std::string(255, 'x')}) {
    d.clear_requests();
    EXPECT_EQ(sv_debug_text(sv, text.c_str()), SV_OK);
    ASSERT_EQ(d.requests().size(), 1u) << text;
    expect_sent(d.requests()[0], ORVELLO_REQ_DEBUG, 304,
                {{16, OV_DEBUG_TEXT}, {44, static_cast<std::uint32_t>(text.size())}}, text, 48);
    EXPECT_EQ(model().trace_lines().back(), text);
  }
}

TEST_F(TransferTest, DebugTextRefusals) {
  start();
  const std::pair<std::string, int> refused[] = {
      {"a?b", SV_OK},
      {"?", SV_OK},
      {"proxy", SV_OK},
      {"myproxyserver", SV_OK},
      {std::string(300, 'a') + "?", SV_OK},
      {std::string(300, 'a') + "proxy", SV_OK},
      {std::string(256, 'x'), SV_ERROR_PARAMETER},
      {std::string(1000, 'x'), SV_ERROR_PARAMETER},
  };
  for (const auto &[text, result] : refused) {
    EXPECT_EQ(sv_debug_text(sv, text.c_str()), result) << text.substr(0, 20);
  }
  EXPECT_EQ(sv_debug_text(sv, nullptr), SV_ERROR_PARAMETER);
  EXPECT_TRUE(d.requests().empty());
}

TEST_F(TransferTest, DebugCommandAndDriverResults) {
  start();
  EXPECT_EQ(sv_debug_command(sv), SV_OK);
  ASSERT_EQ(d.requests().size(), 1u);
  expect_sent(d.requests()[0], ORVELLO_REQ_DEBUG, 304, {{16, OV_DEBUG_COMMAND}});
  d.at(0).result_for[ORVELLO_REQ_DEBUG] = SV_ERROR_TIMEOUT;
  EXPECT_EQ(sv_debug_command(sv), SV_ERROR_TIMEOUT);
  EXPECT_EQ(sv_debug_text(sv, "text"), SV_ERROR_TIMEOUT);
}

// ---- Handle checks and trace lines ----------------------------------------------------------

TEST_F(TransferTest, BadHandles) {
  start(1);
  sv_handle copy = *sv;
  copy.magic = 0x12345678;
  std::vector<unsigned char> buffer(1024, untouched);
  std::vector<std::int32_t> first(34, sentinel), second(34, sentinel);
  for (sv_handle *bad : {static_cast<sv_handle *>(nullptr), &copy}) {
    const int e = bad == nullptr ? SV_ERROR_SVNULL : SV_ERROR_SVMAGIC;
    int n = sentinel;
    EXPECT_EQ(sv_raster_status(bad, 3, buffer.data(), 332, &n, 0), e);
    EXPECT_EQ(sv_monitorinfo(bad, 0, buffer.data(), 256), e);
    EXPECT_EQ(sv_chunkread(bad, buffer.data(), 1024, &n), e);
    EXPECT_EQ(sv_chunkread_select(bad, 1, buffer.data(), 1024, &n), e);
    EXPECT_EQ(sv_blockpair_read(bad, first.data(), second.data()), e);
    EXPECT_EQ(sv_debug_text(bad, "text"), e);
    EXPECT_EQ(sv_debug_command(bad), e);
    EXPECT_EQ(n, sentinel);
  }
  EXPECT_EQ(buffer, std::vector<unsigned char>(1024, untouched));
  EXPECT_EQ(first, std::vector<std::int32_t>(34, sentinel));
  EXPECT_EQ(second, std::vector<std::int32_t>(34, sentinel));
  EXPECT_TRUE(d.requests().empty());
  EXPECT_EQ(d.debug_lines(),
            (std::vector<std::string>{"sv_raster_status(sv,rasterid=3,raster,rastersize,nrasters=0,"
                                      "spare) = SV_ERROR_SVMAGIC. Invalid SV magic number.\n",
                                      "sv_monitorinfo(sv,...) = SV_ERROR_SVMAGIC. Invalid SV "
                                      "magic number.\n"}));
}

struct traced_call {
  std::uint32_t code;  // the request that fails with SV_ERROR_TIMEOUT for the failure line
  int (*call)(sv_handle *);
  const char *ok, *failed;  // the line on success and on failure; null: the call never traces
};

const traced_call traced_calls[] = {
    {64,
     [](sv_handle *sv) {
       unsigned char buffer[332];
       return sv_raster_status(sv, 7, buffer, sizeof buffer, nullptr, 0);
     },
     "sv_raster_status(sv,rasterid=7,raster,rastersize,nrasters=1510211604,spare) = SV_OK\n",
     "sv_raster_status(sv,rasterid=7,raster,rastersize,nrasters=0,spare) = SV_ERROR_TIMEOUT. "
     "Timeout.\n"},
    {99,
     [](sv_handle *sv) {
       unsigned char buffer[256];
       return sv_monitorinfo(sv, 0, buffer, sizeof buffer);
     },
     "sv_monitorinfo(sv,...) = SV_OK\n", "sv_monitorinfo(sv,...) = SV_ERROR_TIMEOUT. Timeout.\n"},
    {128,
     [](sv_handle *sv) {
       sv_rtc_time t;
       return sv_realtimeclock(sv, 0, &t, 0);
     },
     "sv_realtimeclock(sv,2011/11/14-11:59:11-250000) = SV_OK\n",
     "sv_realtimeclock(sv,0000/00/00-00:00:00-000000) = SV_ERROR_TIMEOUT. Timeout.\n"},
    {38,
     [](sv_handle *sv) {
       unsigned char buffer[1024];
       return sv_chunkread(sv, buffer, sizeof buffer, nullptr);
     },
     nullptr, nullptr},
    {100, [](sv_handle *sv) { return sv_blockpair_read(sv, nullptr, nullptr); }, nullptr, nullptr},
    {18, [](sv_handle *sv) { return sv_debug_text(sv, "abc"); }, nullptr, nullptr},
    {18, sv_debug_command, nullptr, nullptr},
};

class TransferTrace : public TransferTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(TransferTrace, LinesOnSuccessAndFailure) {
  const std::uint32_t traceflags = GetParam();
  start(traceflags);
  auto lines = [](bool written, const char *line) {
    return written && line != nullptr ? std::vector<std::string>{line} : std::vector<std::string>{};
  };
  for (const auto &c : traced_calls) {
    SCOPED_TRACE(c.code);
    for (bool fail : {false, true}) {
      forget();
      if (fail) d.at(0).result_for[c.code] = SV_ERROR_TIMEOUT;
      EXPECT_EQ(c.call(sv), fail ? SV_ERROR_TIMEOUT : SV_OK);
      d.at(0).result_for.erase(c.code);
      const auto want =
          lines(fail ? traceflags != 0 : (traceflags & 2) != 0, fail ? c.failed : c.ok);
      EXPECT_EQ(d.debug_lines(), want);
      EXPECT_EQ(count(ORVELLO_REQ_TRACE), static_cast<int>(want.size()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Traceflags, TransferTrace, ::testing::Values(0u, 1u, 2u));

}  // namespace
}  // namespace vok::test
