// The steps of the demo tour, in the order they run: each uses one family of the library's
// C interface against the built-in recorder, checks what came back where the recorder can
// tell, and describes the outcome in one line.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "demo.h"
#include "progress.h"
#include "recorder.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

// The clock the tour sets: a leap day in the two-digit year form, which the library reads
// back with its century.
constexpr char kDemoDate[] = "24/02/29";
constexpr char kDemoTime[] = "23:59:30";
constexpr char kDemoDateLong[] = "2024/02/29";

constexpr int kMenu = 2;
constexpr int kPlayList = 1;
constexpr size_t kMenuBufferSize = 1u << 20;  // one receive brings at most 1 MiB
constexpr size_t kUpdateBytes = 3u << 20;
constexpr int kUpdateKind = 1;

std::string hex(uint32_t v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%0*X", width, v);
  return buf;
}

StepResult log_on(Tour& t) {
  fs::path drive = t.dir / "drive-c";
  std::error_code ec;
  fs::create_directories(drive, ec);
  if (ec) return step_problem("create " + shown_path(drive) + ": " + ec.message());
  // The library reads the drive's folder at every entry, so setting it now is enough.
  if (setenv("VIRAZAV_DRIVE_C", drive.c_str(), 1) != 0) {
    return step_problem("cannot set VIRAZAV_DRIVE_C");
  }
  int rc = kora_log_sw('C');
  if (rc != 'C') return step_failed("switch the log on", rc);
  t.wrote(drive / "unit_" / "log", "diagnostic log of drive C (VIRAZAV_DRIVE_C)");
  return step_ok("diagnostic log on drive C, VIRAZAV_DRIVE_C=" + shown_path(drive));
}

StepResult connect(Tour& t) {
  int rc = t.session.connect(t.slot, t.address, t.password);
  if (rc != 0) return step_failed("connect to " + t.address, rc);
  return step_ok("slot " + std::to_string(t.slot) + " logged in to " + t.address + " (login port " +
                 std::to_string(5001 + 2 * t.slot) + "), recorder says \"" + t.session.info() +
                 "\"");
}

StepResult read_clock(Tour& t, std::string* date, std::string* time) {
  char d[256] = {};
  char h[256] = {};
  int rc = kora_get_time(t.session.slot(), d, h);
  if (rc != 0) return step_failed("read the clock", rc);
  *date = d;
  *time = h;
  return step_ok("");
}

StepResult time_get(Tour& t) {
  std::string date, time;
  StepResult r = read_clock(t, &date, &time);
  if (!r.ok) return r;
  return step_ok("recorder clock reads " + date + " " + time);
}

StepResult time_set(Tour& t) {
  int rc = kora_set_time(t.session.slot(), kDemoDate, kDemoTime);
  if (rc != 0) return step_failed(std::string("set the clock to ") + kDemoDate, rc);
  return step_ok(std::string("clock set to ") + kDemoDate + " " + kDemoTime + " (two-digit year)");
}

StepResult time_check(Tour& t) {
  std::string date, time;
  StepResult r = read_clock(t, &date, &time);
  if (!r.ok) return r;
  // The clock runs on from the value set; the tour reaches this step well within 30 s.
  if (date != kDemoDateLong || !time.starts_with("23:59:")) {
    return step_problem("read back " + date + " " + time + ", expected " + kDemoDateLong +
                        " 23:59:xx");
  }
  return step_ok("read back " + date + " " + time + ": the century was put in front");
}

// Sets one switch item and reads it back through the family's getter.
StepResult switch_round(Tour& t, const char* label, int (*set)(int, int, int) noexcept,
                        int (*get)(int, int) noexcept, int item, int value, int width) {
  int slot = t.session.slot();
  std::string name = std::string(label) + " " + hex(static_cast<uint32_t>(item), 2);
  int reply = set(slot, item, value);
  if (reply < 0) return step_failed("set " + name, reply);
  int got = get(slot, item);
  if (got < 0) return step_failed("read " + name, got);
  std::string text = name + " set to " + hex(static_cast<uint32_t>(value), width) + " (reply " +
                     hex(static_cast<uint32_t>(reply), width) + "), read back " +
                     hex(static_cast<uint32_t>(got), width);
  if (got != value) return step_problem(text + ": does not match");
  return step_ok(text);
}

StepResult camera_switch(Tour& t) {
  return switch_round(t, "camera switch", kora_cam_swset, kora_cam_swget, 3, 0, 2);
}

StepResult disk_switch(Tour& t) {
  return switch_round(t, "disk switch", kora_hd_swset, kora_hd_swget, 3, 15, 2);
}

