// The picture "disk timeline" draws of a recorder disk's record index: one model of
// lanes, bars, time ticks and a legend, laid out once, and the writers that turn it into
// text, an SVG, a PNG (drawn with cairo) or JSON. Every output draws the same model, so a
// bar sits at the same place in the SVG and in the PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "commands.h"
#include "disk_index.h"

namespace virazav::cli {

// What a bar stands for: a recording of one kind, or an alarm. The record index gives a
// recording's kind as a bare number; the legend names it by that number.
struct TimelineKind {
  std::string css_class;  // "kind-0", "kind-1", ..., "alarm"
  std::string name;       // "recording kind 0", "alarm"
  uint32_t rgb = 0;       // 0xRRGGBB
};

// One row of the drawing.
struct TimelineLane {
  std::string name;
  double top = 0;  // y of the lane's upper edge
};

// One recording or alarm.
struct TimelineBar {
  int lane = 0;
  int kind = 0;             // index into TimelineModel::kinds
  uint32_t kind_value = 0;  // the recording kind the index gives (0 for an alarm)
  bool alarm = false;
  int slot = 0;        // its slot in the recording or alarm list
  uint32_t start = 0;  // first and last second, as time numbers
  uint32_t end = 0;
  double x0 = 0, x1 = 0;  // left and right edge: the start and one second after the end
  double y = 0, height = 0;
};

struct TimelineTick {
  int64_t seconds = 0;  // seconds since 2000-01-01 00:00:00 on the real calendar
  double x = 0;
  std::string label;
};

struct TimelineModel {
  std::string title;                      // names the disk and its recorded range
  std::string subtitle;                   // counts of recordings and alarms, the index copy read
  uint32_t disk_start = 0, disk_end = 0;  // the recorded range the index gives
  // The axis: from the earliest start to one second after the latest end, in seconds
  // since 2000-01-01 on the real calendar (the recorder's time numbers give every
  // month 31 days, which would open false gaps at the end of short months).
  int64_t axis_from = 0, axis_to = 0;
  int64_t tick_step = 0;  // seconds between ticks
  std::vector<TimelineKind> kinds;
  std::vector<TimelineLane> lanes;
  std::vector<TimelineBar> bars;
  std::vector<TimelineTick> ticks;

  // Layout in pixels, shared by the SVG and the PNG.
  int width = 0, height = 0;
  double plot_left = 0, plot_right = 0;  // the axis's ends
  double axis_y = 0;                     // the axis line; the lanes start below it
  double lane_height = 0;
  double legend_y = 0;  // top of the first legend row
};

inline constexpr uint32_t kTimelineBackground = 0xFFFFFF;

// Seconds since 2000-01-01 00:00:00 on the real calendar for a time number (whose months
// all count 31 days; a day past a short month's end runs on into the next month).
int64_t timeline_seconds(uint32_t time_number);
// "YYYY-MM-DDThh:mm:ss" for seconds since 2000-01-01 00:00:00.
std::string timeline_iso_time(int64_t seconds);

// Builds and lays out the model of `index` for the disk called `name` in messages, with
// the index copy read described as `copy_used`. Returns false (and leaves *out as it is)
// when the index holds no recording: there is nothing to draw.
bool build_timeline(const DiskIndex& index, const std::string& name, const std::string& copy_used,
                    TimelineModel* out);

// The outputs of the model.
std::string timeline_text(const TimelineModel& model);
std::string timeline_svg(const TimelineModel& model);
std::string timeline_json(const TimelineModel& model);
// Draws the model into an image of model.width x model.height pixels and writes it as
// a PNG. On failure stores the reason in *error and returns false.
bool write_timeline_png(const TimelineModel& model, const std::string& path, std::string* error);

// The "disk timeline" action on a chosen drive: text on standard output, or --out
// FILE.svg, --png FILE.png, --json. Returns the exit status (kExitNothing when the index
// holds no recording).
int run_disk_timeline(const Invocation& inv, int drive, const std::string& name);

}  // namespace virazav::cli
