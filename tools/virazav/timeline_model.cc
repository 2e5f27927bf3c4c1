// The model of the disk timeline: the recordings and alarms of the record index placed on
// a real-calendar time axis, packed into lanes, with time ticks, a legend and the pixel
// layout that the SVG and the PNG share; and the plain-text drawing of it.
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <utility>

#include "disk/rec_time.h"
#include "timeline_draw.h"

namespace virazav::cli {

namespace {

// Time numbers: every month counts 31 days, every year 372.
constexpr uint32_t kYear = 32140800, kMonth = 2678400, kDay = 86400;

struct Civil {
  int64_t year = 2000;
  int month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

// The recorder's clock runs on the real calendar: its seconds since 2000 are counted
// by the same rules the simulated recorder writes its disks with.
Civil civil_of(int64_t seconds) {
  Civil c;
  const std::optional<sim::RecTime> t = sim::rec_time_at(seconds);
  if (!t) return c;  // outside 2000..2255: time numbers never get there
  c.year = 2000 + t->year;
  c.month = t->month;
  c.day = t->day;
  c.hour = t->hour;
  c.minute = t->minute;
  c.second = t->second;
  return c;
}

// Tick steps in seconds, from a second to a year; the first that gives at most
// kMaxTicks ticks over the axis is used, so that each label has room for a full time.
constexpr int64_t kTickSteps[] = {
    1,    2,    5,     10,    15,    30,    60,     120,    300,     600,     900,     1800,
    3600, 7200, 10800, 21600, 43200, 86400, 172800, 604800, 1209600, 2592000, 7776000, 31536000};
constexpr int64_t kMaxTicks = 6;

// A tick's label: the full time at the first tick, then only what changed: the date
// for steps of days, the hour and minute (and second for steps below a minute), with
// the month and day in front where the day turns.
std::string tick_label(int64_t seconds, int64_t step, const Civil* previous) {
  const Civil c = civil_of(seconds);
  char buf[48];
  if (step >= kDay) {
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d", static_cast<long long>(c.year), c.month,
                  c.day);
  } else if (previous == nullptr) {
    return timeline_iso_time(seconds);
  } else {
    const bool new_day =
        previous->day != c.day || previous->month != c.month || previous->year != c.year;
    char clock[16];
    if (step < 60) {
      std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", c.hour, c.minute, c.second);
    } else {
      std::snprintf(clock, sizeof clock, "%02d:%02d", c.hour, c.minute);
    }
    if (new_day) {
      std::snprintf(buf, sizeof buf, "%02d-%02dT%s", c.month, c.day, clock);
    } else {
      std::snprintf(buf, sizeof buf, "%s", clock);
    }
  }
  return buf;
}

// Colours of the recording kinds in order of their values, repeated past the eighth;
// alarms are red, which no kind uses.
constexpr uint32_t kKindColours[] = {0x2E86C1, 0x27AE60, 0x8E44AD, 0xE67E22,
                                     0x16A085, 0x7F8C8D, 0xD4AC0D, 0x6D4C41};
constexpr uint32_t kAlarmColour = 0xC0392B;

// Layout in pixels.
constexpr int kWidth = 1000;
constexpr double kPlotLeft = 160, kPlotRight = 970;
constexpr double kAxisY = 70;
constexpr double kLaneHeight = 26, kBarInset = 5;
constexpr double kLegendGap = 18, kLegendRow = 20;

struct Interval {
  int64_t from = 0, to = 0;  // seconds, `to` one past the last second
  size_t bar = 0;
};

// Packs the intervals into rows, in the order given (the order of the recorder's lists):
// an interval goes into the first row where it overlaps no other. Returns the row of each
// interval. Recordings overlap only after the recorder's clock was set back, so what was
// recorded after a set-back moves to a row of its own; alarms of different channels may
// overlap freely.
std::vector<int> pack_rows(const std::vector<Interval>& items, int* rows) {
  std::vector<std::vector<const Interval*>> row_items;
  std::vector<int> row_of;
  for (const Interval& it : items) {
    size_t r = 0;
    for (; r < row_items.size(); ++r) {
      bool free = true;
      for (const Interval* other : row_items[r]) {
        if (other->from < it.to && it.from < other->to) {
          free = false;
          break;
        }
      }
      if (free) break;
    }
    if (r == row_items.size()) row_items.emplace_back();
    row_items[r].push_back(&it);
    row_of.push_back(static_cast<int>(r));
  }
  *rows = static_cast<int>(row_items.size());
  return row_of;
}

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

int64_t timeline_seconds(uint32_t t) {
  // A day past the end of a short month (which a time number can name) runs on into
  // the next month.
  sim::RecTime r;
  r.year = static_cast<int>(t / kYear);
  r.month = static_cast<int>(t % kYear / kMonth + 1);
  r.day = static_cast<int>(t % kMonth / kDay + 1);
  r.hour = r.minute = r.second = 0;
  return sim::clock_seconds(r) + t % kDay;
}

std::string timeline_iso_time(int64_t seconds) {
  const Civil c = civil_of(seconds);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04lld-%02d-%02dT%02d:%02d:%02d", static_cast<long long>(c.year),
                c.month, c.day, c.hour, c.minute, c.second);
  return buf;
}

bool build_timeline(const DiskIndex& index, const std::string& name, const std::string& copy_used,
                    TimelineModel* out) {
  if (index.recordings.empty()) return false;
  TimelineModel m;
  m.disk_start = index.start;
  m.disk_end = index.end;
  m.title = name + ": recorded " + timeline_iso_time(timeline_seconds(index.start)) + " .. " +
            timeline_iso_time(timeline_seconds(index.end));
  m.subtitle = plural(index.recordings.size(), "recording", "recordings") + ", " +
               plural(index.alarms.size(), "alarm", "alarms") + "; index read from " + copy_used;

  // One kind per recording kind value present, in ascending order, then the alarms.
  std::map<uint32_t, int> kind_of_value;
  for (const RecordingSpan& s : index.recordings) kind_of_value.emplace(s.kind, 0);
  for (auto& [value, k] : kind_of_value) {
    k = static_cast<int>(m.kinds.size());
    m.kinds.push_back({"kind-" + std::to_string(value), "recording kind " + std::to_string(value),
                       kKindColours[m.kinds.size() % std::size(kKindColours)]});
  }
  const int alarm_kind = static_cast<int>(m.kinds.size());
  if (!index.alarms.empty()) m.kinds.push_back({"alarm", "alarm", kAlarmColour});

  std::vector<Interval> spans;
  for (const RecordingSpan& s : index.recordings) {
    TimelineBar b;
    b.kind = kind_of_value[s.kind];
    b.kind_value = s.kind;
    b.slot = s.index;
    b.start = s.start;
    b.end = s.end;
    m.bars.push_back(b);
  }
  for (const AlarmSpan& a : index.alarms) {
    TimelineBar b;
    b.kind = alarm_kind;
    b.alarm = true;
    b.slot = a.index;
    b.start = a.start;
    b.end = a.end;
    m.bars.push_back(b);
  }
  m.axis_from = timeline_seconds(m.bars[0].start);
  m.axis_to = timeline_seconds(m.bars[0].end) + 1;
  for (const TimelineBar& b : m.bars) {
    m.axis_from = std::min(m.axis_from, timeline_seconds(b.start));
    m.axis_to = std::max(m.axis_to, timeline_seconds(b.end) + 1);
  }

  // Lanes: the recordings of each kind, then the alarms, each packed into rows.
  for (int k = 0; k < static_cast<int>(m.kinds.size()); ++k) {
    std::vector<Interval> items;
    for (size_t i = 0; i < m.bars.size(); ++i) {
      if (m.bars[i].kind != k) continue;
      items.push_back({timeline_seconds(m.bars[i].start), timeline_seconds(m.bars[i].end) + 1, i});
    }
    int rows = 0;
    const std::vector<int> row = pack_rows(items, &rows);
    const int first_lane = static_cast<int>(m.lanes.size());
    for (size_t j = 0; j < items.size(); ++j) m.bars[items[j].bar].lane = first_lane + row[j];
    for (int r = 0; r < rows; ++r) {
      std::string lane_name = k == alarm_kind && !index.alarms.empty() ? "alarms" : m.kinds[k].name;
      if (r > 0) lane_name += " (" + std::to_string(r + 1) + ")";
      m.lanes.push_back({lane_name, 0});
    }
  }

  // Layout.
  m.width = kWidth;
  m.plot_left = kPlotLeft;
  m.plot_right = kPlotRight;
  m.axis_y = kAxisY;
  m.lane_height = kLaneHeight;
  for (size_t l = 0; l < m.lanes.size(); ++l) {
    m.lanes[l].top = kAxisY + 6 + kLaneHeight * static_cast<double>(l);
  }
  const double span = static_cast<double>(m.axis_to - m.axis_from);
  auto x_of = [&](int64_t s) {
    return kPlotLeft + static_cast<double>(s - m.axis_from) / span * (kPlotRight - kPlotLeft);
  };
  for (TimelineBar& b : m.bars) {
    b.x0 = x_of(timeline_seconds(b.start));
    b.x1 = x_of(timeline_seconds(b.end) + 1);
    b.y = m.lanes[b.lane].top + kBarInset;
    b.height = kLaneHeight - 2 * kBarInset;
  }

  m.tick_step = kTickSteps[std::size(kTickSteps) - 1];
  for (int64_t step : kTickSteps) {
    if ((m.axis_to - m.axis_from) / step <= kMaxTicks) {
      m.tick_step = step;
      break;
    }
  }
  // Ticks at whole multiples of the step from 2000-01-01 00:00:00.
  int64_t t = (m.axis_from + m.tick_step - 1) / m.tick_step * m.tick_step;
  Civil previous;
  for (; t <= m.axis_to; t += m.tick_step) {
    m.ticks.push_back(
        {t, x_of(t), tick_label(t, m.tick_step, m.ticks.empty() ? nullptr : &previous)});
    previous = civil_of(t);
  }

  const double lanes_bottom = kAxisY + 6 + kLaneHeight * static_cast<double>(m.lanes.size());
  m.legend_y = lanes_bottom + kLegendGap;
  // The legend wraps after four entries a row.
  const size_t legend_rows = (m.kinds.size() + 3) / 4;
  m.height = static_cast<int>(m.legend_y + kLegendRow * static_cast<double>(legend_rows) + 10);
  *out = std::move(m);
  return true;
}

std::string timeline_text(const TimelineModel& m) {
  constexpr int kColumns = 60;
  const double span = static_cast<double>(m.axis_to - m.axis_from);
  std::string text =
      timeline_iso_time(m.axis_from) + " .. " + timeline_iso_time(m.axis_to - 1) + "\n";
  for (const TimelineBar& b : m.bars) {
    std::string bar(kColumns, ' ');
    const auto column = [&](int64_t s) {
      return static_cast<int>(static_cast<double>(s - m.axis_from) / span * (kColumns - 1));
    };
    const int a = column(timeline_seconds(b.start)), z = column(timeline_seconds(b.end));
    for (int i = a; i <= z && i < kColumns; ++i) bar[i] = b.alarm ? '!' : '#';
    char line[160];
    std::snprintf(line, sizeof line, "%s[%3d] |%s| %s  %s\n", b.alarm ? "alarm " : "", b.slot,
                  bar.c_str(), timeline_iso_time(timeline_seconds(b.start)).c_str() + 11,
                  m.kinds[b.kind].name.c_str());
    text += line;
  }
  return text;
}

}  // namespace virazav::cli
