// The command lines "virazav" refuses before it speaks to a recorder: numbers too wide for
// their field on the recorder's line, malformed addresses and slots, and words that would
// split the line. Each is a usage error (exit 2) and sends nothing; the largest value a
// field holds still goes out as the recorder expects it.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

class CommandLineTest : public RecorderTest {
 protected:
  // Runs the program against this test's recorder.
  CliResult run(std::vector<std::string> args) {
    args.insert(args.begin(), {"--address", address_});
    return run_program(args);
  }

  // The lines the program sent after the login (the login lines come first).
  std::string command_lines() {
    std::string all;
    for (const std::string& line : rec().received_lines(0)) all += line;
    return all;
  }

  TempCwd cwd_;
};

struct Refused {
  std::vector<std::string> args;
  std::string named;  // what the message must name
};

TEST_F(CommandLineTest, ValuesTooWideForTheirField_AreUsageErrorsAndSendNothing) {
  const std::vector<Refused> cases = {
      {{"status", "0x100"}, "ITEM must be a number 0..0xFF"},
      {{"status", "256"}, "ITEM must be a number 0..0xFF"},
      {{"menu", "999"}, "N must be a number 0..0xFF"},
      {{"playlist", "0x1FF"}, "N must be a number 0..0xFF"},
      {{"play", "control", "300"}, "N must be a number 0..0xFF"},
      {{"play", "search", "2024", "13", "1", "10", "0", "0"}, "MM must be a number 0..12"},
      {{"play", "search", "10000", "1", "1", "10", "0", "0"}, "YYYY must be"},
      {{"play", "search", "2024", "5", "1", "24", "0", "0"}, "hh must be"},
      {{"switch", "cam", "get", "0x1000000"}, "ITEM must be a number 0..0xFFFFFF"},
      {{"switch", "cam", "get", "-1"}, "ITEM must be"},
      {{"switch", "hd", "set", "0x100", "1"}, "A must be a number 0..0xFF"},
      {{"switch", "cam", "set", "1", "0x100"}, "B must be a number 0..0xFF"},
      {{"switch", "jpeg", "set", "1", "0x10000"}, "B must be a number 0..0xFFFF"},
      {{"combi", "set", "1", "2", "3", "4", "0x10000"}, "W5 must be a number 0..0xFFFF"},
      {{"combi", "get", "0x100", "0", "0", "0", "0"}, "P1 must be a number 0..0xFF"},
      {{"mem", "get", "0x1000000", "0"}, "A must be a number 0..0xFFFFFF"},
      {{"mem", "set", "0x100", "0", "0"}, "A must be a number 0..0xFF"},
      {{"mem", "set", "1", "0x10000", "0"}, "B must be a number 0..0xFFFF"},
      {{"i2c", "get", "1", "0x10000"}, "B must be a number 0..0xFFFF"},
      {{"i2c", "set", "0x10000", "0", "0"}, "A must be a number 0..0xFFFF"},
      {{"nvc", "set", "1", "2", "3", "0x10000"}, "D must be a number 0..0xFFFF"},
      {{"update", "x.bin", "--kind", "0x100"}, "--kind needs a number 0..0xFF"},
      {{"time", "set", "24/05/01", "10:00 00"}, "single words"},
      {{"time", "set", "", "10:00:00"}, "single words"},
  };
  for (const Refused& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const CliResult r = run(c.args);
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("Try 'virazav " + c.args[0] + " --help'"), std::string::npos) << line;
  }
  EXPECT_EQ(command_lines(), "") << "a refused command line reached the recorder";
}

TEST_F(CommandLineTest, LargestValueOfAField_GoesOutInTheFieldsWidth) {
  struct Sent {
    std::vector<std::string> args;
    std::string wire;  // the command line's text after the ID
  };
  const std::vector<Sent> cases = {
      {{"status", "0xFF"}, " SendStatus FF\n"},
      {{"switch", "cam", "get", "0xFFFFFF"}, " CamSwGet FFFFFF\n"},
      {{"switch", "jpeg", "set", "0xFF", "0xFFFF"}, " JpegSwSet FF FFFF\n"},
      {{"mem", "set", "255", "65535", "0"}, " MemSet FF FFFF 0000\n"},
      {{"play", "search", "2024", "12", "31", "23", "59", "59"}, " PlaySearch 2024 12 31 23 59 59"},
  };
  for (const Sent& c : cases) {
    rec().clear_received_lines();
    const CliResult r = run(c.args);
    EXPECT_EQ(r.status, 0) << c.args[0] << "\n" << r.err;
    EXPECT_NE(command_lines().find(c.wire), std::string::npos) << c.args[0] << " sent:\n"
                                                               << command_lines();
  }
}