StepResult jpeg_switch(Tour& t) {
  return switch_round(t, "JPEG switch", kora_jpeg_swset, kora_jpeg_swget, 1, 90, 4);
}

StepResult combi(Tour& t) {
  const int group = 2;
  const uint32_t words[4] = {0x1111, 0x2222, 0x3333, 0x4444};
  int slot = t.session.slot();
  int reply = kora_combi_set(slot, group, static_cast<int>(words[0]), static_cast<int>(words[1]),
                             static_cast<int>(words[2]), static_cast<int>(words[3]));
  if (reply < 0) return step_failed("set the combined words", reply);
  uint32_t p1 = group, p2 = 0, p3 = 0, p4 = 0;
  int rc = kora_combi_get(slot, &p1, &p2, &p3, &p4, 0);
  if (rc != 0) return step_failed("read the combined words", rc);
  // The reply carries the four words in order; the library hands the last one back in P1.
  std::string text = "group " + std::to_string(group) + " set to 1111 2222 3333 4444, read back " +
                     "P2 P3 P4 P1 = " + hex(p2, 4) + " " + hex(p3, 4) + " " + hex(p4, 4) + " " +
                     hex(p1, 4);
  if (p2 != words[0] || p3 != words[1] || p4 != words[2] || p1 != words[3]) {
    return step_problem(text + ": does not match");
  }
  return step_ok(text);
}

StepResult status(Tour& t) {
  std::string text = "status words 0..5 =";
  for (int item = 0; item <= 5; ++item) {
    int rc = kora_rx_status(t.session.slot(), item);
    if (rc < 0) return step_failed("read status word " + std::to_string(item), rc);
    text += " " + hex(static_cast<uint32_t>(rc), 4);
  }
  return step_ok(text);
}

StepResult menu(Tour& t) {
  std::vector<uint8_t> data(kMenuBufferSize);
  int rc = kora_rx_menu_data(t.session.slot(), kMenu, data.data());
  if (rc < 0) return step_failed("read menu " + std::to_string(kMenu), rc);
  size_t size = std::min(static_cast<size_t>(rc), kMenuBufferSize);
  fs::path path = t.dir / ("menu-" + std::to_string(kMenu) + ".bin");
  std::string error;
  if (!write_file(path.string(), data.data(), size, &error)) {
    return step_problem("write " + shown_path(path) + ": " + error);
  }
  t.wrote(path, "menu block " + std::to_string(kMenu));
  std::string block(reinterpret_cast<const char*>(data.data()), size);
  std::string text = "menu " + std::to_string(kMenu) + ": " + std::to_string(rc) + " bytes \"" +
                     block.substr(0, block.find('\r')) + "\" -> " + shown_path(path);
  if (block != sim::Recorder::menu_block(kMenu)) {
    return step_problem(text + ": differs from the recorder's block");
  }
  return step_ok(text);
}

StepResult play_list(Tour& t) {
  // The library writes img/list<n>.txt under the current folder, so the tour moves into
  // its output folder for the call.
  std::error_code ec;
  fs::create_directories(t.dir / "img", ec);
  if (ec) return step_problem("create " + shown_path(t.dir / "img") + ": " + ec.message());
  fs::path previous = fs::current_path(ec);
  if (!ec) fs::current_path(t.dir, ec);
  if (ec) return step_problem("enter " + shown_path(t.dir) + ": " + ec.message());
  int rc = kora_rx_playlist(t.session.slot(), kPlayList);
  fs::current_path(previous, ec);
  if (rc < 0) return step_failed("fetch play list " + std::to_string(kPlayList), rc);
  char name[32];
  std::snprintf(name, sizeof name, "list%x.txt", kPlayList);
  fs::path path = t.dir / "img" / name;
  std::string text, error;
  if (!read_file(path.string(), &text, &error)) {
    return step_problem("read " + shown_path(path) + ": " + error);
  }
  t.wrote(path, "play list " + std::to_string(kPlayList));
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  std::string line = "play list " + std::to_string(kPlayList) + ": " + std::to_string(rc) +
                     " bytes, " + std::to_string(lines) + " lines -> " + shown_path(path);
  if (text != sim::Recorder::play_list_block(kPlayList)) {
    return step_problem(line + ": differs from the recorder's list");
  }
  return step_ok(line);
}

StepResult disk_list(Tour& t) {
  int rc = kora_rx_hddlist(t.session.slot(), 0, 16);
  if (rc < 0) return step_failed("read the disk list", rc);
  return step_ok("disk list from entry 0, 16 wanted: recorder reports " +
                 dec_hex(static_cast<uint32_t>(rc), 8));
}

