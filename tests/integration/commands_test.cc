// Every recorder command through the C interface: the exact line on the wire,
// the value read from the reply, and the recorder state it changes.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

using sim::Fault;
using sim::FaultKind;

class CommandTest : public RecorderTest {
 protected:
  void SetUp() override {
    RecorderTest::SetUp();
    connect(0);
  }
  // Checks that the last line sent is "<ID> " + body with a well-formed ID.
  void expect_line(const std::string& body) {
    std::string line = last_line(0);
    static const std::regex kId("^ID[0-9A-F]{8} ");
    EXPECT_TRUE(std::regex_search(line, kId)) << line;
    EXPECT_EQ(line.size() > 11 ? line.substr(11) : line, body);
  }
};

TEST_F(CommandTest, GetTime_AddsTheCenturyToATwoDigitYear) {
  struct Case {
    const char* set_date;
    const char* want;
  } cases[] = {{"04/12/03", "2004/12/03"}, {"85/01/02", "1985/01/02"}, {"79/12/31", "2079/12/31"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(rec().set_clock(c.set_date, "10:00:00")) << c.set_date;
    char date[64], time[64];
    ASSERT_EQ(kora_get_time(0, date, time), 0);
    EXPECT_STREQ(date, c.want) << c.set_date;
    EXPECT_EQ(std::string(time).substr(0, 5), "10:00");
  }
  expect_line("GetTime\n");
}

TEST_F(CommandTest, GetTime_TenCharacterDateIsPassedThrough) {
  Fault f = make_fault(FaultKind::kRaw);
  f.command = "GetTime";
  f.text = "{id} OK 2004/12/03 01:02:03\r\n";
  rec().inject(f);
  char date[64] = "", time[64] = "";
  ASSERT_EQ(kora_get_time(0, date, time), 0);
  EXPECT_STREQ(date, "2004/12/03");
  EXPECT_STREQ(time, "01:02:03");
}

TEST_F(CommandTest, SetTime_SendsTheTextsAsTheyAreAndTheClockFollows) {
  ASSERT_EQ(kora_set_time(0, "26/02/28", "23:59:30"), 0);
  expect_line("SetTime 26/02/28 23:59:30\n");
  EXPECT_EQ(rec().clock_text().substr(0, 14), "26/02/28 23:59");
  char date[64], time[64];
  ASSERT_EQ(kora_get_time(0, date, time), 0);
  EXPECT_STREQ(date, "2026/02/28");
}

TEST_F(CommandTest, SwitchSetters_StoreAndGettersReadBack) {
  EXPECT_EQ(kora_cam_swset(0, 1, 0), 0);
  expect_line("CamSwSet 01 00\n");
  EXPECT_EQ(kora_cam_swset(0, 2, 0x5A), 0x5A);
  EXPECT_EQ(kora_cam_swget(0, 2), 0x5A);
  expect_line("CamSwGet 000002\n");
  EXPECT_EQ(rec().switch_value(sim::SwitchTable::kCamera, 2), 0x5Au);

  EXPECT_EQ(kora_hd_swset(0, 7, 0x33), 0x33);
  expect_line("HDSwSet 07 33\n");
  EXPECT_EQ(kora_hd_swget(0, 7), 0x33);
  expect_line("HDSwGet 000007\n");

  EXPECT_EQ(kora_jpeg_swset(0, 4, 0x1234), 0x1234);
  expect_line("JpegSwSet 04 1234\n");
  EXPECT_EQ(kora_jpeg_swget(0, 4), 0x1234);
  expect_line("JpegSwGet 000004\n");
}

TEST_F(CommandTest, CombiWords_GoOutAsFourDigitFieldsAndComeBackRotated) {
  EXPECT_GE(kora_combi_set(0, 3, 0x11, 0x22, 0x33, 0x44), 0);
  expect_line("CombiSwSet 0003 0011 0022 0033 0044\n");
  uint32_t p1 = 3, p2 = 0, p3 = 0, p4 = 0;
  ASSERT_EQ(kora_combi_get(0, &p1, &p2, &p3, &p4, 9), 0);
  expect_line("CombiSwGet 03 0000 0000 0000 0009 0000\n");
  // The reply carries tokens 2..5; p1 takes token 5 and p2..p4 tokens 2..4.
  Fault f = make_fault(FaultKind::kRaw);
  f.command = "CombiSwGet";
  f.text = "{id} OK 0001 0002 0003 0004\r\n";
  rec().inject(f);
  ASSERT_EQ(kora_combi_get(0, &p1, &p2, &p3, &p4, 0), 0);
  EXPECT_EQ(p1, 4u);
  EXPECT_EQ(p2, 1u);
  EXPECT_EQ(p3, 2u);
  EXPECT_EQ(p4, 3u);
}

TEST_F(CommandTest, JpegSwitch99_ReturnsMinus99AfterFourSecondsWithoutReadingTheReply) {
  uint32_t start = platform::tick_ms();
  EXPECT_EQ(kora_jpeg_swset(0, 99, 0), VIRAZAV_ERR_JPEG_RESET);
  EXPECT_GE(platform::tick_ms() - start, 3990u);
  expect_line("JpegSwSet 63 0000\n");
  // The unread reply is still in the socket: the next command sees a foreign ID.
  EXPECT_EQ(kora_rx_status(0, 1), VIRAZAV_ERR_FOREIGN_ID);
}

TEST_F(CommandTest, PlaybackCommands_SendTheirFieldsAndReturnToken2) {
  EXPECT_GE(kora_ctrl_play(0, 2), 0);
  expect_line("ControlPlay 02\n");
  EXPECT_EQ(rec().play_state().control, 2u);

  EXPECT_GE(kora_play_search(0, 2004, 12, 3, 10, 5, 0), 0);
  expect_line("PlaySearch 2004 12 03 10 05 00 00\n");

  EXPECT_GE(kora_set_playpointer(0, 0x12345678, 0xABCDEF01), 0);
  expect_line("SetPlayPointer 12345678 ABCDEF01\n");
  EXPECT_EQ(rec().play_state().pointer[1], 0xABCDEF01u);

  EXPECT_GE(kora_rx_hddlist(0, 1, 2), 0);
  expect_line("ReadHddList 00000001 00000002\n");
}

TEST_F(CommandTest, Status_ReturnsToken3) {
  rec().set_status_word(5, 0xBEEF);
  EXPECT_EQ(kora_rx_status(0, 5), 0xBEEF);
  expect_line("SendStatus 05\n");
}

TEST_F(CommandTest, MenuData_ArrivesAfterTheDummyLine) {
  std::string block = sim::Recorder::menu_block(1);
  ASSERT_FALSE(block.empty());
  std::vector<unsigned char> data(1 << 20, 0xEE);
  EXPECT_EQ(kora_rx_menu_data(0, 1, data.data()), static_cast<int>(block.size()));
  EXPECT_EQ(std::string(data.begin(), data.begin() + block.size()), block);
  EXPECT_EQ(data[block.size()], 0xEE);  // nothing written past the block
  auto lines = rec().received_lines(0);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back(), "dummy\n");
}

