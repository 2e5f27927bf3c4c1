// Tests of the recorder's media: the synthetic sources, their MPEG-4 and ADPCM encodings
// (decoded back and compared with the sources), the PES packets and the recordings'
// blocks.

#include "media/media.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "media/recording.h"

namespace virazav::sim {
namespace {

bool has_start_code(const std::vector<uint8_t>& d, uint8_t code) {
  for (size_t i = 0; i + 3 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == code) return true;
  }
  return false;
}

// The VOP kind of an elementary stream: 1 intra, 2 predicted, 3 bidirectional; 0 none.
int vop_kind(const std::vector<uint8_t>& d) {
  for (size_t i = 0; i + 4 < d.size(); ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB6) return (d[i + 4] >> 6) + 1;
  }
  return 0;
}

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

TEST(SyntheticChannel, DigitsReadBackForEveryChannelAndSeveralFrames) {
  for (int channel = 0; channel < kChannelCount; ++channel) {
    for (int64_t frame : {0, 7, 59, 123456}) {
      Picture p = SyntheticChannel(channel, 352, 240).source_picture(frame);
      ASSERT_EQ(p.y.size(), 352u * 240u);
      EXPECT_EQ(read_channel_number(p), channel) << "channel " << channel << " frame " << frame;
      EXPECT_EQ(read_frame_counter(p), frame) << "channel " << channel << " frame " << frame;
    }
  }
}

TEST(SyntheticChannel, ChannelsDifferOutsideTheirDigits) {
  // The bars alone tell the channels apart: compare a row through the middle of the bars,
  // away from the digit boxes and the moving square.
  std::set<std::vector<uint8_t>> rows;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    Picture p = SyntheticChannel(channel, 352, 240).source_picture(0);
    std::vector<uint8_t> row(p.u.begin() + 40 * 176, p.u.begin() + 41 * 176);
    rows.insert(row);
  }
  EXPECT_EQ(rows.size(), static_cast<size_t>(kChannelCount));
}

TEST(VideoCodec, GroupStartsWithHeadersAndIntraThenPredictedOnly) {
  SyntheticChannel source(3, 352, 240);
  std::vector<EncodedPicture> pics;
  std::string error;
  ASSERT_TRUE(encode_video_packets(source, 20, 10, VideoSettings{}, &pics, &error)) << error;
  ASSERT_EQ(pics.size(), 10u);
  for (size_t i = 0; i < pics.size(); ++i) {
    const bool first = i == 0;
    EXPECT_EQ(pics[i].frame, static_cast<int64_t>(20 + i));
    EXPECT_EQ(pics[i].key, first) << "picture " << i;
    EXPECT_EQ(has_start_code(pics[i].data, 0x00), first) << "video object, picture " << i;
    EXPECT_EQ(has_start_code(pics[i].data, 0x20), first) << "video object layer, picture " << i;
    EXPECT_EQ(has_start_code(pics[i].data, 0xB3), first) << "group of VOP, picture " << i;
    EXPECT_EQ(vop_kind(pics[i].data), first ? 1 : 2) << "picture " << i;
  }
}

TEST(VideoCodec, DecodedPicturesMatchTheirSources) {
  SyntheticChannel source(5, 352, 240);
  std::vector<EncodedPicture> pics;
  std::string error;
  ASSERT_TRUE(encode_video_packets(source, 100, 10, VideoSettings{}, &pics, &error)) << error;
  std::vector<std::vector<uint8_t>> streams;
  for (const auto& p : pics) streams.push_back(p.data);
  std::vector<Picture> decoded;
  ASSERT_TRUE(decode_video_packets(streams, &decoded, &error)) << error;
  ASSERT_EQ(decoded.size(), 10u);
  for (size_t i = 0; i < decoded.size(); ++i) {
    Picture want = source.source_picture(100 + static_cast<int64_t>(i));
    EXPECT_GT(luma_psnr(decoded[i], want), 30.0) << "picture " << i;
    EXPECT_EQ(read_frame_counter(decoded[i]), static_cast<int64_t>(100 + i)) << "picture " << i;
    EXPECT_EQ(read_channel_number(decoded[i]), 5) << "picture " << i;
  }
  // Another frame's source is a worse match: the comparison can tell pictures apart.
  EXPECT_LT(luma_psnr(decoded[0], source.source_picture(105)),
            luma_psnr(decoded[0], source.source_picture(100)));
}

