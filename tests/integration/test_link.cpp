// The simulator link over real named objects, with a simulator served by a test thread.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cstring>

#include "link_fixture.h"
#include "sv_device.h"
#include "sv_simlink.h"

namespace vok::test {
namespace {

class LinkTest : public ::testing::Test {
 protected:
  recording_platform platform;
  thread_simulator simulator;

  void SetUp() override { ASSERT_TRUE(simulator.created); }
};

TEST_F(LinkTest, DeviceZeroOfTheDefaultFamilyGetsALink) {
  oshandle link = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(link, invalid_handle);
  EXPECT_TRUE(sys_is_link(link));
  EXPECT_EQ(sys_lasterror(), 997u) << "while the link is current";
  sys_close(link);
  EXPECT_NE(sys_lasterror(), 997u);
  for (const char *name : {"\\\\.\\VOKDriver1", "\\\\.\\VOKDriverX", "\\\\.\\Talvix0"}) {
    EXPECT_EQ(sys_open(name), invalid_handle) << name;
    EXPECT_EQ(sys_lasterror(), 2u) << "the device's own error for " << name;
  }
  EXPECT_TRUE(platform.notices.empty());
}

TEST_F(LinkTest, MessagesCarryTheConnectionAndTheOpenNumber) {
  simulator.serving->model().settings().traceflags = 0;
  expect_board_served();

  const auto seen = simulator.messages();
  // The probe's link: O, C; then the board's link: O, the open request, the query, C.
  std::string types;
  for (const auto &m : seen) types += static_cast<char>(m.type);
  EXPECT_EQ(types, "OCOIIC");
  EXPECT_EQ(seen[0].connection, 0u) << "an O goes out before there is a connection";
  EXPECT_EQ(seen[1].connection, 1u) << "the probe's link got connection 1";
  EXPECT_EQ(seen[2].connection, 0u);
  EXPECT_EQ(seen[2].opennumber, 0) << "the first message of a link carries its zero opennumber";
  for (std::size_t i = 3; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i].connection, 2u) << "message " << i << " carries the O reply's connection";
    EXPECT_EQ(seen[i].pid, static_cast<std::uint32_t>(getpid()));
    EXPECT_EQ(seen[i].reserved, 0u);
  }
  EXPECT_EQ(seen[3].opennumber, -1) << "until an open request succeeds";
  const std::uint32_t requestmagic = seen[4].record.size() >= 8 ? [&] {
    std::uint32_t v;
    std::memcpy(&v, seen[4].record.data() + 4, 4);
    return v;
  }() : 0;
  EXPECT_EQ(seen[4].opennumber, static_cast<std::int32_t>((requestmagic >> 24) & 0xF));
  EXPECT_EQ(seen[4].record.size(), sizeof(orvello_query)) << "exactly the record's size";
}

TEST_F(LinkTest, OpenNumberComesFromBits24To27OfTheReplyMagic) {
  oshandle device = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(device, invalid_handle);
  auto *link = static_cast<sim_link *>(device);
  EXPECT_EQ(link->opennumber, -1);
  // The board answers the open request; make its magic 0x05002BC3.
  for (int i = 0; i < 5; ++i) {
    orvello_open open{};
    open.header = {sizeof open, ORVELLO_MAGIC, ORVELLO_REQ_OPEN, 0};
    EXPECT_EQ(sim_request(link, &open), SV_OK);
  }
  EXPECT_EQ(link->opennumber, 5) << "the fifth open of the board";
  EXPECT_EQ(link->openreply[4], 0x05002BC3u);
  sys_close(device);
}

TEST_F(LinkTest, RecordSizeLimit) {
  oshandle device = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(device, invalid_handle);
  auto *link = static_cast<sim_link *>(device);
  std::vector<std::uint32_t> big(16260 / 4 + 1, 0);
  big[0] = 16257;
  big[1] = ORVELLO_MAGIC | 0x01000000;
  big[2] = 9999;
  EXPECT_EQ(sim_request(link, big.data()), SV_ERROR_BUFFERSIZE);
  EXPECT_EQ(sim_post_request(link, big.data()), SV_ERROR_BUFFERSIZE);
  const std::size_t before = simulator.messages().size();
  big[0] = 16256;
  EXPECT_EQ(sim_request(link, big.data()), SV_OK);
  const auto seen = simulator.messages();
  ASSERT_EQ(seen.size(), before + 1);
  EXPECT_EQ(seen.back().record.size(), 16256u);
  EXPECT_EQ(static_cast<std::int32_t>(big[3]), SV_ERROR_NOTIMPLEMENTED) << "answered by the board";
  sys_close(device);
}

TEST_F(LinkTest, SpecialRequest79IsAnsweredByTheLink) {
  oshandle device = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(device, invalid_handle);
  auto *link = static_cast<sim_link *>(device);
  const std::size_t before = simulator.messages().size();
  std::uint32_t record[8] = {32, ORVELLO_MAGIC, ORVELLO_REQ_SIMULATOR, 0, 0, 0, 0, 6};
  EXPECT_EQ(sim_request(link, record), SV_OK);
  const auto address = reinterpret_cast<std::uintptr_t>(link->statusview);
  EXPECT_EQ(record[4], static_cast<std::uint32_t>(address));
  EXPECT_EQ(record[5], static_cast<std::uint32_t>(static_cast<std::uint64_t>(address) >> 32));
  EXPECT_EQ(record[6], 0x10000u) << "the status view's size";
  record[7] = 5;
  EXPECT_EQ(sim_request(link, record), SV_OK);
  EXPECT_EQ(simulator.messages().size(), before) << "no message for either";
  sys_close(device);
}

