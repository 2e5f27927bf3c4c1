// kora_connect and kora_unconnect against the simulated recorder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

using sim::Fault;
using sim::FaultKind;

class ConnectTest : public RecorderTest {};

TEST_F(ConnectTest, Login_ConnectsAndDecodesTheInformationText) {
  unsigned char info[128];
  std::memset(info, 0x55, sizeof info);
  ASSERT_EQ(kora_connect(3, address_.c_str(), "", info), 0);
  connected_mask_ |= 1 << 3;
  EXPECT_STREQ(reinterpret_cast<char*>(info), options_.info.c_str());
  EXPECT_EQ(rec().command_connections(3), 1);
  // The command connection is presented with the link ID the login reply gave.
  auto lines = rec().received_lines(3);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "PASSWORD " + std::string(32, '0') + "\n");
  EXPECT_EQ(lines[1].rfind("ID = ID", 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].back(), '\n');
}

TEST_F(ConnectTest, SecondConnectOnAConnectedSlot_ReturnsMinus10201AndKeepsTheConnection) {
  connect(0);
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_ALREADY_CONNECTED);
  char date[16], time[16];
  EXPECT_EQ(kora_get_time(0, date, time), 0);
}

TEST_F(ConnectTest, UnconnectThenConnectAgain_Works) {
  connect(1);
  EXPECT_EQ(kora_unconnect(1, 0, 0, 0), 0);
  connected_mask_ &= ~2;
  EXPECT_EQ(kora_unconnect(1, 0, 0, 0), VIRAZAV_ERR_NOT_CONNECTED);
  connect(1);
  EXPECT_EQ(rec().login_count(1), 2);
}

// Regression: kora_connect could return while the command connection's thread
// was still storing the socket, so the first command went to no socket and
// failed after 10 s. The race was narrow; many rounds make it show.
TEST_F(ConnectTest, FirstCommandRightAfterConnect_UsesTheCommandConnection) {
  for (int round = 0; round < 40; ++round) {
    const int slot = round % 16;
    ASSERT_EQ(kora_connect(slot, address_.c_str(), "", nullptr), 0) << "round " << round;
    char date[64], time[64];
    EXPECT_EQ(kora_get_time(slot, date, time), 0) << "round " << round;
    ASSERT_EQ(kora_unconnect(slot, 0, 0, 0), 0);
  }
}

TEST_F(ConnectTest, ArgumentChecks_ReturnTheirCodesWithoutTouchingTheNetwork) {
  EXPECT_EQ(kora_connect(-1, address_.c_str(), "", nullptr), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(kora_connect(16, address_.c_str(), "", nullptr), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(kora_connect(0, nullptr, "", nullptr), VIRAZAV_ERR_NO_ADDRESS);
  EXPECT_EQ(kora_connect(0, "", "", nullptr), VIRAZAV_ERR_NO_ADDRESS);
  EXPECT_EQ(kora_connect(0, "recorder.local", "", nullptr), VIRAZAV_ERR_BAD_ADDRESS);
  EXPECT_EQ(kora_connect(0, "127.0.0.1.and.more.text", "", nullptr), VIRAZAV_ERR_BAD_ADDRESS);
  EXPECT_EQ(kora_connect(0, address_.c_str(), std::string(64, 'p').c_str(), nullptr),
            VIRAZAV_ERR_PASSWORD_TOO_LONG);
  EXPECT_EQ(kora_unconnect(16, 0, 0, 0), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(kora_unconnect(5, 0, 0, 0), VIRAZAV_ERR_NOT_CONNECTED);
  EXPECT_EQ(rec().login_count(0), 0);
}

TEST_F(ConnectTest, BusyGreeting_ReturnsMinus1AndSendsNoPassword) {
  rec().inject(make_fault(FaultKind::kBusy));
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_FAIL);
  EXPECT_TRUE(rec().received_lines(0).empty());
}

TEST_F(ConnectTest, NoRecorderListening_ReturnsMinus7) {
  rec().stop();
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_CONNECT);
}

TEST_F(ConnectTest, RefusedLinkId_ReturnsMinus102AndLeavesTheSlotClosed) {
  rec().inject(make_fault(FaultKind::kRefuseLink));
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_LINK_NOT_OK);
  EXPECT_EQ(kora_get_time(0, nullptr, nullptr), VIRAZAV_ERR_NOT_CONNECTED);
  connect(0);  // the slot can be connected afterwards
}

