// The writers of the disk timeline: SVG and JSON text of the model, the PNG drawn with
// cairo from the same model and layout, and the "disk timeline" action that picks them.
#include "timeline_draw.h"

#include <cairo.h>

#include <cstdio>

#include "report.h"
#include "virazav.h"

namespace virazav::cli {

namespace {

// Colours of what is not data.
constexpr uint32_t kInk = 0x222222;       // title, labels
constexpr uint32_t kMutedInk = 0x555555;  // subtitle
constexpr uint32_t kAxisInk = 0x333333;   // axis line and ticks
constexpr uint32_t kLaneRule = 0xE3E3E3;  // the rule between two lanes
constexpr double kTitleSize = 15, kTextSize = 11;
constexpr double kTitleY = 22, kSubtitleY = 40;
constexpr double kTickLength = 5;
constexpr double kLegendColumn = 240, kLegendSwatch = 12;
constexpr size_t kLegendPerRow = 4;

std::string hex_colour(uint32_t rgb) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%06x", rgb & 0xFFFFFF);
  return buf;
}

std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  // Trailing zeros say nothing: "12.50" -> "12.5", "12.00" -> "12".
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

// Escapes text for XML character data and attribute values.
std::string xml_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // Control characters other than tab, newline and return are not XML at all.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string bar_tooltip(const TimelineModel& m, const TimelineBar& b) {
  return std::string(b.alarm ? "alarm " : "recording ") + std::to_string(b.slot) + " (" +
         m.kinds[b.kind].name + "): " + timeline_iso_time(timeline_seconds(b.start)) + " .. " +
         timeline_iso_time(timeline_seconds(b.end));
}

double legend_x(size_t i) {
  return 10 + kLegendColumn * static_cast<double>(i % kLegendPerRow);
}
double legend_top(const TimelineModel& m, size_t i) {
  return m.legend_y + 20 * static_cast<double>(i / kLegendPerRow);
}

// ---- PNG through cairo ------------------------------------------------------------------

void set_colour(cairo_t* cr, uint32_t rgb) {
  cairo_set_source_rgb(cr, ((rgb >> 16) & 0xFF) / 255.0, ((rgb >> 8) & 0xFF) / 255.0,
                       (rgb & 0xFF) / 255.0);
}

enum class Anchor { kStart, kMiddle, kEnd };

// Draws text with its baseline at y, placed at x as the SVG's text-anchor places it.
void draw_text(cairo_t* cr, const std::string& text, double x, double y, Anchor anchor) {
  cairo_text_extents_t ext;
  cairo_text_extents(cr, text.c_str(), &ext);
  if (anchor == Anchor::kMiddle) x -= ext.x_advance / 2;
  if (anchor == Anchor::kEnd) x -= ext.x_advance;
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1) {
  cairo_move_to(cr, x0, y0);
  cairo_line_to(cr, x1, y1);
  cairo_stroke(cr);
}

void paint(cairo_t* cr, const TimelineModel& m) {
  set_colour(cr, kTimelineBackground);
  cairo_paint(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, kTitleSize);
  set_colour(cr, kInk);
  draw_text(cr, m.title, 10, kTitleY, Anchor::kStart);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, kTextSize);
  set_colour(cr, kMutedInk);
  draw_text(cr, m.subtitle, 10, kSubtitleY, Anchor::kStart);

  cairo_set_line_width(cr, 1);
  set_colour(cr, kLaneRule);
  for (const TimelineLane& lane : m.lanes) {
    line(cr, m.plot_left, lane.top + m.lane_height, m.plot_right, lane.top + m.lane_height);
  }
  set_colour(cr, kAxisInk);
  line(cr, m.plot_left, m.axis_y, m.plot_right, m.axis_y);
  for (const TimelineTick& t : m.ticks) {
    line(cr, t.x, m.axis_y - kTickLength, t.x, m.axis_y);
    draw_text(cr, t.label, t.x, m.axis_y - kTickLength - 4, Anchor::kMiddle);
  }
  set_colour(cr, kInk);
  for (const TimelineLane& lane : m.lanes) {
    draw_text(cr, lane.name, m.plot_left - 8, lane.top + m.lane_height / 2 + 4, Anchor::kEnd);
  }
  for (const TimelineBar& b : m.bars) {
    set_colour(cr, m.kinds[b.kind].rgb);
    cairo_rectangle(cr, b.x0, b.y, b.x1 - b.x0, b.height);
    cairo_fill(cr);
  }
  for (size_t i = 0; i < m.kinds.size(); ++i) {
    const double x = legend_x(i), y = legend_top(m, i);
    set_colour(cr, m.kinds[i].rgb);
    cairo_rectangle(cr, x, y, kLegendSwatch, kLegendSwatch);
    cairo_fill(cr);
    set_colour(cr, kInk);
    draw_text(cr, m.kinds[i].name, x + kLegendSwatch + 6, y + 10, Anchor::kStart);
  }
}

}  // namespace

