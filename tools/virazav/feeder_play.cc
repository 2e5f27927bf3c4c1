// "disk play" and the "file" command: play a recorder disk, or a copy's HDR.dat and
// .index, through the library's player, with the play controls the options ask for;
// every second print the play state and the decoder status and take a snapshot.
// "file search" shows where a time lands in a copy. Everything goes through the
// library's exports.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "commands.h"
#include "disk_index.h"
#include "json_writer.h"
#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

constexpr int64_t kDefaultSeconds = 10;

// The controls of one feeder.
struct Controls {
  const char* name;
  int (*play)();
  int (*forward)(int);
  int (*back)(int);
  int (*one)();
  int (*stop)();
};
constexpr Controls kDiskControls{"disk",        hdd_play_start, hdd_play_forward,
                                 hdd_play_back, hdd_one_play,   hdd_play_stop};
constexpr Controls kFileControls{"file",         file_play_start, file_play_forward,
                                 file_play_back, file_one_play,   file_play_stop};

// What the options ask for.
struct FeedPlan {
  int speed = 0;      // forward at this speed (--speed)
  int back = 0;       // back at this speed (--back)
  bool step = false;  // one frame forward every second (--step)
  int view = 0;       // viewer mode: 0 quad, 1..4 one channel
  std::string snapshot;
  int64_t seconds = kDefaultSeconds;
};

bool parse_plan(const Invocation& inv, FeedPlan* plan, int* status) {
  const Arguments& a = inv.args;
  int64_t n = 0;
  int kinds = 0;
  if (const std::string* v = a.value("speed")) {
    if (!parse_number(*v, 1, 99, &n)) return *status = usage(inv, "--speed needs 1..99"), false;
    plan->speed = static_cast<int>(n);
    ++kinds;
  }
  if (const std::string* v = a.value("back")) {
    if (!parse_number(*v, 1, 99, &n)) return *status = usage(inv, "--back needs 1..99"), false;
    plan->back = static_cast<int>(n);
    ++kinds;
  }
  if (a.has("step")) {
    plan->step = true;
    ++kinds;
  }
  if (kinds > 1)
    return *status = usage(inv, "--speed, --back and --step exclude each other"), false;
  if (const std::string* v = a.value("view")) {
    if (*v != "quad") {
      if (!parse_number(*v, 1, 4, &n))
        return *status = usage(inv, "--view needs quad or 1..4"), false;
      plan->view = static_cast<int>(n);
    }
  }
  if (const std::string* v = a.value("snapshot")) {
    std::error_code ec;
    if (!std::filesystem::is_directory(*v, ec))
      return *status = usage(inv, "--snapshot needs an existing folder"), false;
    plan->snapshot = std::filesystem::absolute(*v, ec).string();
  }
  if (const std::string* v = a.value("for")) {
    if (!parse_number(*v, 1, 86400, &plan->seconds))
      return *status = usage(inv, "--for needs 1..86400 seconds"), false;
  }
  return true;
}

const char* layout_name(int layout) {
  return layout == 4 ? "quad" : layout == 2 ? "two pictures" : layout == 1 ? "single" : "none";
}

// Steers the running feeder as planned for the planned time, printing a line a
// second (or, when `json` is given, adding an object a second to its open array) and
// taking a snapshot into the snapshot folder.
int play_for(const FeedPlan& plan, const Controls& c, JsonWriter* json) {
  Zel_set_viewer_mode(plan.view, 0);
  if (plan.speed > 0) {
    c.forward(plan.speed);
  } else if (plan.back > 0) {
    c.back(plan.back);
  } else if (plan.step) {
    c.one();
  } else {
    c.play();
  }
  const std::filesystem::path old_cwd = std::filesystem::current_path();
  std::error_code ec;
  if (!plan.snapshot.empty()) std::filesystem::current_path(plan.snapshot, ec);
  if (ec) return report_problem("use " + plan.snapshot, ec.message());
  for (int64_t s = 1; s <= plan.seconds; ++s) {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const bool decoder_ok = get_dec_sts() == 0;
    // make_bmp tells whether the feeder still plays, and only then writes.
    int status = 0, layout = 0, first = 0, second = 0;
    if (!plan.snapshot.empty()) make_bmp(&layout, &first, &second, nullptr, &status);
    if (json != nullptr) {
      json->begin_object().member("second", s).member("decoder_ok", decoder_ok);
      if (!plan.snapshot.empty()) {
        json->member("feeder", status == 1 ? "stopped" : "playing");
        if (status != 1) {
          json->member("snapshot", layout_name(layout))
              .key("snapshot_channels")
              .begin_array()
              .value(first)
              .value(second)
              .end_array();
        }
      }
      json->end_object();
      if (plan.step) c.one();
      continue;
    }
    std::printf("%4llds  decoder %s", static_cast<long long>(s), decoder_ok ? "ok" : "errors");
    if (!plan.snapshot.empty()) {
      if (status == 1) {
        std::printf("  %s stopped", c.name);
      } else {
        std::printf("  %s playing, snapshot %s (channels %d, %d)", c.name, layout_name(layout),
                    first, second);
      }
    }
    std::printf("\n");
    std::fflush(stdout);
    if (plan.step) c.one();
  }
  c.stop();
  std::filesystem::current_path(old_cwd, ec);
  return kExitOk;
}

