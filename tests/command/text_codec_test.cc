// Reply tokenizing, hexadecimal conversions and address parsing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "command/connection.h"
#include "command/tcpetc.h"

namespace virazav::command {
namespace {

TEST(SplitTokens, ReplyWithIdOkAndTwoValues_GivesFourTokensReadAsHex) {
  TokenTable t;
  split_tokens("ID0001A2F3 OK 1F 0A\n", kDelimCommand, &t);
  ASSERT_EQ(t.count, 4);
  EXPECT_STREQ(t.token[0], "ID0001A2F3");
  EXPECT_EQ(hex_to_value(t.token[2]), 31u);
  EXPECT_EQ(hex_to_value(t.token[3]), 10u);
}

TEST(SplitTokens, RunsOfDelimitersCountAsOneAndLeadingOnesAreSkipped) {
  TokenTable t;
  split_tokens(" ,\t a,,b::c//d\r\n", kDelimCommand, &t);
  ASSERT_EQ(t.count, 4);
  EXPECT_STREQ(t.token[3], "d");
}

TEST(SplitTokens, TimeDelimitersKeepSlashAndColonInsideTokens) {
  TokenTable t;
  split_tokens("ID1 OK 04/12/03 13:45:10\r\n", kDelimTime, &t);
  ASSERT_EQ(t.count, 4);
  EXPECT_STREQ(t.token[2], "04/12/03");
  EXPECT_STREQ(t.token[3], "13:45:10");
}

TEST(SplitTokens, EmptyReplyLeavesEarlierTokensInPlace) {
  TokenTable t;
  split_tokens("ID1 OK 5 7", kDelimCommand, &t);
  t.count = 0;
  split_tokens("\r\n", kDelimCommand, &t);
  EXPECT_EQ(t.count, 0);
  EXPECT_STREQ(t.token[3], "7");
}

TEST(SplitTokens, MoreThanTwentyTokensKeepsTheFirstTwenty) {
  std::string text;
  for (int i = 0; i < 30; ++i) text += "t" + std::to_string(i) + " ";
  TokenTable t;
  split_tokens(text.c_str(), kDelimCommand, &t);
  EXPECT_EQ(t.count, kMaxTokens);
  EXPECT_STREQ(t.token[19], "t19");
}

TEST(SplitTokens, TokenLongerThan255IsCutTo255) {
  std::string text = "ID1 OK " + std::string(400, 'A') + " 12";
  TokenTable t;
  split_tokens(text.c_str(), kDelimCommand, &t);
  ASSERT_EQ(t.count, 4);
  EXPECT_EQ(std::strlen(t.token[2]), 255u);
  EXPECT_STREQ(t.token[3], "12");
}

TEST(SplitTokens, AppendingRunsOnFromTheCurrentCount) {
  TokenTable t;
  split_tokens("a b c d e f g h", kDelimLogin, &t);
  split_tokens("OK 138A ID12345678\r\n", kDelimLogin, &t);
  ASSERT_EQ(t.count, 11);
  EXPECT_STREQ(t.token[8], "OK");
  EXPECT_EQ(hex_to_value(t.token[9]), 5002u);
  EXPECT_STREQ(t.token[10], "ID12345678");
}

TEST(HexToValue, ReadsLettersAndDigitsAsOneRun) {
  const char* end = nullptr;
  const char* text = "  0x1A;rest";
  EXPECT_EQ(hex_to_value(text, &end), 33u * 256 + 1 * 16 + 10);
  EXPECT_EQ(end, text + 6);
  EXPECT_EQ(hex_to_value("ff"), 255u);
  EXPECT_EQ(hex_to_value("FF"), 255u);
  EXPECT_EQ(hex_to_value("--"), 0u);
  EXPECT_EQ(hex_to_value(nullptr), 0u);
  EXPECT_EQ(hex_to_value("123456789"), 0x23456789u);  // overflow wraps
}

TEST(EncodeHexText, ShortTextIsPaddedWithZerosTo32Digits) {
  char out[200];
  EXPECT_EQ(encode_hex_text("ab", out), 4);
  EXPECT_STREQ(out,
               "6162"
               "0000000000000000000000000000");
  std::string twenty(20, 'z');
  EXPECT_EQ(encode_hex_text(twenty.c_str(), out), 40);
  EXPECT_EQ(std::strlen(out), 40u);
  EXPECT_EQ(std::string(out).find('0'), std::string::npos);
}

TEST(EncodeHexText, EmptyOrNullTextIsRefusedAndLeavesOutputAlone) {
  char out[40] = "keep";
  EXPECT_EQ(encode_hex_text("", out), -1);
  EXPECT_EQ(encode_hex_text(nullptr, out), -1);
  EXPECT_STREQ(out, "keep");
}

TEST(DecodeHexText, PairsBecomeBytesAndTheTextIsTerminated) {
  uint8_t out[16];
  EXPECT_EQ(decode_hex_text("414243", out, sizeof out), 3);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "ABC");
}

TEST(DecodeHexText, BadCharactersAndOddLengthsGiveMinusTwo) {
  uint8_t out[16] = {};
  EXPECT_EQ(decode_hex_text("41zz", out, sizeof out), -2);
  EXPECT_EQ(out[0], 0x41);
  EXPECT_EQ(decode_hex_text("414", out, sizeof out), -2);
  EXPECT_EQ(decode_hex_text("4a", out, sizeof out), -2);  // lower case is not a digit here
  EXPECT_EQ(decode_hex_text("", out, sizeof out), -1);
  EXPECT_EQ(decode_hex_text("41", nullptr, 4), -1);
}

TEST(DecodeHexText, LongTextIsCutToTheOutputSize) {
  std::string hex;
  for (int i = 0; i < 127; ++i) hex += "41";
  hex += "42";  // 128 bytes of text: only 127 fit before the terminator
  uint8_t out[128];
  EXPECT_EQ(decode_hex_text(hex.c_str(), out, sizeof out), 127);
  EXPECT_EQ(out[126], 'A');
  EXPECT_EQ(out[127], 0);
}

TEST(ParseDottedAddress, AcceptsDottedQuadsInMemoryByteOrder) {
  EXPECT_EQ(parse_dotted_address("192.168.0.1"), 0x0100A8C0u);
  EXPECT_EQ(parse_dotted_address("10.1"), 0x0000010Au);       // missing parts are 0
  EXPECT_EQ(parse_dotted_address("1.2.3.4.5"), 0x04030201u);  // the fourth dot ends the walk
}

TEST(ParseDottedAddress, RefusesWhatIsNotAnAddress) {
  for (const char* bad :
       {"192.168.0.256", "1.2.3.4x", "1234.1.1.1", "", "host.example", "255.255.255.255"}) {
    EXPECT_EQ(parse_address(bad), 0xFFFFFFFFu) << bad;
  }
  EXPECT_EQ(parse_address(nullptr), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace virazav::command