StepResult play_control(Tour& t) {
  int slot = t.session.slot();
  int rc = kora_ctrl_play(slot, 1);
  if (rc < 0) return step_failed("send playback control 1", rc);
  int state = kora_rx_status(slot, 1);
  if (state < 0) return step_failed("read status word 1", state);
  std::string text = "playback control 1: recorder reports " + hex(static_cast<uint32_t>(rc), 2) +
                     ", status word 1 now " + hex(static_cast<uint32_t>(state), 4);
  if (state != 1) return step_problem(text + ": expected 0x0001");
  return step_ok(text);
}

StepResult play_search(Tour& t) {
  int rc = kora_play_search(t.session.slot(), 2004, 12, 3, 10, 5, 0);
  if (rc < 0) return step_failed("search 2004/12/03 10:05:00", rc);
  return step_ok("search 2004/12/03 10:05:00: recorder reports " +
                 dec_hex(static_cast<uint32_t>(rc)) + (rc == 0 ? " (found)" : ""));
}

StepResult play_pointer(Tour& t) {
  int rc = kora_set_playpointer(t.session.slot(), 0x00012345, 0x10);
  if (rc < 0) return step_failed("set the play pointer", rc);
  return step_ok("play pointer 0x00012345 0x00000010: recorder reports " +
                 hex(static_cast<uint32_t>(rc), 8));
}

// Writes a value with `set` and reads it back with `get`; both take the slot.
template <typename Set, typename Get>
StepResult store_round(const std::string& what, uint32_t value, Set set, Get get) {
  int reply = set();
  if (reply < 0) return step_failed("write " + what, reply);
  int got = get();
  if (got < 0) return step_failed("read " + what, got);
  std::string text = what + " <- " + hex(value, 4) + " (reply " +
                     hex(static_cast<uint32_t>(reply), 4) + "), read back " +
                     hex(static_cast<uint32_t>(got), 4);
  if (static_cast<uint32_t>(got) != value) return step_problem(text + ": does not match");
  return step_ok(text);
}

StepResult memory(Tour& t) {
  int s = t.session.slot();
  // The write names bank 1 and offset 0x20; the read names the 24-bit address 0x010020.
  return store_round(
      "memory 0x010020", 0x34, [s] { return kora_mem_set(s, 1, 0x20, 0x34); },
      [s] { return kora_mem_get(s, 0x010020, 0); });
}

StepResult i2c(Tour& t) {
  int s = t.session.slot();
  return store_round(
      "I2C device 0x50 register 2", 0x7F, [s] { return kora_i2c_set(s, 0x50, 2, 0x7F); },
      [s] { return kora_i2c_get(s, 0x50, 2); });
}

StepResult nvc(Tour& t) {
  int s = t.session.slot();
  return store_round(
      "Nvc 1 2 3", 0xBEEF, [s] { return kora_nvc_set(s, 1, 2, 3, 0xBEEF); },
      [s] { return kora_nvc_get(s, 1, 2, 3); });
}

// Returns kUpdateBytes of update image: a readable header, then a fixed pseudo-random
// pattern, so that every byte position is checked when the recorder's copy is compared.
std::string make_update_image() {
  std::string data = "VIRAZAV DEMO UPDATE IMAGE\n";
  data.reserve(kUpdateBytes);
  uint32_t x = 0x2545F491;
  while (data.size() < kUpdateBytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    data.push_back(static_cast<char>(x & 0xFF));
  }
  return data;
}

StepResult update(Tour& t) {
  fs::path path = t.dir / "update.bin";
  std::string image = make_update_image();
  std::string error;
  if (!write_file(path.string(), image.data(), image.size(), &error)) {
    return step_problem("write " + shown_path(path) + ": " + error);
  }
  t.wrote(path, "update image that was uploaded");
  ProgressBar bar("update", t.draw_progress);
  int rc = 0;
  {
    ProgressHandlerScope scope(&bar);
    rc = kora_update(t.session.slot(), path.c_str(), kUpdateKind);
  }
  // Without a drawn bar the step's own line carries the summary.
  if (t.draw_progress) bar.finish();
  if (rc < 0) return step_failed("upload " + shown_path(path), rc);
  std::string text =
      "uploaded " + std::to_string(rc) + " bytes of " + shown_path(path) + ", " + bar.summary();
  sim::UpdateUpload got;
  if (!t.recorder->wait_for_update(10000, &got)) {
    return step_problem(text + ", but the recorder did not finish receiving it");
  }
  std::string expected = image + '\0';
  if (!got.complete() || got.data.size() != expected.size() ||
      std::memcmp(got.data.data(), expected.data(), expected.size()) != 0) {
    return step_problem(text + ", but the recorder got " + std::to_string(got.data.size()) +
                        " bytes that differ");
  }
  return step_ok(text + "; recorder has all " + std::to_string(got.data.size()) +
                 " bytes (content and the closing zero)");
}

