// "virazav disk" run as a process on disk images of the simulated recorder: the copies
// it refuses (a reversed stretch, one with nothing recorded, a folder with an earlier
// copy) and what it reports of the copies it makes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

class DiskCommandTest : public ::testing::Test {
 protected:
  // Two recordings of 20 s with a minute between them: 10:00:00 .. 10:00:19 and
  // 10:01:20 .. 10:01:39 on 2024-05-10.
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-cli-disk-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{20, 0, 0, false}, sim::RecordingPlan{20, 60, 0, false}};
    desc.channels = 1;
    desc.media = false;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
    fs::create_directory("copy");
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  CliResult copy(const std::string& from, const std::string& to,
                 std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"disk",   "copy", "disk.img", "copy",
                                     "--from", from,   "--to",     to};
    args.insert(args.end(), more.begin(), more.end());
    return run_program(args);
  }

  // The chunk count of "copied ... in N chunks" (-1 when the line is missing).
  static long chunks_reported(const std::string& out) {
    std::smatch m;
    static const std::regex kLine(R"(copied .* in (\d+) chunks into copy)");
    return std::regex_search(out, m, kLine) ? std::stol(m[1]) : -1;
  }

  // Overwrites `sectors` sectors from `sector` of an image with bytes of a fixed random
  // sequence.
  static void scramble(const std::string& image, int64_t sector, int sectors) {
    std::mt19937 bytes(static_cast<unsigned>(sector));
    std::vector<char> data(static_cast<size_t>(sectors) * 512);
    for (char& c : data) c = static_cast<char>(bytes());
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(sector * 512);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
  }

  std::string dir_;
  fs::path old_cwd_;
};

// First sectors of the three index copies, and the recording list's place in a copy.
constexpr int64_t kCopyStart[3] = {0, 244333, 488666};
constexpr int kRecListFirst = 23;  // its control record, then the list
constexpr int kRecListSectors = 56;

TEST_F(DiskCommandTest, CopyOfStretchesWithNothingRecorded_IsRefusedAndWritesNothing) {
  struct Row {
    const char* what;
    std::string from, to;
    int status;
    std::string message;
  } rows[] = {
      {"reversed", "2024-05-10 10:00:10", "2024-05-10 10:00:05", 2,
       "--from 2024-05-10T10:00:10 lies after --to 2024-05-10T10:00:05"},
      {"in the gap", "2024-05-10 10:00:30", "2024-05-10 10:01:10", 4,
       "nothing is recorded from 2024-05-10T10:00:30 to 2024-05-10T10:01:10 (recorded: "
       "2024-05-10T10:00:00 .. 2024-05-10T10:01:"},
      {"after the end", "2024-05-10 11:00:00", "2024-05-10 12:00:00", 4, "nothing is recorded"},
      {"before the start", "2024-05-09 10:00:00", "2024-05-10 09:59:59", 4, "nothing is recorded"},
  };
  for (const Row& r : rows) {
    const CliResult run = copy(r.from, r.to);
    EXPECT_EQ(run.status, r.status) << r.what << "\n" << run.out << run.err;
    EXPECT_NE(run.err.find(r.message), std::string::npos) << r.what << "\n" << run.err;
    EXPECT_TRUE(fs::is_empty("copy")) << r.what;
  }
  // A stretch that reaches into a recording from the gap is copied.
  const CliResult into = copy("2024-05-10 10:00:30", "2024-05-10 10:01:25");
  EXPECT_EQ(into.status, 0) << into.err;
  EXPECT_GT(chunks_reported(into.out), 0) << into.out;
}

