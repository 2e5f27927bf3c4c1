// Tests of the simulated recorder, driven by the raw socket client of test_client.h, written
// from the client's side of docs/formats/command-protocol.md. Every test uses its own loopback
// address in 127.0.1.x so that the suites can run in parallel with each other and with the
// library's tests (127.0.0.x).

#include "recorder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "test_client.h"

namespace virazav::sim {
namespace {

using namespace testing;

// Returns the value as upper-case hexadecimal without leading zeros ("%X").
std::string upper_hex(size_t value) {
  std::string out;
  do {
    out.insert(out.begin(), "0123456789ABCDEF"[value % 16]);
    value /= 16;
  } while (value != 0);
  return out;
}

// Builds one fault script entry: FaultEntry(FaultKind::kNg).on("GetTime").count(2).
class FaultEntry {
 public:
  explicit FaultEntry(FaultKind kind) { f_.kind = kind; }
  FaultEntry& on(std::string command) {
    f_.command = std::move(command);
    return *this;
  }
  FaultEntry& count(int n) {
    f_.count = n;
    return *this;
  }
  FaultEntry& param(int p) {
    f_.param = p;
    return *this;
  }
  FaultEntry& delay(int ms) {
    f_.delay_ms = ms;
    return *this;
  }
  FaultEntry& text(std::string t) {
    f_.text = std::move(t);
    return *this;
  }
  FaultEntry& slot(int s) {
    f_.slot = s;
    return *this;
  }
  operator Fault() const { return f_; }

 private:
  Fault f_;
};

class SimRecorderTest : public ::testing::Test {
 protected:
  void start(const std::string& address, RecorderOptions options = {}) {
    options.address = address;
    address_ = address;
    password_ = options.password;
    rec_ = std::make_unique<Recorder>(std::move(options));
    std::string error;
    ASSERT_TRUE(rec_->start(&error)) << error;
  }

  Recorder& rec() { return *rec_; }

  Sock connect_login(int slot) { return Sock::connect_to(address_, login_port(slot)); }

  // Logs in on a slot and returns the reply to the PASSWORD line.
  std::string login(int slot, const std::string& line) {
    Sock s = connect_login(slot);
    if (!s.ok()) return "<no connection>";
    std::string greeting = s.recv_line();
    if (tokens(greeting).size() != 8) return "<bad greeting: " + greeting + ">";
    s.send_all(line);
    return s.recv_line();
  }

  // Returns the link ID handed out by a login with the right password.
  std::string link_id(int slot) {
    auto t = tokens(login(slot, password_line(password_)));
    return t.size() == 3 && t[0] == "OK" ? t[2] : std::string();
  }

  // Opens a command connection on the slot (login and link); a failed one is not ok().
  Sock open_commands(int slot) {
    std::string link = link_id(slot);
    if (link.empty()) return Sock();
    Sock c = Sock::connect_to(address_, command_port(slot));
    if (!c.ok() || !c.send_all("ID = " + link + "\n") || c.recv_line() != "OK\r\n") {
      return Sock();
    }
    return c;
  }

