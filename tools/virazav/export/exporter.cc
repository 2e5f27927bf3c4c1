// The export's two passes over a source and its writers: libavformat's Matroska and MP4
// muxers with the pictures copied and the sound decoded by the library's ADPCM decoder
// (and encoded to AAC with libavcodec's native encoder for MP4), or plain .m4v files.
#include "exporter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mathematics.h>
#include <libavutil/opt.h>
}

#include "decoder/decoder.h"
#include "format/stream_format.h"
#include "format/video_headers.h"

namespace virazav::cli::exporting {
namespace {

namespace fs = std::filesystem;

constexpr int kChannels = 16;
constexpr int kTicksPerSecond = 90000;
constexpr int kSampleRate = 8000;
constexpr int kPacketSamples = static_cast<int>(decoder::kPcmPacketBytes / 2);  // 4096
// A picture stamp that steps back, or forward by more than this, is where the recorder's
// data repeats or resumes after a pause; the track goes on one picture after its last.
constexpr int64_t kMaxStampStep = 10 * kTicksPerSecond;
constexpr int kAacBitRate = 32000;

// ---- Survey: what the first pass learns ---------------------------------------------

struct TrackPlan {
  bool present = false;
  int64_t start_offset = -1;  // source offset of the track's first packet
  uint32_t first_stamp = 0;   // its DTS (pictures) or PTS (sound)
  uint32_t first_pts = 0;
  int64_t packets = 0;
  // Pictures only: the headers before the first picture, the picture size and the step
  // between the first two stamps.
  std::vector<uint8_t> headers;
  int width = 0, height = 0;
  uint32_t second_stamp = 0;
};

struct Survey {
  std::array<TrackPlan, kChannels> video;
  std::array<TrackPlan, kChannels> audio;
  int64_t dropped_before_key = 0;
  int64_t first_time = INT64_MAX, last_time = INT64_MIN;
  int64_t source_begin = INT64_MAX, source_end = 0;
  bool any = false;
};

// The bytes of a key picture's elementary stream before its first group or VOP header:
// the visual object sequence, video object and video object layer headers a container
// keeps as the track's codec private data.
std::vector<uint8_t> sequence_headers(const uint8_t* es, size_t size) {
  for (size_t i = 0; i + 4 <= size; ++i) {
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 &&
        (es[i + 3] == 0xB3 || es[i + 3] == 0xB6)) {
      return std::vector<uint8_t>(es, es + i);
    }
  }
  return {};
}

bool in_request(const SourcePacket& p, const ExportRequest& r) {
  return ((r.channels >> p.channel) & 1u) != 0 && p.time >= r.from && p.time <= r.to;
}

WalkResult survey_source(RecordingSource& source, const ExportRequest& request, Survey* s) {
  return source.walk([&](const SourcePacket& p) {
    if (request.progress) request.progress(p.end / 2, source.size());
    if (!in_request(p, request)) return true;
    TrackPlan& t = p.kind == format::kKindVideo ? s->video[p.channel] : s->audio[p.channel];
    const uint8_t* es = p.pes + p.payload_offset;
    const size_t es_size = p.pes_size - p.payload_offset;
    if (!t.present) {
      if (p.kind == format::kKindVideo) {
        // A track starts on a key picture whose headers give the picture size.
        format::VideoHeaders h;
        if (!p.key ||
            (format::scan_video_headers(p.pes, p.pes_size, &h) & format::kFoundVideoObject) == 0) {
          ++s->dropped_before_key;
          return true;
        }
        t.headers = sequence_headers(es, es_size);
        if (t.headers.empty()) {
          ++s->dropped_before_key;
          return true;
        }
        t.width = h.width;
        t.height = h.height;
      }
      t.present = true;
      t.start_offset = p.offset;
      t.first_stamp = p.dts;
      t.first_pts = p.pts;
    } else if (t.packets == 1) {
      t.second_stamp = p.dts;
    }
    ++t.packets;
    s->any = true;
    s->first_time = std::min(s->first_time, p.time);
    s->last_time = std::max(s->last_time, p.time);
    s->source_begin = std::min(s->source_begin, p.offset);
    s->source_end = std::max(s->source_end, p.end);
    return true;
  });
}

// ---- Stamps -----------------------------------------------------------------------------

// A track's 32-bit stamps turned into a count that does not wrap and never steps back.
struct Clock {
  bool started = false;
  uint32_t last32 = 0;
  int64_t last = 0;
  int64_t shift = 0;  // added after a repeat or a pause in the recorder's data

