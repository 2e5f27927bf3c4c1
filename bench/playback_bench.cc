// Normal play (mode 0) of a 60-second, 16-channel recording made from the simulated
// recorder's media, in real time through the exports, each figure next to a baseline of
// the same run:
//  (a) pacing: for every picture shown, the time it was ready minus the time its time
//      stamp made it due, median and 99th percentile; goal: median <= 2 ms. Shown for
//      the due times the engine set (each picture against the key frame before it) and
//      against the whole recording's timeline (drift included);
//  (b) CPU time per second of playback (every thread but the one that watches), next
//      to the CPU time that decoding the same pictures on their own takes, back to back
//      and at the pace they were shown; goal <= 1.2 x the latter.
// Both run for one display channel (every picture of it) and for the all-channels view
// (the key frames of all sixteen).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "decoder/decoder.h"
#include "dlplayer/engine.h"
#include "format/stream_format.h"
#include "media/media.h"
#include "media/recording.h"
#include "virazav.h"

namespace {

namespace dd = virazav::dlplayer::detail;
namespace format = virazav::format;
namespace sim = virazav::sim;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kSeconds = 60;
constexpr int kChannels = 16;
constexpr int kAudioChannels = 4;

double cpu_seconds(clockid_t clock = CLOCK_PROCESS_CPUTIME_ID) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

// The recording laid out as a download lays it out: each second's video block of every
// channel (its key frame first) and the audio packets, in time order.
struct Made {
  std::string path;
  std::map<std::pair<int, uint32_t>, Bytes> pictures;  // (channel, stamp) -> packet
};

Made make_recording(const std::string& dir) {
  sim::RecordingOptions o;
  o.video_channels = 0xFFFF;
  o.audio_channels = 0xF;
  o.seconds = kSeconds;
  sim::Recording rec(o);
  struct Event {
    uint64_t time;
    bool video;
    int channel;
    int64_t index;
  };
  std::vector<Event> events;
  for (int c = 0; c < kChannels; ++c) {
    for (int s = 0; s < kSeconds; ++s)
      events.push_back({rec.picture_pts(s * o.video.fps), true, c, s});
  }
  const int64_t packets =
      static_cast<int64_t>(kSeconds) * sim::kAudioRate / sim::kAudioPacketSamples;
  for (int a = 0; a < kAudioChannels; ++a) {
    for (int64_t j = 0; j < packets; ++j) events.push_back({rec.audio_pts(j), false, a, j});
  }
  std::stable_sort(events.begin(), events.end(), [](const Event& x, const Event& y) {
    if (x.time != y.time) return x.time < y.time;
    if (x.video != y.video) return x.video;
    return x.channel < y.channel;
  });
  Made m;
  m.path = dir + "/rec.mpg";
  Bytes head(format::kStreamHeaderSize);
  format::write_pack_header(0x2C5A0000, head.data());
  format::write_stream_map(0xFFFF, 0xF, head.data() + format::kPackHeaderSize);
  FILE* f = std::fopen(m.path.c_str(), "wb");
  std::fwrite(head.data(), 1, head.size(), f);
  for (const Event& e : events) {
    if (e.video) {
      for (const Bytes& p : rec.video_packets(e.channel, static_cast<int>(e.index))) {
        std::fwrite(p.data(), 1, p.size(), f);
        m.pictures[{e.channel, format::packet_pts(p.data(), p.size())}] = p;
      }
    } else {
      const Bytes p = rec.audio_packet(e.channel, e.index);
      std::fwrite(p.data(), 1, p.size(), f);
    }
  }
  std::fclose(f);
  return m;
}

// Seconds of the paced decode baseline.
constexpr int kPacedSeconds = 20;

struct Seen {
  dd::ShownPicture picture;
  double at_ms = 0;  // steady clock, ms
};

struct Collector {
  std::mutex mu;
  std::vector<Seen> seen;
  static void observe(const dd::ShownPicture& p, void* user) {
    auto* c = static_cast<Collector*>(user);
    const double at =
        std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
    std::lock_guard<std::mutex> lock(c->mu);
    c->seen.push_back({p, at});
  }
};

const Bytes* packet_of(const Made& m, const Seen& s) {
  auto it = m.pictures.find({s.picture.channel, s.picture.pts});
  return it == m.pictures.end() ? nullptr : &it->second;
}

void play(const Made& m, const std::string& dir, int display, const char* name) {
  Collector c;
  dd::set_show_observer(Collector::observe, &c);
  const unsigned size = Mpeg4DLdata_fileopen(m.path.c_str(), dir.c_str(), dir.c_str(), 1);
  if (size == 0) {
    std::printf("%s: the recording did not open\n", name);
    return;
  }
  Mpeg4DLdata_set_disptype(display);
  Mpeg4DLdata_set_PlayPos(10, 0);
  // The playback's CPU is the process's less this thread's, which only looks at
  // the mode now and then.
  const double cpu0 = cpu_seconds();
  const double own0 = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
  const auto t0 = Clock::now();
  Mpeg4DLdata_set_m_nPlayMode(0);
  while (Mpeg4DLdata_get_m_nPlayMode() == 0 && Clock::now() - t0 < std::chrono::seconds(90)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  const double cpu_play = (cpu_seconds() - cpu0) - (cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - own0);
  Mpeg4DLdata_fileclose();
  dd::set_show_observer(nullptr, nullptr);

  // (a) Against the due times the engine set, and against the recording's timeline
  // (from the first picture of the paced channel on).
  std::vector<double> engine_error, timeline_error;
  const int paced = display >= 0 ? display : 0;
  double first_at = -1;
  uint32_t first_pts = 0;
  for (const Seen& s : c.seen) {
    engine_error.push_back(static_cast<int32_t>(s.picture.shown_ms - s.picture.due_ms));
    if (s.picture.channel != paced) continue;
    if (first_at < 0) first_at = s.at_ms, first_pts = s.picture.pts;
    timeline_error.push_back(s.at_ms - first_at - (s.picture.pts - first_pts) / 90.0);
  }
  // (b) The same pictures decoded on their own, in the same order: back to back,
  // where the decoder's tables and the picture stay in the caches, and, for the
  // first kPacedSeconds, at the pace the playback showed them, where a picture every
  // 100 ms finds them cold as the playback does.
  const double cpu1 = cpu_seconds();
  size_t decoded = 0;
  for (const Seen& s : c.seen) {
    const Bytes* p = packet_of(m, s);
    if (p != nullptr &&
        virazav::decoder::decode_with_channel(s.picture.channel, p->data(), p->size()) == 0) {
      ++decoded;
    }
  }
  const double cpu_decode = cpu_seconds() - cpu1;
  double cpu_paced = 0;
  double paced_span = 0;
  for (size_t i = 0; i < c.seen.size(); ++i) {
    const Seen& s = c.seen[i];
    if (s.at_ms - c.seen.front().at_ms > kPacedSeconds * 1000.0) break;
    if (i > 0) {
      const double gap = s.at_ms - c.seen[i - 1].at_ms;
      std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(gap * 1000)));
      paced_span += gap / 1000.0;
    }
    const Bytes* p = packet_of(m, s);
    if (p == nullptr) continue;
    const double t = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    virazav::decoder::decode_with_channel(s.picture.channel, p->data(), p->size());
    cpu_paced += cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - t;
  }
  const double paced_per_second = paced_span > 0 ? cpu_paced / paced_span : 0.0;