  std::string address_;
  std::string password_;
  std::unique_ptr<Recorder> rec_;
};

// ---- Login and link ----

TEST_F(SimRecorderTest, Greeting_IsEightTokensWithInfoAsUpperHexInOneSend) {
  RecorderOptions o;
  o.info = "Unit 7, hall";
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.2", o));
  Sock s = connect_login(0);
  ASSERT_TRUE(s.ok());
  std::string greeting = s.recv_once(3000);  // the client takes one receive as the greeting
  EXPECT_EQ(greeting, rec().greeting());
  ASSERT_GE(greeting.size(), 2u);
  EXPECT_EQ(greeting.substr(greeting.size() - 2), "\r\n");
  auto t = tokens(greeting);
  ASSERT_EQ(t.size(), 8u) << greeting;
  EXPECT_NE(t[0], "Busy");
  EXPECT_EQ(t[4], hex_of("Unit 7, hall"));
  EXPECT_EQ(rec().login_count(0), 1);
}

TEST_F(SimRecorderTest, Password_MatchingDigitsGetCommandPortAndFreshLinkIds) {
  RecorderOptions o;
  o.password = "ab";
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.3", o));
  const std::regex reply("OK ([0-9A-F]{4}) (ID[0-9A-F]{8})\r\n");
  // Two characters are four digits and 28 '0' characters.
  const std::string line = "PASSWORD 6162" + std::string(28, '0') + "\n";
  std::smatch m0, m0b, m15;
  std::string r0 = login(0, line), r0b = login(0, line), r15 = login(15, line);
  ASSERT_TRUE(std::regex_match(r0, m0, reply)) << r0;
  ASSERT_TRUE(std::regex_match(r0b, m0b, reply)) << r0b;
  ASSERT_TRUE(std::regex_match(r15, m15, reply)) << r15;
  EXPECT_EQ(m0[1], "138A");   // 5002
  EXPECT_EQ(m15[1], "13A8");  // 5032
  EXPECT_NE(m0[2], m0b[2]);
  EXPECT_EQ(rec().received_lines(0), (std::vector<std::string>{line, line}));
  EXPECT_EQ(rec().received_lines(15), std::vector<std::string>{line});
}

TEST_F(SimRecorderTest, Password_AnythingButTheExactDigitsIsRefused) {
  RecorderOptions o;
  o.password = "secret";  // 736563726574 and 20 '0' characters
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.4", o));
  const std::string good = "736563726574" + std::string(20, '0');
  struct Row {
    std::string line;
    std::string reply;
  } rows[] = {
      {"PASSWORD " + good + "\n", "OK"},
      {"PASSWORD 736563726574\n", "NG\r\n"},                              // not padded
      {"PASSWORD 736563726574" + std::string(22, '0') + "\n", "NG\r\n"},  // padded too far
      {"PASSWORD 736563726574" + std::string(20, '0') + "\r\n", "NG\r\n"},
      {"PASSWORD 7365637265" + std::string(22, '0') + "\n", "NG\r\n"},  // wrong password
      {"PASSWORD 736563726F74" + std::string(20, '0') + "\n", "NG\r\n"},
      {"password " + good + "\n", "NG\r\n"},
      {"PASSWORD  " + good + "\n", "NG\r\n"},
  };
  for (const auto& row : rows) {
    std::string got = login(2, row.line);
    EXPECT_EQ(got.substr(0, row.reply.size()), row.reply) << "line " << row.line;
  }
}

TEST_F(SimRecorderTest, Password_EmptyIs32ZerosAndLongOneIsNotPadded) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.5"));
  EXPECT_EQ(login(0, "PASSWORD " + std::string(32, '0') + "\n").substr(0, 3), "OK ");
  EXPECT_EQ(login(0, "PASSWORD \n"), "NG\r\n");
  rec_.reset();
  RecorderOptions o;
  o.password = "twenty-characters-pw";
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.5", o));
  EXPECT_EQ(login(1, "PASSWORD " + hex_of(o.password) + "\n").substr(0, 3), "OK ");
  EXPECT_EQ(login(1, "PASSWORD " + hex_of(o.password) + "00\n"), "NG\r\n");
}

TEST_F(SimRecorderTest, LinkId_OpensOneCommandConnectionOnItsOwnSlotOnly) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.6"));
  std::string link = link_id(1);
  ASSERT_FALSE(link.empty());

  Sock other = Sock::connect_to(address_, command_port(2));
  other.send_all("ID = " + link + "\n");
  EXPECT_EQ(other.recv_line(), "NG\r\n");
  EXPECT_TRUE(other.closed_silently(2000));

  Sock wrong_form = Sock::connect_to(address_, command_port(1));
  wrong_form.send_all("ID=" + link + "\n");
  EXPECT_EQ(wrong_form.recv_line(), "NG\r\n");

  Sock good = Sock::connect_to(address_, command_port(1));
  good.send_all("ID = " + link + "\n");
  EXPECT_EQ(good.recv_once(3000), "OK\r\n");

  Sock again = Sock::connect_to(address_, command_port(1));
  again.send_all("ID = " + link + "\n");
  EXPECT_EQ(again.recv_line(), "NG\r\n");

  EXPECT_EQ(ask(good, "ID00000001", "ControlPlay 01"), "ID00000001 OK 01\r\n");
  EXPECT_EQ(rec().command_connections(1), 1);
  EXPECT_EQ(rec().command_connections(2), 0);
  auto lines = rec().received_lines(1);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ID = " + link + "\n");
  EXPECT_EQ(lines.back(), "ID00000001 ControlPlay 01\n");
}

// ---- Commands ----