TEST_F(CommandLineTest, MalformedAddressSlotAndGroup_AreUsageErrors) {
  const std::vector<Refused> cases = {
      {{"--address", "127.0.0", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "127.0.0.256", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "127.0.0.1.5", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "-bad.host", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "bad_host", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "host-.lan", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "127.0.0.01", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--address", "", "connect"}, "--address needs a dotted IPv4 address"},
      {{"--slot", "16", "connect"}, "--slot needs a slot number 0..15"},
      {{"--slot", "-1", "connect"}, "--slot needs a slot number 0..15"},
      {{"--slot", "two", "connect"}, "--slot needs a slot number 0..15"},
      {{"live", "--group", "192.168.0.1", "--for", "1"}, "--group needs a multicast address"},
      {{"live", "--group", "239.1.1", "--for", "1"}, "--group needs a multicast address"},
      {{"disk", "read", "img", "--at", "0x80000000"}, "--at needs a time"},
      {{"disk", "read", "img", "--at", "2070-01-01 00:00:00"}, "--at needs a time"},
  };
  for (const Refused& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const CliResult r = run_program(c.args);
    EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.named), std::string::npos) << line << "\n" << r.err;
  }
  // The edges of the ranges still connect.
  const CliResult last_slot = run({"--slot", "15", "connect"});
  EXPECT_EQ(last_slot.status, 0) << last_slot.err;
  EXPECT_NE(last_slot.out.find("login port 5031"), std::string::npos) << last_slot.out;
}

TEST_F(CommandLineTest, PlaySearch_TakesAnIsoTimeAndSaysWhetherItWasFound) {
  // The simulated recorder finds any time from 2004-01-01 up to its clock.
  CliResult found = run({"play", "search", "2024-05-01T10:00:30"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_EQ(found.out, "search 2024-05-01T10:00:30: found; the recorder's playback is there\n");
  EXPECT_NE(command_lines().find(" PlaySearch 2024 05 01 10 00 30 00\n"), std::string::npos)
      << command_lines();

  const CliResult missing = run({"play", "search", "2003-12-31 23:59:59"});
  EXPECT_EQ(missing.status, 4) << missing.err;
  EXPECT_EQ(missing.out, "search 2003-12-31T23:59:59: not found (recorder reports 1 (0x01))\n");

  // The six fields as the recorder takes them still do.
  rec().clear_received_lines();
  found = run({"play", "search", "2024", "5", "1", "10", "0", "59"});
  EXPECT_EQ(found.status, 0) << found.err;
  EXPECT_NE(command_lines().find(" PlaySearch 2024 05 01 10 00 59 00\n"), std::string::npos)
      << command_lines();

  rec().clear_received_lines();
  for (const char* bad : {"2024-05-01T10:00", "2024-05-01T24:00:00", "2024-02-30X10:00:00"}) {
    const CliResult r = run({"play", "search", bad});
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("search needs a time YYYY-MM-DDThh:mm:ss"), std::string::npos) << r.err;
  }
  EXPECT_EQ(command_lines(), "") << "a refused search reached the recorder";
}

TEST_F(CommandLineTest, TheClock_IsSetFromAndShownAsAnIsoTime) {
  const CliResult set = run({"time", "set", "2024-02-29T10:20:30"});
  ASSERT_EQ(set.status, 0) << set.err;
  EXPECT_NE(command_lines().find(" SetTime 24/02/29 10:20:30\n"), std::string::npos)
      << command_lines();
  const CliResult get = run({"time", "get"});
  ASSERT_EQ(get.status, 0) << get.err;
  // The clock runs on from the value set.
  EXPECT_TRUE(std::regex_match(get.out, std::regex("recorder clock: 2024-02-29T10:2[01]:\\d\\d\n")))
      << get.out;

  // The short form holds years 2000..2079 only.
  rec().clear_received_lines();
  for (const char* bad : {"2080-01-01T00:00:00", "1999-12-31T23:59:59", "2024-02-29T10:20"}) {
    const CliResult r = run({"time", "set", bad});
    EXPECT_EQ(r.status, 2) << bad;
  }
  EXPECT_EQ(command_lines(), "") << "a refused clock reached the recorder";
}

}  // namespace
}  // namespace virazav::testing