TEST_F(ConnectTest, ShortLoginReply_ReturnsMinus1) {
  Fault f = make_fault(FaultKind::kRaw);
  f.command = sim::kStagePassword;
  f.text = "OK\r\n";
  rec().inject(f);
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_FAIL);
}

TEST_F(ConnectTest, LoginTextsWithLongAndSurplusTokens_AreCutWithoutHarm) {
  Fault f = make_fault(FaultKind::kRaw, sim::kStageGreeting);
  // Token 4 carries the information text; token 1 is far longer than a token
  // (the whole greeting still fits in one 2200-byte reply).
  std::string hex;
  for (unsigned char c : std::string("INFO")) {
    static const char kDigits[] = "0123456789ABCDEF";
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  f.text = "DVR " + std::string(1500, 'L') + " 2 3 " + hex + " 5 6 7\r\n";
  rec().inject(f);
  rec().inject(make_fault(FaultKind::kTooManyTokens, sim::kStagePassword, 1, 60));
  unsigned char info[128];
  ASSERT_EQ(kora_connect(0, address_.c_str(), "", info), 0);
  connected_mask_ |= 1;
  EXPECT_STREQ(reinterpret_cast<char*>(info), "INFO");
}

TEST_F(ConnectTest, ConnectionClosedDuringTheGreeting_ReturnsMinus254) {
  Fault f = make_fault(FaultKind::kCloseAfter);
  f.command = sim::kStageGreeting;
  f.param = 0;
  rec().inject(f);
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_NO_GREETING);
}

TEST_F(ConnectTest, ConnectionClosedBeforeTheLoginReply_ReturnsMinus255) {
  Fault f = make_fault(FaultKind::kCloseAfter);
  f.command = sim::kStagePassword;
  f.param = 0;
  rec().inject(f);
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_NO_LOGIN_REPLY);
}

TEST_F(ConnectTest, LinkAnswerNeverComes_ReturnsMinus235AfterTheReplyLimit) {
  Fault f = make_fault(FaultKind::kNoReply);
  f.command = sim::kStageLink;
  rec().inject(f);
  uint32_t start = platform::tick_ms();
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_LINK_NO_ANSWER);
  EXPECT_GE(platform::tick_ms() - start, 9900u);
  EXPECT_EQ(kora_get_time(0, nullptr, nullptr), VIRAZAV_ERR_NOT_CONNECTED);
}

TEST_F(ConnectTest, GreetingNeverComes_ReturnsMinus254AfterTenSeconds) {
  rec().inject(make_fault(FaultKind::kHoldGreeting));
  uint32_t start = platform::tick_ms();
  EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), VIRAZAV_ERR_NO_GREETING);
  uint32_t spent = platform::tick_ms() - start;
  EXPECT_GE(spent, 9900u);
  EXPECT_LT(spent, 15000u);
}

struct PasswordCase {
  const char* name;
  const char* password;
  const char* wire;
};

class PasswordTest : public RecorderTest, public ::testing::WithParamInterface<PasswordCase> {
  void configure(sim::RecorderOptions& o) override { o.password = GetParam().password; }
};

TEST_P(PasswordTest, PasswordGoesOutAsPaddedHexadecimalAndIsAccepted) {
  connect(2);
  auto lines = rec().received_lines(2);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], std::string("PASSWORD ") + GetParam().wire + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, PasswordTest,
    ::testing::Values(PasswordCase{"Empty", "", "00000000000000000000000000000000"},
                      PasswordCase{"TwoCharacters", "ab", "61620000000000000000000000000000"},
                      PasswordCase{"TwentyCharacters", "abcdefghijklmnopqrst",
                                   "6162636465666768696A6B6C6D6E6F7071727374"}),
    [](const ::testing::TestParamInfo<PasswordCase>& info) {
      return std::string(info.param.name);
    });

class WrongPasswordTest : public RecorderTest {
  void configure(sim::RecorderOptions& o) override { o.password = "secret"; }
};

TEST_F(WrongPasswordTest, WrongPassword_ReturnsPasswordRefusedAndClosesTheSlot) {
  EXPECT_EQ(kora_connect(0, address_.c_str(), "guess", nullptr), VIRAZAV_ERR_PASSWORD_REFUSED);
  EXPECT_EQ(rec().command_connections(0), 0);
  EXPECT_EQ(kora_connect(0, address_.c_str(), "secret", nullptr), 0);
  connected_mask_ |= 1;
}

}  // namespace
}  // namespace virazav::testing