// Waits up to 2 s for a stopped feeder to end.
void wait_end(bool (*running)()) {
  for (int i = 0; i < 200 && running(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

// A stop request to a feeder that runs is accepted (and repeating it does no
// harm); one that has ended refuses it.
bool disk_feeder_still_running() {
  return hdd_read_stop() == 0;
}
bool file_feeder_still_running() {
  return file_read_stop() == 0;
}

int open_pair(const Invocation& inv, size_t first, std::string* data, std::string* index,
              int* status) {
  if (inv.args.positional.size() < first + 2) {
    *status = usage(inv, "missing HDR.dat and INDEX");
    return -1;
  }
  std::error_code ec;
  *data = std::filesystem::absolute(inv.args.positional[first], ec).string();
  *index = std::filesystem::absolute(inv.args.positional[first + 1], ec).string();
  // The library does not say which of the two it could not open.
  if (!check_readable(inv.args.positional[first], status) ||
      !check_readable(inv.args.positional[first + 1], status)) {
    return -1;
  }
  int rc = playfile(data->c_str(), index->c_str(), 0);
  if (rc != 0) {
    *status = report_disk_failure("play " + *data + " along " + *index, VIRAZAV_DISK_FILE_OPEN, rc);
  }
  return rc;
}

}  // namespace

int run_disk_play(const Invocation& inv, int drive, const std::string& name) {
  FeedPlan plan;
  int status = kExitOk;
  if (!parse_plan(inv, &plan, &status)) return status;
  const std::string* at = inv.args.value("at");
  uint32_t t = 0;
  if (at == nullptr || !parse_disk_time(*at, &t))
    return usage(inv, "--at needs a time (YYYY-MM-DDThh:mm:ss)");
  Zel_play_open(0, 0, 0, 0);
  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) return st;
  const int placed = search_play(static_cast<int>(t));
  if (!inv.global.json) {
    std::printf("search %s: %s\n", format_disk_time(t).c_str(),
                placed == 1 ? "positioned at the time" : "positioned at the newest recording");
  }
  const int rc = hdd_read_start();
  if (rc != 0) {
    hdd_close();
    return report_disk_failure("start the disk feeder", VIRAZAV_DISK_FEEDER, rc);
  }
  JsonWriter json;
  json.begin_object()
      .member("drive", name)
      .member("at", format_disk_time(t))
      .member("found", placed == 1)
      .key("seconds")
      .begin_array();
  status = play_for(plan, kDiskControls, inv.global.json ? &json : nullptr);
  if (inv.global.json) json.end_array().end_object().print();
  wait_end(disk_feeder_still_running);
  play_end();
  hdd_close();
  return status;
}

int run_file(const Invocation& inv) {
  if (inv.args.positional.empty()) return usage(inv, "missing action: play or search");
  const std::string& action = inv.args.positional[0];
  int status = kExitOk;
  std::string data, index;
  if (action == "play") {
    FeedPlan plan;
    if (!parse_plan(inv, &plan, &status)) return status;
    if (!expect_positional(inv, 1, 2, &status)) return status;
    const std::string* at = inv.args.value("at");
    uint32_t t = 0;
    if (at != nullptr && !parse_disk_time(*at, &t))
      return usage(inv, "--at needs a time (YYYY-MM-DDThh:mm:ss)");
    Zel_play_open(0, 0, 0, 0);
    if (open_pair(inv, 1, &data, &index, &status) != 0) return status;
    uint32_t start = 0, end = 0;
    file_read_start_end_sec(&start, &end);
    if (!inv.global.json) {
      std::printf("%s: %s .. %s\n", data.c_str(), format_disk_time(start).c_str(),
                  format_disk_time(end).c_str());
    }
    if (at != nullptr) {
      int rc = file_search(static_cast<int>(t));
      if (rc != 0) {
        status = report_disk_failure("search " + *at, VIRAZAV_DISK_FILE_SEARCH, rc);
        wait_end(file_feeder_still_running);
        play_end();
        return status;
      }
    }
    JsonWriter json;
    json.begin_object()
        .member("file", data)
        .member("index", index)
        .member("start", format_disk_time(start))
        .member("end", format_disk_time(end))
        .key("at");
    if (at != nullptr) {
      json.value(format_disk_time(t));
    } else {
      json.null();
    }
    json.key("seconds").begin_array();
    status = play_for(plan, kFileControls, inv.global.json ? &json : nullptr);
    if (inv.global.json) json.end_array().end_object().print();
    wait_end(file_feeder_still_running);
    play_end();
    return status;
  }
  if (action == "search") {
    if (!expect_positional(inv, 1, 3, &status)) return status;
    uint32_t t = 0;
    if (!parse_disk_time(inv.args.positional[3], &t))
      return usage(inv, "TIME needs YYYY-MM-DDThh:mm:ss or a time number");
    if (open_pair(inv, 1, &data, &index, &status) != 0) return status;
    uint32_t start = 0, end = 0;
    file_read_start_end_sec(&start, &end);
    const int rc = file_search(static_cast<int>(t));
    if (inv.global.json) {
      JsonWriter()
          .begin_object()
          .member("file", data)
          .member("start", format_disk_time(start))
          .member("end", format_disk_time(end))
          .member("time", format_disk_time(t))
          .member("placed", rc == 0)
          .member("result", rc)
          .end_object()
          .print();
    } else {
      std::printf("range %s .. %s\n", format_disk_time(start).c_str(),
                  format_disk_time(end).c_str());
      if (rc == 0) {
        std::printf("%s: placed at the chunk of that time\n", format_disk_time(t).c_str());
      } else {
        std::printf("%s: %s (%d)\n", format_disk_time(t).c_str(),
                    rc == -2 ? "outside the file's range" : "not placed", rc);
      }
    }
    wait_end(file_feeder_still_running);
    return rc == 0 ? kExitOk : kExitFailure;
  }
  return usage(inv, "unknown action " + action);
}

}  // namespace virazav::cli