  // Returns the stamp as ticks after `origin` (32-bit stamps differ by less than 2^31
  // between two packets of one track).
  int64_t unwrap(uint32_t stamp, uint32_t origin) {
    if (!started) {
      started = true;
      last = static_cast<int32_t>(stamp - origin);
    } else {
      last += static_cast<int32_t>(stamp - last32);
    }
    last32 = stamp;
    return last;
  }
};

// ---- libav owners -------------------------------------------------------------------------

struct FormatDeleter {
  void operator()(AVFormatContext* c) const {
    if (c == nullptr) return;
    if (c->pb != nullptr && (c->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct CodecDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

std::string av_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// ---- Writers ---------------------------------------------------------------------------------

// What each writer does with the packets of the second pass.
class Writer {
 public:
  virtual ~Writer() = default;
  virtual bool picture(int channel, const SourcePacket& p, int64_t dts, int64_t pts,
                       std::string* error) = 0;
  virtual bool sound(int channel, const uint8_t* pcm, int64_t first_sample, std::string* error) = 0;
  virtual bool finish(std::string* error) = 0;
};

// The .m4v files of a split: each channel's elementary stream from its first key picture.
class SplitWriter : public Writer {
 public:
  bool open(const std::string& dir, const Survey& s, ExportReport* report, std::string* error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    for (int ch = 0; ch < kChannels; ++ch) {
      if (!s.video[ch].present) continue;
      const std::string path = (fs::path(dir) / ("ch" + std::to_string(ch) + ".m4v")).string();
      files_[ch] = std::fopen(path.c_str(), "wb");
      if (files_[ch] == nullptr) {
        *error = path + ": cannot create: " + std::strerror(errno);
        return false;
      }
      report->outputs.push_back(path);
      paths_[ch] = path;
    }
    return true;
  }
  ~SplitWriter() override {
    for (std::FILE* f : files_) {
      if (f != nullptr) std::fclose(f);
    }
  }
  bool picture(int channel, const SourcePacket& p, int64_t, int64_t, std::string* error) override {
    const size_t n = p.pes_size - p.payload_offset;
    if (std::fwrite(p.pes + p.payload_offset, 1, n, files_[channel]) != n) {
      *error = paths_[channel] + ": write failed: " + std::strerror(errno);
      return false;
    }
    return true;
  }
  bool sound(int, const uint8_t*, int64_t, std::string*) override { return true; }
  bool finish(std::string* error) override {
    for (int ch = 0; ch < kChannels; ++ch) {
      if (files_[ch] == nullptr) continue;
      const int rc = std::fclose(files_[ch]);
      files_[ch] = nullptr;
      if (rc != 0) {
        *error = paths_[ch] + ": write failed: " + std::strerror(errno);
        return false;
      }
    }
    return true;
  }
  const std::string& path(int channel) const { return paths_[channel]; }

 private:
  std::array<std::FILE*, kChannels> files_{};
  std::array<std::string, kChannels> paths_;
};

// A Matroska or MP4 file through libavformat.
class MuxWriter : public Writer {
 public:
  bool open(const ExportRequest& request, const Survey& s, std::string* error) {
    AVFormatContext* raw = nullptr;
    const char* format = request.container == Container::kMp4 ? "mp4" : "matroska";
    int rc = avformat_alloc_output_context2(&raw, nullptr, format, request.output.c_str());
    if (rc < 0 || raw == nullptr) {
      *error = std::string("cannot set up the ") + format + " writer: " + av_text(rc);
      return false;
    }
    out_.reset(raw);
    aac_ = request.container == Container::kMp4;
    for (int ch = 0; ch < kChannels; ++ch) {
      if (s.video[ch].present && !add_video(ch, s.video[ch], error)) return false;
    }
    for (int ch = 0; ch < kChannels; ++ch) {
      if (s.audio[ch].present && !add_audio(ch, error)) return false;
    }
    rc = avio_open(&out_->pb, request.output.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
      *error = request.output + ": cannot create: " + av_text(rc);
      return false;
    }
    rc = avformat_write_header(out_.get(), nullptr);
    if (rc < 0) {
      *error = request.output + ": cannot write the header: " + av_text(rc);
      return false;
    }
    packet_.reset(av_packet_alloc());
    return packet_ != nullptr;
  }

  bool picture(int channel, const SourcePacket& p, int64_t dts, int64_t pts,
               std::string* error) override {
    VideoTrack& t = video_[channel];
    // Each picture's duration is the step to the next one, so the previous picture is
    // written when the next arrives.
    if (t.held != nullptr) {
      const int64_t step = dts - t.held->dts;
      t.held->duration = step > 0 ? step : t.last_duration;
      t.last_duration = t.held->duration;
      const bool written = write(t.held, t.stream, error);
      av_packet_free(&t.held);
      if (!written) return false;
    }
    AVPacket* pkt = av_packet_alloc();
    const size_t n = p.pes_size - p.payload_offset;
    if (pkt == nullptr || av_new_packet(pkt, static_cast<int>(n)) < 0) {
      av_packet_free(&pkt);
      *error = "out of memory";
      return false;
    }
    std::memcpy(pkt->data, p.pes + p.payload_offset, n);
    pkt->dts = dts;
    pkt->pts = pts;
    if (p.key) pkt->flags |= AV_PKT_FLAG_KEY;
    t.held = pkt;
    return true;
  }

  bool sound(int channel, const uint8_t* pcm, int64_t first_sample, std::string* error) override {
    AudioTrack& t = audio_[channel];
    // Sound packets that overlap are laid end to end; a gap stays a gap.
    if (first_sample < t.next_sample) first_sample = t.next_sample;
    t.next_sample = first_sample + kPacketSamples;
    if (!aac_) {
      if (av_new_packet(packet_.get(), static_cast<int>(decoder::kPcmPacketBytes)) < 0) {
        *error = "out of memory";
        return false;
      }
      std::memcpy(packet_->data, pcm, decoder::kPcmPacketBytes);
      packet_->pts = packet_->dts = first_sample;
      packet_->duration = kPacketSamples;
      packet_->flags |= AV_PKT_FLAG_KEY;
      return write(packet_.get(), t.stream, error, AVRational{1, kSampleRate});
    }
    const int frame_size = t.encoder->frame_size;
    for (int at = 0; at < kPacketSamples; at += frame_size) {
      const int n = std::min(frame_size, kPacketSamples - at);
      FramePtr frame(av_frame_alloc());
      if (frame == nullptr) {
        *error = "out of memory";
        return false;
      }
      frame->format = t.encoder->sample_fmt;
      frame->nb_samples = n;
      frame->sample_rate = kSampleRate;
      av_channel_layout_copy(&frame->ch_layout, &t.encoder->ch_layout);
      if (av_frame_get_buffer(frame.get(), 0) < 0) {
        *error = "out of memory";
        return false;
      }
      auto* samples = reinterpret_cast<float*>(frame->data[0]);
      for (int i = 0; i < n; ++i) {
        const auto* s = pcm + 2 * (at + i);
        samples[i] = static_cast<int16_t>(s[0] | (s[1] << 8)) / 32768.0f;
      }
      frame->pts = first_sample + at;
      if (!encode(t, frame.get(), error)) return false;
    }
    return true;
  }

  bool finish(std::string* error) override {
    for (VideoTrack& t : video_) {
      if (t.held == nullptr) continue;
      t.held->duration = t.last_duration;
      const bool written = write(t.held, t.stream, error);
      av_packet_free(&t.held);
      if (!written) return false;
    }
    for (AudioTrack& t : audio_) {
      if (t.encoder != nullptr && !encode(t, nullptr, error)) return false;
    }
    const int rc = av_write_trailer(out_.get());
    if (rc < 0) {
      *error = "cannot complete the file: " + av_text(rc);
      return false;
    }
    const int closed = avio_closep(&out_->pb);
    if (closed < 0) {
      *error = "cannot complete the file: " + av_text(closed);
      return false;
    }
    return true;
  }

  ~MuxWriter() override {
    for (VideoTrack& t : video_) av_packet_free(&t.held);
  }

  // The default step of a picture track before its second picture arrives.
  void set_picture_step(int channel, int64_t step) { video_[channel].last_duration = step; }

 private:
  struct VideoTrack {
    AVStream* stream = nullptr;
    AVPacket* held = nullptr;  // the last picture, written when its duration is known
    int64_t last_duration = kTicksPerSecond / 25;
  };
  struct AudioTrack {
    AVStream* stream = nullptr;
    CodecPtr encoder;
    int64_t next_sample = INT64_MIN;
  };

  bool add_video(int ch, const TrackPlan& plan, std::string* error) {
    AVStream* st = avformat_new_stream(out_.get(), nullptr);
    if (st == nullptr) {
      *error = "out of memory";
      return false;
    }
    AVCodecParameters* par = st->codecpar;
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_MPEG4;
    par->codec_tag = 0;
    par->width = plan.width;
    par->height = plan.height;
    par->format = AV_PIX_FMT_YUV420P;
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(plan.headers.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (par->extradata == nullptr) {
      *error = "out of memory";
      return false;
    }
    std::memcpy(par->extradata, plan.headers.data(), plan.headers.size());
    par->extradata_size = static_cast<int>(plan.headers.size());
    st->time_base = AVRational{1, kTicksPerSecond};
    const int64_t step = static_cast<int32_t>(plan.second_stamp - plan.first_stamp);
    if (plan.packets > 1 && step > 0) {
      st->avg_frame_rate = av_d2q(static_cast<double>(kTicksPerSecond) / step, 1000);
      video_[ch].last_duration = step;
    }
    char title[32];
    std::snprintf(title, sizeof title, "channel %d", ch);
    av_dict_set(&st->metadata, "title", title, 0);
    video_[ch].stream = st;
    return true;
  }

  bool add_audio(int ch, std::string* error) {
    AVStream* st = avformat_new_stream(out_.get(), nullptr);
    if (st == nullptr) {
      *error = "out of memory";
      return false;
    }
    AudioTrack& t = audio_[ch];
    t.stream = st;
    char title[32];
    std::snprintf(title, sizeof title, "sound %d", ch);
    av_dict_set(&st->metadata, "title", title, 0);
    if (!aac_) {
      AVCodecParameters* par = st->codecpar;
      par->codec_type = AVMEDIA_TYPE_AUDIO;
      par->codec_id = AV_CODEC_ID_PCM_S16LE;
      par->sample_rate = kSampleRate;
      par->format = AV_SAMPLE_FMT_S16;
      av_channel_layout_default(&par->ch_layout, 1);
      par->bits_per_coded_sample = 16;
      par->block_align = 2;
      par->bit_rate = kSampleRate * 16;
      st->time_base = AVRational{1, kSampleRate};
      return true;
    }
    const AVCodec* aac = avcodec_find_encoder_by_name("aac");
    if (aac == nullptr) {
      *error = "libavcodec has no aac encoder";
      return false;
    }
    t.encoder.reset(avcodec_alloc_context3(aac));
    if (t.encoder == nullptr) {
      *error = "out of memory";
      return false;
    }
    AVCodecContext* c = t.encoder.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = kSampleRate;
    av_channel_layout_default(&c->ch_layout, 1);
    c->bit_rate = kAacBitRate;
    c->time_base = AVRational{1, kSampleRate};
    c->thread_count = 1;
    // The sound is 8 kHz speech and room noise; the fast coder keeps the export from
    // spending most of its time on it.
    av_opt_set(c->priv_data, "aac_coder", "fast", 0);
    if ((out_->oformat->flags & AVFMT_GLOBALHEADER) != 0) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(c, aac, nullptr);
    if (rc < 0) {
      *error = "cannot open the aac encoder: " + av_text(rc);
      return false;
    }
    rc = avcodec_parameters_from_context(st->codecpar, c);
    if (rc < 0) {
      *error = "cannot set up the sound track: " + av_text(rc);
      return false;
    }
    st->time_base = AVRational{1, kSampleRate};
    return true;
  }

  bool encode(AudioTrack& t, AVFrame* frame, std::string* error) {
    int rc = avcodec_send_frame(t.encoder.get(), frame);
    if (rc < 0) {
      *error = "aac encoder: " + av_text(rc);
      return false;
    }
    for (;;) {
      rc = avcodec_receive_packet(t.encoder.get(), packet_.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) {
        *error = "aac encoder: " + av_text(rc);
        return false;
      }
      if (!write(packet_.get(), t.stream, error, t.encoder->time_base)) return false;
    }
  }

  // Writes a packet whose stamps count in `from` (the 90 kHz clock by default) and frees
  // its data.
  bool write(AVPacket* pkt, AVStream* st, std::string* error,
             AVRational from = AVRational{1, kTicksPerSecond}) {
    av_packet_rescale_ts(pkt, from, st->time_base);
    pkt->stream_index = st->index;
    const int rc = av_interleaved_write_frame(out_.get(), pkt);
    av_packet_unref(pkt);
    if (rc < 0) {
      *error = "cannot write a packet: " + av_text(rc);
      return false;
    }
    return true;
  }

  FormatPtr out_;
  PacketPtr packet_;
  bool aac_ = false;
  std::array<VideoTrack, kChannels> video_;
  std::array<AudioTrack, kChannels> audio_;
};

void remove_outputs(const ExportRequest& request, const ExportReport& report) {
  std::error_code ec;
  if (request.container == Container::kSplit) {
    for (const std::string& f : report.outputs) fs::remove(f, ec);
  } else {
    fs::remove(request.output, ec);
  }
}

}  // namespace

int export_recording(RecordingSource& source, const ExportRequest& request, ExportReport* report,
                     std::string* error) {
  *report = ExportReport{};
  av_log_set_level(AV_LOG_ERROR);
  Survey survey;
  report->walk = survey_source(source, request, &survey);
  if (report->walk.end == WalkEnd::kReadError) {
    *error = source.path() + ": read failed";
    return kExportFailed;
  }
  report->dropped_before_key = survey.dropped_before_key;
  if (!survey.any) return kExportNothing;
  report->first_time = survey.first_time;
  report->last_time = survey.last_time;
  report->source_begin = survey.source_begin;
  report->source_end = survey.source_end;

  // Every track counts from one origin, the earliest first stamp, so that pictures and
  // sound keep the timing they were recorded with.
  uint32_t origin = 0;
  int64_t origin_offset = INT64_MAX;
  for (const auto* tracks : {&survey.video, &survey.audio}) {
    for (const TrackPlan& t : *tracks) {
      if (t.present && t.start_offset < origin_offset) {
        origin_offset = t.start_offset;
        origin = t.first_pts;
      }
    }
  }
  int64_t lead = 0;  // how far the earliest first stamp lies before `origin`
  for (const auto* tracks : {&survey.video, &survey.audio}) {
    for (const TrackPlan& t : *tracks) {
      if (t.present) lead = std::max<int64_t>(lead, -static_cast<int32_t>(t.first_pts - origin));
    }
  }

  std::unique_ptr<Writer> writer;
  SplitWriter* split = nullptr;
  if (request.container == Container::kSplit) {
    auto w = std::make_unique<SplitWriter>();
    split = w.get();
    if (!w->open(request.output, survey, report, error)) {
      remove_outputs(request, *report);
      return kExportFailed;
    }
    writer = std::move(w);
  } else {
    auto w = std::make_unique<MuxWriter>();
    if (!w->open(request, survey, error)) {
      remove_outputs(request, *report);
      return kExportFailed;
    }
    report->outputs.push_back(request.output);
    writer = std::move(w);
  }

  std::array<Clock, kChannels> video_clock;
  std::array<Clock, kChannels> audio_clock;
  std::array<int64_t, kChannels> last_dts{};
  std::array<int64_t, kChannels> last_step{};
  std::array<TrackReport, kChannels> video_report;
  std::array<TrackReport, kChannels> audio_report;
  std::array<int64_t, kChannels> first_ticks{};
  std::array<int64_t, kChannels> end_ticks{};
  std::array<int64_t, kChannels> first_sample{};
  std::array<int64_t, kChannels> end_sample{};
  std::vector<uint8_t> pcm(decoder::kPcmPacketBytes);
  bool ok = true;
  const int64_t size = source.size();
  WalkResult second = source.walk([&](const SourcePacket& p) {
    if (request.progress) request.progress((size + p.end) / 2, size);
    if (!in_request(p, request)) return true;
    const int ch = p.channel;
    if (p.kind == format::kKindVideo) {
      const TrackPlan& plan = survey.video[ch];
      if (!plan.present || p.offset < plan.start_offset) return true;
      Clock& clock = video_clock[ch];
      const bool first = !clock.started;
      // The decoding stamps move by the first picture's reorder delay, so that the track
      // starts at its first presentation time; with intra and predicted pictures alone
      // both stamps then agree.
      const int64_t delay = static_cast<int32_t>(plan.first_pts - plan.first_stamp);
      int64_t dts = clock.unwrap(p.dts, origin) + lead + delay + clock.shift;
      if (!first) {
        const int64_t step = dts - last_dts[ch];
        if (step <= 0 || step > kMaxStampStep) {
          const int64_t want = last_dts[ch] + (last_step[ch] > 0 ? last_step[ch] : 1);
          clock.shift += want - dts;
          dts = want;
        } else {
          last_step[ch] = step;
        }
      }
      last_dts[ch] = dts;
      const int64_t pts = dts - delay + static_cast<int32_t>(p.pts - p.dts);
      if (first) first_ticks[ch] = pts;
      if (pts < dts) dts = pts;
      end_ticks[ch] = pts;
      if (!writer->picture(ch, p, dts, pts, error)) {
        ok = false;
        return false;
      }
      ++video_report[ch].packets;
      return true;
    }
    if (!survey.audio[ch].present || p.offset < survey.audio[ch].start_offset) return true;
    if (request.container == Container::kSplit) return true;
    if (decoder::adpcm_decode_to_pcm(p.pes, p.pes_size, pcm.data()) !=
        static_cast<int>(decoder::kPcmPacketBytes)) {
      return true;
    }
    const int64_t ticks = audio_clock[ch].unwrap(p.pts, origin) + lead;
    const int64_t sample = av_rescale(ticks, kSampleRate, kTicksPerSecond);
    if (audio_report[ch].packets == 0) first_sample[ch] = sample;
    end_sample[ch] = std::max(end_sample[ch], sample) + kPacketSamples;
    if (!writer->sound(ch, pcm.data(), sample, error)) {
      ok = false;
      return false;
    }
    ++audio_report[ch].packets;
    return true;
  });
  if (ok && second.end == WalkEnd::kReadError) {
    *error = source.path() + ": read failed";
    ok = false;
  }
  if (ok && !writer->finish(error)) ok = false;
  if (!ok) {
    writer.reset();
    remove_outputs(request, *report);
    return kExportFailed;
  }

  for (int ch = 0; ch < kChannels; ++ch) {
    if (survey.video[ch].present) {
      TrackReport t = video_report[ch];
      t.kind = format::kKindVideo;
      t.channel = ch;
      t.width = survey.video[ch].width;
      t.height = survey.video[ch].height;
      const int64_t step = last_step[ch] > 0 ? last_step[ch] : 0;
      t.seconds = static_cast<double>(end_ticks[ch] + step - first_ticks[ch]) / kTicksPerSecond;
      if (split != nullptr) t.file = split->path(ch);
      report->tracks.push_back(t);
    }
  }
  if (request.container != Container::kSplit) {
    for (int ch = 0; ch < kChannels; ++ch) {
      if (!survey.audio[ch].present || audio_report[ch].packets == 0) continue;
      TrackReport t = audio_report[ch];
      t.kind = format::kKindAudio;
      t.channel = ch;
      t.seconds = static_cast<double>(end_sample[ch] - first_sample[ch]) / kSampleRate;
      report->tracks.push_back(t);
    }
  }
  return kExportDone;
}

}  // namespace virazav::cli::exporting
