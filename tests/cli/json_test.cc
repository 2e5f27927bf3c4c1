// The program's --json output: the writer's text read back by a strict reader written
// here (so a stray comma, an unescaped quote or trailing text fails), and the objects of
// the commands that offer it checked against what they did.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"
#include "json_writer.h"
#include "support/recorder_fixture.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

// A JSON value as the reader below builds it.
struct Json {
  enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
  bool flag = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto it = members.find(key);
    return it == members.end() ? missing : it->second;
  }
};

// A strict reader of one JSON value with nothing but a newline behind it.
class Reader {
 public:
  explicit Reader(const std::string& text) : s_(text) {}
  bool read(Json* out) {
    if (!value(out, 0)) return false;
    if (at_ < s_.size() && s_[at_] == '\n') ++at_;
    return at_ == s_.size();
  }

 private:
  bool value(Json* out, int depth) {
    if (depth > 20 || at_ >= s_.size()) return false;
    const char c = s_[at_];
    if (c == '{') return object(out, depth);
    if (c == '[') return array(out, depth);
    if (c == '"') {
      out->kind = Json::kString;
      return string(&out->text);
    }
    if (word("true")) return out->kind = Json::kBool, out->flag = true, true;
    if (word("false")) return out->kind = Json::kBool, out->flag = false, true;
    if (word("null")) return out->kind = Json::kNull, true;
    const char* begin = s_.c_str() + at_;
    char* end = nullptr;
    if (c != '-' && !std::isdigit(static_cast<unsigned char>(c))) return false;
    out->number = std::strtod(begin, &end);
    out->kind = Json::kNumber;
    at_ += static_cast<size_t>(end - begin);
    return end != begin;
  }
  bool word(const char* w) {
    const std::string ws(w);
    if (s_.compare(at_, ws.size(), ws) != 0) return false;
    at_ += ws.size();
    return true;
  }
  bool string(std::string* out) {
    ++at_;
    while (at_ < s_.size() && s_[at_] != '"') {
      char c = s_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c == '\\') {
        if (at_ >= s_.size()) return false;
        const char e = s_[at_++];
        if (e == 'u') {
          // The writer escapes only characters below U+0100; they are stored as UTF-8.
          if (at_ + 4 > s_.size()) return false;
          const long code = std::strtol(s_.substr(at_, 4).c_str(), nullptr, 16);
          at_ += 4;
          if (code < 0 || code > 0xFF) return false;
          if (code >= 0x80) {
            out->push_back(static_cast<char>(0xC0 | (code >> 6)));
            out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
            continue;
          }
          c = static_cast<char>(code);
        } else if (e == '"' || e == '\\' || e == '/') {
          c = e;
        } else {
          return false;
        }
      }
      out->push_back(c);
    }
    if (at_ >= s_.size()) return false;
    ++at_;
    return true;
  }
  bool array(Json* out, int depth) {
    out->kind = Json::kArray;
    ++at_;
    if (at_ < s_.size() && s_[at_] == ']') return ++at_, true;
    for (;;) {
      Json item;
      if (!value(&item, depth + 1)) return false;
      out->items.push_back(item);
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      return at_ < s_.size() && s_[at_++] == ']';
    }
  }
  bool object(Json* out, int depth) {
    out->kind = Json::kObject;
    ++at_;
    if (at_ < s_.size() && s_[at_] == '}') return ++at_, true;
    for (;;) {
      std::string key;
      if (at_ >= s_.size() || s_[at_] != '"' || !string(&key)) return false;
      if (at_ >= s_.size() || s_[at_++] != ':') return false;
      Json member;
      if (!value(&member, depth + 1) || out->members.count(key) != 0) return false;
      out->members[key] = member;
      if (at_ < s_.size() && s_[at_] == ',') {
        ++at_;
        continue;
      }
      return at_ < s_.size() && s_[at_++] == '}';
    }
  }
  const std::string& s_;
  size_t at_ = 0;
};

Json parse(const std::string& text) {
  Json v;
  EXPECT_TRUE(Reader(text).read(&v)) << text;
  return v;
}