TEST_F(CommandTest, PlayList_IsStoredExactlyInImgListFile) {
  TempCwd cwd;
  ASSERT_EQ(platform::make_directory("img"), 0);
  std::string block = sim::Recorder::play_list_block(10);
  ASSERT_FALSE(block.empty());
  EXPECT_EQ(kora_rx_playlist(0, 10), static_cast<int>(block.size()));
  std::ifstream f("img/lista.txt", std::ios::binary);
  std::stringstream content;
  content << f.rdbuf();
  EXPECT_EQ(content.str(), block);
  EXPECT_EQ(last_line(0), "JpegSendStart\n");
}

TEST_F(CommandTest, PlayListOfSizeZero_ReturnsZeroAndWritesNoFile) {
  TempCwd cwd;
  ASSERT_EQ(platform::make_directory("img"), 0);
  Fault f = make_fault(FaultKind::kRaw);
  f.command = "GetPlayList";
  f.text = "{id} OK 0\r\n";
  rec().inject(f);
  EXPECT_EQ(kora_rx_playlist(0, 3), 0);
  EXPECT_FALSE(platform::file_exists("img/list3.txt"));
}

TEST_F(CommandTest, PlayListLargerThanTheBuffer_IsRefusedBeforeTheTrigger) {
  TempCwd cwd;
  ASSERT_EQ(platform::make_directory("img"), 0);
  Fault f = make_fault(FaultKind::kRaw);
  f.command = "GetPlayList";
  f.text = "{id} OK 20001\r\n";
  rec().inject(f);
  EXPECT_EQ(kora_rx_playlist(0, 1), VIRAZAV_ERR_LIST_TOO_LARGE);
  EXPECT_FALSE(platform::file_exists("img/list1.txt"));
  EXPECT_NE(last_line(0), "JpegSendStart\n");
  EXPECT_GE(kora_rx_status(0, 1), 0);  // the connection is still in step
}

