// The value query, the composite status and the hardware verification: the request records
// they send, how the answers reach the caller, the failure paths and the trace lines.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "scripted_board.h"

namespace vok::test {
namespace {

using board::pattern_word;
using words = std::map<std::size_t, std::uint32_t>;  // byte offset -> word

constexpr std::int32_t sentinel = 0x77777777;
const std::string timeout = "SV_ERROR_TIMEOUT. Timeout.";

class QueryTest : public scripted_board_test {
 protected:
  // The status requests answer with the board's pattern, with `over` (code -> words) on top.
  void pattern_with(const std::map<std::uint32_t, words> &over) {
    for (std::uint32_t code : {21u, 26u, 42u, 17u}) {
      const words w = over.count(code) ? over.at(code) : words{};
      replies[code] = [this, w](unsigned char *r, std::size_t size) {
        serve_in_process(model(), r, size);
        for (const auto &[offset, value] : w) put(r, offset, value);
      };
    }
  }
};

// ---- sv_query -------------------------------------------------------------------------------

TEST_F(QueryTest, QuerySendsCodeAndParameterAndReturnsTheValueWord) {
  start();
  replies[ORVELLO_REQ_QUERY] = [](unsigned char *r, std::size_t) {
    put(r, 16, 0x11111111);
    put(r, 20, 0x22222222);
    put(r, 24, 0x0BADF00D);
  };
  const std::pair<int, int> rows[] = {{13, 0}, {126, -5}, {131, 0x7FFFFFFF}, {2, 77},
                                      {0, 1},  {-3, 26},  {4000, -1}};
  for (const auto &[cmd, par] : rows) {
    d.clear_requests();
    int value = sentinel;
    EXPECT_EQ(sv_query(sv, cmd, par, &value), SV_OK);
    EXPECT_EQ(value, 0x0BADF00D);
    ASSERT_EQ(d.requests().size(), 1u);
    expect_sent(d.requests()[0], ORVELLO_REQ_QUERY, 28,
                {{16, static_cast<std::uint32_t>(cmd)}, {20, static_cast<std::uint32_t>(par)}});
  }
}

TEST_F(QueryTest, LibraryVersionIsAnsweredWithoutARequestEvenWhenNothingAnswers) {
  start();
  d.at(0).normal = completion::fail;
  for (int par : {0, 1, -1, 26, 0x12345678}) {
    int value = sentinel;
    EXPECT_EQ(sv_query(sv, SV_QUERY_VERSION_VOKOEM, par, &value), SV_OK);
    EXPECT_EQ(value, 0x40700);
    EXPECT_EQ(sv_query(sv, SV_QUERY_VERSION_VOKOEM, par, nullptr), SV_OK);
  }
  EXPECT_TRUE(d.requests().empty());
  EXPECT_TRUE(d.notices().empty());
  d.at(0).normal = completion::at_once;
}

TEST_F(QueryTest, ValueAvailableAsksTheNamedCodeWithParameterZero) {
  start();
  struct row {
    int par;
    std::optional<int> forced;  // result word of the inner query
    int expected;
  };
  const row rows[] = {{2, std::nullopt, 1},       {87, std::nullopt, 1},
                      {200, std::nullopt, 0},     {2, SV_ERROR_NOTIMPLEMENTED, 0},
                      {126, SV_ERROR_TIMEOUT, 1}, {13, SV_ERROR_PARAMETER, 1}};
  for (const row &x : rows) {
    SCOPED_TRACE(x.par);
    d.clear_requests();
    d.at(0).result_for.erase(ORVELLO_REQ_QUERY);
    if (x.forced) d.at(0).result_for[ORVELLO_REQ_QUERY] = *x.forced;
    int value = sentinel;
    EXPECT_EQ(sv_query(sv, SV_QUERY_VALUE_AVAILABLE, x.par, &value), SV_OK);
    EXPECT_EQ(value, x.expected);
    ASSERT_EQ(d.requests().size(), 1u);
    expect_sent(d.requests()[0], ORVELLO_REQ_QUERY, 28, {{16, static_cast<std::uint32_t>(x.par)}});
  }
  d.clear_requests();
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_VALUE_AVAILABLE, SV_QUERY_VERSION_VOKOEM, &value), SV_OK);
  EXPECT_EQ(value, 1);
  EXPECT_TRUE(d.requests().empty());
}

