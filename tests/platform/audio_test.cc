// The audio output device: the choice from VIRAZAV_AUDIO, the null device's play
// clock, the WAV file of the wav device, reset and close, the callback's freedom to
// take the writer's locks, ALSA through its "null" PCM, and the fault seam.
#include "platform/audio.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "support/recorder_fixture.h"

namespace virazav::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double seconds_between(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Sets an environment variable (nullptr: unsets it) for the scope's lifetime.
class EnvSetting {
 public:
  EnvSetting(const char* name, const char* value) : name_(name) {
    had_ = get_env(name, &previous_);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvSetting() {
    if (had_)
      setenv(name_, previous_.c_str(), 1);
    else
      unsetenv(name_);
  }
  EnvSetting(const EnvSetting&) = delete;
  EnvSetting& operator=(const EnvSetting&) = delete;

 private:
  const char* name_;
  bool had_;
  std::string previous_;
};

// Sets VIRAZAV_AUDIO for the scope's lifetime.
class AudioSetting : public EnvSetting {
 public:
  explicit AudioSetting(const char* value) : EnvSetting("VIRAZAV_AUDIO", value) {}
};

// What a device reported, and when; `on_done` runs inside each kDone report.
struct Reports {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<AudioEvent> events;
  std::vector<Clock::time_point> done_at;
  std::vector<std::thread::id> threads;
  std::function<void()> on_done;

  size_t done_count() {
    std::lock_guard<std::mutex> lock(mutex);
    return done_at.size();
  }
  // Waits up to `limit` for n kDone reports; returns whether they came.
  bool wait_done(size_t n, Clock::duration limit = std::chrono::seconds(10)) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, limit, [&] { return done_at.size() >= n; });
  }
};

void record(AudioEvent event, void* user) {
  auto* r = static_cast<Reports*>(user);
  if (event == AudioEvent::kDone && r->on_done) r->on_done();
  std::lock_guard<std::mutex> lock(r->mutex);
  r->events.push_back(event);
  r->threads.push_back(std::this_thread::get_id());
  if (event == AudioEvent::kDone) r->done_at.push_back(Clock::now());
  r->changed.notify_all();
}

// Opens the device that `setting` names (read only at the open).
AudioDevice* open_device(const std::string& setting, Reports* reports) {
  AudioSetting scope(setting.c_str());
  return audio_open(record, reports);
}

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return v;
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void put_le(std::string* s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s->push_back(static_cast<char>(v >> (8 * i)));
}

// A canonical 44-byte WAV header; the format fields may be changed to make
// headers of other formats.
std::string wav_header(uint32_t data_bytes, uint32_t rate = 8000, uint16_t channels = 1,
                       uint16_t bits = 16) {
  std::string h = "RIFF";
  put_le(&h, 36 + data_bytes, 4);
  h += "WAVEfmt ";
  put_le(&h, 16, 4);
  put_le(&h, 1, 2);
  put_le(&h, channels, 2);
  put_le(&h, rate, 4);
  put_le(&h, rate * channels * bits / 8, 4);
  put_le(&h, channels * bits / 8, 2);
  put_le(&h, bits, 2);
  h += "data";
  put_le(&h, data_bytes, 4);
  return h;
}

// The samples of a WAV file of the device's format whose header sizes match the
// file exactly; fails the test otherwise.
std::string wav_samples(const std::string& path) {
  std::string file = read_file(path);
  if (file.size() < 44) {
    ADD_FAILURE() << path << " holds " << file.size() << " bytes, no header";
    return std::string();
  }
  std::string data = file.substr(44);
  EXPECT_EQ(file.substr(0, 44), wav_header(static_cast<uint32_t>(data.size())))
      << path << ": header does not describe the file";
  return data;
}

std::string as_string(const std::vector<uint8_t>& v, size_t n) {
  return std::string(reinterpret_cast<const char*>(v.data()), n);
}

class AudioTest : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return join_path(cwd_.path(), name); }
  testing::TempCwd cwd_;
  FaultScope faults_;
};