StepResult unconnect(Tour& t) {
  int rc = t.session.close();
  if (rc != 0) return step_failed("unconnect", rc);
  return step_ok("slot " + std::to_string(t.slot) + " unconnected");
}

StepResult reboot(Tour& t) {
  Session session;
  int rc = session.connect(t.slot, t.address, t.password);
  if (rc != 0) return step_failed("connect for the reboot", rc);
  int reply = kora_re_boot(session.slot());
  if (reply < 0) return step_failed("reboot", reply);
  session.close();
  // The recorder turns logins away for a short while; try again until one is taken.
  auto start = std::chrono::steady_clock::now();
  constexpr int kTries = 50;
  for (int i = 0; i < kTries; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Session probe;
    if (probe.connect(t.slot, t.address, t.password) == 0) {
      double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.1f s", secs);
      return step_ok("reboot sent (reply " + hex(static_cast<uint32_t>(reply), 2) +
                     "), connections dropped, logins taken again after " + buf);
    }
  }
  return step_problem("the recorder took no login within 5 s after the reboot");
}

StepResult log_file(Tour& t) {
  fs::path folder = t.dir / "drive-c" / "unit_" / "log";
  std::error_code ec;
  size_t entries = 0;
  std::string sample;
  fs::path file;
  for (const auto& item : fs::directory_iterator(folder, ec)) {
    std::string text, error;
    if (!read_file(item.path().string(), &text, &error)) continue;
    file = item.path();
    size_t pos = 0;
    while (pos < text.size()) {
      size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(pos, end - pos);
      ++entries;
      if (sample.empty() && line.find("kora_cam_swset(") != std::string::npos) sample = line;
      pos = end + 1;
    }
  }
  if (ec) return step_problem("read " + shown_path(folder) + ": " + ec.message());
  if (entries == 0) return step_problem("no log entries in " + shown_path(folder));
  return step_ok(std::to_string(entries) + " entries in " + shown_path(file) +
                 (sample.empty() ? "" : ", e.g. " + sample));
}

constexpr TourStep kSteps[] = {
    {"log", log_on, false},
    {"connect", connect, true},
    {"time get", time_get, false},
    {"time set", time_set, false},
    {"time check", time_check, false},
    {"camera switch", camera_switch, false},
    {"disk switch", disk_switch, false},
    {"JPEG switch", jpeg_switch, false},
    {"combi", combi, false},
    {"status", status, false},
    {"menu", menu, false},
    {"play list", play_list, false},
    {"disk list", disk_list, false},
    {"play control", play_control, false},
    {"play search", play_search, false},
    {"play pointer", play_pointer, false},
    {"memory", memory, false},
    {"I2C", i2c, false},
    {"Nvc", nvc, false},
    {"update", update, false},
    {"download", demo_download, false},
    {"index", demo_index, false},
    {"split", demo_split, false},
    {"bitmaps", demo_bitmaps, false},
    {"play", demo_play, false},
    {"disk", demo_disk, false},
    {"live", demo_live, false},
    {"unconnect", unconnect, false},
    {"reboot", reboot, false},
    {"log file", log_file, false},
};

}  // namespace

std::string shown_path(const fs::path& path) {
  std::error_code ec;
  fs::path cwd = fs::current_path(ec);
  if (ec) return path.string();
  fs::path rel = path.lexically_proximate(cwd);
  if (rel.empty() || rel.native().starts_with("..")) return path.string();
  return rel.string();
}

WavScope::WavScope(const std::string& wav) {
  if (const char* v = std::getenv("VIRAZAV_AUDIO")) previous_audio_ = v, had_audio_ = true;
  setenv("VIRAZAV_AUDIO", ("wav:" + wav).c_str(), 1);
}

WavScope::~WavScope() {
  if (had_audio_) {
    setenv("VIRAZAV_AUDIO", previous_audio_.c_str(), 1);
  } else {
    unsetenv("VIRAZAV_AUDIO");
  }
}

StepResult step_ok(std::string text) {
  return {true, std::move(text), 0};
}

StepResult step_failed(const std::string& what, int code) {
  return {false, what + ": " + virazav_strerror(code) + " (" + std::to_string(code) + ")", code};
}

StepResult step_problem(std::string text) {
  return {false, std::move(text), 0};
}

std::span<const TourStep> tour_steps() {
  return kSteps;
}

}  // namespace virazav::cli
