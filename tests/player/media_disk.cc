#include "media_disk.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "player/feeders.h"
#include "recdisk/disk.h"
#include "recdisk/record_index.h"
#include "support/record_index_image.h"
#include "support/stream_builder.h"
#include "virazav.h"

namespace virazav::testing {

MediaDisk::MediaDisk(const std::string& dir, int drive, int seconds, int channels)
    : dir_(dir), drive_(drive) {
  sim::DiskImageDesc desc;
  desc.recordings = {sim::RecordingPlan{seconds, 0, 0, false}};
  desc.channels = channels;
  desc.audio_channels = 4;
  desc.media = true;
  desc.video.width = kMediaWidth;
  desc.video.height = kMediaHeight;
  desc.video.fps = kMediaFps;
  desc.start = sim::RecTime{24, 5, 10, 10, 0, 0};
  sim::DiskImageInfo info;
  std::string error;
  const std::string path = dir + "/disk.img";
  if (!sim::write_disk_image(desc, path, &info, &error)) {
    ADD_FAILURE() << "disk image: " << error;
    return;
  }
  chunks_ = recorded_chunks(path, info);
  // The copy pair: the chunks' packets back to back, a 24-byte record each.
  std::vector<uint8_t> data, index;
  for (const RecordedChunk& c : chunks_) {
    uint8_t record[24] = {};
    for (int b = 0; b < 8; ++b) record[b] = static_cast<uint8_t>(uint64_t{data.size()} >> (8 * b));
    std::copy(c.rec_time, c.rec_time + 6, record + 8);
    record[14] = c.entry_byte2;
    record[15] = c.entry_byte0;
    record[16] = c.entry_byte27;
    index.insert(index.end(), record, record + 24);
    data.insert(data.end(), c.packets.begin(), c.packets.end());
  }
  if (!write_file(data_path(), data) || !write_file(index_path(), index)) {
    ADD_FAILURE() << "copy pair not written in " << dir;
    return;
  }
  ok_ = open_image_as_drive(drive, path);
}

MediaDisk::~MediaDisk() {
  recdisk::close_drive();
  recdisk::reset_record_index();
  ::unsetenv(("VIRAZAV_PHYSICALDRIVE" + std::to_string(drive_)).c_str());
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void end_feeders() {
  hdd_read_stop();
  file_read_stop();
  wait_until([] { return !player::disk_feeder_running() && !player::file_feeder_running(); }, 2000);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool read_bitmap(const std::string& path, ShownPicture* out) {
  const std::vector<uint8_t> f = read_file(path);
  if (f.size() < 54 || f[0] != 'B' || f[1] != 'M') return false;
  auto le32 = [&](size_t at) {
    return static_cast<int32_t>(f[at] | f[at + 1] << 8 | f[at + 2] << 16 |
                                static_cast<uint32_t>(f[at + 3]) << 24);
  };
  const int w = le32(18), h = le32(22);
  if (w <= 0 || h <= 0 || (f[28] | f[29] << 8) != 24) return false;
  const size_t row = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
  if (f.size() < 54 + row * h) return false;
  out->width = w;
  out->height = h;
  out->bgr.resize(static_cast<size_t>(w) * h * 3);
  for (int r = 0; r < h; ++r) {
    std::copy(f.begin() + 54 + static_cast<std::ptrdiff_t>(row * r),
              f.begin() + 54 + static_cast<std::ptrdiff_t>(row * r + w * 3),
              out->bgr.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(r) * w * 3));
  }
  return true;
}

sim::Picture recorded_size_luma(const ShownPicture& shown) {
  sim::Picture p;
  p.width = kMediaWidth;
  p.height = kMediaHeight;
  p.y.assign(static_cast<size_t>(kMediaWidth) * kMediaHeight, 16);
  p.u.assign(static_cast<size_t>(kMediaWidth / 2) * (kMediaHeight / 2), 128);
  p.v = p.u;
  if (shown.height != kMediaHeight || shown.width % kMediaWidth != 0) return p;
  const int across = shown.width / kMediaWidth;
  for (int r = 0; r < kMediaHeight; ++r) {
    // Bottom-up rows: shown row 0 is the picture's last.
    const uint8_t* row = &shown.bgr[static_cast<size_t>(kMediaHeight - 1 - r) * shown.width * 3];
    for (int x = 0; x < kMediaWidth; ++x) {
      double sum = 0;
      for (int k = 0; k < across; ++k) {
        const uint8_t* px = row + static_cast<size_t>(x * across + k) * 3;
        sum += 16 + (65.481 * px[2] + 128.553 * px[1] + 24.966 * px[0]) / 255.0;
      }
      p.y[static_cast<size_t>(r) * kMediaWidth + x] =
          static_cast<uint8_t>(std::lround(sum / across));
    }
  }
  return p;
}

double psnr_against(const ShownPicture& shown, int channel, int64_t frame) {
  const sim::SyntheticChannel source(channel, kMediaWidth, kMediaHeight);
  return sim::luma_psnr(recorded_size_luma(shown), source.source_picture(frame));
}

Identified identify(const ShownPicture& shown) {
  Identified id;
  const sim::Picture luma = recorded_size_luma(shown);
  id.channel = sim::read_channel_number(luma);
  id.frame = sim::read_frame_counter(luma);
  if (id.channel >= 0 && id.frame >= 0) id.psnr = psnr_against(shown, id.channel, id.frame);
  return id;
}

}  // namespace virazav::testing
