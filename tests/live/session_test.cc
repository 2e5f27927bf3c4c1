// The live session through the C interface with real sockets on loopback: which
// datagrams each receive thread takes in which state, the thread logs, the
// receive buffer, prompt stops, and connect/close cycles that leave nothing
// behind.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "live/block_builder.h"
#include "live/live.h"
#include "live/live_state.h"
#include "live/udp_sender.h"
#include "support/recorder_fixture.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::live {
namespace {

using testing::Bytes;
using testing::eventually;

std::string read_text(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

Bytes set0_block(int channel, uint8_t status) {
  testing::VideoHeader h;
  h.channel = channel;
  h.status_byte = status;
  return testing::video_block(h, {testing::make_video_packet(channel, 0, Bytes(300, 1))});
}

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir("img", 0755);
    port_ = testing::free_port_pair();
    ASSERT_NE(port_, 0);
    ASSERT_TRUE(sender_.ok());
  }
  void TearDown() override {
    kora_udp_close();
    unsetenv("VIRAZAV_LIVE_RCVBUF");
  }

  virazav_live_stats stats() {
    virazav_live_stats s{};
    virazav_live_statistics(&s);
    return s;
  }
  // Sends a single-datagram set-0 block for `channel` to port base + offset.
  void send_block(int offset, int channel, uint8_t number, uint8_t status = 0) {
    ASSERT_TRUE(
        sender_.send(static_cast<uint16_t>(port_ + offset),
                     testing::datagram(number, 0, 1, 0, 4096, set0_block(channel, status))));
  }
  // Waits until the channel's set-0 picture is ready, as kora_udp_rx sees it:
  // without decode_init it consumes the block and returns 1 without a file.
  bool picture_arrives(int channel, int ms = 2000) {
    return eventually(ms, [&] { return kora_udp_rx(channel, 0) == 1; });
  }

  testing::TempCwd cwd_;
  testing::UdpSender sender_{"127.0.0.1"};
  uint16_t port_ = 0;
};

TEST_F(Session, BeforeRxStart_NothingIsAccepted_ThenThread0ReadsWhatWaited) {
  // As in a new process: no sender named yet (it survives sessions otherwise).
  detail::state().expected_sender.store(0);
  ASSERT_EQ(kora_udp_connect("239.255.0.1", port_, 0), 0);
  const virazav_live_stats before = stats();
  send_block(1, 4, 1);  // thread 1 reads it at once, from a sender not yet named
  ASSERT_TRUE(eventually(2000, [&] { return stats().ignored == before.ignored + 1; }));
  send_block(0, 5, 1);  // thread 0 idles: the datagram waits in its socket
  EXPECT_EQ(kora_udp_rx(4, 0), 0);
  EXPECT_EQ(kora_udp_rx(5, 0), 0);

  ASSERT_EQ(kora_udp_rx_start(127, 0, 0, 1), 0);
  EXPECT_TRUE(picture_arrives(5));
  EXPECT_EQ(kora_udp_rx(4, 0), 0);  // the ignored one stays ignored
}