TEST_F(QueryTest, ValueAvailableTracesTheInnerQueryFirst) {
  start(2);
  int value = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_VALUE_AVAILABLE, 2, &value), SV_OK);
  expect_lines(
      {"sv_query(sv,cmd=2/SV_QUERY_VERSION_DRIVER,par=0,*presult=133377/00020901) = SV_OK\n",
       "sv_query(sv,cmd=26/SV_QUERY_VALUE_AVAILABLE,par=2,*presult=1/00000001) = SV_OK\n"});
}

TEST_F(QueryTest, ValueAvailableWithTraceflags1TracesOnlyTheFailingInnerQuery) {
  start(1);
  int value = sentinel;
  EXPECT_EQ(sv_query(sv, SV_QUERY_VALUE_AVAILABLE, 200, &value), SV_OK);
  EXPECT_EQ(value, 0);
  expect_lines(
      {"sv_query(sv,cmd=200/?,par=0,*presult=0/00000000) = SV_ERROR_NOTIMPLEMENTED. A not "
       "implemented function was called.\n"});
}

TEST_F(QueryTest, NullResultPlaceStillSendsAndAFailureStillStoresTheValue) {
  start();
  EXPECT_EQ(sv_query(sv, SV_QUERY_SERIALNUMBER, 3, nullptr), SV_OK);
  EXPECT_EQ(count(ORVELLO_REQ_QUERY), 1);
  replies[ORVELLO_REQ_QUERY] = [](unsigned char *r, std::size_t) {
    put(r, 24, 0x5A5A);
    put(r, 12, SV_ERROR_TIMEOUT);
  };
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, nullptr), SV_ERROR_TIMEOUT);
  EXPECT_EQ(count(ORVELLO_REQ_QUERY), 2);
  int value = sentinel;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_ERROR_TIMEOUT);
  EXPECT_EQ(value, 0x5A5A);
  replies.clear();
  d.at(0).result_for[ORVELLO_REQ_QUERY] = SV_ERROR_PARAMETER;
  value = sentinel;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &value), SV_ERROR_PARAMETER);
  EXPECT_EQ(value, 0);
}

// ---- Handle and argument checks of all three calls ------------------------------------------

struct checked_call {
  const char *name;
  std::function<int(sv_handle *, std::int32_t *out)> call;
  const char *line;  // its trace line on a wrong magic
};

const checked_call checked_calls[] = {
    {"sv_query", [](sv_handle *sv, std::int32_t *out) { return sv_query(sv, 13, 4, out); },
     "sv_query(sv,cmd=13/SV_QUERY_DEVTYPE,par=4,*presult=0/00000000) = SV_ERROR_SVMAGIC. Invalid "
     "SV magic number.\n"},
    {"sv_status",
     [](sv_handle *sv, std::int32_t *out) {
       return sv_status(sv, reinterpret_cast<sv_status_info *>(out));
     },
     "sv_status(sv,info,00000000) = SV_ERROR_SVMAGIC. Invalid SV magic number.\n"},
    {"sv_hwverify",
     [](sv_handle *sv, std::int32_t *out) {
       return sv_hwverify(sv, reinterpret_cast<sv_hwverify_info *>(out));
     },
     "sv_hwverify(sv,) = SV_ERROR_SVMAGIC. Invalid SV magic number.\n"},
};

TEST_F(QueryTest, BadHandlesSendNothingAndWriteNothing) {
  start(1);
  sv_handle copy = *sv;  // traceflags 1, magic wrong
  copy.magic = 0x47615744;
  auto *zeroed = static_cast<sv_handle *>(calloc(1, sizeof(sv_handle)));
  for (const auto &c : checked_calls) {
    SCOPED_TRACE(c.name);
    forget();
    std::array<std::int32_t, 64> out;
    out.fill(sentinel);
    EXPECT_EQ(c.call(nullptr, out.data()), SV_ERROR_SVNULL);
    EXPECT_TRUE(d.debug_lines().empty()) << "no line for a null handle";
    EXPECT_EQ(c.call(&copy, out.data()), SV_ERROR_SVMAGIC);
    EXPECT_EQ(c.call(zeroed, out.data()), SV_ERROR_SVMAGIC);
    for (auto w : out) EXPECT_EQ(w, sentinel);
    EXPECT_EQ(d.debug_lines(), std::vector<std::string>{c.line}) << "only the copy traces";
    EXPECT_TRUE(d.requests().empty()) << "not even the trace reaches the driver";
  }
  free(zeroed);
  d.clear_requests();
  EXPECT_EQ(sv_status(sv, nullptr), SV_ERROR_PARAMETER);
  EXPECT_EQ(sv_hwverify(sv, nullptr), SV_ERROR_PARAMETER);
  EXPECT_EQ(count(ORVELLO_REQ_STATUS_RASTER) + count(ORVELLO_REQ_HWVERIFY), 0);
}