TEST(JsonWriterTest, KeepsValidUtf8AndTakesOtherBytesAsLatin1) {
  cli::JsonWriter w;
  // "é" in UTF-8, a lone Latin-1 é, a truncated three-byte sequence, an overlong '/',
  // a UTF-16 surrogate and a four-byte character.
  w.begin_array()
      .value("caf\xC3\xA9")
      .value("caf\xE9")
      .value("\xE2\x82")
      .value("\xC0\xAF")
      .value("\xED\xA0\x80")
      .value("\xF0\x9F\x8E\xA5")
      .end_array();
  EXPECT_EQ(w.text(),
            "[\"caf\xC3\xA9\",\"caf\\u00e9\",\"\\u00e2\\u0082\",\"\\u00c0\\u00af\","
            "\"\\u00ed\\u00a0\\u0080\",\"\xF0\x9F\x8E\xA5\"]");
  const Json v = parse(w.text());
  ASSERT_EQ(v.items.size(), 6u);
  EXPECT_EQ(v.items[0].text, v.items[1].text) << "Latin-1 é reads as the UTF-8 é";
}

TEST(JsonWriterTest, NestsEscapesAndSeparates) {
  cli::JsonWriter w;
  w.begin_object()
      .member("name", "say \"hi\"\\\n\t\x01")
      .member("n", -42)
      .member("x", 2.5)
      .member("ok", true)
      .key("none")
      .null()
      .key("list")
      .begin_array()
      .value(1)
      .begin_object()
      .end_object()
      .begin_array()
      .end_array()
      .value("z")
      .end_array()
      .key("empty")
      .begin_object()
      .end_object()
      .end_object();
  EXPECT_EQ(w.text(),
            R"({"name":"say \"hi\"\\\u000a\u0009\u0001","n":-42,"x":2.5,"ok":true,"none":null,)"
            R"("list":[1,{},[],"z"],"empty":{}})");
  const Json v = parse(w.text());
  EXPECT_EQ(v["name"].text, "say \"hi\"\\\n\t\x01");
  ASSERT_EQ(v.members.count("none"), 1u);
  EXPECT_EQ(v.members.at("none").kind, Json::kNull);
  EXPECT_EQ(v["list"].items.size(), 4u);
  EXPECT_EQ(v["list"].items[3].text, "z");
  Json bad;
  EXPECT_FALSE(Reader(R"({"a":1,})").read(&bad));
  EXPECT_FALSE(Reader(R"({"a":1,"a":2})").read(&bad));
  EXPECT_FALSE(Reader(R"({"a":1} x)").read(&bad));
}

class JsonCommandTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    o.recording.video_channels = 0x0003;
    o.recording.audio_channels = 0x0001;
    o.recording.seconds = 6;
    o.recording.video.width = 176;
    o.recording.video.height = 144;
    o.recording.video.fps = 2;
  }
  TempCwd cwd_;
};

