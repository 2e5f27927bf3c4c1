// "virazav disk timeline" run as a process on disk images of the simulated recorder: the
// SVG read back with an XML parser, the PNG read back with cairo, the JSON read back with
// python's parser, and the images it has nothing to draw from.
#include <cairo.h>
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "cli/cli_process.h"
#include "disk/disk_image.h"

namespace virazav::testing {
namespace {

namespace fs = std::filesystem;

// One element of the SVG: its name and attributes, and the text inside it.
struct Element {
  std::string name;
  std::map<std::string, std::string> attr;
  std::string text;
  double num(const std::string& key) const {
    auto it = attr.find(key);
    return it == attr.end() ? NAN : std::stod(it->second);
  }
  bool has_class(const std::string& c) const {
    auto it = attr.find("class");
    if (it == attr.end()) return false;
    const std::string padded = " " + it->second + " ";
    return padded.find(" " + c + " ") != std::string::npos;
  }
};

void collect(xmlNode* node, std::vector<Element>* out) {
  for (xmlNode* n = node; n != nullptr; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    Element e;
    e.name = reinterpret_cast<const char*>(n->name);
    for (xmlAttr* a = n->properties; a != nullptr; a = a->next) {
      xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
      e.attr[reinterpret_cast<const char*>(a->name)] = v ? reinterpret_cast<const char*>(v) : "";
      xmlFree(v);
    }
    xmlChar* text = xmlNodeGetContent(n);
    e.text = text ? reinterpret_cast<const char*>(text) : "";
    xmlFree(text);
    out->push_back(e);
    collect(n->children, out);
  }
}

// Parses the SVG strictly (no network, no entities from outside). Returns false when it
// is not well-formed XML or its root is not an svg element.
bool parse_svg(const std::string& path, std::vector<Element>* elements) {
  xmlDoc* doc = xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
  if (doc == nullptr) return false;
  xmlNode* root = xmlDocGetRootElement(doc);
  const bool svg =
      root != nullptr && std::string(reinterpret_cast<const char*>(root->name)) == "svg" &&
      root->ns != nullptr &&
      std::string(reinterpret_cast<const char*>(root->ns->href)) == "http://www.w3.org/2000/svg";
  collect(root, elements);
  xmlFreeDoc(doc);
  return svg;
}

std::vector<const Element*> with_class(const std::vector<Element>& all, const std::string& c) {
  std::vector<const Element*> out;
  for (const Element& e : all) {
    if (e.has_class(c)) out.push_back(&e);
  }
  return out;
}

// Seconds of a recorder time within its month (the images here stay inside one month).
int64_t seconds_of(const sim::RecTime& t) {
  return ((t.day * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
}

std::string iso(const sim::RecTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", 2000 + t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buf;
}

uint32_t rgb_of(const std::string& hex) {
  return static_cast<uint32_t>(std::stoul(hex.substr(1), nullptr, 16));
}

class TimelineCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/virazav-cli-timeline-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    old_cwd_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_cwd_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Three recordings on 2024-05-10 from 10:00:00, of kinds 0, 1 and 0, with gaps of 60 s
  // and 120 s before the second and third, and two alarms.
  void write_three_recordings(const std::string& path) {
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{60, 0, 0, false}, sim::RecordingPlan{30, 60, 1, false},
                       sim::RecordingPlan{60, 120, 0, false}};
    desc.channels = 1;
    desc.audio_channels = 0;
    desc.media = false;
    desc.alarms = 2;
    desc.alarm_s = 10;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, path, &info_, &error)) << error;
    ASSERT_EQ(info_.recordings.size(), 3u);
    ASSERT_EQ(info_.alarms.size(), 2u);
  }

  std::string dir_;
  fs::path old_cwd_;
  sim::DiskImageInfo info_;
};