TEST(VideoCodec, SameSourceEncodesToSameBytes) {
  SyntheticChannel source(1, 176, 144);
  VideoSettings s;
  s.width = 176;
  s.height = 144;
  std::vector<EncodedPicture> a, b;
  ASSERT_TRUE(encode_video_packets(source, 0, 4, s, &a, nullptr));
  ASSERT_TRUE(encode_video_packets(source, 0, 4, s, &b, nullptr));
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].data, b[i].data) << "picture " << i;
}

TEST(VideoCodec, SizeMismatchIsRefused) {
  SyntheticChannel source(0, 176, 144);
  std::vector<EncodedPicture> pics;
  std::string error;
  EXPECT_FALSE(encode_video_packets(source, 0, 2, VideoSettings{}, &pics, &error));
  EXPECT_FALSE(error.empty());
}

TEST(Adpcm, DecoderStepsFollowTheRecorderRule) {
  struct Row {
    uint8_t byte;
    int16_t first, second;
    uint8_t index;
  };
  // From predictor 0, index 0 (step 7): code 0 adds 7/8 = 0 and keeps index 0; code 7
  // adds 15 × 7 / 8 = 13 and moves to index 8, where code 0 adds 16 / 8 = 2 and steps back
  // to index 7; code 8 subtracts 0.
  const Row rows[] = {{0x00, 0, 0, 0}, {0x07, 13, 13 + 16 / 8, 7}, {0x08, 0, 0, 0}};
  for (const Row& r : rows) {
    AdpcmState s;
    int16_t out[2];
    decode_adpcm(&r.byte, 1, &s, out);
    EXPECT_EQ(out[0], r.first) << "byte " << int(r.byte);
    EXPECT_EQ(out[1], r.second) << "byte " << int(r.byte);
    EXPECT_EQ(s.index, r.index) << "byte " << int(r.byte);
  }
}

TEST(Adpcm, ToneSurvivesEncodingAndStatesAgree) {
  for (int channel = 0; channel < kAudioChannelCount; ++channel) {
    std::vector<int16_t> pcm = tone_samples(channel, 0, kAudioPacketSamples);
    AdpcmState enc{pcm[0], 0};
    AdpcmState dec = enc;
    std::vector<uint8_t> bytes(kAdpcmBytes);
    encode_adpcm(pcm.data(), pcm.size(), &enc, bytes.data());
    std::vector<int16_t> back(kAudioPacketSamples);
    decode_adpcm(bytes.data(), bytes.size(), &dec, back.data());
    EXPECT_EQ(enc.predictor, dec.predictor) << "channel " << channel;
    EXPECT_EQ(enc.index, dec.index) << "channel " << channel;
    // Signal-to-noise after the first 64 samples, which the step size needs to settle.
    double sig = 0, noise = 0;
    for (size_t i = 64; i < pcm.size(); ++i) {
      sig += double(pcm[i]) * pcm[i];
      noise += (double(pcm[i]) - back[i]) * (double(pcm[i]) - back[i]);
    }
    EXPECT_GT(10 * std::log10(sig / std::max(noise, 1.0)), 20.0) << "channel " << channel;
  }
}

TEST(Adpcm, TonesHaveTheirChannelsFrequency) {
  for (int channel = 0; channel < kAudioChannelCount; ++channel) {
    std::vector<int16_t> pcm = tone_samples(channel, 12345, kAudioRate);
    int crossings = 0;
    for (size_t i = 1; i < pcm.size(); ++i) crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
    EXPECT_NEAR(crossings / 2.0, tone_frequency(channel), 2.0) << "channel " << channel;
  }
}