TEST_F(CommandTest, PlayListWithoutImgFolder_ReturnsMinus12AndStaysInStep) {
  TempCwd cwd;
  EXPECT_EQ(kora_rx_playlist(0, 1), VIRAZAV_ERR_LIST_FILE);
  rec().set_status_word(1, 0x77);
  EXPECT_EQ(kora_rx_status(0, 1), 0x77);  // the block was drained
}

TEST_F(CommandTest, MaintenanceValues_RoundTripThroughTheRecorderStores) {
  EXPECT_EQ(kora_mem_set(0, 1, 0x20, 0x34), 0x34);
  expect_line("MemSet 01 0020 0034\n");
  EXPECT_GE(kora_mem_get(0, 0x20, 1), 0);
  expect_line("MemGet 000020 000001\n");

  EXPECT_GE(kora_i2c_get(0, 0x50, 2), 0);
  expect_line("I2cGet 000050 0002\n");
  EXPECT_EQ(kora_i2c_set(0, 0x50, 2, 0x99), 0x99);
  expect_line("I2cSet 0050 0002 0099\n");
  EXPECT_EQ(kora_i2c_get(0, 0x50, 2), 0x99);

  EXPECT_EQ(kora_nvc_set(0, 1, 2, 3, 0x44), 0x44);
  expect_line("NvcSet 0001 0002 0003 0044\n");
  EXPECT_EQ(kora_nvc_get(0, 1, 2, 3), 0x44);
  expect_line("NvcGet 0001 0002 0003\n");
}

TEST_F(CommandTest, Update_AnnouncesLengthPlusOneAndSendsTheTerminatingZero) {
  TempCwd cwd;
  std::string content(1000, '\0');
  for (size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>('a' + i % 26);
  std::ofstream("fw.bin", std::ios::binary) << content;
  EXPECT_EQ(kora_update(0, "fw.bin", 2), 1000);
  expect_line("SendUpdate 02 000003E9\n");
  sim::UpdateUpload up;
  ASSERT_TRUE(rec().wait_for_update(5000, &up));
  EXPECT_TRUE(up.complete());
  ASSERT_EQ(up.data.size(), 1001u);
  EXPECT_EQ(std::string(up.data.begin(), up.data.end() - 1), content);
  EXPECT_EQ(up.data.back(), 0);
  EXPECT_GE(kora_rx_status(0, 0), 0);
}

TEST_F(CommandTest, LargeUpdate_IsSentWholeAndCutAt8MiB) {
  TempCwd cwd;
  std::string content(8 * 1024 * 1024 + 5000, 'x');
  std::ofstream("big.bin", std::ios::binary) << content;
  std::vector<int64_t> progress;
  virazav_set_progress_handler(
      [](int64_t done, int64_t, void* user) {
        static_cast<std::vector<int64_t>*>(user)->push_back(done);
      },
      &progress);
  EXPECT_EQ(kora_update(0, "big.bin", 1), 8388608);
  virazav_set_progress_handler(nullptr, nullptr);
  sim::UpdateUpload up;
  ASSERT_TRUE(rec().wait_for_update(10000, &up));
  EXPECT_TRUE(up.complete());
  EXPECT_EQ(up.data.size(), 8388609u);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 8388609);
}

TEST_F(CommandTest, UpdateWithEmptyOrMissingFile_ReturnsMinus2OrMinus1AndSendsNothing) {
  TempCwd cwd;
  std::ofstream("empty.bin").close();
  size_t before = rec().received_lines(0).size();
  EXPECT_EQ(kora_update(0, "empty.bin", 0), VIRAZAV_ERR_EMPTY_FILE);
  EXPECT_EQ(kora_update(0, "missing.bin", 0), VIRAZAV_ERR_FAIL);
  EXPECT_EQ(rec().received_lines(0).size(), before);
  EXPECT_EQ(kora_update(7, "missing.bin", 0), VIRAZAV_ERR_NOT_CONNECTED);
  EXPECT_EQ(kora_update(-1, "missing.bin", 0), VIRAZAV_ERR_SLOT_RANGE);
}

