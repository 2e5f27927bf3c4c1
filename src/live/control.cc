// The live stream's control and query calls: which sender is accepted, the two
// recorder commands that start, stop and shape the stream, the newest picture
// of a channel (with the display channel's group played at its pace), and the
// registers of the last block headers.
#include <cstdio>
#include <cstring>
#include <string>

#include "command/tcpetc.h"
#include "decoder/decoder.h"
#include "format/bytes.h"
#include "live/assembly.h"
#include "live/live.h"
#include "live/live_state.h"
#include "platform/platform.h"

namespace virazav::live {

using namespace detail;

namespace {

// The recorder commands return the receive code itself when no reply came.
constexpr command::CommandForm kLiveCommand{command::kDelimCommand, 1, true};

bool valid_channel(int channel) {
  return channel >= 0 && channel < kChannels;
}

// Set 0 is set 0; any other value selects set 1.
int set_index(int set) {
  return set == 0 ? 0 : 1;
}

}  // namespace

int rx_start(int a, int b, int c, int d) {
  LiveState& s = state();
  // The sender is named by its dotted text; values outside 0..255 make a text
  // that no sender has.
  const bool valid =
      a >= 0 && a <= 255 && b >= 0 && b <= 255 && c >= 0 && c <= 255 && d >= 0 && d <= 255;
  uint64_t expected = 0;
  if (valid) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                              static_cast<uint8_t>(c), static_cast<uint8_t>(d)};
    uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    expected = (uint64_t{1} << 32) | address;
  }
  s.expected_sender.store(expected);
  // A thread being started or stopped keeps its state.
  ReceiveThread& th = s.threads[0];
  int32_t now = th.state.load();
  while (now != kStarting && now != kStopRequested &&
         !th.state.compare_exchange_weak(now, kReceiving)) {
  }
  th.waker.wake();
  return 0;
}

int rx_stop() {
  ReceiveThread& th = state().threads[0];
  int32_t now = th.state.load();
  while (now != kStarting && now != kStopRequested && !th.state.compare_exchange_weak(now, kIdle)) {
  }
  th.waker.wake();
  return 0;
}

int udp_count(int slot, int down, int value, int audio) {
  int rc = down == 0 ? command::exchange(slot, kLiveCommand, "UDPup %02d %02d\n", value, audio)
                     : command::exchange(slot, kLiveCommand, "UDPdown %02d %02d\n", value, audio);
  if (rc != 0) return rc;
  state().audio_switch.exchange(audio);
  kick();
  return static_cast<int>(command::reply_value(slot, 2));
}

int udp_dispmode(int slot, int display, int mode) {
  // The display channel changes before anything is sent, so it changes even
  // when the command fails.
  state().display_channel.exchange(display);
  int rc = command::exchange(slot, kLiveCommand, "UDPdispmode %02X %02X %02X\n", display, mode, 0);
  return rc != 0 ? rc : static_cast<int>(command::reply_value(slot, 2));
}