TEST_F(AudioTest, SettingNamesTheDevice) {
  struct Row {
    const char* value;
    int count;
    const char* name;
  };
  const Row rows[] = {
      {"none", 0, "none"},         {"bogus", 0, "none"},
      {"NULL", 0, "none"},         {"wav:", 0, "none"},
      {"alsa:", 0, "none"},        {"wav", 0, "none"},
      {"null", 1, "null"},         {"wav:/x/a.wav", 1, "wav:/x/a.wav"},
      {"alsa", 1, "alsa:default"}, {"alsa:null", 1, "alsa:null"},
  };
  for (const Row& row : rows) {
    AudioSetting setting(row.value);
    EXPECT_EQ(audio_device_count(), row.count) << row.value;
    EXPECT_EQ(audio_device_name(), row.name) << row.value;
    if (row.count == 0) {
      Reports reports;
      EXPECT_EQ(audio_open(record, &reports), nullptr) << row.value;
      EXPECT_TRUE(reports.events.empty()) << row.value;
    }
  }
}

TEST_F(AudioTest, UnsetOrEmptyMeansAlsaDefaultWhenItOpens) {
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    AudioSetting setting(value);
    int count = audio_device_count();
    ASSERT_TRUE(count == 0 || count == 1);
    EXPECT_EQ(audio_device_name(), count == 1 ? "alsa:default" : "none");
    Reports reports;
    AudioDevice* device = audio_open(record, &reports);
    EXPECT_EQ(device != nullptr, count == 1);
    audio_close(device);
  }
}

TEST_F(AudioTest, BadArgumentsAreRefused) {
  uint8_t pcm[4] = {};
  EXPECT_EQ(audio_write(nullptr, pcm, sizeof pcm), -1);
  audio_reset(nullptr);
  audio_close(nullptr);
  Reports reports;
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(audio_write(device, nullptr, 4), -1);
  audio_close(device);
  EXPECT_EQ(reports.events, std::vector<AudioEvent>{AudioEvent::kClose});
}

TEST_F(AudioTest, NullConsumesSixteenThousandBytesASecond) {
  Reports reports;
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  // 25 buffers of 20 ms back to back: 0.5 s of sound.
  std::vector<uint8_t> pcm = pattern(320, 1);
  Clock::time_point start = Clock::now();
  for (int i = 0; i < 25; ++i) ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  ASSERT_TRUE(reports.wait_done(25));
  double span = seconds_between(start, reports.done_at.back());
  EXPECT_GE(span, 0.45);
  EXPECT_LE(span, 0.75);
  audio_close(device);
}

TEST_F(AudioTest, NullReportsInWriteOrderEmptyBuffersIncludedWhenEachEnds) {
  Reports reports;
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  // 0.1 s, 0.3 s, 0.05 s, nothing (0 bytes, then a lone odd byte), 0.05 s: a buffer
  // reported at its own length after its write, rather than after the ones before
  // it, shows up as an early report.
  const size_t sizes[] = {1600, 4800, 800, 0, 1, 801};
  const double ends[] = {0.1, 0.4, 0.45, 0.45, 0.45, 0.5};
  std::vector<uint8_t> pcm = pattern(4800, 2);
  Clock::time_point start = Clock::now();
  for (size_t n : sizes) ASSERT_EQ(audio_write(device, pcm.data(), n), 0);
  ASSERT_TRUE(reports.wait_done(std::size(sizes)));
  for (size_t i = 0; i < std::size(sizes); ++i) {
    double at = seconds_between(start, reports.done_at[i]);
    EXPECT_GE(at, ends[i] - 0.005) << "buffer " << i << " reported early";
    EXPECT_LE(at, ends[i] + 0.3) << "buffer " << i;
  }
  audio_close(device);
}

TEST_F(AudioTest, BufferAfterAnIdleGapStartsWhenWritten) {
  Reports reports;
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> pcm = pattern(1600, 3);
  ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  ASSERT_TRUE(reports.wait_done(1));
  std::this_thread::sleep_for(milliseconds(200));
  // The clock must not count the idle time as played.
  Clock::time_point written = Clock::now();
  ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  ASSERT_TRUE(reports.wait_done(2));
  EXPECT_GE(seconds_between(written, reports.done_at[1]), 0.095);
  audio_close(device);
}