TEST_F(CommandTest, ReBoot_SendsTheBlankBeforeTheNewlineAndDropsTheConnection) {
  EXPECT_GE(kora_re_boot(0), 0);
  expect_line("ReBoot \n");
  EXPECT_EQ(rec().reboot_count(), 1);
  // The recorder has gone: the next command fails at the receive.
  EXPECT_EQ(kora_rx_status(0, 0), VIRAZAV_ERR_FAIL);
}

TEST_F(CommandTest, ForeignIdAndNg_GiveTheirCodesAndLeaveTheSlotUsable) {
  rec().inject(make_fault(FaultKind::kForeignId, "SendStatus"));
  EXPECT_EQ(kora_rx_status(0, 1), VIRAZAV_ERR_FOREIGN_ID);
  rec().inject(make_fault(FaultKind::kNg, "SendStatus"));
  EXPECT_EQ(kora_rx_status(0, 1), VIRAZAV_ERR_NOT_OK);
  rec().set_status_word(1, 0x42);
  EXPECT_EQ(kora_rx_status(0, 1), 0x42);
}

TEST_F(CommandTest, ReplyWithoutResultTokens_ReadsThePreviousReplysTokens) {
  rec().set_status_word(2, 0x1F);
  EXPECT_EQ(kora_rx_status(0, 2), 0x1F);
  Fault f = make_fault(FaultKind::kRaw);
  f.command = "HDSwGet";
  f.text = "\r\n";
  rec().inject(f);
  EXPECT_EQ(kora_hd_swget(0, 1), 0x1F);
}

TEST_F(CommandTest, OversizedReply_KeepsTheFirstTwentyTokens) {
  rec().set_status_word(3, 0xAB);
  rec().inject(make_fault(FaultKind::kTooManyTokens, "SendStatus", 1, 200));
  EXPECT_EQ(kora_rx_status(0, 3), 0xAB);
  rec().inject(make_fault(FaultKind::kLongToken, "SendStatus", 1, 2000));
  EXPECT_EQ(kora_rx_status(0, 3), 0xAB);
}

TEST_F(CommandTest, ConnectionClosedMidReply_GivesTheReceiveCodeToTheSetters) {
  rec().inject(make_fault(FaultKind::kCloseAfter, "CamSwSet", 1, 0));
  EXPECT_EQ(kora_cam_swset(0, 1, 1), VIRAZAV_WSA_CLOSED);
  EXPECT_EQ(kora_rx_status(0, 1), VIRAZAV_ERR_FAIL);
}

TEST_F(CommandTest, SlowReply_IsWaitedFor) {
  Fault f = make_fault(FaultKind::kDelay, "SendStatus");
  f.delay_ms = 700;
  rec().inject(f);
  rec().set_status_word(4, 9);
  EXPECT_EQ(kora_rx_status(0, 4), 9);
}

TEST_F(CommandTest, NoReply_ReturnsMinus1AfterTenSeconds) {
  rec().inject(make_fault(FaultKind::kNoReply, "HDSwGet"));
  uint32_t start = platform::tick_ms();
  EXPECT_EQ(kora_hd_swget(0, 1), VIRAZAV_ERR_FAIL);
  uint32_t spent = platform::tick_ms() - start;
  EXPECT_GE(spent, 9900u);
  EXPECT_LT(spent, 15000u);
}

TEST_F(CommandTest, CommandsOnAnUnconnectedOrBadSlot_ReturnTheirCodes) {
  EXPECT_EQ(kora_get_time(4, nullptr, nullptr), VIRAZAV_ERR_NOT_CONNECTED);
  EXPECT_EQ(kora_mem_get(16, 0, 0), VIRAZAV_ERR_SLOT_RANGE);
  EXPECT_EQ(kora_re_boot(-5), VIRAZAV_ERR_SLOT_RANGE);
}

TEST_F(CommandTest, OverlongSetTimeText_IsRefused) {
  std::string date(3000, '1');
  EXPECT_EQ(kora_set_time(0, date.c_str(), "00:00:00"), VIRAZAV_ERR_LINE_TOO_LONG);
  EXPECT_GE(kora_rx_status(0, 0), 0);
}

TEST_F(CommandTest, AllSlotsAtOnce_EachHasItsOwnConnection) {
  for (int slot = 1; slot < 16; ++slot) connect(slot);
  for (int slot = 0; slot < 16; ++slot) {
    EXPECT_EQ(kora_cam_swset(slot, slot, slot + 1), slot + 1) << slot;
    EXPECT_EQ(rec().command_connections(slot), 1) << slot;
  }
}

}  // namespace
}  // namespace virazav::testing
