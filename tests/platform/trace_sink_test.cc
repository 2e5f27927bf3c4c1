// The trace sink: the lines an operation traces reach the application's handler
// exactly, whole even when traced in pieces, never mixed between threads, and
// go back to standard output when the handler is removed.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "platform/platform.h"
#include "support/recorder_fixture.h"
#include "virazav.h"

namespace virazav::platform {
namespace {

struct Lines {
  std::mutex mu;
  std::vector<std::string> lines;
  static void collect(const char* line, void* user) {
    auto* self = static_cast<Lines*>(user);
    std::lock_guard<std::mutex> lock(self->mu);
    self->lines.push_back(line);
  }
};

class TraceSinkTest : public ::testing::Test {
 protected:
  void TearDown() override { virazav_set_trace_handler(nullptr, nullptr); }
  Lines got_;
};

TEST_F(TraceSinkTest, BitmapWriterLine_ReachesTheHandlerExactly_AndNullRestoresStandardOutput) {
  testing::TempCwd cwd;
  const int w = 4, h = 11;
  std::vector<uint8_t> picture(w * h * 3, 0x40);
  ASSERT_EQ(virazav_set_trace_handler(Lines::collect, &got_), 0);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(decoder::write_frame_bmp("a.bmp", picture.data(), w, h), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "") << "nothing on standard output";
  EXPECT_EQ(got_.lines, std::vector<std::string>{"width=4 height=3\n"});

  ASSERT_EQ(virazav_set_trace_handler(nullptr, nullptr), 0);
  ::testing::internal::CaptureStdout();
  ASSERT_EQ(decoder::write_frame_bmp("b.bmp", picture.data(), w, h), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "width=4 height=3\n");
  EXPECT_EQ(got_.lines.size(), 1u) << "the removed handler is not called again";
}

TEST_F(TraceSinkTest, PiecesOfALine_ArriveAsOneLine_LinesOneByOne) {
  set_trace_handler(Lines::collect, &got_);
  trace("<1 ret 1(0 4 [0])>\t");
  trace("");
  trace(nullptr);
  EXPECT_TRUE(got_.lines.empty()) << "no line is complete yet";
  trace("PLAY SKIP 1 ret 1(0 4 [1])\nnext");
  trace(" piece\nlast\n");
  const std::vector<std::string> want = {"<1 ret 1(0 4 [0])>\tPLAY SKIP 1 ret 1(0 4 [1])\n",
                                         "next piece\n", "last\n"};
  EXPECT_EQ(got_.lines, want);
}

TEST_F(TraceSinkTest, PiecesOfTwoThreads_NeverShareALine) {
  set_trace_handler(Lines::collect, &got_);
  constexpr int kLines = 2000;
  auto tracer = [](const char* piece) {
    for (int i = 0; i < kLines; ++i) {
      trace(piece);
      trace(piece);
      trace("\n");
    }
  };
  std::thread a(tracer, "a");
  std::thread b(tracer, "b");
  a.join();
  b.join();
  ASSERT_EQ(got_.lines.size(), 2u * kLines);
  int as = 0;
  for (const std::string& line : got_.lines) {
    ASSERT_TRUE(line == "aa\n" || line == "bb\n") << line;
    as += line == "aa\n";
  }
  EXPECT_EQ(as, kLines);
}

}  // namespace
}  // namespace virazav::platform