TEST_F(Session, AfterRxStop_Thread0StopsAndThread1GoesOn) {
  ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  send_block(0, 1, 1);
  ASSERT_TRUE(picture_arrives(1));
  ASSERT_EQ(kora_udp_rx_stop(), 0);
  send_block(0, 2, 2);
  send_block(1, 3, 1);
  EXPECT_TRUE(picture_arrives(3));
  EXPECT_EQ(kora_udp_rx(2, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  EXPECT_TRUE(picture_arrives(2));
}

TEST_F(Session, ForeignSender_IsIgnoredByBothThreads) {
  testing::UdpSender foreign("127.0.0.9");
  ASSERT_TRUE(foreign.ok());
  ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  const virazav_live_stats before = stats();
  ASSERT_TRUE(foreign.send(port_, testing::datagram(1, 0, 1, 0, 4096, set0_block(6, 0))));
  ASSERT_TRUE(foreign.send(port_ + 1, testing::datagram(1, 0, 1, 0, 4096, set0_block(7, 0))));
  ASSERT_TRUE(eventually(2000, [&] { return stats().ignored == before.ignored + 2; }));
  EXPECT_EQ(kora_udp_rx(6, 0), 0);
  EXPECT_EQ(kora_udp_rx(7, 0), 0);
  // An out-of-range byte names no sender at all.
  kora_udp_rx_start(127, 0, 0, 256);
  send_block(0, 8, 2);
  ASSERT_TRUE(eventually(2000, [&] { return stats().ignored == before.ignored + 3; }));
  EXPECT_EQ(kora_udp_rx(8, 0), 0);
}

TEST_F(Session, ThreadLogs_NameTheThreadTheGroupThePortAndTheBuffer) {
  setenv("VIRAZAV_LIVE_RCVBUF", "1048576", 1);
  ASSERT_EQ(kora_udp_connect("239.255.0.2", port_, 0), 0);
  ASSERT_EQ(kora_udp_close(), 0);
  for (int t = 0; t < 2; ++t) {
    std::string log = read_text("img/log" + std::to_string(t) + ".txt");
    std::string head = "thread_flg " + std::to_string(t) + " " + std::to_string(t) +
                       "\nMULTI JOIN 239.255.0.2 " + std::to_string(port_ + t) +
                       "\nRCVBUF asked 1048576 granted ";
    EXPECT_EQ(log.substr(0, head.size()), head) << log;
    EXPECT_NE(log.find("\nthread out " + std::to_string(t) + "\n"), std::string::npos) << log;
  }
}

TEST_F(Session, PortBaseZero_ListensOn50000_WhileTheLogsSay0And1) {
  ASSERT_EQ(kora_udp_connect("", 0, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  ASSERT_TRUE(sender_.send(50000, testing::datagram(1, 0, 1, 0, 4096, set0_block(9, 0))));
  EXPECT_TRUE(picture_arrives(9));
  kora_udp_close();
  EXPECT_NE(read_text("img/log0.txt").find("MULTI JOIN  0\n"), std::string::npos);
  EXPECT_NE(read_text("img/log1.txt").find("MULTI JOIN  1\n"), std::string::npos);
}

TEST_F(Session, NoImgFolder_ThreadsRunWithoutLogs) {
  ::rmdir("img");
  ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  send_block(0, 0, 1);
  EXPECT_TRUE(picture_arrives(0));
}

TEST_F(Session, Close_EndsBothThreadsPromptlyAndFreesTheSlots) {
  ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  send_block(0, 3, 1);
  ASSERT_TRUE(eventually(2000, [&] { return stats().video_blocks > 0; }));
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(kora_udp_close(), 0);
  auto spent = std::chrono::steady_clock::now() - start;
  // The threads wait on their sockets and a waker: a stop takes milliseconds.
  EXPECT_LT(spent, std::chrono::milliseconds(500));
  // The ready block went with its buffer.
  EXPECT_EQ(kora_udp_rx(3, 0), 0);
}

TEST_F(Session, ConnectWhileOpen_RestartsOnTheNewPorts) {
  ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
  uint16_t other = testing::free_port_pair();
  ASSERT_NE(other, 0);
  ASSERT_EQ(kora_udp_connect("", other, 0), 0);
  kora_udp_rx_start(127, 0, 0, 1);
  ASSERT_TRUE(sender_.send(other, testing::datagram(1, 0, 1, 0, 4096, set0_block(4, 0))));
  EXPECT_TRUE(picture_arrives(4));
}

TEST_F(Session, ThousandCyclesWithTraffic_LeaveNothingBehind) {
  auto cycle = [&](int i) {
    ASSERT_EQ(kora_udp_connect("", port_, 0), 0);
    kora_udp_rx_start(127, 0, 0, 1);
    send_block(0, i % 16, static_cast<uint8_t>(i));
    send_block(1, (i + 1) % 16, static_cast<uint8_t>(i));
    ASSERT_EQ(kora_udp_close(), 0);
  };
  for (int i = 0; i < 50; ++i) cycle(i);  // warm up the allocator
  const long before = testing::resident_kib();
  for (int i = 0; i < 1000; ++i) {
    cycle(i);
    if (HasFatalFailure()) return;
  }
  const long grown = testing::resident_kib() - before;
  EXPECT_LT(grown, 4096) << "resident memory grew by " << grown << " KiB";
}

}  // namespace
}  // namespace virazav::live
