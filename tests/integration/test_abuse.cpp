// vok-simulator under abuse: a host that dies holding the mutex, records of impossible sizes
// and a flash write whose data cannot be read. The simulator answers with an error where the
// record has room for one, and goes on serving.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "flash_request.h"
#include "link_fixture.h"
#include "sv_device.h"
#include "sv_simlink.h"

namespace vok::test {
namespace {

constexpr std::int32_t unanswered = 0x5A5A5A5A;  // a result word that the simulator never writes

class AbuseTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.ready()) << sim.ready_line(); }

  recording_platform platform;
  simulator_process sim;
};

int abandoned_waits = 0;

TEST_F(AbuseTest, AHostThatDiesHoldingTheMutexIsTakenOverByTheNext) {
  abandoned_waits = 0;
  platform.table.named_mutex_wait = [](oshandle mutex) {
    const wait_result taken = native_platform().named_mutex_wait(mutex);
    abandoned_waits += taken == wait_result::abandoned;
    return taken;
  };
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto *link = static_cast<sim_link *>(sys_open("\\\\.\\VOKDriver0"));
    if (link == nullptr) _exit(1);
    _exit(os().named_mutex_wait(link->h2d_mutex) == wait_result::signalled ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0) << "the child opened the link and took the mutex";
  expect_board_served();
  EXPECT_EQ(abandoned_waits, 1) << "the next host takes the mutex over as abandoned";
}

struct size_case {
  std::uint32_t size;
  std::int32_t result;  // the result word afterwards
};

class RecordSize : public AbuseTest, public ::testing::WithParamInterface<size_case> {};

// The record is written straight into the message area, past the library's own checks, with
// the handshake of the simulator link.
TEST_P(RecordSize, IsAnsweredWhereItHasRoomAndTheSimulatorGoesOn) {
  auto *link = static_cast<sim_link *>(sys_open("\\\\.\\VOKDriver0"));
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(os().named_mutex_wait(link->h2d_mutex), wait_result::signalled);
  unsigned char *area = link->h2d_area;
  put32(area, simmsg::type, sim_request_message);
  put32(area, simmsg::pid, os().process_id());
  put32(area, simmsg::tid, os().thread_id());
  put32(area, simmsg::connection, link->connection);
  put32(area, simmsg::opennumber, static_cast<std::uint32_t>(link->opennumber));
  unsigned char *record = area + sim_record_offset;
  put32(record, 0, GetParam().size);
  put32(record, 4, ORVELLO_MAGIC | 1u << 24);  // as stamped after an open
  put32(record, 8, ORVELLO_REQ_QUERY);
  put32(record, 12, static_cast<std::uint32_t>(unanswered));
  os().named_event_reset(link->h2d_ready);
  os().named_event_set(link->h2d_trigger);
  EXPECT_EQ(os().named_event_wait(link->h2d_ready, link->peer), wait_result::signalled)
      << "the simulator answers every message";
  EXPECT_EQ(static_cast<std::int32_t>(get32(record, 12)), GetParam().result);
  os().named_mutex_release(link->h2d_mutex);
  sys_close(link);
  expect_board_served();
}

INSTANTIATE_TEST_SUITE_P(Sizes, RecordSize,
                         ::testing::Values(size_case{0, unanswered},   // no room for a result
                                           size_case{15, unanswered},  // no room for a result
                                           // the query word lies past the record
                                           size_case{16, SV_ERROR_NOTIMPLEMENTED},
                                           size_case{16257, SV_ERROR_BUFFERSIZE}),
                         [](const ::testing::TestParamInfo<size_case> &info) {
                           return "size_" + std::to_string(info.param.size);
                         });

TEST_F(AbuseTest, AFlashWriteWhoseDataIsNotMappedFailsAsATransfer) {
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  char description[256] = "fx 20111017 unmapped";
  // The first pages of a process are never mapped.
  orvello_flashwrite p = region_write(reinterpret_cast<const void *>(0x1000), description, 1);
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_FLASHWRITE, &p), SV_ERROR_TRANSFER);
  int devtype = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype), SV_OK) << "the same handle is served";
  EXPECT_EQ(sv_close(sv), SV_OK);
  expect_board_served();
}

}  // namespace
}  // namespace vok::test