std::string timeline_svg(const TimelineModel& m) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(m.width) +
       "\" height=\"" + std::to_string(m.height) + "\" viewBox=\"0 0 " + std::to_string(m.width) +
       " " + std::to_string(m.height) +
       "\" font-family=\"DejaVu Sans, Verdana, sans-serif\" font-size=\"" + num(kTextSize) +
       "\">\n";
  s += "<title>" + xml_escape(m.title) + "</title>\n";
  s += "<rect class=\"background\" x=\"0\" y=\"0\" width=\"" + std::to_string(m.width) +
       "\" height=\"" + std::to_string(m.height) + "\" fill=\"" + hex_colour(kTimelineBackground) +
       "\"/>\n";
  s += "<text class=\"title\" x=\"10\" y=\"" + num(kTitleY) + "\" font-size=\"" + num(kTitleSize) +
       "\" font-weight=\"bold\" fill=\"" + hex_colour(kInk) + "\">" + xml_escape(m.title) +
       "</text>\n";
  s += "<text class=\"subtitle\" x=\"10\" y=\"" + num(kSubtitleY) + "\" fill=\"" +
       hex_colour(kMutedInk) + "\">" + xml_escape(m.subtitle) + "</text>\n";

  s += "<g class=\"lanes\" stroke=\"" + hex_colour(kLaneRule) + "\">\n";
  for (const TimelineLane& lane : m.lanes) {
    const std::string y = num(lane.top + m.lane_height);
    s += "<line x1=\"" + num(m.plot_left) + "\" y1=\"" + y + "\" x2=\"" + num(m.plot_right) +
         "\" y2=\"" + y + "\"/>\n";
  }
  s += "</g>\n<g class=\"lane-names\" text-anchor=\"end\" fill=\"" + hex_colour(kInk) + "\">\n";
  for (const TimelineLane& lane : m.lanes) {
    s += "<text x=\"" + num(m.plot_left - 8) + "\" y=\"" + num(lane.top + m.lane_height / 2 + 4) +
         "\">" + xml_escape(lane.name) + "</text>\n";
  }
  s += "</g>\n";

  // The axis: its extent says where the plot runs, for readers of the file as well.
  s += "<g class=\"axis\" stroke=\"" + hex_colour(kAxisInk) + "\" data-from=\"" +
       timeline_iso_time(m.axis_from) + "\" data-to=\"" + timeline_iso_time(m.axis_to) +
       "\" data-step-seconds=\"" + std::to_string(m.tick_step) + "\">\n";
  s += "<line class=\"axis-line\" x1=\"" + num(m.plot_left) + "\" y1=\"" + num(m.axis_y) +
       "\" x2=\"" + num(m.plot_right) + "\" y2=\"" + num(m.axis_y) + "\"/>\n";
  for (const TimelineTick& t : m.ticks) {
    s += "<line class=\"tick\" x1=\"" + num(t.x) + "\" y1=\"" + num(m.axis_y - kTickLength) +
         "\" x2=\"" + num(t.x) + "\" y2=\"" + num(m.axis_y) + "\"/>\n";
    s += "<text class=\"tick-label\" x=\"" + num(t.x) + "\" y=\"" +
         num(m.axis_y - kTickLength - 4) + "\" text-anchor=\"middle\" stroke=\"none\" fill=\"" +
         hex_colour(kInk) + "\" data-time=\"" + timeline_iso_time(t.seconds) + "\">" +
         xml_escape(t.label) + "</text>\n";
  }
  s += "</g>\n<g class=\"bars\">\n";
  for (const TimelineBar& b : m.bars) {
    s += "<rect class=\"bar " + m.kinds[b.kind].css_class + "\" data-slot=\"" +
         std::to_string(b.slot) + "\" data-start=\"" +
         timeline_iso_time(timeline_seconds(b.start)) + "\" data-end=\"" +
         timeline_iso_time(timeline_seconds(b.end)) + "\" x=\"" + num(b.x0) + "\" y=\"" + num(b.y) +
         "\" width=\"" + num(b.x1 - b.x0) + "\" height=\"" + num(b.height) + "\" fill=\"" +
         hex_colour(m.kinds[b.kind].rgb) + "\"><title>" + xml_escape(bar_tooltip(m, b)) +
         "</title></rect>\n";
  }
  s += "</g>\n<g class=\"legend\" fill=\"" + hex_colour(kInk) + "\">\n";
  for (size_t i = 0; i < m.kinds.size(); ++i) {
    const double x = legend_x(i), y = legend_top(m, i);
    s += "<rect class=\"swatch " + m.kinds[i].css_class + "\" x=\"" + num(x) + "\" y=\"" + num(y) +
         "\" width=\"" + num(kLegendSwatch) + "\" height=\"" + num(kLegendSwatch) + "\" fill=\"" +
         hex_colour(m.kinds[i].rgb) + "\"/>\n";
    s += "<text x=\"" + num(x + kLegendSwatch + 6) + "\" y=\"" + num(y + 10) + "\">" +
         xml_escape(m.kinds[i].name) + "</text>\n";
  }
  s += "</g>\n</svg>\n";
  return s;
}