// ---- sv_status ------------------------------------------------------------------------------

// Status words copied from one record word: status word, request code, byte offset.
struct source {
  int word;
  std::uint32_t code;
  std::size_t offset;
};
constexpr source raster_words[] = {{2, 21, 20}, {4, 21, 44},  {5, 21, 48}, {6, 21, 24},
                                   {7, 42, 80}, {56, 21, 28}, {57, 21, 92}};
constexpr source mode_words[] = {
    {8, 26, 24},   {9, 26, 72},   {10, 26, 20},  {11, 26, 76},  {12, 26, 40}, {13, 26, 44},
    {14, 26, 36},  {15, 26, 32},  {16, 26, 80},  {17, 26, 100}, {18, 26, 28}, {20, 26, 48},
    {21, 26, 52},  {22, 26, 56},  {23, 26, 96},  {24, 26, 92},  {25, 21, 72}, {27, 26, 16},
    {28, 26, 112}, {29, 26, 116}, {30, 26, 120}, {31, 26, 124}};
constexpr source device_words[] = {{34, 42, 24}, {38, 42, 108}, {41, 42, 40}, {44, 17, 80},
                                   {45, 42, 44}, {46, 42, 48},  {48, 42, 28}, {49, 42, 16},
                                   {50, 42, 20}, {51, 42, 32},  {52, 42, 36}, {54, 17, 76}};

// Record words besides the pattern, so that the computed status words are known.
const std::map<std::uint32_t, words> status_overrides = {
    {21, {{72, 30}, {96, 1}}},
    {26, {{16, pattern_word(26, 16) | 2}}},
    {42, {{24, 0x10001}, {28, 90125}, {52, 0x10000}, {56, 0xFFF00000}, {60, 5}, {88, 25}}},
};

class StatusFailures
    : public QueryTest,
      public ::testing::WithParamInterface<std::pair<std::set<std::uint32_t>, int>> {};

TEST_P(StatusFailures, WriteOnlyTheBlocksOfSuccessfulRequests) {
  const std::map<std::uint32_t, int> errors = {
      {21, SV_ERROR_TIMEOUT}, {26, SV_ERROR_BUFFERSIZE}, {42, SV_ERROR_FIRMWARE}, {17, 40}};
  const auto &failing = GetParam().first;
  auto ok = [&](std::uint32_t code) { return failing.count(code) == 0; };
  // What a request's record holds after it: the reply, or zero when it failed.
  auto value = [&](std::uint32_t code, std::size_t offset) -> std::int32_t {
    if (!ok(code)) return 0;
    auto c = status_overrides.find(code);
    if (c != status_overrides.end() && c->second.count(offset)) return c->second.at(offset);
    return static_cast<std::int32_t>(pattern_word(code, offset));
  };
  start();
  pattern_with(status_overrides);
  for (auto code : failing) d.at(0).result_for[code] = errors.at(code);

  sv_status_info info;
  std::fill(std::begin(info.word), std::end(info.word), sentinel);
  EXPECT_EQ(sv_status(sv, &info), GetParam().second);

  const auto sent = d.requests();
  ASSERT_EQ(sent.size(), 4u) << "a failed request does not stop the later ones";
  expect_sent(sent[0], 21, 160);
  expect_sent(sent[1], 26, 128);
  expect_sent(sent[2], 42, 164);
  expect_sent(sent[3], 17, 88);

  std::array<std::optional<std::int32_t>, 64> want;  // nullopt: the caller's value stays
  want[0] = 256;
  want[1] = 0;
  want[42] = 1;
  if (ok(21)) {
    for (const auto &s : raster_words) want[s.word] = value(s.code, s.offset);
  } else {
    for (auto [w, v] : {std::pair{4, 720}, {5, 576}, {6, 0}, {7, 8}, {56, 0}}) want[w] = v;
  }
  if (ok(26)) {
    for (const auto &s : mode_words) want[s.word] = value(s.code, s.offset);
    want[19] = 1;
    want[26] = 0;
  }
  if (ok(42)) {
    for (const auto &s : device_words) want[s.word] = value(s.code, s.offset);
    for (int w : {35, 53}) want[w] = 1;
    for (int w : {36, 43, 47, 55, 58, 59, 60, 63}) want[w] = 0;
    for (auto [w, v] :
         {std::pair{3, 5}, {32, 0x40}, {33, 0xFFF}, {37, 1}, {39, 1}, {40, 0}, {62, 0x01000500}}) {
      want[w] = v;
    }
    want[61] = ok(21) ? 29970 : 0;
  } else {
    want[3] = 2;
  }
  for (int w = 0; w < 64; ++w) EXPECT_EQ(info.word[w], want[w].value_or(sentinel)) << "word " << w;
}