// Recordings of two kinds and alarms: every entry of the index is one bar of its kind's
// class and colour, placed on the axis at its times, and the PNG shows the same picture.
TEST_F(TimelineCommandTest, SvgAndPng_DrawEachRecordingAndAlarmInItsKindsColourAtItsTimes) {
  // The name needs escaping in XML.
  const std::string image = "r&d <1>.img";
  write_three_recordings(image);
  const CliResult run =
      run_program({"disk", "timeline", image, "--out", "t.svg", "--png", "t.png"});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("timeline of 3 recordings and 2 alarms written to t.svg"),
            std::string::npos)
      << run.out;

  std::vector<Element> svg;
  ASSERT_TRUE(parse_svg("t.svg", &svg)) << "t.svg is not a well-formed SVG document";
  const auto titles = with_class(svg, "title");
  ASSERT_EQ(titles.size(), 1u);
  EXPECT_NE(titles[0]->text.find(image), std::string::npos) << titles[0]->text;
  EXPECT_NE(titles[0]->text.find("2024-05-10T10:00:00"), std::string::npos) << titles[0]->text;

  // The axis runs from the first recorded second to one second after the last.
  const auto axis = with_class(svg, "axis-line");
  ASSERT_EQ(axis.size(), 1u);
  const double left = axis[0]->num("x1"), right = axis[0]->num("x2");
  const int64_t from = seconds_of(info_.recordings.front().start);
  const int64_t to = seconds_of(info_.recordings.back().end) + 1;
  auto x_of = [&](int64_t s) {
    return left + static_cast<double>(s - from) / static_cast<double>(to - from) * (right - left);
  };

  // The legend names each kind once, with its colour.
  std::map<std::string, std::string> legend_fill;
  for (const Element* s : with_class(svg, "swatch")) {
    const std::string c = s->attr.at("class").substr(std::string("swatch ").size());
    legend_fill[c] = s->attr.at("fill");
  }
  ASSERT_EQ(legend_fill.size(), 3u) << "kind-0, kind-1 and alarm";
  ASSERT_TRUE(legend_fill.count("kind-0") && legend_fill.count("kind-1") &&
              legend_fill.count("alarm"));
  EXPECT_NE(legend_fill["kind-0"], legend_fill["kind-1"]);
  EXPECT_NE(legend_fill["kind-0"], legend_fill["alarm"]);
  EXPECT_NE(legend_fill["kind-1"], legend_fill["alarm"]);

  const auto bars = with_class(svg, "bar");
  ASSERT_EQ(bars.size(), 5u);
  struct Expected {
    std::string what, css;
    int slot;
    sim::RecTime start, end;
  };
  std::vector<Expected> expected;
  for (const sim::RecordingInfo& r : info_.recordings) {
    expected.push_back({"recording " + std::to_string(r.slot), "kind-" + std::to_string(r.kind),
                        r.slot, r.start, r.end});
  }
  for (const sim::AlarmInfo& a : info_.alarms) {
    expected.push_back({"alarm " + std::to_string(a.slot), "alarm", a.slot, a.start, a.end});
  }
  std::map<std::string, const Element*> bar_of;
  for (const Expected& e : expected) {
    const Element* found = nullptr;
    for (const Element* b : bars) {
      if (b->has_class(e.css) && b->attr.at("data-slot") == std::to_string(e.slot)) found = b;
    }
    ASSERT_NE(found, nullptr) << e.what;
    bar_of[e.what] = found;
    EXPECT_EQ(found->attr.at("fill"), legend_fill[e.css]) << e.what;
    EXPECT_EQ(found->attr.at("data-start"), iso(e.start)) << e.what;
    EXPECT_NEAR(found->num("x"), x_of(seconds_of(e.start)), 0.01) << e.what;
    EXPECT_NEAR(found->num("x") + found->num("width"), x_of(seconds_of(e.end) + 1), 0.01) << e.what;
  }
  // The first recording starts at the axis's left end, the last ends at its right end.
  EXPECT_NEAR(bar_of["recording 0"]->num("x"), left, 0.01);
  EXPECT_NEAR(bar_of["recording 2"]->num("x") + bar_of["recording 2"]->num("width"), right, 0.01);
  // Kinds and alarms have lanes of their own; the two recordings of kind 0 share one.
  EXPECT_EQ(bar_of["recording 0"]->num("y"), bar_of["recording 2"]->num("y"));
  EXPECT_NE(bar_of["recording 0"]->num("y"), bar_of["recording 1"]->num("y"));
  EXPECT_NE(bar_of["recording 0"]->num("y"), bar_of["alarm 0"]->num("y"));
  EXPECT_NE(bar_of["recording 1"]->num("y"), bar_of["alarm 0"]->num("y"));

  // The PNG: the SVG's size, each bar's middle in its colour, the gap between the
  // first two recordings in its lane left as background.
  cairo_surface_t* png = cairo_image_surface_create_from_png("t.png");
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  const std::vector<Element>& root = svg;
  EXPECT_EQ(cairo_image_surface_get_width(png), static_cast<int>(root[0].num("width")));
  EXPECT_EQ(cairo_image_surface_get_height(png), static_cast<int>(root[0].num("height")));
  cairo_surface_flush(png);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  auto pixel = [&](double x, double y) {
    uint32_t v = 0;
    std::memcpy(&v, data + static_cast<int>(y) * stride + static_cast<int>(x) * 4, 4);
    return v & 0xFFFFFF;
  };
  for (const auto& [what, bar] : bar_of) {
    const double mx = bar->num("x") + bar->num("width") / 2;
    const double my = bar->num("y") + bar->num("height") / 2;
    EXPECT_EQ(pixel(mx, my), rgb_of(bar->attr.at("fill"))) << what << " at " << mx << "," << my;
  }
  const Element* first = bar_of["recording 0"];
  const double gap_x = (x_of(seconds_of(info_.recordings[0].end) + 1) +
                        x_of(seconds_of(info_.recordings[2].start))) /
                       2;
  EXPECT_EQ(pixel(gap_x, first->num("y") + first->num("height") / 2), 0xFFFFFFu)
      << "the gap at x " << gap_x;
  cairo_surface_destroy(png);
}