TEST_F(AudioTest, CloseReportsEveryBufferThenCloseOnTheClosingThread) {
  Reports reports;
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> pcm = pattern(8000, 5);  // 0.5 s each
  for (int i = 0; i < 3; ++i) ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  audio_close(device);
  std::vector<AudioEvent> expected(3, AudioEvent::kDone);
  expected.push_back(AudioEvent::kClose);
  EXPECT_EQ(reports.events, expected);
  ASSERT_EQ(reports.threads.size(), 4u);
  EXPECT_NE(reports.threads[0], std::this_thread::get_id());
  EXPECT_EQ(reports.threads[3], std::this_thread::get_id());
}

TEST_F(AudioTest, CallbackMayTakeALockThatTheWriterHolds) {
  // A deadlock would hang the test; end it with a message instead.
  std::mutex watch_mutex;
  std::condition_variable watch_cv;
  bool finished = false;
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> lock(watch_mutex);
    if (!watch_cv.wait_for(lock, std::chrono::seconds(30), [&] { return finished; })) {
      std::fputs("audio_test: deadlock between the callback and the writer\n", stderr);
      std::abort();
    }
  });

  std::mutex app;
  Reports reports;
  reports.on_done = [&] { std::lock_guard<std::mutex> hold(app); };
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> pcm = pattern(160, 6);  // 10 ms each
  {
    std::lock_guard<std::mutex> hold(app);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
    // The first report is due now and waits for `app` on the device thread.
    std::this_thread::sleep_for(milliseconds(100));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
    audio_reset(device);
    EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
    EXPECT_EQ(reports.done_count(), 0u);
  }
  EXPECT_TRUE(reports.wait_done(9));
  audio_close(device);
  EXPECT_EQ(reports.events.size(), 10u);
  {
    std::lock_guard<std::mutex> lock(watch_mutex);
    finished = true;
  }
  watch_cv.notify_all();
  watchdog.join();
}

TEST_F(AudioTest, WavHoldsExactlyTheBytesPlayedAndIsValidAtEveryReport) {
  std::string file = path("out.wav");
  const size_t sizes[] = {800, 1203, 0, 402, 1000};
  std::vector<std::vector<uint8_t>> buffers;
  std::string expected;
  for (size_t i = 0; i < std::size(sizes); ++i) {
    buffers.push_back(pattern(sizes[i], static_cast<uint8_t>(10 * i + 1)));
    expected += as_string(buffers.back(), sizes[i] & ~size_t{1});
  }
  Reports reports;
  std::vector<size_t> seen;  // sample bytes in the file at each report
  reports.on_done = [&] {
    std::string data = wav_samples(file);
    EXPECT_EQ(data, expected.substr(0, data.size()));
    seen.push_back(data.size());
  };
  AudioDevice* device = open_device("wav:" + file, &reports);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(wav_samples(file), "");
  for (const auto& b : buffers) ASSERT_EQ(audio_write(device, b.data(), b.size()), 0);
  ASSERT_TRUE(reports.wait_done(buffers.size()));
  audio_close(device);
  EXPECT_EQ(wav_samples(file), expected);
  size_t consumed = 0;
  for (size_t i = 0; i < seen.size(); ++i) {
    consumed += sizes[i] & ~size_t{1};
    EXPECT_GE(seen[i], consumed) << "buffer " << i << " reported before it reached the file";
  }
}

