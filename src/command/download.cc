// The recorded-data download. SendDataF starts a download and SendDataN asks for each
// further step; after "JpegSendStart" the recorder sends the step's video block and audio
// block back to back, framed only by the sizes of its reply. The blocks' packets are
// appended to the stream file, chained by their prev_size fields, and every stored video
// block and audio block gets a frame index entry; the index file is written when the
// recorder has no more. Layouts: docs/formats/download-blocks.md, stream-file.md and
// frame-index.md.
#include "command/download.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "command/connection.h"
#include "command/tcpetc.h"
#include "diag/log.h"
#include "dlplayer/dataset.h"
#include "format/bytes.h"
#include "format/stream_format.h"
#include "virazav.h"

namespace virazav::command {
namespace {

constexpr char kSource[] = "tcpctrl";
constexpr char kTrigger[] = "JpegSendStart\n";

// Video block: a 100-byte header, then records of a 6-byte header and one packet.
constexpr size_t kVideoHeaderSize = 100;
constexpr size_t kVideoChannelOffset = 10;  // bits 4..7
constexpr size_t kVideoCountOffset = 27;
constexpr size_t kRecordHeaderSize = 6;
constexpr size_t kRecordUnitsOffset = 2;  // 16-bit LE data length in 32-byte units
constexpr size_t kRecordUnit = 32;
// Audio block: a 6-byte header, then one packet.
constexpr size_t kAudioHeaderSize = 6;
constexpr size_t kAudioChannelOffset = 0;  // bits 4..7

// Token positions of the SendDataF / SendDataN replies.
constexpr int kTokenVideoSize = 2;
constexpr int kTokenAudioSize = 3;
constexpr int kTokenStartTime = 4;

// Pack header and stream map of a download: every video channel and audio channels 0..3.
constexpr uint32_t kVideoChannelMask = 0xFFFF;
constexpr uint32_t kAudioChannelMask = 0xF;

constexpr int32_t kTicksPerSecond = 90000;
constexpr size_t kDrainChunk = 2048;

// The process-wide download state; one download at a time (the index is shared with the
// data-set player as well). The mutex only keeps misuse from several threads from tearing
// the state; it is not part of the contract.
struct DownloadState {
  std::mutex mu;
  int64_t write_offset = 0;
  uint32_t carried = 0;  // prev_size of the next packet stored
  uint32_t first_pts = 0;
  bool have_first = false;
};

DownloadState& state() {
  static DownloadState s;
  return s;
}

// Receives and throws away `count` bytes of the connection so that the next reply is
// read from the right place. Returns 0, or the negative receive code.
long drain(int slot, uint64_t count, uint8_t* scratch, size_t scratch_size) {
  const platform::Socket sock = slot_state(slot).command_socket;
  while (count > 0) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(count, scratch_size));
    long r = receive_exact(sock, slot, scratch, n);
    if (r < 0) return r;
    if (static_cast<size_t>(r) < n) return 0;  // the recorder closed the connection
    count -= n;
  }
  return 0;
}

// Drains what is left of a step's blocks and returns `code`.
int drain_and_return(int slot, uint64_t count, platform::Buffer& buffer, int code) {
  uint8_t small[kDrainChunk];
  if (buffer.ok()) {
    drain(slot, count, buffer.data(), buffer.size());
  } else {
    drain(slot, count, small, sizeof small);
  }
  return code;
}

}  // namespace

bool video_block_fits(const uint8_t* b, size_t received, int* records) {
  if (received <= kVideoHeaderSize) return false;
  const int count = b[kVideoCountOffset];
  size_t at = kVideoHeaderSize;
  for (int i = 0; i < count; ++i) {
    if (at + kRecordHeaderSize > received) return false;
    size_t length = kRecordUnit * format::load_le16(b + at + kRecordUnitsOffset);
    if (length > received - at - kRecordHeaderSize) return false;
    at += kRecordHeaderSize + length;
  }
  *records = count;
  return true;
}

