// Stream files for the data-set tests: encoded MPEG-4 pictures of several
// channels and ADPCM audio packets, interleaved by time stamp.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "format/stream_format.h"
#include "support/mpeg4_material.h"
#include "support/stream_builder.h"

namespace virazav::testing {

struct ChannelPlan {
  int channel = 0;
  int fps = 10;
  int gop = 10;  // pictures between key frames
};

struct StreamPlan {
  std::vector<ChannelPlan> video;
  std::vector<int> audio;  // audio channels, one packet each 0.512 s
  double seconds = 3.0;
  int width = 176;
  int height = 144;
  uint32_t scr = 0x2C5A0000;
  uint32_t first_pts = 90000;
};

struct PlannedPacket {
  int64_t offset = 0;
  int channel = 0;
  bool audio = false;
  bool key = false;
  uint32_t pts = 0;
  uint32_t size = 0;
};

struct MadeStream {
  StreamBuilder builder;
  std::vector<PlannedPacket> packets;
  // The entries the index must hold: key frames and audio packets, in order.
  std::vector<PlannedPacket> indexed() const {
    std::vector<PlannedPacket> out;
    for (const PlannedPacket& p : packets) {
      if (p.audio || p.key) out.push_back(p);
    }
    return out;
  }
};

inline MadeStream make_stream(const StreamPlan& plan) {
  struct Pending {
    uint32_t pts;
    int order;
    std::vector<uint8_t> bytes;
    PlannedPacket info;
  };
  std::vector<Pending> all;
  int order = 0;
  for (const ChannelPlan& c : plan.video) {
    int frames = static_cast<int>(plan.seconds * c.fps);
    auto pictures = encode_mpeg4(plan.width, plan.height, frames, c.channel, c.gop);
    for (size_t i = 0; i < pictures.size(); ++i) {
      uint32_t pts = plan.first_pts + static_cast<uint32_t>(i * 90000 / c.fps);
      Pending p{pts, order++, make_video_packet(c.channel, pts, pictures[i].bits), {}};
      p.info.channel = c.channel;
      p.info.key = pictures[i].key;
      p.info.pts = pts;
      all.push_back(std::move(p));
    }
  }
  for (int ch : plan.audio) {
    int packets = static_cast<int>(plan.seconds / 0.512);
    for (int i = 0; i < packets; ++i) {
      uint32_t pts = plan.first_pts + static_cast<uint32_t>(i * 46080);
      std::vector<uint8_t> adpcm(2048);
      for (size_t k = 0; k < adpcm.size(); ++k) adpcm[k] = static_cast<uint8_t>(k * 7 + i + ch);
      Pending p{pts, order++, make_audio_packet(ch, pts, adpcm, 0, 10), {}};
      p.info.channel = ch;
      p.info.audio = true;
      p.info.pts = pts;
      all.push_back(std::move(p));
    }
  }
  std::stable_sort(all.begin(), all.end(), [](const Pending& a, const Pending& b) {
    return a.pts != b.pts ? a.pts < b.pts : a.order < b.order;
  });
  MadeStream out{StreamBuilder(plan.scr), {}};
  for (Pending& p : all) {
    p.info.offset = out.builder.add(p.bytes);
    p.info.size = static_cast<uint32_t>(p.bytes.size());
    out.packets.push_back(p.info);
  }
  return out;
}

}  // namespace virazav::testing