  std::printf("%s: %zu pictures in %.1f s (%zu decoded again on their own)\n", name, c.seen.size(),
              wall, decoded);
  std::printf(
      "  (a) pacing error, shown - due as the engine set it: median %.2f ms, 99th percentile "
      "%.2f ms (goal: median <= 2 ms)\n",
      percentile(engine_error, 0.5), percentile(engine_error, 0.99));
  std::printf(
      "      against the recording's timeline (channel %d): median %.2f ms, 99th percentile "
      "%.2f ms, last %.2f ms\n",
      paced, percentile(timeline_error, 0.5), percentile(timeline_error, 0.99),
      timeline_error.empty() ? 0.0 : timeline_error.back());
  std::printf(
      "  (b) CPU per second of playback %.2f ms, decoding the same pictures back to back "
      "%.2f ms: ratio %.3f\n"
      "      decoding them at the pace they were shown (first %d s) %.2f ms a second: ratio "
      "%.3f (goal <= 1.2)\n",
      1000 * cpu_play / wall, 1000 * cpu_decode / wall,
      cpu_decode > 0 ? cpu_play / cpu_decode : 0.0, kPacedSeconds, 1000 * paced_per_second,
      paced_per_second > 0 ? (cpu_play / wall) / paced_per_second : 0.0);
}

}  // namespace

// The bitmap writer's trace lines would bury the figures.
extern "C" void drop_trace(const char*, void*) {}

int main() {
  virazav_set_trace_handler(drop_trace, nullptr);
  char tmpl[] = "/tmp/virazav-playback-bench-XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) return 1;
  const auto t0 = Clock::now();
  const Made m = make_recording(dir);
  std::printf("made a %d s recording of %d channels in %.1f s\n", kSeconds, kChannels,
              std::chrono::duration<double>(Clock::now() - t0).count());
  if (decode_init() != 0) return 1;
  play(m, dir, 0, "one display channel (0)");
  play(m, dir, -1, "all channels");
  decode_deinit();
  std::remove((std::string(dir) + "/rec.mpg").c_str());
  std::remove((std::string(dir) + "/.index").c_str());
  std::remove(dir);
  return 0;
}