namespace {

void append_index(int kind, int channel, int64_t offset, uint32_t pts) {
  format::FrameIndexEntry e;
  e.kind = static_cast<uint8_t>(kind);
  e.channel = static_cast<uint8_t>(channel);
  e.offset = static_cast<uint64_t>(offset);
  e.pts = pts;
  // A full index (576,000 entries) is beyond the format; later entries are not kept.
  dlplayer::index_append(e);
}

// Stores a checked video block of `received` bytes with `records` records in the open
// stream file. Returns 0, or VIRAZAV_ERR_STREAM_FILE when a write failed.
int store_video(DownloadState& st, platform::File& file, uint8_t* b, size_t received, int records) {
  // A block with no record has nothing to point an entry at.
  if (records == 0) return 0;
  const uint32_t pts = format::packet_pts(b + kVideoHeaderSize, received - kVideoHeaderSize);
  append_index(format::kKindVideo, b[kVideoChannelOffset] >> 4, st.write_offset, pts);
  if (!st.have_first) {
    st.first_pts = pts;
    st.have_first = true;
  }
  size_t at = kVideoHeaderSize;
  for (int i = 0; i < records; ++i) {
    const size_t length = kRecordUnit * format::load_le16(b + at + kRecordUnitsOffset);
    uint8_t* packet = b + at + kRecordHeaderSize;
    format::patch_prev_size(packet, length, st.carried);
    // Every packet of a block after the first points back to the block's key frame.
    st.carried =
        i == 0 ? static_cast<uint32_t>(length) : st.carried + static_cast<uint32_t>(length);
    if (length > 0 && file.write(packet, length) != 0) {
      return VIRAZAV_ERR_STREAM_FILE;
    }
    st.write_offset += static_cast<int64_t>(length);
    at += kRecordHeaderSize + length;
  }
  return 0;
}

// Appends a received audio block of `received` bytes (more than 6) to the stream file.
int store_audio(DownloadState& st, const std::string& path, uint8_t* b, size_t received) {
  platform::File file = platform::File::open(path, platform::OpenMode::kAppend);
  if (!file.is_open()) return VIRAZAV_ERR_STREAM_FILE;
  uint8_t* packet = b + kAudioHeaderSize;
  const size_t length = received - kAudioHeaderSize;
  format::patch_prev_size(packet, length, st.carried);
  st.carried = static_cast<uint32_t>(received);
  const int w = file.write(packet, length);
  file.close();
  if (w != 0) return VIRAZAV_ERR_STREAM_FILE;
  append_index(format::kKindAudio, b[kAudioChannelOffset] >> 4, st.write_offset,
               format::packet_pts(packet, length));
  st.write_offset += static_cast<int64_t>(length);
  return 0;
}

// Receives the audio block of a step and stores it. Returns 0 or a failure code.
int receive_audio(DownloadState& st, int slot, const std::string& path, platform::Buffer& buffer,
                  uint32_t size, long* received) {
  *received = 0;
  if (size == 0) return 0;
  long r = receive_exact(slot_state(slot).command_socket, slot, buffer.data(), size);
  if (r < 0) return VIRAZAV_ERR_DOWNLOAD_BLOCK;
  *received = r;
  if (static_cast<size_t>(r) <= kAudioHeaderSize) return 0;
  // A packet cut off by the end of the connection would leave a packet_size that runs
  // past the stream file's next packet.
  if (static_cast<uint32_t>(r) < size) return VIRAZAV_ERR_DOWNLOAD_BLOCK;
  return store_audio(st, path, buffer.data(), static_cast<size_t>(r));
}

int check_slot(int slot) {
  if (!slot_in_range(slot)) return VZ_REPORT(kSource, VIRAZAV_ERR_SLOT_RANGE);
  if (slot_state(slot).connected.load() == 0) return VZ_REPORT(kSource, VIRAZAV_ERR_NOT_CONNECTED);
  return 0;
}

// After a checked reply: logs the token count and token 1.
void log_reply(int slot) {
  diag::LogEntry("kora_hd_save_1")
      .value(static_cast<uint32_t>(slot_state(slot).reply.count))
      .text(reply_token(slot, 1));
}

bool blocks_fit(uint32_t v, uint32_t a) {
  return v <= kBlockSize && a <= kBlockSize;
}

}  // namespace

int copy_fast(int slot, const char* path, const DownloadRequestValues& values) {
  const int* v = values.value;
  diag::LogEntry("kora_copy_fast")
      .value(static_cast<uint32_t>(slot))
      .value(static_cast<uint32_t>(v[0]))
      .value(static_cast<uint32_t>(v[6]))
      .text(path != nullptr ? path : "");
  if (int rc = check_slot(slot); rc != 0) return rc;
  // Without a file name the blocks could only be lost; nothing is asked for.
  if (path == nullptr || path[0] == '\0') return VIRAZAV_ERR_STREAM_FILE;

  DownloadState& st = state();
  std::lock_guard<std::mutex> lock(st.mu);
  CommandForm form;
  int rc = exchange(slot, form,
                    "SendDataF %02d %02d %02d %02d %02d %02d %02d %02d %02d %02d %02d %02d\n", v[0],
                    v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11]);
  if (rc != 0) return rc;
  log_reply(slot);
  const uint32_t vsize = reply_value(slot, kTokenVideoSize);
  const uint32_t asize = reply_value(slot, kTokenAudioSize);
  const uint32_t start = reply_value(slot, kTokenStartTime);

  st.carried = 0;
  st.write_offset = 0;
  st.first_pts = 0;
  st.have_first = false;
  if (dlplayer::index_reset() != 0) return VIRAZAV_ERR_NO_MEMORY;
  if (vsize == 0) return 0;

  send_plain_line(slot, kTrigger);
  platform::Buffer buffer(kBlockSize);
  const uint64_t both = static_cast<uint64_t>(vsize) + asize;
  if (!buffer.ok()) return drain_and_return(slot, both, buffer, VIRAZAV_ERR_NO_MEMORY);
  // The block buffer holds 1 MiB; a larger block is taken off the connection unread, so
  // that the slot stays usable, and refused.
  if (!blocks_fit(vsize, asize)) {
    return drain_and_return(slot, both, buffer, VIRAZAV_ERR_DOWNLOAD_BLOCK);
  }

  const platform::Socket sock = slot_state(slot).command_socket;
  long r = receive_exact(sock, slot, buffer.data(), vsize);
  if (r < 0) return VIRAZAV_ERR_DOWNLOAD_BLOCK;
  const size_t received = static_cast<size_t>(r);
  int records = 0;
  if (received > kVideoHeaderSize && !video_block_fits(buffer.data(), received, &records)) {
    return drain_and_return(slot, asize, buffer, VIRAZAV_ERR_DOWNLOAD_BLOCK);
  }

  platform::File file = platform::File::open(path, platform::OpenMode::kWriteTruncate);
  if (!file.is_open()) return drain_and_return(slot, asize, buffer, VIRAZAV_ERR_STREAM_FILE);
  uint8_t head[format::kStreamHeaderSize];
  format::write_pack_header(start, head);
  format::write_stream_map(kVideoChannelMask, kAudioChannelMask, head + format::kPackHeaderSize);
  int w = file.write(head, sizeof head) == 0 ? 0 : VIRAZAV_ERR_STREAM_FILE;
  if (w == 0) {
    st.write_offset = static_cast<int64_t>(sizeof head);
    if (received > kVideoHeaderSize) w = store_video(st, file, buffer.data(), received, records);
  }
  // Closed before the audio block is appended through a handle of its own.
  file.close();
  if (w != 0) return drain_and_return(slot, asize, buffer, w);

  long audio = 0;
  rc = receive_audio(st, slot, path, buffer, asize, &audio);
  if (rc != 0) return rc;
  diag::log_value("kora_hd_save_r", static_cast<uint32_t>(audio));
  return 1;
}