TEST_F(SimRecorderTest, Clock_GetTimeFormatAndSetTimeRunsOnFromTheSetValue) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.10"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  std::string r = ask(c, "ID0000000A", "GetTime");
  EXPECT_TRUE(std::regex_match(r, std::regex("ID0000000A OK \\d\\d/\\d\\d/\\d\\d "
                                             "\\d\\d:\\d\\d:\\d\\d\r\n")))
      << r;

  EXPECT_EQ(ask(c, "ID0000000B", "SetTime 04/12/03 10:05:00"), "ID0000000B OK\r\n");
  r = ask(c, "ID0000000C", "GetTime");
  EXPECT_TRUE(std::regex_match(r, std::regex("ID0000000C OK 04/12/03 10:05:0[0-2]\r\n"))) << r;

  EXPECT_EQ(ask(c, "ID0000000D", "SetTime 1999/02/28 23:59:58"), "ID0000000D OK\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  std::string t = rec().clock_text();
  EXPECT_TRUE(t == "99/03/01 00:00:00" || t == "99/03/01 00:00:01") << t;

  const char* bad[] = {"04/13/03 10:05:00", "04/02/30 10:05:00", "04/12/03 24:00:00",
                       "04-12-03 10:05:00", "4/12/03 10:05:00",  "2080/01/01 00:00:00",
                       "04/12/03 10:05",    "04/12/03 10:5:00"};
  ASSERT_TRUE(rec().set_clock("04/02/29", "12:00:00"));  // 2004 is a leap year
  for (const char* text : bad) {
    EXPECT_EQ(ask(c, "ID0000000E", std::string("SetTime ") + text), "ID0000000E NG\r\n") << text;
  }
  EXPECT_EQ(rec().clock_text().substr(0, 14), "04/02/29 12:00");
}

TEST_F(SimRecorderTest, Switches_SetStoresPerTableAndGetEchoesItemAndValue) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.11"));
  Sock c = open_commands(3);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ask(c, "ID00000010", "CamSwGet 000003"), "ID00000010 OK 000003 01\r\n");  // default
  EXPECT_EQ(ask(c, "ID00000011", "CamSwSet 03 00"), "ID00000011 OK 03 00\r\n");
  EXPECT_EQ(ask(c, "ID00000012", "CamSwGet 000003"), "ID00000012 OK 000003 00\r\n");
  EXPECT_EQ(ask(c, "ID00000013", "HDSwSet 03 5A"), "ID00000013 OK 03 5A\r\n");
  EXPECT_EQ(ask(c, "ID00000014", "HDSwGet 000003"), "ID00000014 OK 000003 5A\r\n");
  EXPECT_EQ(ask(c, "ID00000015", "JpegSwSet 03 1234"), "ID00000015 OK 03 1234\r\n");
  EXPECT_EQ(ask(c, "ID00000016", "JpegSwGet 000003"), "ID00000016 OK 000003 1234\r\n");
  EXPECT_EQ(ask(c, "ID00000017", "JpegSwGet 0000FE"), "ID00000017 OK 0000FE 0000\r\n");
  EXPECT_EQ(rec().switch_value(SwitchTable::kCamera, 3), 0x00u);
  EXPECT_EQ(rec().switch_value(SwitchTable::kDisk, 3), 0x5Au);
  EXPECT_EQ(rec().switch_value(SwitchTable::kJpeg, 3), 0x1234u);
  EXPECT_EQ(rec().switch_table(SwitchTable::kCamera).at(4), 0x01u);
}