TEST_F(TimelineCommandTest, TimeTicks_StepWithTheSpanAndAreLabelledWithTheirTimes) {
  struct Row {
    const char* what;
    int64_t gap_s;      // between two recordings of 10 s
    int64_t step;       // the tick step expected
    std::string first;  // the first tick's label
    std::string second;
    std::string also;  // a later label, where the day turns
  } rows[] = {
      {"two minutes", 100, 30, "2024-05-10T10:00:00", "10:00:30", "10:02:00"},
      {"five hours", 5 * 3600, 3600, "2024-05-10T10:00:00", "11:00", "15:00"},
      {"across midnight", 14 * 3600, 10800, "2024-05-10T12:00:00", "15:00", "05-11T00:00"},
      {"nine days", 9 * 86400, 172800, "2024-05-12", "2024-05-14", "2024-05-18"},
  };
  for (const Row& r : rows) {
    sim::DiskImageDesc desc;
    desc.recordings = {sim::RecordingPlan{10, 0, 0, false},
                       sim::RecordingPlan{10, r.gap_s, 0, false}};
    desc.channels = 1;
    desc.audio_channels = 0;
    desc.media = false;
    desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
    std::string error;
    ASSERT_TRUE(sim::write_disk_image(desc, "ticks.img", &error)) << error;
    const CliResult run = run_program({"disk", "timeline", "ticks.img", "--out", "t.svg"});
    ASSERT_EQ(run.status, 0) << r.what << "\n" << run.err;
    std::vector<Element> svg;
    ASSERT_TRUE(parse_svg("t.svg", &svg)) << r.what;
    const auto axis = with_class(svg, "axis");
    ASSERT_EQ(axis.size(), 1u) << r.what;
    EXPECT_EQ(std::stoll(axis[0]->attr.at("data-step-seconds")), r.step) << r.what;
    const auto line = with_class(svg, "axis-line");
    const auto labels = with_class(svg, "tick-label");
    ASSERT_GE(labels.size(), 2u) << r.what;
    EXPECT_LE(labels.size(), 7u) << r.what;
    EXPECT_EQ(labels[0]->text, r.first) << r.what;
    EXPECT_EQ(labels[1]->text, r.second) << r.what;
    bool also = false;
    for (const Element* l : labels) also = also || l->text == r.also;
    EXPECT_TRUE(also) << r.what << ": no tick labelled " << r.also;
    // Ticks lie on the axis, left to right, an equal distance apart.
    const double spacing = labels[1]->num("x") - labels[0]->num("x");
    EXPECT_GT(spacing, 100) << r.what << ": labels this close overlap";
    for (size_t i = 0; i < labels.size(); ++i) {
      EXPECT_GE(labels[i]->num("x"), line[0]->num("x1") - 0.01) << r.what << " tick " << i;
      EXPECT_LE(labels[i]->num("x"), line[0]->num("x2") + 0.01) << r.what << " tick " << i;
      EXPECT_NEAR(labels[i]->num("x") - labels[0]->num("x"), spacing * static_cast<double>(i), 0.05)
          << r.what << " tick " << i;
    }
  }
}