int copy_next(int slot, const char* path, uint8_t* count4, const char* index_dir) {
  diag::LogEntry("kora_copy_next")
      .value(static_cast<uint32_t>(slot))
      .text(path != nullptr ? path : "");
  if (int rc = check_slot(slot); rc != 0) return rc;
  if (path == nullptr || path[0] == '\0') return VIRAZAV_ERR_STREAM_FILE;

  DownloadState& st = state();
  std::lock_guard<std::mutex> lock(st.mu);
  CommandForm form;
  int rc = exchange(slot, form, "SendDataN\n");
  if (rc != 0) return rc;
  log_reply(slot);
  const uint32_t vsize = reply_value(slot, kTokenVideoSize);
  const uint32_t asize = reply_value(slot, kTokenAudioSize);

  if (vsize == 0 && asize == 0) {
    // The end: the index file gets the entries made so far. One that cannot be created
    // leaves the download without it; the player then builds its own.
    if (index_dir != nullptr) {
      dlplayer::write_index_file(index_dir, dlplayer::index_cursor());
    }
    return 0;
  }

  platform::Buffer buffer(kBlockSize);
  send_plain_line(slot, kTrigger);
  const uint64_t both = static_cast<uint64_t>(vsize) + asize;
  if (!buffer.ok()) return drain_and_return(slot, both, buffer, VIRAZAV_ERR_NO_MEMORY);
  if (!blocks_fit(vsize, asize)) {
    return drain_and_return(slot, both, buffer, VIRAZAV_ERR_DOWNLOAD_BLOCK);
  }

  uint32_t total = 0;
  bool stored_video = false;
  uint32_t video_pts = 0;
  if (vsize > 0) {
    long r = receive_exact(slot_state(slot).command_socket, slot, buffer.data(), vsize);
    if (r < 0) return VIRAZAV_ERR_DOWNLOAD_BLOCK;
    const size_t received = static_cast<size_t>(r);
    if (received > kVideoHeaderSize) {
      int records = 0;
      if (!video_block_fits(buffer.data(), received, &records)) {
        return drain_and_return(slot, asize, buffer, VIRAZAV_ERR_DOWNLOAD_BLOCK);
      }
      platform::File file = platform::File::open(path, platform::OpenMode::kAppend);
      if (!file.is_open()) return drain_and_return(slot, asize, buffer, VIRAZAV_ERR_STREAM_FILE);
      const bool first_block = !st.have_first;
      int w = store_video(st, file, buffer.data(), received, records);
      file.close();
      if (w != 0) return drain_and_return(slot, asize, buffer, w);
      if (records > 0) {
        stored_video = true;
        video_pts = first_block ? st.first_pts
                                : format::packet_pts(buffer.data() + kVideoHeaderSize,
                                                     received - kVideoHeaderSize);
      }
      total = static_cast<uint32_t>(received);
    }
  }

  long audio = 0;
  rc = receive_audio(st, slot, path, buffer, asize, &audio);
  if (rc != 0) return rc;
  total += static_cast<uint32_t>(audio);

  if (count4 != nullptr) {
    format::store_be32(count4, total);
  }
  diag::log_value("kora_copy_next_r", total);
  if (!stored_video) return 1;
  // Time stamps wrap at 32 bits; the difference is taken modulo 2^32.
  const int32_t elapsed = static_cast<int32_t>(video_pts - st.first_pts);
  return elapsed <= kTicksPerSecond ? 1 : elapsed / kTicksPerSecond;
}

}  // namespace virazav::command
