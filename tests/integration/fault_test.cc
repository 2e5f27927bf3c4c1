// Failures of the operating system, injected through the platform seam, reach
// the caller as their documented codes and leave the library usable.
#include "platform/fault.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

using platform::fault_arm;
using platform::FaultKind;
using platform::FaultScope;

class FaultTest : public RecorderTest {};

TEST_F(FaultTest, LoginSteps_FailWithTheirCodes) {
  struct Case {
    FaultKind kind;
    int nth;
    int want;
  } cases[] = {
      {FaultKind::kNetStartup, 1, VIRAZAV_ERR_NET_STARTUP},
      {FaultKind::kSocketCreate, 1, VIRAZAV_ERR_CONNECT},
      {FaultKind::kSocketBind, 1, VIRAZAV_ERR_CONNECT},
      {FaultKind::kSocketConnect, 1, VIRAZAV_ERR_CONNECT},
      {FaultKind::kSocketNonBlocking, 1, VIRAZAV_ERR_NONBLOCKING},
      // The first receive is the greeting's; later ones depend on timing.
      {FaultKind::kSocketRecv, 1, VIRAZAV_ERR_NO_GREETING},
      // The command connection's own steps (second socket, second connect, ...).
      {FaultKind::kNetStartup, 2, VIRAZAV_ERR_NET_STARTUP},
      {FaultKind::kSocketCreate, 2, VIRAZAV_ERR_CONNECT},
      {FaultKind::kSocketConnect, 2, VIRAZAV_ERR_CONNECT},
      {FaultKind::kSocketNonBlocking, 2, VIRAZAV_ERR_NONBLOCKING},
  };
  for (const Case& c : cases) {
    {
      FaultScope scope;
      fault_arm(c.kind, c.nth);
      EXPECT_EQ(kora_connect(0, address_.c_str(), "", nullptr), c.want)
          << "kind " << static_cast<int>(c.kind) << " call " << c.nth;
    }
    EXPECT_EQ(kora_get_time(0, nullptr, nullptr), VIRAZAV_ERR_NOT_CONNECTED);
  }
  connect(0);  // nothing was left half open
}

TEST_F(FaultTest, EveryLoginCallFailingInTurn_GivesSuccessOrACodeAndNeverLeavesTheSlotOpen) {
  for (int k = 0; k < static_cast<int>(FaultKind::kCount); ++k) {
    for (int nth = 1; nth <= 4; ++nth) {
      int rc;
      {
        FaultScope scope;
        fault_arm(static_cast<FaultKind>(k), nth);
        rc = kora_connect(1, address_.c_str(), "", nullptr);
      }
      if (rc == 0) {
        char date[64], time[64];
        EXPECT_EQ(kora_get_time(1, date, time), 0) << k << "/" << nth;
        EXPECT_EQ(kora_unconnect(1, 0, 0, 0), 0);
      } else {
        EXPECT_STRNE(virazav_strerror(rc), "unknown code") << rc;
        EXPECT_EQ(kora_unconnect(1, 0, 0, 0), VIRAZAV_ERR_NOT_CONNECTED);
      }
    }
  }
}

TEST_F(FaultTest, ReceiveErrorDuringACommand_ReturnsMinus1OrTheNegatedSocketError) {
  connect(0);
  {
    FaultScope scope;
    fault_arm(FaultKind::kSocketRecv, 1, false, platform::kWsaConnReset);
    EXPECT_EQ(kora_rx_status(0, 1), VIRAZAV_ERR_FAIL);
  }
  {
    // The setters try five times and then return the receive code.
    FaultScope scope;
    fault_arm(FaultKind::kSocketRecv, 1, true, platform::kWsaConnReset);
    EXPECT_EQ(kora_hd_swset(0, 1, 2), VIRAZAV_WSA_RESET);
    EXPECT_EQ(platform::fault_calls(FaultKind::kSocketRecv), 5);
  }
}

TEST_F(FaultTest, UpdateBufferNotAllocated_ReturnsMinus13) {
  connect(0);
  TempCwd cwd;
  std::ofstream("u.bin") << "data";
  FaultScope scope;
  fault_arm(FaultKind::kAlloc, 1);
  EXPECT_EQ(kora_update(0, "u.bin", 0), VIRAZAV_ERR_NO_MEMORY);
}

TEST_F(FaultTest, UpdateFileUnreadable_ReturnsMinus2AndSendFailureMidUpload_ReturnsTheSocketCode) {
  connect(0);
  TempCwd cwd;
  std::ofstream("u.bin") << std::string(300000, 'u');
  {
    FaultScope scope;
    fault_arm(FaultKind::kFileRead, 1);
    EXPECT_EQ(kora_update(0, "u.bin", 0), VIRAZAV_ERR_EMPTY_FILE);
  }
  {
    FaultScope scope;
    fault_arm(FaultKind::kSocketSend, 3, true,
              platform::kWsaConnAborted);  // line, chunk 1, chunk 2
    EXPECT_EQ(kora_update(0, "u.bin", 0), VIRAZAV_WSA_ABORTED);
  }
}

TEST_F(FaultTest, PlayListFileNotWritable_ReturnsMinus12) {
  connect(0);
  TempCwd cwd;
  ASSERT_EQ(platform::make_directory("img"), 0);
  FaultScope scope;
  fault_arm(FaultKind::kFileWrite, 2);  // the list itself, after "0\n"
  EXPECT_EQ(kora_rx_playlist(0, 1), VIRAZAV_ERR_LIST_FILE);
}

TEST_F(FaultTest, PlayListBufferNotAllocated_ReturnsMinus13BeforeTheTrigger) {
  connect(0);
  TempCwd cwd;
  FaultScope scope;
  fault_arm(FaultKind::kAlloc, 1);
  EXPECT_EQ(kora_rx_playlist(0, 1), VIRAZAV_ERR_NO_MEMORY);
  platform::fault_reset();
  EXPECT_GE(kora_rx_status(0, 1), 0);
}

}  // namespace
}  // namespace virazav::testing
