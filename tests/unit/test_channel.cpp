// The driver request channel: checks, stamping, slot choice, completion paths and reports.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "lifecycle.h"

namespace vok::test {
namespace {

class ChannelTest : public board_test {
 protected:
  void SetUp() override {
    board_test::SetUp();
    sv = open();
    ASSERT_NE(sv, nullptr);
    d.clear_requests();
  }
  void TearDown() override {
    if (sv != nullptr) close(sv);
    expect_nothing_left();
  }

  // A record of 32 words, cleared, with size and magic.
  struct record {
    orvello_header header{sizeof(record), ORVELLO_MAGIC, 0, 0};
    std::uint32_t word[28]{};
  };

  sv_handle *sv = nullptr;
};

TEST_F(ChannelTest, RefusesBadHandlesAndRecordsWithoutChangingThem) {
  record r;
  EXPECT_EQ(sv_sys_call(nullptr, 74, &r), SV_ERROR_SVNULL);
  sv_handle *zeroed = static_cast<sv_handle *>(calloc(1, sizeof(sv_handle)));
  EXPECT_EQ(sv_sys_call(zeroed, 74, &r), SV_ERROR_SVMAGIC);
  free(zeroed);
  r.header.magic = 11202;
  EXPECT_EQ(sv_sys_call(sv, 74, &r), SV_ERROR_INTERNALMAGIC);
  EXPECT_EQ(r.header.magic, 11202u);
  EXPECT_EQ(r.header.code, 0u) << "the record is left as it was";
  EXPECT_EQ(sv_sys_call(sv, 74, nullptr), SV_ERROR_PARAMETER);
  EXPECT_TRUE(d.requests().empty());
}

TEST_F(ChannelTest, StampsTheRecordAndPutsTheMagicBack) {
  for (completion how : {completion::at_once, completion::pending, completion::fail}) {
    d.at(0).normal = how;
    record r;
    sv_sys_call(sv, ORVELLO_REQ_QUERY, &r);
    EXPECT_EQ(r.header.magic, 11203u);
    EXPECT_EQ(r.header.code, static_cast<std::uint32_t>(ORVELLO_REQ_QUERY));
    const request_log sent = d.requests().back();
    EXPECT_EQ(sent.magic, sv->requestmagic) << "the driver sees the handle's request magic";
    EXPECT_EQ(sent.control, 259u);
    EXPECT_EQ(sent.size, sizeof(record));
  }
}

struct result_case {
  completion how;
  std::int32_t word;
  int result;
};

class ResultWord : public ChannelTest, public ::testing::WithParamInterface<result_case> {};

TEST_P(ResultWord, IsTakenAsTheCompletionPathSays) {
  d.at(0).normal = GetParam().how;
  d.at(0).result_for[ORVELLO_REQ_QUERY] = GetParam().word;
  record r;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_QUERY, &r), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(Paths, ResultWord,
                         ::testing::Values(result_case{completion::at_once, -1, -1},
                                           result_case{completion::pending, -1, SV_OK},
                                           result_case{completion::at_once, 26, 26},
                                           result_case{completion::pending, 26, 26},
                                           result_case{completion::pending, -5, SV_OK}));

TEST_F(ChannelTest, AFailedSendIsReportedAndReturnsIoctlFailed) {
  d.at(0).normal = completion::fail;
  record r;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_QUERY, &r), SV_ERROR_IOCTL_FAILED);
  const auto notices = d.notices();
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(notices[0].first, "Error:VOKOEM");
  EXPECT_EQ(notices[0].second, "SV_ERROR_IOCTL_FAILED:GetLastError:31");
  const auto lines = d.debug_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "SV_ERROR_IOCTL_FAILED:GetLastError:31");
}