std::string timeline_json(const TimelineModel& m) {
  std::string s = "{\n  \"title\": " + json_string(m.title) + ",\n";
  s += "  \"recorded\": {\"from\": " +
       json_string(timeline_iso_time(timeline_seconds(m.disk_start))) +
       ", \"to\": " + json_string(timeline_iso_time(timeline_seconds(m.disk_end))) + "},\n";
  s += "  \"axis\": {\"from\": " + json_string(timeline_iso_time(m.axis_from)) +
       ", \"to\": " + json_string(timeline_iso_time(m.axis_to)) +
       ", \"tick_seconds\": " + std::to_string(m.tick_step) + "},\n";
  s += "  \"kinds\": [";
  for (size_t i = 0; i < m.kinds.size(); ++i) {
    s += std::string(i ? ",\n" : "\n") + "    {\"class\": " + json_string(m.kinds[i].css_class) +
         ", \"name\": " + json_string(m.kinds[i].name) +
         ", \"colour\": " + json_string(hex_colour(m.kinds[i].rgb)) + "}";
  }
  s += "\n  ],\n  \"lanes\": [";
  for (size_t i = 0; i < m.lanes.size(); ++i) {
    s += std::string(i ? ", " : "") + json_string(m.lanes[i].name);
  }
  s += "],\n  \"bars\": [";
  for (size_t i = 0; i < m.bars.size(); ++i) {
    const TimelineBar& b = m.bars[i];
    s += std::string(i ? ",\n" : "\n") + "    {\"what\": \"" + (b.alarm ? "alarm" : "recording") +
         "\", \"slot\": " + std::to_string(b.slot);
    if (!b.alarm) s += ", \"kind\": " + std::to_string(b.kind_value);
    s += ", \"class\": " + json_string(m.kinds[b.kind].css_class) +
         ", \"lane\": " + std::to_string(b.lane) +
         ", \"from\": " + json_string(timeline_iso_time(timeline_seconds(b.start))) +
         ", \"to\": " + json_string(timeline_iso_time(timeline_seconds(b.end))) + "}";
  }
  s += "\n  ]\n}\n";
  return s;
}

bool write_timeline_png(const TimelineModel& m, const std::string& path, std::string* error) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, m.width, m.height);
  cairo_t* cr = cairo_create(surface);
  paint(cr, m);
  cairo_status_t st = cairo_status(cr);
  cairo_destroy(cr);
  if (st == CAIRO_STATUS_SUCCESS) st = cairo_surface_write_to_png(surface, path.c_str());
  cairo_surface_destroy(surface);
  if (st != CAIRO_STATUS_SUCCESS) {
    *error = cairo_status_to_string(st);
    return false;
  }
  return true;
}

int run_disk_timeline(const Invocation& inv, int drive, const std::string& name) {
  const std::string* svg_path = inv.args.value("out");
  const std::string* png_path = inv.args.value("png");
  const bool json = inv.args.has("json");
  DiskIndex index;
  if (int st = open_disk_index(drive, name, &index); st != kExitOk) return st;
  hdd_close();
  TimelineModel model;
  if (!build_timeline(index, name, describe_copy_used(index), &model)) {
    std::fprintf(stderr, "virazav: %s: nothing to draw: the record index holds no recording\n",
                 name.c_str());
    return kExitNothing;
  }
  const std::string what = std::to_string(index.recordings.size()) + " recordings and " +
                           std::to_string(index.alarms.size()) + " alarms";
  if (svg_path != nullptr) {
    const std::string svg = timeline_svg(model);
    std::string error;
    if (!write_file(*svg_path, svg.data(), svg.size(), &error)) {
      return report_problem("write " + *svg_path, error);
    }
    if (!json) std::printf("timeline of %s written to %s\n", what.c_str(), svg_path->c_str());
  }
  if (png_path != nullptr) {
    std::string error;
    if (!write_timeline_png(model, *png_path, &error)) {
      return report_problem("write " + *png_path, error);
    }
    if (!json) std::printf("timeline of %s drawn into %s\n", what.c_str(), png_path->c_str());
  }
  if (json) {
    std::fputs(timeline_json(model).c_str(), stdout);
  } else if (svg_path == nullptr && png_path == nullptr) {
    std::fputs(timeline_text(model).c_str(), stdout);
  }
  return kExitOk;
}

}  // namespace virazav::cli