TEST_F(AudioTest, WavAppendsToItsOwnFormatAndReplacesAnythingElse) {
  std::string file = path("a.wav");
  std::vector<uint8_t> held = pattern(600, 7);
  std::vector<uint8_t> next = pattern(400, 8);
  struct Row {
    const char* what;
    std::string before;
    std::string kept;  // samples that stay in front of the new ones
  };
  const Row rows[] = {
      {"missing file", "", ""},
      {"own format", wav_header(600) + as_string(held, 600), as_string(held, 600)},
      {"own format, header ahead of a cut-off write", wav_header(1000) + as_string(held, 599),
       as_string(held, 598)},
      {"own format, stale bytes after the samples", wav_header(300) + as_string(held, 600),
       as_string(held, 300)},
      {"text", "not a sound file at all, but long enough to hold a header", ""},
      {"short header", wav_header(0).substr(0, 30), ""},
      {"44100 Hz", wav_header(600, 44100) + as_string(held, 600), ""},
      {"stereo", wav_header(600, 8000, 2) + as_string(held, 600), ""},
      {"8-bit", wav_header(600, 8000, 1, 8) + as_string(held, 600), ""},
  };
  for (const Row& row : rows) {
    std::remove(file.c_str());
    if (!row.before.empty()) write_file(file, row.before);
    Reports reports;
    AudioDevice* device = open_device("wav:" + file, &reports);
    ASSERT_NE(device, nullptr) << row.what;
    ASSERT_EQ(audio_write(device, next.data(), next.size()), 0);
    ASSERT_TRUE(reports.wait_done(1)) << row.what;
    audio_close(device);
    EXPECT_EQ(wav_samples(file), row.kept + as_string(next, next.size())) << row.what;
  }
}

TEST_F(AudioTest, ResetDropsQueuedBuffersAndTheWavKeepsThePlayedPart) {
  std::string file = path("reset.wav");
  Reports reports;
  AudioDevice* device = open_device("wav:" + file, &reports);
  ASSERT_NE(device, nullptr);
  std::vector<std::vector<uint8_t>> buffers;
  for (int i = 0; i < 3; ++i) buffers.push_back(pattern(16000, static_cast<uint8_t>(20 + i)));
  std::vector<uint8_t> original = buffers[0];
  for (const auto& b : buffers) ASSERT_EQ(audio_write(device, b.data(), b.size()), 0);
  std::this_thread::sleep_for(milliseconds(200));
  audio_reset(device);
  // The device reads none of them any more: what it would read now is 0x55.
  for (auto& b : buffers) std::fill(b.begin(), b.end(), uint8_t{0x55});
  // Three seconds of sound, reported as dropped long before they could have played.
  ASSERT_TRUE(reports.wait_done(3, std::chrono::milliseconds(2500)));

  // The device stays open for new buffers.
  std::vector<uint8_t> after = pattern(800, 30);
  ASSERT_EQ(audio_write(device, after.data(), after.size()), 0);
  ASSERT_TRUE(reports.wait_done(4));
  audio_close(device);

  std::string data = wav_samples(file);
  ASSERT_GE(data.size(), after.size());
  size_t played = data.size() - after.size();
  EXPECT_GT(played, 0u);
  EXPECT_LT(played, 16000u);
  EXPECT_EQ(played % 2, 0u);
  EXPECT_EQ(data, as_string(original, played) + as_string(after, after.size()));
}

TEST_F(AudioTest, WavFileThatCannotBeWrittenFailsTheDevice) {
  Reports reports;
  EXPECT_EQ(open_device("wav:" + path("no/such/folder.wav"), &reports), nullptr);
  AudioDevice* device = open_device("wav:" + path("fail.wav"), &reports);
  ASSERT_NE(device, nullptr);
  fault_arm(FaultKind::kFileWrite, 1, true);
  std::vector<uint8_t> pcm = pattern(160, 9);
  ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  ASSERT_TRUE(reports.wait_done(2));
  EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), -1);
  audio_reset(device);
  audio_close(device);
  EXPECT_EQ(reports.events.size(), 3u);
  EXPECT_EQ(reports.events.back(), AudioEvent::kClose);
  EXPECT_GE(fault_calls(FaultKind::kFileWrite), 1);
}

TEST_F(AudioTest, AlsaNullPcmPlaysAndReportsEveryBuffer) {
  Reports reports;
  EXPECT_EQ(open_device("alsa:no_such_pcm_name", &reports), nullptr);
  AudioDevice* device = open_device("alsa:null", &reports);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> pcm = pattern(8192, 11);
  for (size_t n : {size_t{8192}, size_t{0}, size_t{1600}, size_t{3}, size_t{8192}})
    ASSERT_EQ(audio_write(device, pcm.data(), n), 0);
  ASSERT_TRUE(reports.wait_done(5));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  audio_reset(device);
  ASSERT_EQ(audio_write(device, pcm.data(), 320), 0);
  ASSERT_TRUE(reports.wait_done(9));
  audio_close(device);
  std::vector<AudioEvent> expected(9, AudioEvent::kDone);
  expected.push_back(AudioEvent::kClose);
  EXPECT_EQ(reports.events, expected);
}

