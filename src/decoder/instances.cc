// The sixteen per-channel decoder instances: set-up and release, channel
// records and pictures, the resize rule, and the frame-decoding operations of
// the players and the live receiver.
#include <cstring>

#include "decoder/decoder.h"
#include "decoder/decoder_state.h"
#include "decoder/decore.h"
#include "format/stream_format.h"
#include "format/video_headers.h"
#include "platform/platform.h"

namespace virazav::decoder {
namespace detail {

DecoderState& state() {
  static DecoderState s;
  return s;
}

}  // namespace detail

namespace {

using detail::state;

constexpr const char* kTextInvalidState =
    "To Developer:\nInvalid state in DECORE library. Check\ndecore_state first.";
constexpr const char* kTextNoPictureHeader = "No picture header in picture buffer\n";
constexpr const char* kTextNoSequenceHeader =
    "To Developer:\nNo sequence header. You should put a picture\nwith sequence header at first";

bool valid_channel(int channel) {
  return channel >= 0 && channel < kChannels;
}

size_t picture_bytes(int width, int height) {
  size_t w = (static_cast<size_t>(width) + 15) & ~size_t{15};
  size_t h = (static_cast<size_t>(height) + 15) & ~size_t{15};
  return w * h * 3;
}

void release_decoders() {
  for (detail::Instance& inst : state().instances) {
    decore(kDecoreHandle, kDecoreRelease, &inst.param, nullptr);
    for (platform::Buffer& b : inst.buffers) b = platform::Buffer();
    inst.param = DecoderParam{};
    inst.frame = DecoderFrame{};
    inst.usable = false;
  }
}

// Creates the sixteen instances at width × height; each draws into its
// channel's picture. Returns false when any could not be created.
bool create_decoders(int width, int height) {
  release_decoders();
  bool all = true;
  for (int ch = 0; ch < kChannels; ++ch) {
    detail::Instance& inst = state().instances[ch];
    inst.param = DecoderParam{};
    inst.param.width = width;
    inst.param.height = height;
    inst.param.output_format = kOutputRgb24;
    inst.param.time_increment = 0;
    DecoderSize size{width, height};
    DecoderMemReqs reqs;
    if (decore(kDecoreHandle, kDecoreMemoryRequirements, &size, &reqs) != kDecoreOk) {
      all = false;
      continue;
    }
    const uint32_t sizes[detail::kInstanceBuffers] = {
        reqs.reference_a, reqs.reference_b, reqs.display, reqs.state, reqs.tables, reqs.reader};
    bool ok = true;
    for (int i = 0; i < detail::kInstanceBuffers; ++i) {
      inst.buffers[i] = platform::Buffer(sizes[i]);
      ok = ok && inst.buffers[i].ok();
    }
    uint8_t* picture = state().pictures[ch].data();
    if (!ok || picture == nullptr) {
      all = false;
      continue;
    }
    inst.param.reference_a = inst.buffers[0].data();
    inst.param.reference_b = inst.buffers[1].data();
    inst.param.display = inst.buffers[2].data();
    inst.param.state = inst.buffers[3].data();
    inst.param.tables = inst.buffers[4].data();
    inst.param.reader = inst.buffers[5].data();
    if (decore(kDecoreHandle, kDecoreInitialise, &inst.param, nullptr) != kDecoreOk) {
      all = false;
      continue;
    }
    inst.frame = DecoderFrame{picture, nullptr, 0, 1, width};
    inst.usable = true;
  }
  return all;
}

// Allocates every channel's picture at width × height (zero-filled).
bool allocate_pictures(int width, int height) {
  bool ok = true;
  for (platform::Buffer& p : state().pictures) {
    p = platform::Buffer();
    p = platform::Buffer(picture_bytes(width, height));
    ok = ok && p.ok();
  }
  return ok;
}

// The player's current direction, through the data-set layer's reader.
int live_direction() {
  DirectionReader reader = state().direction_reader.load();
  return reader ? reader() : format::kForward;
}

void decoder_setup() {
  for (ChannelSize& s : state().sizes) s = ChannelSize{};
  if (allocate_pictures(kInitialSize, kInitialSize)) create_decoders(kInitialSize, kInitialSize);
  state().setup.store(true);
}

}  // namespace

int set_up() {
  detail::DecoderState& s = state();
  clear_synced_all();
  if (!s.frame_buffer.ok()) {
    s.frame_buffer = platform::Buffer(kFrameBufferSize);
    if (!s.frame_buffer.ok()) {
      platform::show_message("error: GlobalAlloc", "decode_init error");
      return -1;
    }
  }
  adpcm_init(kAdpcmMono, kAdpcmDataBytes);
  if (!s.setup.load()) decoder_setup();
  return 0;
}

void tear_down() {
  detail::DecoderState& s = state();
  s.frame_buffer = platform::Buffer();
  adpcm_release();
  release_decoders();
  for (platform::Buffer& p : s.pictures) p = platform::Buffer();
  s.setup.store(false);
}

bool setup_done() {
  return state().setup.load();
}

uint8_t* frame_buffer() {
  return state().frame_buffer.data();
}

ChannelSize channel_size(int channel) {
  return valid_channel(channel) ? state().sizes[channel] : ChannelSize{};
}

void set_channel_size(int channel, int width, int height) {
  if (!valid_channel(channel)) return;
  state().sizes[channel].width = width;
  state().sizes[channel].height = height;
}

bool resize_decoders(int channel) {
  if (!valid_channel(channel) || !setup_done()) return false;
  detail::DecoderState& s = state();
  ChannelSize want = s.sizes[channel];
  if (want.width == want.created_width && want.height == want.created_height) return true;
  if (want.width <= 0 || want.height <= 0) return false;
  bool ok = allocate_pictures(want.width, want.height);
  for (ChannelSize& c : s.sizes) {
    c.created_width = want.width;
    c.created_height = want.height;
  }
  if (!ok) {
    release_decoders();
    return false;
  }
  return create_decoders(want.width, want.height);
}

bool synced(int channel) {
  return valid_channel(channel) && state().synced[channel].load() != 0;
}

void set_synced(int channel, bool on) {
  if (valid_channel(channel)) state().synced[channel].store(on ? 1 : 0);
}

void clear_synced_all() {
  for (auto& f : state().synced) f.store(0);
}

const uint8_t* channel_picture(int channel, int* width, int* height) {
  if (!valid_channel(channel)) return nullptr;
  const detail::Instance& inst = state().instances[channel];
  if (width) *width = inst.param.width;
  if (height) *height = inst.param.height;
  return inst.usable ? state().pictures[channel].data() : nullptr;
}

int decode_with_channel(int channel, const uint8_t* data, size_t length) {
  if (!valid_channel(channel) || !setup_done()) return kDecoreInvalidState;
  detail::Instance& inst = state().instances[channel];
  if (!inst.usable) return kDecoreInvalidState;
  if (data == nullptr || length == 0 || length > kFrameBufferSize) return kDecoreBadPicture;
  inst.frame.bitstream = data;
  inst.frame.length = static_cast<int32_t>(length);
  int rc = decore(kDecoreHandle, kDecoreDecode, &inst.frame, &inst.param);
  inst.frame.bitstream = nullptr;
  inst.frame.length = 0;
  return rc;
}

int evaluate_result(int result) {
  switch (result) {
    case kDecoreOk:
    case kDecoreOkNoPicture:
      return 1;
    case kDecoreInvalidState:
      platform::show_message(kTextInvalidState, "");
      return 0;
    case kDecoreNoPictureHeader:
      platform::show_message(kTextNoPictureHeader, "");
      return 0;
    case kDecoreNoSequenceHeader:
      platform::show_message(kTextNoSequenceHeader, "");
      return 0;
    default:
      return 0;
  }
}

int decode_frame_buffer(const uint8_t* packet, size_t length, int direction, int* channel) {
  if (packet == nullptr || length == 0) return 0;
  format::PacketHeader h;
  if (format::parse_packet_header(packet, length, direction, &h) != format::kPacketFound) {
    return 0;
  }
  if (channel) *channel = h.channel;
  // The packet runs to its own size when that is plausible, else to the end
  // of what the caller holds.
  const uint8_t* start = packet + h.offset;
  size_t n = length - static_cast<size_t>(h.offset);
  if (h.packet_size >= format::kPacketHeaderBytes && h.packet_size < n) n = h.packet_size;
  format::VideoHeaders v;
  format::scan_video_headers(start, n, &v);
  if (v.width == 0 || v.height == 0 || h.kind != format::kKindVideo) return 0;
  set_channel_size(h.channel, v.width, v.height);
  set_synced(h.channel, true);
  if (!resize_decoders(h.channel)) return 0;
  return evaluate_result(decode_with_channel(h.channel, start, n));
}

void set_direction_reader(DirectionReader reader) {
  state().direction_reader.store(reader);
}

int decode_live_frame_to_file(const std::string& path, const uint8_t* packet, size_t length) {
  if (!setup_done()) return -1;
  int channel = 0;
  if (decode_frame_buffer(packet, length, live_direction(), &channel) == 1) {
    write_channel_bmp(path, channel);
  }
  return 0;
}

int decode_live_queue_to_file(const std::string& path, QueuedPicture* records, int count,
                              int64_t elapsed_ms) {
  if (!setup_done()) return -1;
  if (records == nullptr || count <= 0) return 0;
  if (count > kQueuedPictures) count = kQueuedPictures;
  int channel = records[0].channel;
  bool decoded = false;
  for (int i = 0; i < count; ++i) {
    QueuedPicture& r = records[i];
    if (r.length == 0 || r.data == nullptr) continue;
    if (r.vop_kind == format::kVopPredicted) {
      if (r.due_ms > elapsed_ms) break;
      decoded = evaluate_result(decode_with_channel(channel, r.data, r.length)) == 1;
      if (decoded) r.length = 0;
    } else {
      if (decode_frame_buffer(r.data, r.length, live_direction()) != 1) break;
      r.length = 0;
      decoded = true;
    }
  }
  if (!decoded) return 0;
  write_channel_bmp(path, channel);
  return 1;
}

int write_channel_bmp(const std::string& path, int channel) {
  int w = 0, h = 0;
  const uint8_t* picture = channel_picture(channel, &w, &h);
  if (picture == nullptr) return -1;
  return write_frame_bmp(path, picture, w, h);
}

}  // namespace virazav::decoder