TEST_F(JsonCommandTest, DownloadIndexStatusAndClock_ReportWhatTheyDid) {
  CliResult run = run_program({"-a", address_, "--json", "download", "rec.mpg", "--from",
                               "2024-05-01T10:00:00", "--seconds", "10"});
  EXPECT_EQ(run.status, 3) << run.err;
  Json v = parse(run.out);
  EXPECT_EQ(v["file"].text, "rec.mpg");
  EXPECT_TRUE(v["written"].flag);
  EXPECT_EQ(v["bytes"].number, static_cast<double>(fs::file_size("rec.mpg")));
  EXPECT_EQ(v["seconds_asked"].number, 10);
  EXPECT_EQ(v["seconds_received"].number, 6);
  EXPECT_EQ(v["index"].text, "rec.mpg.idx/.index");
  EXPECT_EQ(v["index_entries"].number * 12, static_cast<double>(fs::file_size(v["index"].text)));

  run = run_program({"-a", address_, "--json", "download", "none.mpg", "--from",
                     "2024-05-01T11:00:00", "--seconds", "10"});
  EXPECT_EQ(run.status, 4);
  v = parse(run.out);
  EXPECT_FALSE(v["written"].flag);
  EXPECT_FALSE(fs::exists("none.mpg"));
  EXPECT_EQ(v["written"].kind, Json::kBool);

  run = run_program({"--json", "index", "rec.mpg"});
  ASSERT_EQ(run.status, 0) << run.err;
  v = parse(run.out);
  EXPECT_EQ(v["video_mask"].number, 3);
  EXPECT_EQ(v["duration_s"].number, 5);
  ASSERT_EQ(v["channels"].items.size(), 2u);
  EXPECT_EQ(v["channels"].items[1]["channel"].number, 1);
  EXPECT_EQ(v["channels"].items[0]["key_frames"].number, 6);

  rec().set_status_word(0x12, 0x3456);
  run = run_program({"-a", address_, "--json", "status", "0x12"});
  ASSERT_EQ(run.status, 0) << run.err;
  v = parse(run.out);
  EXPECT_EQ(v["item"].number, 0x12);
  EXPECT_EQ(v["value"].number, 0x3456);

  run = run_program({"-a", address_, "--json", "time", "get"});
  ASSERT_EQ(run.status, 0) << run.err;
  v = parse(run.out);
  EXPECT_EQ(v["clock"].text.size(), 19u) << run.out;
  EXPECT_EQ(v["clock"].text[10], 'T');

  run = run_program({"-a", address_, "--json", "time", "set", "2024-02-29T10:20:30"});
  ASSERT_EQ(run.status, 0) << run.err;
  v = parse(run.out);
  EXPECT_EQ(v["date"].text, "24/02/29");
  EXPECT_EQ(v["time"].text, "10:20:30");

  run = run_program({"--json", "frame", "1_90.dat", "pic.bmp"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("--json is not offered by frame"), std::string::npos);
  EXPECT_EQ(run.out, "");
}

TEST_F(JsonCommandTest, RecorderQueries_ReportTheRepliesTheyGot) {
  const auto json = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"-a", address_, "--json"});
    const CliResult run = run_program(args);
    EXPECT_EQ(run.status, 0) << args[3] << "\n" << run.err;
    return parse(run.out);
  };
  Json v = json({"connect"});
  EXPECT_EQ(v["address"].text, address_);
  EXPECT_EQ(v["login_port"].number, 5001);
  EXPECT_EQ(v["info"].text, "DVR 16CH NETWORK RECORDER");

  v = json({"switch", "jpeg", "set", "7", "0x1234"});
  EXPECT_EQ(v["switch"].text, "jpeg");
  EXPECT_EQ(v["item"].number, 7);
  EXPECT_EQ(v["value"].number, 0x1234);
  EXPECT_EQ(v["reply"].kind, Json::kNumber);
  v = json({"switch", "jpeg", "get", "7"});
  EXPECT_EQ(v["value"].number, 0x1234);

  // The recorder's group words come back as P2, P3, P4 and then P1.
  v = json({"combi", "get", "1", "0", "0", "0", "0"});
  ASSERT_EQ(v["p"].items.size(), 4u);
  EXPECT_EQ(v["p"].items[0].number, 0x4001);
  EXPECT_EQ(v["p"].items[1].number, 0x1001);
  EXPECT_EQ(v["p"].items[3].number, 0x3001);
  v = json({"combi", "set", "1", "2", "3", "4", "0xFFFF"});
  ASSERT_EQ(v["words"].items.size(), 5u);
  EXPECT_EQ(v["words"].items[4].number, 0xFFFF);

  // A value set in a store reads back; the numbers that say where come in order.
  v = json({"mem", "set", "1", "0x20", "0x34"});
  EXPECT_EQ(v["store"].text, "mem");
  ASSERT_EQ(v["where"].items.size(), 2u);
  EXPECT_EQ(v["where"].items[1].number, 0x20);
  EXPECT_EQ(v["value"].number, 0x34);
  v = json({"mem", "get", "0x10020", "1"});
  EXPECT_EQ(v["reply"].number, 0x34) << "bank 1, offset 20h";
  v = json({"nvc", "get", "1", "2", "3"});
  EXPECT_EQ(v["action"].text, "get");
  EXPECT_EQ(v["where"].items.size(), 3u);
  EXPECT_EQ(v.members.count("value"), 0u);
  EXPECT_EQ(v["reply"].kind, Json::kNumber);

  v = json({"hddlist", "30", "4"});
  EXPECT_EQ(v["command"].text, "hddlist");
  ASSERT_EQ(v["values"].items.size(), 2u);
  EXPECT_EQ(v["values"].items[0].number, 30);
  EXPECT_EQ(v["reply"].number, 2) << "the recorder keeps 32 entries";

  v = json({"play", "pointer", "0x10", "0xFFFFFFFF"});
  EXPECT_EQ(v["values"].items[1].number, 4294967295.0);
  v = json({"play", "search", "2024-05-01T10:00:30"});
  EXPECT_TRUE(v["found"].flag);
  EXPECT_EQ(v["time"].text, "2024-05-01T10:00:30");

  v = json({"playlist", "1"});
  EXPECT_EQ(v["file"].text, "img/list1.txt");
  ASSERT_GE(v["lines"].items.size(), 3u);
  EXPECT_EQ(v["lines"].items.front().text, "LIST 01");
  EXPECT_EQ(v["lines"].items.back().text, "END");

  // The block in hexadecimal is the block --out writes.
  v = json({"menu", "2"});
  const Json written = json({"menu", "2", "--out", "menu.bin"});
  EXPECT_EQ(written["file"].text, "menu.bin");
  std::string hex;
  {
    std::ifstream in("menu.bin", std::ios::binary);
    for (char c; in.get(c);) {
      char two[3];
      std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
      hex += two;
    }
  }
  EXPECT_EQ(v["bytes"].number * 2, static_cast<double>(v["hex"].text.size()));
  EXPECT_EQ(v["hex"].text, hex);
}