TEST_F(DiskCommandTest, CopyIntoAFolderWithAnEarlierCopy_IsRefusedUnlessReplaced) {
  const CliResult first = copy("2024-05-10 10:00:00", "2024-05-10 10:00:15");
  ASSERT_EQ(first.status, 0) << first.err;
  const long first_chunks = chunks_reported(first.out);
  ASSERT_GT(first_chunks, 3) << first.out;
  const auto first_size = fs::file_size("copy/HDR.dat");
  EXPECT_EQ(fs::file_size("copy/.index"), static_cast<uintmax_t>(first_chunks) * 24);

  const CliResult refused = copy("2024-05-10 10:00:00", "2024-05-10 10:00:02");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("it already holds a copy (HDR.dat)"), std::string::npos)
      << refused.err;
  EXPECT_EQ(fs::file_size("copy/HDR.dat"), first_size) << "the old copy was touched";

  // Replaced, the shorter copy leaves nothing of the longer one behind, and what is
  // reported is what the folder holds.
  const CliResult replaced = copy("2024-05-10 10:00:00", "2024-05-10 10:00:02", {"--replace"});
  ASSERT_EQ(replaced.status, 0) << replaced.err;
  const long chunks = chunks_reported(replaced.out);
  EXPECT_GT(chunks, 0);
  EXPECT_LT(chunks, first_chunks);
  EXPECT_EQ(fs::file_size("copy/.index"), static_cast<uintmax_t>(chunks) * 24);
  EXPECT_LT(fs::file_size("copy/HDR.dat"), first_size);
  const CliResult range =
      run_program({"file", "search", "copy/HDR.dat", "copy/.index", "2024-05-10 10:00:01"});
  EXPECT_NE(range.out.find("range 2024-05-10T10:00:00 .. 2024-05-10T10:00:0"), std::string::npos)
      << range.out;
}

TEST_F(DiskCommandTest, CopyIntoAMissingFolder_NamesIt) {
  const CliResult run = run_program({"disk", "copy", "disk.img", "nowhere", "--from",
                                     "2024-05-10 10:00:00", "--to", "2024-05-10 10:00:05"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("copy into nowhere: no such folder"), std::string::npos) << run.err;
}

TEST_F(DiskCommandTest, ListOfAGoodImage_NamesTheCopyReadAndEveryRecording) {
  const CliResult run = run_program({"disk", "list", "disk.img"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("index read from copy 2 (generation 2)\n2 recordings\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("[  0] 2024-05-10T10:00:00 .. 2024-05-10T10:00:19"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("[  1] 2024-05-10T10:01:20 .. 2024-05-10T10:01:"), std::string::npos)
      << run.out;
}

TEST_F(DiskCommandTest, ImagesWithoutAUsableIndex_AreRefusedNotListed) {
  // Random bytes where every copy's header and tables lie.
  fs::copy_file("disk.img", "garbage.img");
  for (int64_t start : kCopyStart) scramble("garbage.img", start, 1200);
  // A good image whose recording list is damaged in all three copies.
  fs::copy_file("disk.img", "nolist.img");
  for (int64_t start : kCopyStart) scramble("nolist.img", start + kRecListFirst, kRecListSectors);
  // A disk that was never written.
  { std::ofstream("zero.img").close(); }
  fs::resize_file("zero.img", fs::file_size("disk.img"));
  struct Row {
    const char* image;
    std::string message;
  } rows[] = {
      {"garbage.img", "image garbage.img: no index copy has a valid header"},
      {"nolist.img",
       "image nolist.img: the record index cannot be loaded from any copy (newest: "
       "copy 2 (generation 2))"},
      {"zero.img", "image zero.img: the record index holds no sane recorded range"},
      {"missing.img", "open disk image missing.img: no such file"},
  };
  for (const Row& r : rows) {
    for (const char* action : {"list", "timeline", "info"}) {
      const CliResult run = run_program({"disk", action, r.image});
      EXPECT_EQ(run.status, 1) << action << " " << r.image << "\n" << run.out;
      EXPECT_NE(run.err.find(r.message), std::string::npos) << action << " " << r.image << "\n"
                                                            << run.err;
      EXPECT_EQ(run.out.find("recordings"), std::string::npos) << action << " " << r.image;
    }
  }
}

TEST_F(DiskCommandTest, DamagedListInTheNewestCopy_IsListedFromTheNextAndSaysSo) {
  fs::copy_file("disk.img", "damaged.img");
  scramble("damaged.img", kCopyStart[2] + kRecListFirst, kRecListSectors);
  const CliResult run = run_program({"disk", "list", "damaged.img"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("index read from copy 2 (generation 2), its recording list damaged: the "
                         "list from copy 1"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("[  0] 2024-05-10T10:00:00 .. 2024-05-10T10:00:19"), std::string::npos)
      << run.out;
}

}  // namespace
}  // namespace virazav::testing