TEST_F(SimRecorderTest, Combi_GetReturnsTheGroupWordsInTokensTwoToFive) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.12"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ask(c, "ID00000020", "CombiSwSet 0007 0001 0002 0003 0004"),
            "ID00000020 OK 00 0007\r\n");
  EXPECT_EQ(ask(c, "ID00000021", "CombiSwGet 07 0000 0000 0000 0000 0000"),
            "ID00000021 OK 0001 0002 0003 0004\r\n");
  // A group never set answers its defaults, which carry the group number.
  EXPECT_EQ(ask(c, "ID00000022", "CombiSwGet 08 0001 0002 0003 0004 0000"),
            "ID00000022 OK 1008 2008 3008 4008\r\n");
  EXPECT_EQ(rec().combi_words(7), (std::array<uint32_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(ask(c, "ID00000023", "CombiSwGet 07 0000 0000 0000 0000"), "ID00000023 NG\r\n");
}

TEST_F(SimRecorderTest, Playback_StatusControlSearchPointerAndDiskList) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.13"));
  Sock c = open_commands(5);
  ASSERT_TRUE(c.ok());
  ASSERT_TRUE(rec().set_clock("10/01/01", "00:00:00"));
  EXPECT_EQ(ask(c, "ID00000030", "SendStatus 02"), "ID00000030 OK 02 0032\r\n");
  EXPECT_EQ(ask(c, "ID00000031", "ControlPlay 03"), "ID00000031 OK 03\r\n");
  EXPECT_EQ(ask(c, "ID00000032", "SendStatus 01"), "ID00000032 OK 01 0003\r\n");
  rec().set_status_word(0x40, 0xABCD);
  EXPECT_EQ(ask(c, "ID00000033", "SendStatus 40"), "ID00000033 OK 40 ABCD\r\n");

  struct Row {
    const char* fields;
    const char* result;
  } rows[] = {
      {"2004 12 03 10 05 00 00", "00"},  // recorded
      {"2003 12 31 23 59 59 00", "01"},  // before the first recording
      {"2011 01 01 00 00 00 00", "01"},  // after the recorder clock
      {"2004 02 30 10 05 00 00", "02"},  // no such day
      {"2004 12 03 24 00 00 00", "02"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ask(c, "ID00000034", std::string("PlaySearch ") + row.fields),
              std::string("ID00000034 OK ") + row.result + "\r\n")
        << row.fields;
  }
  ask(c, "ID00000035", "PlaySearch 2004 12 03 10 05 00 07");
  PlayState p = rec().play_state();
  EXPECT_EQ(p.search, (std::array<int32_t, 7>{2004, 12, 3, 10, 5, 0, 7}));
  EXPECT_EQ(p.search_result, 0);
  EXPECT_EQ(p.control, 3u);

  EXPECT_EQ(ask(c, "ID00000036", "SetPlayPointer 12345678 0000ABCD"), "ID00000036 OK 12345678\r\n");
  EXPECT_EQ(ask(c, "ID00000037", "ReadHddList 0000001E 00000010"), "ID00000037 OK 00000002\r\n");
  EXPECT_EQ(ask(c, "ID00000038", "ReadHddList 00000000 00000004"), "ID00000038 OK 00000004\r\n");
  p = rec().play_state();
  EXPECT_EQ(p.pointer, (std::array<uint32_t, 2>{0x12345678, 0xABCD}));
  EXPECT_EQ(p.hdd_list, (std::array<uint32_t, 2>{0, 4}));
}

TEST_F(SimRecorderTest, Stores_SetThenGetPerFamily) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.14"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ask(c, "ID00000040", "MemGet 010020 000001"), "ID00000040 OK 010020 0000\r\n");
  EXPECT_EQ(ask(c, "ID00000041", "MemSet 01 0020 0034"), "ID00000041 OK 01 0034\r\n");
  EXPECT_EQ(ask(c, "ID00000042", "MemGet 010020 000001"), "ID00000042 OK 010020 0034\r\n");
  EXPECT_EQ(ask(c, "ID00000043", "I2cSet 0050 0002 00AB"), "ID00000043 OK 0050 00AB\r\n");
  EXPECT_EQ(ask(c, "ID00000044", "I2cGet 000050 0002"), "ID00000044 OK 000050 00AB\r\n");
  EXPECT_EQ(ask(c, "ID00000045", "I2cGet 000050 0003"), "ID00000045 OK 000050 0000\r\n");
  EXPECT_EQ(ask(c, "ID00000046", "NvcSet 0001 0002 0003 BEEF"), "ID00000046 OK 0001 BEEF\r\n");
  EXPECT_EQ(ask(c, "ID00000047", "NvcGet 0001 0002 0003"), "ID00000047 OK 0001 BEEF\r\n");
  EXPECT_EQ(rec().store_value(Store::kMemory, 0x010020), 0x34u);
  EXPECT_EQ(rec().store_value(Store::kI2c, 0x50, 2), 0xABu);
  EXPECT_EQ(rec().store_value(Store::kNvc, 1, 2, 3), 0xBEEFu);
  EXPECT_FALSE(rec().store_value(Store::kNvc, 1, 2, 4).has_value());
  rec().set_store_value(Store::kNvc, 1, 2, 4, 0x77);
  EXPECT_EQ(ask(c, "ID00000048", "NvcGet 0001 0002 0004"), "ID00000048 OK 0001 0077\r\n");
}

