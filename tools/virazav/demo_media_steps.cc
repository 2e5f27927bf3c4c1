// The tour's recorded-data steps: a download from the built-in recorder into a stream
// file and its frame index, the index read back, the file split into picture data and
// WAV files, a few pictures turned into bitmaps, and a few steps of paced play.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "demo.h"
#include "play_session.h"
#include "stream_index.h"
#include "virazav.h"

namespace virazav::cli {

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSteps = 100000;  // a guard only: the recorder ends every download
constexpr int kBitmaps = 4;
// Two seconds of paced play with sound, one key frame forward and back, and a jump to
// the middle of the recording whose key frame a last step shows.
constexpr char kPlayScript[] = "play 2s; step; stepback; pos 50%; step";
constexpr int kPlayAudioChannel = 0;

fs::path stream_path(const Tour& tour) {
  return tour.dir / "download" / "recording.mpg";
}
// The stream file's own index folder beside it, where the program's commands look.
fs::path index_dir(const Tour& tour) {
  return own_index_dir(stream_path(tour).string());
}
fs::path split_dir(const Tour& tour) {
  return tour.dir / "split";
}
fs::path play_dir(const Tour& tour) {
  return tour.dir / "play";
}

// Runs the play script on the open player, one report line each into `lines`. Returns
// the reason of the first failed step, or an empty text.
std::string run_play_script(DataSetPlayer& player, std::FILE* lines) {
  std::vector<ScriptStep> script;
  std::string failure;
  if (!parse_script(kPlayScript, &script, &failure)) return "the tour's script: " + failure;
  for (size_t i = 0; i < script.size(); ++i) {
    const int before = player.pictures();
    const StepEnd end = run_script_step(player, script[i], nullptr, &failure);
    const std::string line =
        step_line(static_cast<int>(i) + 1, script[i], player, player.pictures() - before);
    if (lines != nullptr) std::fprintf(lines, "%s\n", line.c_str());
    if (end != StepEnd::kDone) return "step '" + script[i].text + "': " + failure;
  }
  return "";
}

}  // namespace

StepResult demo_download(Tour& tour) {
  std::error_code ec;
  fs::create_directories(index_dir(tour), ec);
  const std::string path = stream_path(tour).string();
  // All recorded channels, 1 May 2024 from 10:00:00, 20 seconds, with audio: the built-in
  // recorder's recording.
  int rc = kora_copy_fast(tour.slot, path.c_str(), 0, 0, 24, 5, 1, 10, 0, 0, 20, 1, 0, 0, 0);
  if (rc < 0) return step_failed("SendDataF", rc);
  if (rc == 0) return step_problem("the recorder has nothing recorded at 2024-05-01T10:00:00");
  int steps = 1, seconds = 0;
  unsigned char count4[4] = {};
  const std::string dir = index_dir(tour).string();
  for (; steps < kMaxSteps; ++steps) {
    rc = kora_copy_next(tour.slot, path.c_str(), count4, dir.c_str());
    if (rc <= 0) break;
    seconds = std::max(seconds, rc);
  }
  if (rc < 0) return step_failed("SendDataN", rc);
  tour.wrote(stream_path(tour), "downloaded stream file (MPEG program stream)");
  tour.wrote(index_dir(tour) / ".index", "its frame index");
  return step_ok(std::to_string(steps) + " steps, " + std::to_string(seconds) +
                 " s of recording, " + std::to_string(fs::file_size(stream_path(tour), ec)) +
                 " bytes -> " + shown_path(stream_path(tour)));
}

StepResult demo_index(Tour& tour) {
  if (decode_init() != 0) return step_problem("the decoder could not be set up");
  const std::string path = stream_path(tour).string();
  const std::string dir = index_dir(tour).string();
  unsigned size = Mpeg4DLdata_fileopen(path.c_str(), dir.c_str(), dir.c_str(), 10);
  if (size == 0) {
    decode_deinit();
    return step_problem("the stream file did not open");
  }
  unsigned video = 0, audio = 0;
  Mpeg4DLdata_get_enable_ch(&video, &audio, dir.c_str(), 10);
  Mpeg4DLdata_fileclose();
  decode_deinit();
  std::string channels;
  for (int ch = 0; ch < 16; ++ch) {
    if (video & (1u << ch)) channels += (channels.empty() ? "" : ",") + std::to_string(ch);
  }
  if (channels.empty()) return step_problem("the index holds no key frame");
  return step_ok("stream file of " + std::to_string(size) +
                 " bytes opened with its index: video channels " + channels);
}