TEST_F(JsonCommandTest, PlayOfAFile_ReportsEachStepAndWhatWasShown) {
  ASSERT_EQ(run_program({"-a", address_, "download", "rec.mpg", "--from", "2024-05-01T10:00:00",
                         "--seconds", "6"})
                .status,
            0);
  const CliResult run = run_program({"--json", "play", "rec.mpg", "--out", "pics", "--wav",
                                     "play.wav", "--script", "pos #0; step; pos 50%; stop"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json v = parse(run.out);
  EXPECT_EQ(v["file"].text, "rec.mpg");
  EXPECT_EQ(v["bytes"].number, static_cast<double>(fs::file_size("rec.mpg")));
  EXPECT_EQ(v["video_channels"].text, "0,1");
  EXPECT_EQ(v["sound"].number, 0);
  ASSERT_EQ(v["steps"].items.size(), 4u) << run.out;
  const Json& first = v["steps"].items[0];
  EXPECT_EQ(first["step"].number, 1);
  EXPECT_EQ(first["do"].text, "pos #0");
  EXPECT_EQ(first["entry"].number, 0);
  const Json& step = v["steps"].items[1];
  EXPECT_EQ(step["pictures"].number, 1);
  EXPECT_EQ(step["time"].text, "2024-05-01T10:00:00");
  const Json& half = v["steps"].items[2];
  ASSERT_EQ(half["position_percent"].kind, Json::kNumber) << run.out;
  EXPECT_NEAR(half["position_percent"].number, 50, 10);
  EXPECT_EQ(half["time"].text.substr(0, 17), "2024-05-01T10:00:");
  EXPECT_GE(v["pictures"].number, 1);
  EXPECT_TRUE(fs::exists("pics/0.bmp"));
  EXPECT_EQ(v["wav"]["file"].text, fs::absolute("play.wav").string());
}

class JsonLiveTest : public RecorderTest {
 protected:
  void configure(sim::RecorderOptions& o) override {
    // A port pair of this process's own, away from the default that other runs use.
    port_ = 40000 + static_cast<int>(::getpid() % 10000) * 2;
    o.live.port_base = port_;
    o.live.channel_mask = 0x0005;
    o.live.audio_mask = 0x0;
    o.live.video.width = 176;
    o.live.video.height = 144;
    o.live.video.fps = 5;
  }
  int port_ = 0;
  TempCwd cwd_;
};

TEST_F(JsonLiveTest, TheWatchsSummary_CountsThePicturesOfEachChannel) {
  const CliResult run = run_program({"-a", address_, "--json", "live", "--for", "2", "--port",
                                     std::to_string(port_), "--channels", "0,2", "--mosaic"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json v = parse(run.out);
  ASSERT_EQ(v["channels"].items.size(), 2u) << run.out;
  EXPECT_EQ(v["channels"].items[0]["channel"].number, 0);
  EXPECT_EQ(v["channels"].items[1]["channel"].number, 2);
  for (const Json& ch : v["channels"].items) {
    EXPECT_GT(ch["pictures"].number, 0);
    EXPECT_TRUE(fs::exists(ch["newest"].text)) << ch["newest"].text;
  }
  EXPECT_GE(v["video_blocks"].number, v["channels"].items[0]["pictures"].number);
  EXPECT_GT(v["datagrams"].number, 0);
  EXPECT_EQ(v["audio_blocks"].number, 0);
  EXPECT_TRUE(fs::exists(v["mosaic"].text)) << v["mosaic"].text;
  EXPECT_EQ(v["sound"].kind, Json::kNull);
}

TEST(JsonDiskTest, DiskList_GivesTheCopyTheRecordingsAndTheAlarms) {
  TempCwd cwd;
  sim::DiskImageDesc desc;
  desc.recordings = {sim::RecordingPlan{40, 0, 0, false}, sim::RecordingPlan{30, 60, 1, false}};
  desc.channels = 1;
  desc.media = false;
  desc.alarms = 2;
  desc.stills = 3;
  desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
  std::string error;
  ASSERT_TRUE(sim::write_disk_image(desc, "disk.img", &error)) << error;
  const CliResult run = run_program({"--json", "disk", "list", "disk.img"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Json v = parse(run.out);
  EXPECT_EQ(v["index_copy"].number, 2);
  EXPECT_EQ(v["generation"].number, 2);
  EXPECT_EQ(v["start"].text, "2024-05-10T10:00:00");
  ASSERT_EQ(v["recordings"].items.size(), 2u);
  EXPECT_EQ(v["recordings"].items[0]["start"].text, "2024-05-10T10:00:00");
  EXPECT_EQ(v["recordings"].items[1]["end"].text, "2024-05-10T10:02:09");
  EXPECT_EQ(v["recordings"].items[1]["kind"].number, 1);
  ASSERT_EQ(v["alarms"].items.size(), 2u);
  EXPECT_EQ(v["alarms"].items[0]["start"].text.substr(0, 11), "2024-05-10T");

  const CliResult info = run_program({"--json", "disk", "info", "disk.img"});
  ASSERT_EQ(info.status, 0) << info.err;
  const Json i = parse(info.out);
  // An image counts whole cylinders of 255 heads x 63 sectors of 512 bytes.
  constexpr double kCylinder = 255 * 63 * 512;
  EXPECT_EQ(i["probe"].number, std::floor(fs::file_size("disk.img") / kCylinder));
  EXPECT_EQ(i["bytes"].number, i["probe"].number * kCylinder);
  ASSERT_EQ(i["index_copies"].items.size(), 3u);
  EXPECT_EQ(i["index_copies"].items[2]["generation"].number, 2);
  EXPECT_TRUE(i["index_copies"].items[2]["newest"].flag);
  EXPECT_FALSE(i["index_copies"].items[0]["newest"].flag);
  EXPECT_EQ(i["index"]["start"].text, "2024-05-10T10:00:00");
  EXPECT_EQ(i["index"]["end"].text.substr(0, 17), "2024-05-10T10:02:") << info.out;
  EXPECT_EQ(i["index"]["recordings"].number, 2);
  EXPECT_EQ(i["index"]["alarms"].number, 2);

  // Bytes of no index over every copy's header and tables (which start at sectors 0,
  // 244333 and 488666): no copy has a generation, the index is null, and the exit status
  // still says it failed.
  fs::copy_file("disk.img", "garbage.img");
  {
    std::fstream f("garbage.img", std::ios::in | std::ios::out | std::ios::binary);
    for (int64_t sector : {0, 244333, 488666}) {
      f.seekp(sector * 512);
      f.write(std::string(1200 * 512, '\x5a').data(), 1200 * 512);
    }
  }
  const CliResult garbage = run_program({"--json", "disk", "info", "garbage.img"});
  EXPECT_EQ(garbage.status, 1);
  const Json g = parse(garbage.out);
  ASSERT_EQ(g["index_copies"].items.size(), 3u);
  for (const Json& copy : g["index_copies"].items) {
    EXPECT_EQ(copy["generation"].kind, Json::kNull) << garbage.out;
    EXPECT_FALSE(copy["newest"].flag) << garbage.out;
  }
  EXPECT_EQ(g["index"].kind, Json::kNull);
  EXPECT_NE(garbage.err.find("image garbage.img: no index copy has a valid header"),
            std::string::npos)
      << garbage.err;

  // A read names the time it searched and counts what it wrote.
  const CliResult read =
      run_program({"--json", "disk", "read", "disk.img", "--at", "2024-05-10 10:00:05", "--chunks",
                   "3", "--out", "packets.bin"});
  ASSERT_EQ(read.status, 0) << read.err;
  const Json r = parse(read.out);
  EXPECT_EQ(r["at"].text, "2024-05-10T10:00:05");
  EXPECT_TRUE(r["found"].flag);
  EXPECT_EQ(r["file"].text, "packets.bin");
  EXPECT_EQ(r["bytes"].number, static_cast<double>(fs::file_size("packets.bin")));
  EXPECT_GT(r["chunks"].number, 0);

  fs::create_directory("copy");
  const CliResult copy = run_program({"--json", "disk", "copy", "disk.img", "copy", "--from",
                                      "2024-05-10T10:00:05", "--to", "2024-05-10T10:00:20"});
  ASSERT_EQ(copy.status, 0) << copy.err;
  const Json c = parse(copy.out);
  EXPECT_TRUE(c["copied"].flag);
  EXPECT_EQ(c["bytes"].number, static_cast<double>(fs::file_size("copy/HDR.dat")));
  EXPECT_EQ(c["chunks"].number * 24, static_cast<double>(fs::file_size("copy/.index")));
  // The copy plays and is searched like the disk.
  const CliResult search = run_program(
      {"--json", "file", "search", "copy/HDR.dat", "copy/.index", "2024-05-10T10:00:10"});
  ASSERT_EQ(search.status, 0) << search.err;
  const Json f = parse(search.out);
  EXPECT_TRUE(f["placed"].flag);
  EXPECT_EQ(f["time"].text, "2024-05-10T10:00:10");
  EXPECT_EQ(f["start"].text, "2024-05-10T10:00:05");
  const CliResult outside = run_program(
      {"--json", "file", "search", "copy/HDR.dat", "copy/.index", "2024-05-10T11:00:00"});
  EXPECT_EQ(outside.status, 1);
  EXPECT_FALSE(parse(outside.out)["placed"].flag);
  EXPECT_EQ(parse(outside.out)["result"].number, -2);

  fs::create_directory("snaps");
  const CliResult played =
      run_program({"--json", "file", "play", "copy/HDR.dat", "copy/.index", "--at",
                   "2024-05-10T10:00:06", "--for", "2", "--snapshot", "snaps"});
  ASSERT_EQ(played.status, 0) << played.err;
  const Json p = parse(played.out);
  EXPECT_EQ(p["at"].text, "2024-05-10T10:00:06");
  ASSERT_EQ(p["seconds"].items.size(), 2u) << played.out;
  EXPECT_EQ(p["seconds"].items[1]["second"].number, 2);
  EXPECT_EQ(p["seconds"].items[1]["decoder_ok"].kind, Json::kBool);
  EXPECT_EQ(p["seconds"].items[1]["feeder"].kind, Json::kString);

  const CliResult disk_play = run_program(
      {"--json", "disk", "play", "disk.img", "--at", "2024-05-10T10:00:05", "--for", "1"});
  ASSERT_EQ(disk_play.status, 0) << disk_play.err;
  const Json d = parse(disk_play.out);
  EXPECT_TRUE(d["found"].flag);
  EXPECT_EQ(d["seconds"].items.size(), 1u);

  fs::create_directory("gap");
  const CliResult gap = run_program({"--json", "disk", "copy", "disk.img", "gap", "--from",
                                     "2024-05-10T10:00:45", "--to", "2024-05-10T10:00:50"});
  EXPECT_EQ(gap.status, 4) << gap.err;
  EXPECT_FALSE(parse(gap.out)["copied"].flag);
  EXPECT_EQ(parse(gap.out)["copied"].kind, Json::kBool);

  fs::create_directory("stills");
  const CliResult stills = run_program({"--json", "disk", "stills", "disk.img", "stills"});
  ASSERT_EQ(stills.status, 0) << stills.err;
  const Json st = parse(stills.out);
  EXPECT_EQ(st["count"].number, 3);
  ASSERT_EQ(st["stills"].items.size(), 3u);
  for (const Json& still : st["stills"].items) {
    EXPECT_EQ(still["bytes"].number,
              static_cast<double>(fs::file_size(fs::path("stills") / still["name"].text)))
        << still["name"].text;
  }

  // The timeline's own JSON comes with the option before the command as well.
  const CliResult timeline = run_program({"--json", "disk", "timeline", "disk.img"});
  EXPECT_EQ(timeline.status, 0) << timeline.err;
  EXPECT_EQ(timeline.out.substr(0, 1), "{") << timeline.out;
  EXPECT_NE(timeline.out.find("\"recorded\""), std::string::npos) << timeline.out;
}

}  // namespace
}  // namespace virazav::testing