TEST_F(SimRecorderTest, Lines_ParsedExactlyAndMalformedOnesGetNg) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.15"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  const std::string ng = "ID0000ABCD NG\r\n";
  struct Row {
    std::string line;
    std::string reply;
  } rows[] = {
      {"ID0000ABCD CamSwGet 12\n", ng},        // six digits wanted
      {"ID0000ABCD CamSwGet 00000a\n", ng},    // lower case
      {"ID0000ABCD CamSwGet 0000012\n", ng},   // zero beyond the width
      {"ID0000ABCD CamSwSet 01\n", ng},        // field missing
      {"ID0000ABCD CamSwSet 01 00 00\n", ng},  // field too many
      {"ID0000ABCD CamSwSet 01  00\n", ng},    // two blanks
      {"ID0000ABCD GetTime \n", ng},           // blank before the newline
      {"ID0000ABCD ReBoot\n", ng},             // ReBoot needs its blank
      {"ID0000ABCD GetTime\r\n", ng},          // carriage return
      {"ID0000ABCD Gettime\n", ng},            // unknown word
      {"ID0000ABCD PlaySearch 2004 12 3 10 05 00 00\n", ng},
      {"ID0000ABCD PlaySearch 2004 0C 03 10 05 00 00\n", ng},  // decimal fields
      {"ID0000ABCD SetPlayPointer 1234567 00000000\n", ng},
      {"ID0000ABCD SendUpdate 01 00000000\n", ng},  // nothing to upload
      {"ID0000abcd GetTime\n", "NG\r\n"},           // not a command ID
      {"ID000ABCD GetTime\n", "NG\r\n"},
      {"\n", "NG\r\n"},
      // A value wider than its field is written in full, without leading zeros.
      {"ID0000ABCD MemSet 100 0020 0034\n", "ID0000ABCD OK 100 0034\r\n"},
      {"ID0000ABCD PlaySearch 2004 -1 03 10 05 00 00\n", "ID0000ABCD OK 02\r\n"},
      {"ID0000ABCD SetPlayPointer FFFFFFFF 00000000\n", "ID0000ABCD OK FFFFFFFF\r\n"},
  };
  for (const auto& row : rows) {
    c.send_all(row.line);
    EXPECT_EQ(c.recv_line(), row.reply) << "line " << row.line;
  }
  EXPECT_EQ(rec().play_state().pointer[0], 0xFFFFFFFFu);
  EXPECT_EQ(rec().reboot_count(), 0);

  // A line longer than any command gets one NG, and the connection goes on.
  c.send_all("ID0000ABCD " + std::string(5000, 'X') + "\n");
  EXPECT_EQ(c.recv_line(), ng);
  EXPECT_EQ(ask(c, "ID0000ABCE", "ControlPlay 02"), "ID0000ABCE OK 02\r\n");
}

// ---- Blocks and uploads ----

TEST_F(SimRecorderTest, Menu_SizeThenBlockAfterDummy) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.20"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  std::string menu = Recorder::menu_block(2);
  ASSERT_FALSE(menu.empty());
  EXPECT_EQ(ask(c, "ID00000050", "SendMenu 02"),
            "ID00000050 OK " + upper_hex(menu.size()) + "\r\n");
  c.send_all("dummy\n");
  EXPECT_EQ(c.recv_bytes(menu.size()), menu);
  EXPECT_NE(Recorder::menu_block(3), menu);

  // A menu the recorder does not know: size 0 and nothing after the dummy line.
  EXPECT_EQ(ask(c, "ID00000051", "SendMenu 20"), "ID00000051 OK 0\r\n");
  c.send_all("dummy\n");
  EXPECT_EQ(c.recv_once(300), "");
  EXPECT_EQ(ask(c, "ID00000052", "ControlPlay 00"), "ID00000052 OK 00\r\n");
}

TEST_F(SimRecorderTest, PlayList_BlockAfterTriggerAndDroppedByAnyOtherLine) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.21"));
  Sock c = open_commands(4);
  ASSERT_TRUE(c.ok());
  std::string list = Recorder::play_list_block(1);
  EXPECT_EQ(ask(c, "ID00000060", "GetPlayList 01"),
            "ID00000060 OK " + upper_hex(list.size()) + "\r\n");
  c.send_all("JpegSendStart\n");
  EXPECT_EQ(c.recv_bytes(list.size()), list);

  EXPECT_EQ(ask(c, "ID00000061", "GetPlayList 10"), "ID00000061 OK 0\r\n");
  EXPECT_NE(Recorder::play_list_block(15), Recorder::play_list_block(14));

  // The client may give up on a list; the next command is answered, the list never comes.
  ask(c, "ID00000062", "GetPlayList 00");
  EXPECT_EQ(ask(c, "ID00000063", "ControlPlay 01"), "ID00000063 OK 01\r\n");
  c.send_all("JpegSendStart\n");
  EXPECT_EQ(c.recv_once(300), "");
}