StepResult demo_split(Tour& tour) {
  if (decode_init() != 0) return step_problem("the decoder could not be set up");
  std::error_code ec;
  fs::create_directories(split_dir(tour), ec);
  int r = Mpeg4Play(stream_path(tour).string().c_str(), split_dir(tour).string().c_str(), 0);
  decode_deinit();
  if (r < 0) return step_failed("Mpeg4Play", r);
  size_t dat = 0, wav = 0;
  for (const auto& e : fs::directory_iterator(split_dir(tour), ec)) {
    const std::string ext = e.path().extension().string();
    dat += ext == ".dat";
    wav += ext == ".wav";
  }
  if (dat == 0) return step_problem("the split wrote no picture data file");
  tour.wrote(split_dir(tour), "picture data files <ch>_<tick>.dat and sound wav<ch>.wav");
  return step_ok(std::to_string(dat) + " picture data files and " + std::to_string(wav) +
                 " WAV files up to tick " + std::to_string(r) + " -> " +
                 shown_path(split_dir(tour)));
}

StepResult demo_bitmaps(Tour& tour) {
  if (decode_init() != 0) return step_problem("the decoder could not be set up");
  std::vector<fs::path> dats;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(split_dir(tour), ec)) {
    if (e.path().extension() == ".dat") dats.push_back(e.path());
  }
  std::sort(dats.begin(), dats.end());
  int written = 0;
  unsigned width = 0, height = 0;
  const fs::path out = tour.dir / "bitmaps";
  fs::create_directories(out, ec);
  for (size_t i = 0; i < dats.size() && written < kBitmaps;
       i += std::max<size_t>(1, dats.size() / kBitmaps)) {
    int channel = 0, tick = 0;
    if (std::sscanf(dats[i].filename().string().c_str(), "%d_%d.dat", &channel, &tick) != 2)
      continue;
    const fs::path bmp = out / (dats[i].stem().string() + ".bmp");
    int r = I2BMP(dats[i].string().c_str(), bmp.string().c_str(), split_dir(tour).string().c_str(),
                  channel, tick, tick + 1);
    if (r == tick && get_bmpsize(bmp.string().c_str(), &width, &height) == 0) ++written;
  }
  decode_deinit();
  if (written == 0) return step_problem("no picture decoded");
  tour.wrote(out, "pictures decoded into 24-bit bitmaps");
  return step_ok(std::to_string(written) + " pictures of " + std::to_string(width) + " x " +
                 std::to_string(height) + " decoded -> " + shown_path(out));
}

StepResult demo_play(Tour& tour) {
  const fs::path dir = play_dir(tour);
  const fs::path wav = dir / "play.wav";
  const fs::path steps = dir / "steps.txt";
  std::error_code ec;
  fs::create_directories(dir, ec);
  fs::remove(wav, ec);
  int pictures = 0, view = 0;
  std::string failure;
  {
    WavScope sound(wav.string());
    DataSetPlayer player;
    PlayerSetup setup;
    setup.file = stream_path(tour).string();
    setup.index_dir = index_dir(tour).string();
    setup.picture_dir = dir.string();
    setup.audio_channel = kPlayAudioChannel;
    if (!player.open(setup, nullptr, &failure)) return step_problem(failure);
    view = lowest_channel(player.video_mask());
    player.set_view(view);
    std::FILE* lines = std::fopen(steps.c_str(), "w");
    failure = run_play_script(player, lines);
    if (lines != nullptr) std::fclose(lines);
    player.close();
    pictures = player.pictures();
  }
  if (!failure.empty()) return step_problem(failure);
  if (pictures == 0) return step_problem("no picture was shown");
  const auto sound = fs::file_size(wav, ec);
  const double seconds = !ec && sound > 44 ? (sound - 44) / 16000.0 : 0.0;
  tour.wrote(dir, "pictures shown in play, <ch>.bmp");
  tour.wrote(steps, "the play's steps with position and time");
  if (seconds > 0) tour.wrote(wav, "sound of the play, audio channel 0");
  char text[160];
  std::snprintf(text, sizeof text, "%s: %d pictures of channel %d, %.1f s of sound -> ",
                kPlayScript, pictures, view, seconds);
  return step_ok(text + shown_path(dir));
}

}  // namespace virazav::cli
