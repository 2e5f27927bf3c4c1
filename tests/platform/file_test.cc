// The file owner: it holds at most one open file, hands it on when moved,
// closes it (so that buffered bytes reach the file) when it goes out of scope
// or is given another, and opens through the fault seam.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/fault.h"
#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::platform {
namespace {

// Bytes on disk, read through a file of its own.
std::string on_disk(const std::string& path) {
  File f = File::open(path, OpenMode::kRead);
  std::string text(64, '\0');
  long n = f.read(text.data(), text.size());
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

TEST(File, HoldingNone_EveryCallFails) {
  File f;
  EXPECT_FALSE(f.is_open());
  char b[4];
  EXPECT_EQ(f.read(b, sizeof b), -1);
  EXPECT_EQ(f.write("x", 1), -1);
  EXPECT_EQ(f.seek(0, SeekFrom::kBegin), -1);
  EXPECT_EQ(f.rewind(), -1);
  EXPECT_EQ(f.tell(), -1);
  EXPECT_EQ(f.size(), -1);
  f.close();
  EXPECT_FALSE(f.is_open());
}

TEST(File, WritesAndReadsBack_PositionAndSizeFollow) {
  testing::TempCwd cwd;
  File f = File::open("a.bin", OpenMode::kUpdate);
  ASSERT_TRUE(f.is_open());
  ASSERT_EQ(f.write("abcdef", 6), 0);
  EXPECT_EQ(f.tell(), 6);
  EXPECT_EQ(f.size(), 6);
  ASSERT_EQ(f.seek(2, SeekFrom::kBegin), 0);
  char b[8] = {};
  EXPECT_EQ(f.read(b, sizeof b), 4);
  EXPECT_EQ(std::string(b), "cdef");
  ASSERT_EQ(f.rewind(), 0);
  EXPECT_EQ(f.tell(), 0);
}

TEST(File, EndOfScopeAndReassignment_CloseTheFileSoItsBytesArrive) {
  testing::TempCwd cwd;
  {
    File f = File::open("scope.txt", OpenMode::kWriteTruncate);
    ASSERT_EQ(f.write("one", 3), 0);
    EXPECT_EQ(on_disk("scope.txt"), "") << "still in the write buffer while open";
  }
  EXPECT_EQ(on_disk("scope.txt"), "one");

  File f = File::open("first.txt", OpenMode::kWriteTruncate);
  ASSERT_EQ(f.write("first", 5), 0);
  f = File::open("second.txt", OpenMode::kWriteTruncate);
  EXPECT_EQ(on_disk("first.txt"), "first") << "closed when given another";
  ASSERT_TRUE(f.is_open());
  ASSERT_EQ(f.write("second", 6), 0);
  f.close();
  EXPECT_EQ(on_disk("second.txt"), "second");
}

TEST(File, Move_HandsTheFileOnAndLeavesNone) {
  testing::TempCwd cwd;
  File a = File::open("m.txt", OpenMode::kWriteTruncate);
  ASSERT_TRUE(a.is_open());
  File b = std::move(a);
  EXPECT_FALSE(a.is_open());
  EXPECT_TRUE(b.is_open());
  EXPECT_EQ(a.write("x", 1), -1);
  ASSERT_EQ(b.write("moved", 5), 0);
  File c;
  c = std::move(b);
  EXPECT_FALSE(b.is_open());
  c.close();
  EXPECT_EQ(on_disk("m.txt"), "moved");
}

TEST(File, Open_GoesThroughTheFaultSeam) {
  testing::TempCwd cwd;
  FaultScope faults;
  fault_arm(FaultKind::kFileOpen, 1);
  EXPECT_FALSE(File::open("f.txt", OpenMode::kWriteTruncate).is_open());
  EXPECT_EQ(fault_calls(FaultKind::kFileOpen), 1);
  EXPECT_TRUE(File::open("f.txt", OpenMode::kWriteTruncate).is_open());
}

}  // namespace
}  // namespace virazav::platform
