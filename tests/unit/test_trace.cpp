// The call trace: when lines are written, where they go, the 511-character cut and the
// pending guard; and the library's small services.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "lifecycle.h"

namespace vok::test {
namespace {

class TraceTest : public board_test {
 protected:
  // Lines that reached the driver as request 39.
  std::vector<std::string> driver_lines() { return model().trace_lines(); }
};

TEST_F(TraceTest, Traceflags0WritesNothingAnywhere) {
  model().settings().traceflags = 0;
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  sv_close(sv);
  sv = nullptr;
  ASSERT_EQ(sv_openex(&sv, "PCI", 1, 0, 0, 0), SV_OK);
  sv_close(sv);
  EXPECT_TRUE(d.debug_lines().empty());
  EXPECT_EQ(count(ORVELLO_REQ_TRACE), 0);
}

TEST_F(TraceTest, Traceflags1LeavesOpenAndCloseSilent) {
  model().settings().traceflags = 1;
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  sv_close(sv);
  EXPECT_TRUE(d.debug_lines().empty());
  EXPECT_EQ(count(ORVELLO_REQ_TRACE), 0);
}

TEST_F(TraceTest, Traceflags2SvOpenWritesItsOneLine) {
  model().settings().traceflags = 2;
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  char expected[64];
  std::snprintf(expected, sizeof expected, "sv_open(setup='PCI,card:0') = %p\n",
                static_cast<void *>(sv));
  EXPECT_EQ(d.debug_lines(), std::vector<std::string>{expected});
  EXPECT_EQ(driver_lines(), std::vector<std::string>{expected});
  d.clear_output();
  sv_close(sv);
  EXPECT_EQ(d.debug_lines(), (std::vector<std::string>{"sv_close(sv)\n", "sv_close(sv) = SV_OK\n"}));
  EXPECT_EQ(driver_lines().back(), "sv_close(sv)\n") << "the last line goes to the debugger only";
  expect_nothing_left();
}

TEST_F(TraceTest, Traceflags2SvOpenexWritesBothLinesUnlessCalledBySvOpen) {
  model().settings().traceflags = 2;
  model().settings().driverversion = 0x03020901;  // 2.9.1.3
  sv_handle *sv = nullptr;
  ASSERT_EQ(sv_openex(&sv, "PCI,type:output", 2, 0, 250, 7), SV_OK);
  const std::vector<std::string> expected = {
      "sv_openex(setup='PCI,type:output',openprogram=2,opentype=3,timeout=250,spare) = SV_OK\n",
      "sv_openex: vokoem 4.7.0.0 driver 2.9.1.3\n"};
  EXPECT_EQ(d.debug_lines(), expected);
  EXPECT_EQ(driver_lines(), expected);
  sv_close(sv);
}

TEST_F(TraceTest, LongLinesAreCutTo511Characters) {
  model().settings().traceflags = 1;
  sv_handle *sv = open();
  const std::string long_line(600, 'x');
  sv_trace(sv, "%s", long_line.c_str());
  EXPECT_EQ(d.debug_lines().back(), long_line.substr(0, 511));
  EXPECT_EQ(driver_lines().back(), long_line.substr(0, 511));
  const request_log r = last(ORVELLO_REQ_TRACE);
  EXPECT_EQ(r.size, 536u);
  EXPECT_EQ(r.record[24 + 511], 0) << "terminated inside the record";
  close(sv);
}

TEST_F(TraceTest, GuardRefusesToSendWhileAPostedRequestIsOutstanding) {
  sv_handle *sv = open();
  d.at(0).completion_for[ORVELLO_REQ_QUERY] = completion::held_pending;
  orvello_query q;
  prepare(q);
  const int posted = sv_sys_post(sv, ORVELLO_REQ_QUERY, &q, nullptr);
  ASSERT_EQ(posted, SV_ACTIVE);
  d.clear_requests();
  sv_trace(sv, "line %d\n", 7);
  const auto notices = d.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].first, "Error:VOKOEM");
  EXPECT_EQ(notices[0].second,
            "trying to use sv_trace while driver-call/post is still pending!\nMsg:\"line 7\n\"\n");
  EXPECT_EQ(d.debug_lines().front(), "line 7\n") << "the line still reaches the debugger";
  EXPECT_EQ(count(ORVELLO_REQ_TRACE), 0);
  d.complete_held();
  EXPECT_EQ(sv_sys_finish(sv, &q, nullptr, posted), SV_ERROR_NOTIMPLEMENTED);
  d.clear_output();
  sv_trace(sv, "after\n");
  EXPECT_TRUE(d.notices().empty());
  EXPECT_EQ(count(ORVELLO_REQ_TRACE), 1);
  close(sv);
}

TEST_F(TraceTest, SleepAndVersionText) {
  char version[8];
  char date[22];
  EXPECT_EQ(os_versiontext(nullptr, version, date), SV_OK);
  EXPECT_STREQ(version, "4.7.0.0");
  EXPECT_EQ(std::strlen(date), 21u);
  EXPECT_EQ(std::string(date).substr(11, 2), "  ");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(os_sleep(nullptr, 999), SV_OK);
  EXPECT_EQ(os_sleep(nullptr, -5), SV_OK);
  EXPECT_EQ(os_sleep(nullptr, 1500), SV_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1));
}

}  // namespace
}  // namespace vok::test