using codes = std::set<std::uint32_t>;
INSTANTIATE_TEST_SUITE_P(Requests, StatusFailures,
                         ::testing::Values(std::pair{codes{}, SV_OK},
                                           std::pair{codes{21}, SV_ERROR_TIMEOUT},
                                           std::pair{codes{26}, SV_ERROR_BUFFERSIZE},
                                           std::pair{codes{42}, SV_ERROR_FIRMWARE},
                                           std::pair{codes{17}, 40},
                                           std::pair{codes{21, 17}, SV_ERROR_TIMEOUT},
                                           std::pair{codes{26, 17}, SV_ERROR_BUFFERSIZE},
                                           std::pair{codes{26, 21, 17}, SV_ERROR_BUFFERSIZE},
                                           std::pair{codes{42, 21}, SV_ERROR_FIRMWARE},
                                           std::pair{codes{42, 26, 21, 17}, SV_ERROR_FIRMWARE}));

TEST_F(QueryTest, StatusComputedWords) {
  struct row {
    std::map<std::uint32_t, words> over;
    int word;
    std::int32_t expected;
  };
  const row rows[] = {
      {{{21, {{72, 30}, {96, 1}}}}, 61, 29970},  // 30 frames at 1000/1001
      {{{21, {{72, 30}, {96, 0}}}}, 61, 30000},
      {{{21, {{72, 24}, {96, 7}}}}, 61, 23976},
      {{{21, {{72, 60}, {96, 0x80000000}}}}, 61, 59940},
      {{{42, {{28, 90125}, {88, 25}}}}, 62, 0x01000500},
      {{{42, {{28, 90125}, {88, 0}}}}, 62, 0},
      {{{42, {{28, 2159999}, {88, 30}}}}, 62, 0x19595929},
      {{{42, {{28, 10633086}, {88, 24}}}}, 62, static_cast<std::int32_t>(0xC3040506)},    // 123 h
      {{{42, {{28, 0xFFFE9FF2}, {88, 25}}}}, 62, static_cast<std::int32_t>(0xFF00FBFF)},  // -90126
      {{{42, {{52, 0x10000}, {24, 0x10001}}}}, 32, 0x40},  // 32-bit product
      {{{42, {{52, 3}, {24, 1024}}}}, 32, 3},
      {{{42, {{56, 0xFFF00000}}}}, 33, 0xFFF},
      {{{42, {{152, 0}}}}, 37, 0},
      {{{42, {{152, 0x80000000}}}}, 37, 1},
      {{{26, {{16, 2}}}}, 19, 1},
      {{{26, {{16, 0xFFFFFFFD}}}}, 19, 0},
      {{{26, {{16, 3}}}}, 19, 1},
  };
  start();
  for (const row &x : rows) {
    pattern_with(x.over);
    sv_status_info info{};
    ASSERT_EQ(sv_status(sv, &info), SV_OK);
    EXPECT_EQ(info.word[x.word], x.expected) << "word " << x.word << " of row " << &x - rows;
  }
}

TEST_F(QueryTest, StatusMapsTheCardType) {
  const std::map<std::uint32_t, std::int32_t> devtype = {
      {1, 4},   {2, 0},   {4, 1},   {5, 5},   {6, 7},   {7, 8},   {8, 16},
      {9, 9},   {15, 12}, {16, 13}, {17, 14}, {18, 15}, {19, 17}, {20, 18},
      {22, 19}, {23, 23}, {24, 24}, {25, 25}, {26, 26}};
  const std::set<std::uint32_t> word39 = {1, 5, 7, 17, 19, 20}, word40 = {2, 8};
  start();
  for (std::uint32_t cardtype = 0; cardtype <= 30; ++cardtype) {
    pattern_with({{42, {{60, cardtype}}}});
    sv_status_info info{};
    ASSERT_EQ(sv_status(sv, &info), SV_OK);
    EXPECT_EQ(info.word[3], devtype.count(cardtype) ? devtype.at(cardtype) : 2) << cardtype;
    EXPECT_EQ(info.word[39], word39.count(cardtype) ? 1 : 0) << cardtype;
    EXPECT_EQ(info.word[40], word40.count(cardtype) ? 1 : 0) << cardtype;
  }
  pattern_with({{42, {{60, 0xFFFFFFFF}}}});
  sv_status_info info{};
  ASSERT_EQ(sv_status(sv, &info), SV_OK);
  EXPECT_EQ(info.word[3], 2);
}