#ifdef VIRAZAV_ALSA_CLOCK_PCM
// A PCM that plays in real time, as a sound card does: buffers larger than ALSA's
// own buffer, underruns between buffers, and a reset while ALSA holds frames.
TEST_F(AudioTest, AlsaReportsEachBufferOnceItHasPlayed) {
  std::string conf = path("asound.conf");
  write_file(conf, "pcm_type.vzclock { lib \"" VIRAZAV_ALSA_CLOCK_PCM
                   "\" }\n"
                   "pcm.vzclock { type vzclock }\n");
  // ALSA reads its configuration afresh when the path changes, here and on return.
  EnvSetting alsa_conf("ALSA_CONFIG_PATH", conf.c_str());
  Reports reports;
  AudioDevice* device = open_device("alsa:vzclock", &reports);
  ASSERT_NE(device, nullptr);
  std::vector<uint8_t> pcm = pattern(16000, 13);

  // 0.1 s, 0.3 s, 0 s, 0.1 s; then 0.512 s twice, more than ALSA's buffer holds.
  const size_t sizes[] = {1600, 4800, 0, 1600, 8192, 8192};
  const double ends[] = {0.1, 0.4, 0.4, 0.5, 1.012, 1.524};
  Clock::time_point start = Clock::now();
  for (size_t n : sizes) ASSERT_EQ(audio_write(device, pcm.data(), n), 0);
  ASSERT_TRUE(reports.wait_done(6));
  for (size_t i = 0; i < 6; ++i) {
    double at = seconds_between(start, reports.done_at[i]);
    EXPECT_GE(at, ends[i] - 0.005) << "buffer " << i << " reported before it played";
    EXPECT_LE(at, ends[i] + 0.4) << "buffer " << i;
  }

  // After an idle gap (ALSA underran) the next buffer plays in full.
  std::this_thread::sleep_for(milliseconds(200));
  Clock::time_point written = Clock::now();
  ASSERT_EQ(audio_write(device, pcm.data(), 1600), 0);
  ASSERT_TRUE(reports.wait_done(7));
  EXPECT_GE(seconds_between(written, reports.done_at[6]), 0.095);

  // Three seconds of sound dropped by a reset are reported long before they could
  // have played, and the device plays on afterwards.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(audio_write(device, pcm.data(), 16000), 0);
  std::this_thread::sleep_for(milliseconds(200));
  audio_reset(device);
  ASSERT_TRUE(reports.wait_done(10, milliseconds(2500)));
  ASSERT_EQ(audio_write(device, pcm.data(), 800), 0);
  ASSERT_TRUE(reports.wait_done(11));
  audio_close(device);
  EXPECT_EQ(reports.events.size(), 12u);
  EXPECT_EQ(reports.events.back(), AudioEvent::kClose);
}
#endif

TEST_F(AudioTest, FaultSeamFailsOpenAndWrite) {
  Reports reports;
  fault_arm(FaultKind::kAudioOpen, 1);
  EXPECT_EQ(open_device("null", &reports), nullptr);
  AudioDevice* device = open_device("null", &reports);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(fault_calls(FaultKind::kAudioOpen), 2);

  fault_arm(FaultKind::kAudioWrite, 2);
  std::vector<uint8_t> pcm = pattern(160, 12);
  EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), -1);
  EXPECT_EQ(audio_write(device, pcm.data(), pcm.size()), 0);
  audio_close(device);
  std::vector<AudioEvent> expected = {AudioEvent::kDone, AudioEvent::kDone, AudioEvent::kClose};
  EXPECT_EQ(reports.events, expected);
}

}  // namespace
}  // namespace virazav::platform