TEST_F(SimRecorderTest, Update_RawBytesAfterTheReplyThenLinesAgain) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.22"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  // 1000 bytes of content with newlines, blanks and zeros, and the zero byte behind them.
  std::string data;
  for (int i = 0; i < 1000; ++i) data.push_back(static_cast<char>((i * 7) % 256));
  data.replace(100, 20, "ID00000099 GetTime\n\n");
  data.push_back('\0');
  EXPECT_EQ(ask(c, "ID00000070", "SendUpdate 01 000003E9"), "ID00000070 OK 01 000003E9\r\n");
  c.send_all(std::string_view(data).substr(0, 300));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  c.send_all(std::string_view(data).substr(300));
  EXPECT_EQ(ask(c, "ID00000071", "ControlPlay 04"), "ID00000071 OK 04\r\n");

  UpdateUpload u;
  ASSERT_TRUE(rec().wait_for_update(3000, &u));
  EXPECT_TRUE(u.complete());
  EXPECT_TRUE(u.ends_with_zero());
  EXPECT_EQ(u.kind, 1u);
  EXPECT_EQ(u.announced, 1001u);
  EXPECT_EQ(std::string(u.data.begin(), u.data.end()), data);
  auto lines = rec().received_lines(0);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "ID00000070 SendUpdate 01 000003E9\n");
  EXPECT_EQ(lines.back(), "ID00000071 ControlPlay 04\n");
}

TEST_F(SimRecorderTest, Update_CutShortByTheClientIsKeptAsIncomplete) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.23"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(ask(c, "ID00000080", "SendUpdate 02 00000064"), "ID00000080 OK 02 00000064\r\n");
  c.send_all("0123456789");
  c = Sock();
  UpdateUpload u;
  ASSERT_TRUE(rec().wait_for_update(3000, &u));
  EXPECT_FALSE(u.complete());
  EXPECT_EQ(u.announced, 100u);
  EXPECT_EQ(std::string(u.data.begin(), u.data.end()), "0123456789");
  EXPECT_EQ(u.serial, 1);
}

// ---- Reboot ----

TEST_F(SimRecorderTest, ReBoot_ReplyThenAllSlotsDroppedAndLoginsClosedForAWhile) {
  RecorderOptions o;
  o.reboot_ms = 500;
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.30", o));
  Sock a = open_commands(0);
  Sock b = open_commands(3);
  ASSERT_TRUE(a.ok() && b.ok());
  std::string unused_link = link_id(3);
  ASSERT_FALSE(unused_link.empty());

  a.send_all("ID000000A0 ReBoot \n");
  EXPECT_EQ(a.recv_once(3000), "ID000000A0 OK 00\r\n");
  // The reboot has taken effect by the time its reply arrives.
  EXPECT_EQ(rec().reboot_count(), 1);
  EXPECT_TRUE(a.closed_silently(2000));
  EXPECT_TRUE(b.closed_silently(2000));
  EXPECT_EQ(rec().reboot_count(), 1);
  EXPECT_TRUE(rec().rebooting());

  Sock during = connect_login(0);
  EXPECT_TRUE(during.closed_silently(2000));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_FALSE(rec().rebooting());
  EXPECT_EQ(rec().command_connections(0), 0);
  EXPECT_EQ(rec().command_connections(3), 0);

  // A link handed out before the reboot is gone; a new login works.
  Sock old = Sock::connect_to(address_, command_port(3));
  old.send_all("ID = " + unused_link + "\n");
  EXPECT_EQ(old.recv_line(), "NG\r\n");
  Sock again = open_commands(3);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(ask(again, "ID000000A1", "ControlPlay 00"), "ID000000A1 OK 00\r\n");
}

// ---- Faults ----

TEST_F(SimRecorderTest, Fault_BusyGreetingThenNormalLogin) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.40"));
  rec().inject(FaultEntry(FaultKind::kBusy));
  Sock s = connect_login(0);
  std::string g = s.recv_line();
  auto t = tokens(g);
  ASSERT_EQ(t.size(), 8u) << g;
  EXPECT_EQ(t[0], "Busy");
  EXPECT_TRUE(s.closed_silently(2000));
  EXPECT_EQ(rec().pending_faults(), 0);
  EXPECT_FALSE(link_id(0).empty());
}

TEST_F(SimRecorderTest, Fault_HoldGreetingSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.41"));
  rec().inject(FaultEntry(FaultKind::kHoldGreeting).delay(300));
  Sock s = connect_login(0);
  auto t0 = Clock::now();
  EXPECT_TRUE(s.closed_silently(3000));
  EXPECT_GE(ms_since(t0), 250);

  rec().inject(FaultEntry(FaultKind::kHoldGreeting));  // until the client gives up
  Sock held = connect_login(0);
  EXPECT_EQ(held.recv_once(400), "");
  held = Sock();
  EXPECT_FALSE(link_id(0).empty());
}