// Which slot's completion record a request runs on.
TEST_F(ChannelTest, SlotChoiceByRequestCode) {
  struct row {
    int code;
    std::uint32_t p16, p20;
    sv_lockslot *slot;
  };
  const row rows[] = {
      {16, 0, 5, &sv->locked.aux2}, {16, 0, 6, &sv->locked.aux1}, {16, 0, 7, &sv->locked.ioctl},
      {65, 0, 0, &sv->locked.aux4}, {89, 1, 0, &sv->locked.aux2}, {89, 3, 0, &sv->locked.aux2},
      {89, 2, 0, &sv->locked.aux1}, {95, 0, 0, &sv->locked.aux3}, {146, 0, 0, &sv->locked.aux3},
      {74, 0, 0, &sv->locked.ioctl}, {39, 0, 0, &sv->locked.ioctl},
  };
  for (const row &x : rows) {
    record r;
    r.word[0] = x.p16;
    r.word[1] = x.p20;
    sv_sys_call(sv, x.code, &r);
    EXPECT_EQ(d.requests().back().ov, &x.slot->overlapped) << "code " << x.code;
  }
}

TEST_F(ChannelTest, FifoAndDirectRequestsNeedAnOpenJackSlot) {
  record r;
  r.word[0] = 3;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_FIFO, &r), SV_ERROR_FIFOCLOSED);
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_DIRECT, &r), SV_ERROR_DIRECT_CLOSED);
  EXPECT_TRUE(d.requests().empty()) << "nothing is sent for a closed slot";
  EXPECT_EQ(r.header.magic, 11203u);

  // A FIFO operation opens its jack's slot; requests then run on it.
  sv_lockslot &slot = sv->locked.fifo[3];
  os().lock_init(&slot.lock);
  slot.overlapped.event = os().event_create();
  slot.inuse = 1;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_FIFO, &r), SV_ERROR_NOTIMPLEMENTED);
  EXPECT_EQ(d.requests().back().ov, &slot.overlapped);
}

TEST_F(ChannelTest, AJackBeyondTheTableIsAnAssertionAndTouchesNoSlot) {
  for (int code : {ORVELLO_REQ_FIFO, ORVELLO_REQ_DIRECT}) {
    d.clear_output();
    record r;
    r.word[0] = 16;
    EXPECT_EQ(sv_sys_call(sv, code, &r), SV_ERROR_PARAMETER);
    EXPECT_EQ(r.header.magic, 11203u);
    const auto notices = d.notices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].first, "Assert:VOKOEM");
    const std::string expected = code == ORVELLO_REQ_FIFO
                                     ? "((orvello_fifo *) pointer)->jack < arraysize(sv->locked.fifo)"
                                     : "((orvello_direct *) pointer)->jack < arraysize(sv->locked.direct)";
    const char *line = code == ORVELLO_REQ_FIFO ? "458" : "467";
    EXPECT_EQ(notices[0].second, "Assert Failed\n" + expected + "\nFile:'sv_sys':" + line);
    EXPECT_TRUE(d.debug_lines().empty()) << "an assertion writes no debugger output";
  }
  EXPECT_TRUE(d.requests().empty());
}