// ---- sv_hwverify ----------------------------------------------------------------------------

TEST_F(QueryTest, HwverifyCopiesTheFiveResultWordsAlsoOnFailure) {
  start();
  sv_hwverify_info info;
  std::fill_n(&info.version, 6, sentinel);
  EXPECT_EQ(sv_hwverify(sv, &info), SV_OK);
  ASSERT_EQ(d.requests().size(), 1u);
  expect_sent(d.requests()[0], ORVELLO_REQ_HWVERIFY, 68);
  EXPECT_EQ(info.version, 1);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(info.result[i], static_cast<std::int32_t>(pattern_word(108, 16 + 4 * i))) << i;
  }
  replies[ORVELLO_REQ_HWVERIFY] = [](unsigned char *r, std::size_t) {
    for (int i = 0; i < 5; ++i) put(r, 16 + 4 * i, 0x100 + i);
    put(r, 12, SV_ERROR_TIMEOUT);
  };
  std::fill_n(&info.version, 6, sentinel);
  EXPECT_EQ(sv_hwverify(sv, &info), SV_ERROR_TIMEOUT);
  EXPECT_EQ(info.version, 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(info.result[i], 0x100 + i);
  replies.clear();
  d.at(0).result_for[ORVELLO_REQ_HWVERIFY] = SV_ERROR_PARAMETER;
  std::fill_n(&info.version, 6, sentinel);
  EXPECT_EQ(sv_hwverify(sv, &info), SV_ERROR_PARAMETER);
  EXPECT_EQ(info.version, 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(info.result[i], 0);
}

// ---- Trace lines ----------------------------------------------------------------------------

struct traced_call {
  std::uint32_t code;  // the request that fails with SV_ERROR_TIMEOUT for the failure line
  int (*call)(sv_handle *);
  std::string ok, failed;  // the line on success and on failure
};

int query_serial(sv_handle *sv) {
  int value;
  return sv_query(sv, SV_QUERY_SERIALNUMBER, -7, &value);
}
int status(sv_handle *sv) {
  sv_status_info info{};
  return sv_status(sv, &info);
}
int hwverify(sv_handle *sv) {
  sv_hwverify_info info{};
  return sv_hwverify(sv, &info);
}

const traced_call traced_calls[] = {
    {74, query_serial,
     "sv_query(sv,cmd=126/SV_QUERY_SERIALNUMBER,par=-7,*presult=10234/000027fa) = SV_OK\n",
     "sv_query(sv,cmd=126/SV_QUERY_SERIALNUMBER,par=-7,*presult=0/00000000) = " + timeout + "\n"},
    {26, status, "sv_status(sv,info,5a01a018) = SV_OK\n",
     "sv_status(sv,info,00000000) = " + timeout + "\n"},
    {21, status, "sv_status(sv,info,5a01a018) = SV_OK\n",
     "sv_status(sv,info,5a01a018) = " + timeout + "\n"},
    {108, hwverify, "sv_hwverify(sv,) = SV_OK\n", "sv_hwverify(sv,) = " + timeout + "\n"},
};

class QueryTrace : public QueryTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(QueryTrace, LinesOnSuccessAndFailure) {
  const std::uint32_t traceflags = GetParam();
  start(traceflags);
  for (const auto &c : traced_calls) {
    SCOPED_TRACE(c.ok);
    forget();
    EXPECT_EQ(c.call(sv), SV_OK);
    expect_lines(traceflags & 2 ? std::vector<std::string>{c.ok} : std::vector<std::string>{});
    forget();
    d.at(0).result_for[c.code] = SV_ERROR_TIMEOUT;
    EXPECT_EQ(c.call(sv), SV_ERROR_TIMEOUT);
    d.at(0).result_for.erase(c.code);
    expect_lines(traceflags != 0 ? std::vector<std::string>{c.failed} : std::vector<std::string>{});
  }
  EXPECT_EQ(count(ORVELLO_REQ_TRACE), traceflags != 0 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Traceflags, QueryTrace, ::testing::Values(0u, 1u, 2u, 3u));

}  // namespace
}  // namespace vok::test