TEST_F(SimRecorderTest, Fault_RefusedPasswordAndLinkLeaveTheNextTryWorking) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.42"));
  rec().inject(FaultEntry(FaultKind::kRefusePassword));
  EXPECT_EQ(login(0, password_line("")), "NG\r\n");
  std::string link = link_id(0);
  ASSERT_FALSE(link.empty());

  rec().inject(FaultEntry(FaultKind::kRefuseLink));
  Sock c = Sock::connect_to(address_, command_port(0));
  c.send_all("ID = " + link + "\n");
  EXPECT_EQ(c.recv_line(), "NG\r\n");
  EXPECT_TRUE(c.closed_silently(2000));
  // The refused link was not used up.
  Sock d = Sock::connect_to(address_, command_port(0));
  d.send_all("ID = " + link + "\n");
  EXPECT_EQ(d.recv_line(), "OK\r\n");
}

TEST_F(SimRecorderTest, Fault_ForeignIdNgAndNoReplyOnTheNamedCommandOnly) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.43"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  rec().inject(FaultEntry(FaultKind::kForeignId).on("ControlPlay"));
  EXPECT_EQ(ask(c, "ID000000B1", "SendStatus 03"), "ID000000B1 OK 03 0000\r\n");
  auto t = tokens(ask(c, "ID000000B2", "ControlPlay 05"));
  ASSERT_EQ(t.size(), 3u);
  EXPECT_NE(t[0], "ID000000B2");
  EXPECT_TRUE(std::regex_match(t[0], std::regex("ID[0-9A-F]{8}")));
  EXPECT_EQ(t[1], "OK");
  EXPECT_EQ(rec().play_state().control, 5u);  // carried out all the same

  // NG refuses the command: nothing changes.
  rec().inject(FaultEntry(FaultKind::kNg).on("CamSwSet"));
  EXPECT_EQ(ask(c, "ID000000B3", "CamSwSet 01 00"), "ID000000B3 NG\r\n");
  EXPECT_EQ(rec().switch_value(SwitchTable::kCamera, 1), 1u);
  EXPECT_EQ(ask(c, "ID000000B4", "CamSwSet 01 00"), "ID000000B4 OK 01 00\r\n");

  // No reply: nothing comes, the command is carried out, the next one is answered.
  rec().inject(FaultEntry(FaultKind::kNoReply));
  c.send_all("ID000000B5 ControlPlay 06\n");
  EXPECT_EQ(c.recv_once(300), "");
  EXPECT_EQ(rec().play_state().control, 6u);
  EXPECT_EQ(ask(c, "ID000000B6", "ControlPlay 07"), "ID000000B6 OK 07\r\n");
}

TEST_F(SimRecorderTest, Fault_DelaySplitTrickleAndCloseShapeTheSending) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.44"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  const std::string reply = "ID000000C0 OK 02 0032\r\n";

  rec().inject(FaultEntry(FaultKind::kDelay).delay(300));
  auto t0 = Clock::now();
  EXPECT_EQ(ask(c, "ID000000C0", "SendStatus 02"), reply);
  EXPECT_GE(ms_since(t0), 280);

  rec().inject(FaultEntry(FaultKind::kSplit).param(5).delay(300));
  c.send_all("ID000000C0 SendStatus 02\n");
  EXPECT_EQ(c.recv_once(3000), reply.substr(0, 5));
  EXPECT_EQ(c.recv_once(100), "");  // the gap
  EXPECT_EQ(c.recv_line(), reply.substr(5));

  rec().inject(FaultEntry(FaultKind::kTrickle).delay(10));
  c.send_all("ID000000C0 SendStatus 02\n");
  EXPECT_EQ(c.recv_once(3000), reply.substr(0, 1));
  EXPECT_EQ(c.recv_line(), reply.substr(1));

  rec().inject(FaultEntry(FaultKind::kCloseAfter).param(7));
  c.send_all("ID000000C0 SendStatus 02\n");
  EXPECT_EQ(c.recv_bytes(100), reply.substr(0, 7));
  EXPECT_TRUE(c.closed_silently(2000));
}