TEST(PesPacket, Field22RoundTripsWithMarkersSet) {
  for (uint32_t v : {0u, 1u, 0x7FFu, 0x800u, 0x12345u, 0x2A5A5Au, kMaxField22}) {
    uint8_t b[3];
    put_field22(b, v);
    EXPECT_EQ(b[0] & 0x80, 0x80) << v;
    EXPECT_EQ(b[1] & 0x08, 0x08) << v;
    EXPECT_EQ(get_field22(b), v) << v;
  }
  // A reader ignores the markers.
  uint8_t cleared[3] = {0x00, 0x10, 0x05};
  uint8_t marked[3] = {0x80, 0x18, 0x05};
  EXPECT_EQ(get_field22(cleared), get_field22(marked));
  EXPECT_EQ(get_field22(marked), 0x805u);
}

TEST(PesPacket, VideoAndAudioPacketLayouts) {
  EncodedPicture pic;
  for (size_t n : {0u, 1u, 31u, 1000u}) {
    pic.data.assign(n, 0x5A);
    std::vector<uint8_t> p = make_video_packet(9, 0x1F0000000ull + 77, 1234, pic);
    ASSERT_FALSE(p.empty()) << n;
    EXPECT_EQ(p.size() % kPacketUnit, 0u) << n;
    EXPECT_GE(p.size(), n + kVideoHeaderSize) << n;
    EXPECT_EQ(p[3], 0xE9) << n;
    EXPECT_EQ(get_field22(&p[kPacketSizeOffset]), p.size()) << n;
    EXPECT_EQ(get_field22(&p[kPrevSizeOffset]), 0u) << n;
    EXPECT_EQ(size_t(p[4] << 8 | p[5]), p.size() - 6) << n;
    EXPECT_EQ(p[7] >> 6, 3) << n;
    EXPECT_EQ(9u + p[8] + n, p.size()) << "payload ends the packet, n " << n;
    // Both stamps present: the DTS is the time stamp.
    EXPECT_EQ(packet_time_stamp(p.data(), p.size()), std::optional<uint32_t>(1234)) << n;
  }
  uint8_t adpcm[kAdpcmBytes];
  for (int i = 0; i < kAdpcmBytes; ++i) adpcm[i] = static_cast<uint8_t>(i);
  std::vector<uint8_t> a = make_audio_packet(2, 0x123456789ull, AdpcmState{-2, 37}, adpcm);
  ASSERT_EQ(a.size(), static_cast<size_t>(kAudioPacketSize));
  EXPECT_EQ(a[3], 0xC2);
  EXPECT_EQ(a[8], kAudioHeaderSize - 9);
  EXPECT_EQ(get_field22(&a[kPacketSizeOffset]), 2112u);
  EXPECT_EQ(packet_time_stamp(a.data(), a.size()), std::optional<uint32_t>(0x23456789u));
  for (size_t at : {kAdpcmStateAOffset, kAdpcmStateBOffset}) {
    EXPECT_EQ(int16_t(le16(&a[at])), -2) << at;
    EXPECT_EQ(a[at + 2], 37) << at;
  }
  EXPECT_EQ(a[kAudioHeaderSize], 0);
  EXPECT_EQ(a[kAudioHeaderSize + 2047], 0xFF);
  EXPECT_FALSE(packet_time_stamp(a.data(), 8).has_value());
}

TEST(DownloadRequest, FieldsAreCheckedRowByRow) {
  struct Row {
    const char* name;
    std::vector<int64_t> f;
    bool ok;
  };
  const Row rows[] = {
      {"two-digit year", {3, 24, 5, 1, 10, 0, 0, 60, 1, 0, 0, 0}, true},
      {"four-digit year", {0, 2024, 5, 1, 10, 0, 0, 1, 0, 0, 0, 0}, true},
      {"length 0", {0, 24, 5, 1, 10, 0, 0, 0, 0, 0, 0, 0}, false},
      {"day 31 of April", {0, 24, 4, 31, 10, 0, 0, 5, 0, 0, 0, 0}, false},
      {"hour 24", {0, 24, 5, 1, 24, 0, 0, 5, 0, 0, 0, 0}, false},
      {"mask beyond 16 bits", {65536, 24, 5, 1, 10, 0, 0, 5, 0, 0, 0, 0}, false},
      {"negative mask", {-1, 24, 5, 1, 10, 0, 0, 5, 0, 0, 0, 0}, false},
      {"audio switch 2", {0, 24, 5, 1, 10, 0, 0, 5, 2, 0, 0, 0}, false},
      {"eleven fields", {0, 24, 5, 1, 10, 0, 0, 5, 0, 0, 0}, false},
  };
  for (const Row& r : rows) {
    DownloadRequest req;
    EXPECT_EQ(parse_download_request(r.f, &req), r.ok) << r.name;
  }
  DownloadRequest req;
  ASSERT_TRUE(parse_download_request(rows[0].f, &req));
  EXPECT_EQ(req.channels, 3u);
  EXPECT_EQ(req.start.year, 2024);
  EXPECT_EQ(req.seconds, 60);
  EXPECT_TRUE(req.audio);
}