int udp_rx(int channel, int set) {
  if (!valid_channel(channel)) return 0;
  LiveState& s = state();
  const int si = set_index(set);
  VideoSet& vs = s.sets[si];
  VideoSlot& slot = vs.slots[channel];
  char path[40];
  std::snprintf(path, sizeof path, "img/serv%d%02d.jpg", set, channel);

  int result = 0;
  std::lock_guard<std::mutex> lock(slot.lock);
  const int display = s.display_channel.load();
  if (slot.state.load() == kSlotReady && slot.buffer.ok()) {
    slot.state.store(kSlotTaken);
    const uint8_t* b = slot.buffer.data();
    // The first record's packet, as long as its record header says and the
    // slot holds.
    size_t length = kRecordUnit * format::load_le16(b + kVideoRecordsAt + kRecordUnitsAt);
    if (length > kVideoSlotBytes - kFirstRecordDataAt)
      length = kVideoSlotBytes - kFirstRecordDataAt;
    {
      std::lock_guard<std::mutex> decoding(s.decode_lock);
      decoder::decode_live_frame_to_file(path, b + kFirstRecordDataAt, length);
    }
    s.counters.pictures.fetch_add(1);
    result = 1;
    if (channel + 1 == display) {
      platform::MutexLock group(vs.group_lock);
      vs.display_start_ms.store(platform::tick_ms());
      vs.group[0].length = 0;
    }
    slot.state.store(kSlotEmpty);
    return result;
  }

  if (channel + 1 != display) return 0;
  platform::MutexLock group(vs.group_lock);
  GroupRecord* g = vs.group;
  if (g[0].length == kNoGroup || static_cast<int>(g[0].channel) + 1 != display) return 0;
  int64_t elapsed = 0;
  if (static_cast<int32_t>(g[0].length) > 0) {
    vs.display_start_ms.store(platform::tick_ms());
  } else {
    elapsed = static_cast<uint32_t>(platform::tick_ms() - vs.display_start_ms.load());
  }
  decoder::QueuedPicture queue[kGroupRecords];
  for (int k = 0; k < kGroupRecords; ++k) {
    queue[k].channel = static_cast<int>(g[k].channel);
    queue[k].data = g[k].data;
    queue[k].length = g[k].length;
    queue[k].vop_kind = static_cast<int>(g[k].kind);
    queue[k].due_ms = g[k].due_ms;
  }
  int shown;
  {
    std::lock_guard<std::mutex> decoding(s.decode_lock);
    shown = decoder::decode_live_queue_to_file(path, queue, kGroupRecords, elapsed);
  }
  for (int k = 0; k < kGroupRecords; ++k) g[k].length = static_cast<uint32_t>(queue[k].length);
  if (shown > 0) {
    s.counters.pictures.fetch_add(1);
    result = 1;
  }
  return result;
}

void rx_time(int set, uint8_t* out) {
  if (out == nullptr) return;
  const VideoSet& vs = state().sets[set_index(set)];
  format::store_le32(out, vs.time_value.load());
  format::store_le16(out + 4, static_cast<uint16_t>(vs.time_word.load()));
}

void rx_status(int set, uint8_t* status, uint8_t* channel, uint16_t* status_word, uint16_t* ptz1,
               uint16_t* ptz2, uint16_t* ptz3) {
  LiveState& s = state();
  if (set == -1) {
    s.no_audio[0].store(0);
    s.no_audio[1].store(0);
    return;
  }
  const int last = s.last_video_channel.load();
  if (channel != nullptr) *channel = static_cast<uint8_t>(last);
  const VideoSet& vs = s.sets[set_index(set)];
  uint8_t byte = static_cast<uint8_t>(vs.status_byte.load());
  if (status_word != nullptr) *status_word = static_cast<uint16_t>(vs.status_word.load());
  if (set == 0 && valid_channel(last)) {
    if (ptz1 != nullptr) *ptz1 = static_cast<uint16_t>(s.ptz[last][0].load());
    if (ptz2 != nullptr) *ptz2 = static_cast<uint16_t>(s.ptz[last][1].load());
    if (ptz3 != nullptr) *ptz3 = static_cast<uint16_t>(s.ptz[last][2].load());
  }
  if (s.no_audio[0].load() != 0) byte |= 0x10;
  if (s.no_audio[1].load() != 0) byte |= 0x20;
  if (status != nullptr) *status = byte;
}

void ptz_status(int channel, uint16_t* ptz1, uint16_t* ptz2, uint16_t* ptz3) {
  if (!valid_channel(channel)) return;
  LiveState& s = state();
  if (ptz1 != nullptr) *ptz1 = static_cast<uint16_t>(s.ptz[channel][0].load());
  if (ptz2 != nullptr) *ptz2 = static_cast<uint16_t>(s.ptz[channel][1].load());
  if (ptz3 != nullptr) *ptz3 = static_cast<uint16_t>(s.ptz[channel][2].load());
  s.ptz[channel][2].store(0);
}

}  // namespace virazav::live