TEST_F(ChannelTest, PostedRequestHoldsTheIoctlLockUntilFinished) {
  d.at(0).normal = completion::pending;
  record r;
  const int posted = sv_sys_post(sv, ORVELLO_REQ_QUERY, &r, nullptr);
  EXPECT_EQ(posted, SV_ACTIVE);
  EXPECT_EQ(r.header.magic, 11203u) << "the magic is back while the request is in flight";
  EXPECT_EQ(d.requests().back().control, 256u);
  EXPECT_EQ(sv->locked.ioctl.overlapped.internal, status_pending);

  std::atomic<bool> other_done{false};
  std::thread other([&] {
    record q;
    sv_sys_call(sv, ORVELLO_REQ_QUERY, &q);
    other_done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(other_done) << "another thread waits for the ioctl slot";
  EXPECT_EQ(sv_sys_finish(sv, &r, nullptr, posted), SV_ERROR_NOTIMPLEMENTED);
  other.join();
  EXPECT_TRUE(other_done);
}

// A post refused before it locked leaves its finish nothing to release.
TEST_F(ChannelTest, FinishReleasesOnlyTheLockThatPostTook) {
  static thread_local int depth = 0;
  d.table.lock_enter = [](oslock *lock) {
    ++depth;
    native_platform().lock_enter(lock);
  };
  d.table.lock_leave = [](oslock *lock) {
    --depth;
    native_platform().lock_leave(lock);
  };
  record wrong;
  wrong.header.magic = 1;
  for (record *r : {static_cast<record *>(nullptr), &wrong}) {
    const int posted = sv_sys_post(sv, ORVELLO_REQ_QUERY, r, nullptr);
    EXPECT_NE(posted, SV_ACTIVE);
    sv_sys_finish(sv, r, nullptr, posted);
    EXPECT_EQ(depth, 0) << (r == nullptr ? "null record" : "wrong magic");
  }
  record good;
  sv_sys_finish(sv, &good, nullptr, sv_sys_post(sv, ORVELLO_REQ_QUERY, &good, nullptr));
  EXPECT_EQ(depth, 0) << "a post that locked is released by its finish";
  d.table.lock_enter = native_platform().lock_enter;
  d.table.lock_leave = native_platform().lock_leave;
}

TEST_F(ChannelTest, PostWithTheCallersCompletionRecordTakesNoLock) {
  record r;
  sv_overlapped mine{};
  int posted = sv_sys_post(sv, ORVELLO_REQ_QUERY, &r, &mine);
  EXPECT_EQ(posted, SV_ERROR_NOTIMPLEMENTED) << "completed at once: the result word";
  EXPECT_EQ(d.requests().back().ov, &mine);
  EXPECT_EQ(sv_sys_finish(sv, &r, &mine, posted), SV_ERROR_NOTIMPLEMENTED);
  d.at(0).normal = completion::fail;
  EXPECT_EQ(sv_sys_post(sv, ORVELLO_REQ_QUERY, &r, &mine), SV_ERROR_IOCTL_FAILED);
  EXPECT_TRUE(d.notices().empty()) << "a failed post shows no message";
  EXPECT_EQ(sv_sys_post(nullptr, ORVELLO_REQ_QUERY, &r, &mine), SV_ERROR_SVNULL);
  EXPECT_EQ(sv_sys_finish(nullptr, &r, &mine, 0), SV_ERROR_SVNULL);
}

// Several threads on one handle: every reply reaches the thread that asked for it.
TEST_F(ChannelTest, ThreadsOnOneHandleGetTheirOwnReplies) {
  d.at(0).answer = [](void *record, std::size_t) {
    auto *q = static_cast<orvello_query *>(record);
    q->value = q->parameter * 3 + q->query;
    q->header.result = SV_OK;
  };
  constexpr int threads = 4, calls = 10000;
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < calls; ++i) {
        orvello_query q;
        prepare(q);
        q.query = t;
        q.parameter = t * 100000 + i;
        if (sv_sys_call(sv, ORVELLO_REQ_QUERY, &q) != SV_OK || q.value != q.parameter * 3 + t ||
            q.header.magic != ORVELLO_MAGIC) {
          ++wrong;
        }
      }
    });
  }
  for (auto &w : workers) w.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(d.requests().size(), static_cast<std::size_t>(threads * calls));
}

TEST_F(ChannelTest, DebugRequestCarriesItsValues) {
  model().flash()[0x400000] = 0x44;
  model().flash()[0x400003] = 0x11;
  int value = 0;
  EXPECT_EQ(sv_debug_request(sv, OV_DEBUG_R_FLASH, 0x400000, 0, &value), SV_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(value), 0x11FFFF44u);
  const request_log r = d.requests().back();
  EXPECT_EQ(r.size, 304u);
  EXPECT_EQ(sv_debug_request(sv, 9999, 1, 2, &value), SV_ERROR_NOTIMPLEMENTED);
  EXPECT_EQ(value, 0);
  value = 77;
  EXPECT_EQ(sv_debug_request(nullptr, 1, 2, 3, &value), SV_ERROR_SVNULL);
  EXPECT_EQ(value, 77);
}

}  // namespace
}  // namespace vok::test