// A host's write into status memory reaches everything but the simulator's process mark in
// its last 8 bytes, which later links watch. The host's bytes must lie at a 32-bit address.
TEST_F(LinkTest, AHostWritesStatusMemoryButNotTheProcessMark) {
  oshandle device = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(device, invalid_handle);
  auto *link = static_cast<sim_link *>(device);
  const std::uint32_t mark = sim_marked_process(link->statusview, link->statussize);
  ASSERT_NE(mark, 0u);
  void *page = mmap(nullptr, 4096, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  ASSERT_NE(page, MAP_FAILED);
  std::memset(page, 0xA5, 4096);
  const auto status_size = static_cast<std::uint32_t>(link->statussize);
  for (const std::uint32_t offset : {0u, status_size - 8}) {
    std::uint32_t record[17] = {68, ORVELLO_MAGIC, ORVELLO_REQ_MEMORY};
    record[4] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(page));
    record[6] = 8;  // length; record[7] 0: a write
    record[9] = offset;
    EXPECT_EQ(sim_post_request(link, record), SV_OK);
  }
  EXPECT_EQ(link->statusview[0], 0xA5) << "the write before the mark arrived";
  EXPECT_EQ(sim_marked_process(link->statusview, link->statussize), mark);
  munmap(page, 4096);
  sys_close(device);
}

// Another board's failed open keeps the last-error rule but leaves an open board on its link.
TEST_F(LinkTest, AFailedOpenOfAnotherBoardLeavesAnOpenBoardOnItsLink) {
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  EXPECT_EQ(sv_open("PCI,card:1"), nullptr);
  EXPECT_NE(sys_lasterror(), 997u) << "no link is current after the failed open";
  int devtype = 0;
  EXPECT_EQ(sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype), SV_OK);
  EXPECT_EQ(devtype, 21);
  EXPECT_EQ(sv_close(sv), SV_OK);
  EXPECT_EQ(simulator.messages().back().type, static_cast<std::uint32_t>('C'));
  EXPECT_TRUE(platform.notices.empty());
}

TEST_F(LinkTest, CloseSendsCAndReleasesTheObjects) {
  oshandle device = sys_open("\\\\.\\VOKDriver0");
  ASSERT_NE(device, invalid_handle);
  sys_close(device);
  EXPECT_EQ(simulator.messages().back().type, static_cast<std::uint32_t>('C'));
}

// A failed exchange reaches the caller as its own error, never as an unwritten result word.
TEST_F(LinkTest, AMutexThatCannotBeTakenIsAFailedExchange) {
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  platform.table.named_mutex_wait = [](oshandle) { return wait_result::failed; };
  orvello_query q;
  prepare(q);
  q.query = SV_QUERY_DEVTYPE;
  q.header.result = 12345;
  EXPECT_EQ(sv_sys_call(sv, ORVELLO_REQ_QUERY, &q), SV_ERROR_TRANSFER);
  EXPECT_EQ(q.header.magic, ORVELLO_MAGIC);
  platform.table.named_mutex_wait = native_platform().named_mutex_wait;
  EXPECT_EQ(sv_close(sv), SV_OK);
}

TEST_F(LinkTest, PartlyPublishedObjectsAreReportedByTheFirstMissingOne) {
  platform.table.named_mutex_open = [](const char *name) -> oshandle {
    if (std::strcmp(name, sim_h2d_mutex_name) == 0) return nullptr;
    return native_platform().named_mutex_open(name);
  };
  EXPECT_EQ(sys_open("\\\\.\\VOKDriver0"), invalid_handle);
  ASSERT_EQ(platform.notices.size(), 1u);
  EXPECT_EQ(platform.notices[0].rfind(
                "Error:VOKOEM: simulator_driver_open: Failed to open host2device mutex, gle=", 0),
            0u)
      << platform.notices[0];
  EXPECT_EQ(sys_lasterror(), 2u);
}

// Each failed step reports its own error, not one left by an earlier operation.
TEST_F(LinkTest, AFailedStepOfTheOpenReportsItsOwnError) {
  platform.table.mapping_view = [](oshandle mapping, std::size_t) {
    return native_platform().mapping_view(mapping, ~std::size_t{0});  // beyond the object
  };
  EXPECT_EQ(sys_open("\\\\.\\VOKDriver0"), invalid_handle);
  ASSERT_EQ(platform.notices.size(), 1u);
  EXPECT_EQ(platform.notices[0], "Error:VOKOEM: simulator_driver_open: Failed to map mapping, gle=87\n");
}

TEST_F(LinkTest, ASimulatorThatNeverAnswersHoldsTheCallerUntilItGoesAway) {
  // The thread simulator belongs to this process, which stays alive: the caller waits for as
  // long as it takes. Here the reply comes after a pause.
  sv_handle *sv = sv_open("PCI,card:0");
  ASSERT_NE(sv, nullptr);
  simulator.hold_replies = true;
  std::atomic<bool> released{false};
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    released = true;
    simulator.hold_replies = false;
    simulator.link.set_ready();
  });
  int devtype = 0;
  sv_query(sv, SV_QUERY_DEVTYPE, 0, &devtype);
  EXPECT_TRUE(released) << "the call returned before the reply was let go";
  release.join();
  EXPECT_EQ(sv_close(sv), SV_OK);
}

}  // namespace
}  // namespace vok::test