RecordingOptions small_recording() {
  RecordingOptions o;
  o.video_channels = 0x0005;  // channels 0 and 2
  o.audio_channels = 0x0001;
  o.seconds = 10;
  o.video.width = 176;
  o.video.height = 144;
  o.video.fps = 5;
  return o;
}

TEST(Recording, VideoBlockHoldsOneSecondAsRecords) {
  Recording rec(small_recording());
  std::vector<uint8_t> b = rec.video_block(2, 3);
  ASSERT_GT(b.size(), kVideoBlockHeader);
  EXPECT_EQ(b[kVideoBlockChannelOffset] >> 4, 2);
  ASSERT_EQ(b[kVideoBlockCountOffset], 5);
  size_t at = kVideoBlockHeader;
  for (int i = 0; i < 5; ++i) {
    ASSERT_LE(at + kRecordHeader, b.size()) << "record " << i;
    size_t len = kPacketUnit * le16(&b[at + kRecordUnitsOffset]);
    const uint8_t* p = &b[at + kRecordHeader];
    ASSERT_LE(at + kRecordHeader + len, b.size()) << "record " << i;
    EXPECT_EQ(p[3], 0xE2) << "record " << i;
    EXPECT_EQ(get_field22(p + kPacketSizeOffset), len) << "record " << i;
    EXPECT_EQ(packet_time_stamp(p, len), rec.picture_dts(15 + i)) << "record " << i;
    at += kRecordHeader + len;
  }
  EXPECT_EQ(at, b.size());
  EXPECT_TRUE(rec.video_block(1, 0).empty()) << "channel 1 was not recorded";
  EXPECT_TRUE(rec.video_block(0, 10).empty()) << "second 10 is past the end";
}

TEST(Recording, DownloadStepsRunInTimeOrderAndCoverTheStretch) {
  Recording rec(small_recording());
  DownloadRequest req;
  req.start = small_recording().start;
  req.start.second = 2;
  req.seconds = 3;  // seconds 2, 3, 4
  req.audio = true;
  int64_t start = 0;
  std::vector<DownloadStep> steps = rec.plan_download(req, &start);
  EXPECT_EQ(start, recorder_seconds(req.start));
  ASSERT_FALSE(steps.empty());
  ASSERT_FALSE(steps[0].video.empty()) << "a download starts with a video block";

  int video = 0, audio = 0;
  uint32_t last = 0;
  for (size_t i = 0; i < steps.size(); ++i) {
    for (const auto* b : {&steps[i].video, &steps[i].audio}) {
      if (b->empty()) continue;
      const bool is_video = b == &steps[i].video;
      size_t head = is_video ? kVideoBlockHeader + kRecordHeader : kAudioBlockHeader;
      auto ts = packet_time_stamp(b->data() + head, b->size() - head);
      ASSERT_TRUE(ts.has_value()) << "step " << i;
      EXPECT_GE(*ts + (is_video ? 90000 / 5 : 0), last) << "step " << i;
      last = *ts + (is_video ? 90000 / 5 : 0);
      (is_video ? video : audio)++;
    }
  }
  EXPECT_EQ(video, 2 * 3) << "channels 0 and 2, three seconds";
  // Audio packets starting in seconds 2..4: samples 16000..39999 hold packets 4..9.
  EXPECT_EQ(audio, 6);

  req.start.year = 2023;
  EXPECT_TRUE(rec.plan_download(req, &start).empty()) << "nothing recorded then";
  req.start = small_recording().start;
  req.channels = 0x0002;
  EXPECT_TRUE(rec.plan_download(req, &start).empty()) << "channel 1 was not recorded";
}

}  // namespace
}  // namespace virazav::sim