TEST_F(SimRecorderTest, Fault_OversizedAndRawReplies) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.45"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  rec().inject(FaultEntry(FaultKind::kTooManyTokens));
  auto t = tokens(ask(c, "ID000000D0", "SendStatus 02"));
  ASSERT_EQ(t.size(), 24u);
  EXPECT_EQ(t[0], "ID000000D0");
  EXPECT_EQ(t[3], "0032");

  rec().inject(FaultEntry(FaultKind::kLongToken).param(256));
  t = tokens(ask(c, "ID000000D1", "SendStatus 02"));
  ASSERT_EQ(t.size(), 5u);
  EXPECT_EQ(t[4], std::string(256, 'A'));

  rec().inject(FaultEntry(FaultKind::kRaw).text("{id} OK 1F 0A\r\n{id}"));
  // Raw text goes out byte for byte in one send, every "{id}" replaced.
  c.send_all("ID000000D2 SendStatus 02\n");
  EXPECT_EQ(c.recv_once(3000), "ID000000D2 OK 1F 0A\r\nID000000D2");
  rec().inject(FaultEntry(FaultKind::kRaw).text("\r\n"));
  EXPECT_EQ(ask(c, "ID000000D3", "SendStatus 02"), "\r\n");
}

TEST_F(SimRecorderTest, Fault_CountSlotAndPersistence) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.46"));
  Sock s0 = open_commands(0);
  Sock s1 = open_commands(1);
  ASSERT_TRUE(s0.ok() && s1.ok());
  rec().inject(FaultEntry(FaultKind::kNg).on("ControlPlay").count(2).slot(1));
  EXPECT_EQ(ask(s0, "ID000000E0", "ControlPlay 01"), "ID000000E0 OK 01\r\n");
  EXPECT_EQ(ask(s1, "ID000000E1", "ControlPlay 01"), "ID000000E1 NG\r\n");
  EXPECT_EQ(ask(s1, "ID000000E2", "ControlPlay 01"), "ID000000E2 NG\r\n");
  EXPECT_EQ(ask(s1, "ID000000E3", "ControlPlay 01"), "ID000000E3 OK 01\r\n");
  EXPECT_EQ(rec().pending_faults(), 0);

  rec().inject(FaultEntry(FaultKind::kNg).count(0));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ask(s0, "ID000000E4", "SendStatus 00"), "ID000000E4 NG\r\n") << i;
  }
  EXPECT_EQ(rec().pending_faults(), 1);
  rec().clear_faults();
  EXPECT_EQ(ask(s0, "ID000000E5", "SendStatus 00"), "ID000000E5 OK 00 0001\r\n");
}

TEST_F(SimRecorderTest, Fault_OnTheBlockCutsTheMenuShort) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.47"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  rec().inject(FaultEntry(FaultKind::kCloseAfter).on(kStageBlock).param(10));
  std::string menu = Recorder::menu_block(1);
  auto t = tokens(ask(c, "ID000000F0", "SendMenu 01"));  // the reply is not affected
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1], "OK");
  c.send_all("dummy\n");
  EXPECT_EQ(c.recv_bytes(menu.size()), menu.substr(0, 10));
  EXPECT_TRUE(c.closed_silently(2000));
}

// ---- Life cycle ----

TEST_F(SimRecorderTest, Start_FailsOnATakenAddressOrABadOne) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.50"));
  RecorderOptions o;
  o.address = "127.0.1.50";
  Recorder second(o);
  std::string error;
  EXPECT_FALSE(second.start(&error));
  EXPECT_NE(error.find("5001"), std::string::npos) << error;
  EXPECT_FALSE(second.running());
  o.address = "127.0.1.500";
  Recorder bad(o);
  EXPECT_FALSE(bad.start(&error));
  // The first one still serves.
  EXPECT_FALSE(link_id(0).empty());
}

TEST_F(SimRecorderTest, Stop_ClosesOpenConnectionsIsIdempotentAndRestarts) {
  ASSERT_NO_FATAL_FAILURE(start("127.0.1.51"));
  Sock c = open_commands(0);
  ASSERT_TRUE(c.ok());
  Sock waiting = connect_login(1);
  ASSERT_TRUE(waiting.ok());
  ASSERT_FALSE(waiting.recv_line().empty());
  rec().stop();
  EXPECT_FALSE(rec().running());
  EXPECT_TRUE(c.closed_silently(2000));
  EXPECT_TRUE(waiting.closed_silently(2000));
  rec().stop();
  EXPECT_FALSE(connect_login(0).ok());

  std::string error;
  ASSERT_TRUE(rec().start(&error)) << error;
  Sock again = open_commands(0);
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(ask(again, "ID00000100", "ControlPlay 00"), "ID00000100 OK 00\r\n");
}

}  // namespace
}  // namespace virazav::sim