// The recorder's time numbers count every month as 31 days; the axis runs on the real
// calendar, so a recording through the end of February is as long as its seconds.
TEST_F(TimelineCommandTest, RecordingThroughTheEndOfFebruary_IsDrawnAtItsRealLength) {
  sim::DiskImageDesc desc;
  // 2024-02-29 23:59:00 .. 2024-03-01 00:00:59, then 00:02:00 .. 00:02:59.
  desc.recordings = {sim::RecordingPlan{120, 0, 0, false}, sim::RecordingPlan{60, 60, 0, false}};
  desc.channels = 1;
  desc.audio_channels = 0;
  desc.media = false;
  desc.start = sim::RecTime{24, 2, 29, 23, 59, 0};
  std::string error;
  ASSERT_TRUE(sim::write_disk_image(desc, "leap.img", &error)) << error;
  const CliResult run = run_program({"disk", "timeline", "leap.img", "--out", "t.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<Element> svg;
  ASSERT_TRUE(parse_svg("t.svg", &svg));
  const auto axis = with_class(svg, "axis-line");
  const auto bars = with_class(svg, "bar");
  ASSERT_EQ(axis.size(), 1u);
  ASSERT_EQ(bars.size(), 2u);
  const double left = axis[0]->num("x1"), width = axis[0]->num("x2") - left;
  // 240 seconds on the axis: the first recording fills 120 of them, the second starts at 180.
  EXPECT_EQ(bars[0]->attr.at("data-end"), "2024-03-01T00:00:59");
  EXPECT_NEAR(bars[0]->num("x"), left, 0.01);
  EXPECT_NEAR(bars[0]->num("width"), width / 2, 0.01);
  EXPECT_NEAR(bars[1]->num("x"), left + width * 180 / 240, 0.01);
  EXPECT_NEAR(bars[1]->num("width"), width / 4, 0.01);
  const auto labels = with_class(svg, "tick-label");
  ASSERT_GE(labels.size(), 2u);
  EXPECT_EQ(labels[0]->text, "2024-02-29T23:59:00");
  EXPECT_EQ(labels[1]->text, "03-01T00:00");
}

// The recorder's clock set back while it recorded: the recording after it lies earlier
// in time than the end of the one before, and gets a lane of its own.
TEST_F(TimelineCommandTest, RecordingsThatOverlapAfterAClockSetBack_GetLanesOfTheirOwn) {
  sim::DiskImageDesc desc;
  desc.recordings = {sim::RecordingPlan{120, 0, 0, false}};
  desc.clock_set_backs = {sim::ClockSetBack{60, 30}};
  desc.channels = 1;
  desc.media = false;
  desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
  std::string error;
  ASSERT_TRUE(sim::write_disk_image(desc, "back.img", &info_, &error)) << error;
  ASSERT_EQ(info_.recordings.size(), 2u);
  const CliResult run = run_program({"disk", "timeline", "back.img", "--out", "t.svg"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<Element> svg;
  ASSERT_TRUE(parse_svg("t.svg", &svg));
  const auto bars = with_class(svg, "bar");
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_NE(bars[0]->num("y"), bars[1]->num("y"));
  // Both overlap in x: the second starts before the first ends.
  EXPECT_LT(bars[1]->num("x"), bars[0]->num("x") + bars[0]->num("width"));
}

TEST_F(TimelineCommandTest, JsonAndText_ShowTheSameRecordingsAndAlarms) {
  write_three_recordings("disk.img");
  const CliResult json = run_program({"disk", "timeline", "disk.img", "--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  { std::ofstream("t.json") << json.out; }
  // python's parser reads it and checks the entries against what was recorded.
  const std::string check =
      "python3 -c 'import json; d = json.load(open(\"t.json\")); "
      "b = d[\"bars\"]; "
      "assert [x[\"class\"] for x in b] == [\"kind-0\", \"kind-1\", \"kind-0\", \"alarm\", "
      "\"alarm\"], b; "
      "assert b[1][\"from\"] == \"" +
      iso(info_.recordings[1].start) +
      "\", b[1]; "
      "assert b[1][\"to\"] == \"" +
      iso(info_.recordings[1].end) +
      "\", b[1]; "
      "assert b[1][\"kind\"] == 1; "
      "assert d[\"axis\"][\"from\"] == \"2024-05-10T10:00:00\", d[\"axis\"]; "
      "assert len(d[\"lanes\"]) == 3, d[\"lanes\"]'";
  EXPECT_EQ(std::system(check.c_str()), 0) << json.out;

  const CliResult text = run_program({"disk", "timeline", "disk.img"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("2024-05-10T10:00:00 .. " + iso(info_.recordings[2].end)),
            std::string::npos)
      << text.out;
  EXPECT_NE(line_with(text.out, "[  1] |").find("recording kind 1"), std::string::npos) << text.out;
  EXPECT_NE(line_with(text.out, "alarm [").find('!'), std::string::npos) << text.out;
  EXPECT_FALSE(fs::exists("t.svg"));
}

// Overwrites the recording list's control record in the three copies with an empty list
// whose checksum is right.
// First sectors of the three index copies, and the recording list's control record in a
// copy.
constexpr int64_t kCopyStart[3] = {0, 244333, 488666};
constexpr int64_t kRecControl = 23;

void empty_recording_list(const std::string& image) {
  std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
  for (int64_t start : kCopyStart) {
    char control[8] = {};
    f.seekg((start + kRecControl) * 512);
    f.read(control, 8);
    control[0] = control[1] = 0;  // count
    unsigned sum = 0;
    for (int i = 0; i < 7; ++i) sum += static_cast<unsigned char>(control[i]);
    control[7] = static_cast<char>(sum & 0xFF);
    f.seekp((start + kRecControl) * 512);
    f.write(control, 8);
  }
}

TEST_F(TimelineCommandTest, ImagesWithNothingToDraw_ExitWithoutWritingAPicture) {
  write_three_recordings("disk.img");
  fs::copy_file("disk.img", "empty.img");
  empty_recording_list("empty.img");
  // Random bytes over the start of each index copy: no copy header survives.
  fs::copy_file("disk.img", "garbage.img");
  {
    std::fstream f("garbage.img", std::ios::in | std::ios::out | std::ios::binary);
    std::mt19937 bytes(7);
    std::string data(1200 * 512, '\0');
    for (int64_t start : kCopyStart) {
      for (char& c : data) c = static_cast<char>(bytes());
      f.seekp(start * 512);
      f.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
  }
  struct Row {
    const char* image;
    int status;
    std::string message;
  } rows[] = {
      {"empty.img", 4, "image empty.img: nothing to draw: the record index holds no recording"},
      {"garbage.img", 1, "image garbage.img: no index copy has a valid header"},
  };
  for (const Row& r : rows) {
    for (std::vector<std::string> more :
         {std::vector<std::string>{"--out", "t.svg", "--png", "t.png"},
          std::vector<std::string>{"--json"}, std::vector<std::string>{}}) {
      std::vector<std::string> args = {"disk", "timeline", r.image};
      args.insert(args.end(), more.begin(), more.end());
      const CliResult run = run_program(args);
      EXPECT_EQ(run.status, r.status) << r.image << " " << more.size() << "\n" << run.out;
      EXPECT_NE(run.err.find(r.message), std::string::npos) << r.image << "\n" << run.err;
      EXPECT_EQ(run.out, "") << r.image;
      EXPECT_FALSE(fs::exists("t.svg")) << r.image;
      EXPECT_FALSE(fs::exists("t.png")) << r.image;
    }
  }
  // The same image with its list intact draws.
  EXPECT_EQ(run_program({"disk", "timeline", "disk.img", "--png", "t.png"}).status, 0);
  EXPECT_TRUE(fs::exists("t.png"));
}

}  // namespace
}  // namespace virazav::testing
