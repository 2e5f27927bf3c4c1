// The recorder's live stream: a sender thread that, between UDPup and UDPdown, sends the
// video blocks of every channel and the audio blocks of the microphones as UDP datagrams to
// the client, in real time by the stream's media clock (or as fast as possible for
// benchmarks), with the faults a test chose, and keeps a record of every block it sent.
// The wire layouts are described in docs/formats/live-stream.md.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "live/live_blocks.h"
#include "live/live_faults.h"
#include "media/media.h"

namespace virazav::sim {

// How the recorder sends its live stream.
struct LiveOptions {
  int port_base = 50000;           // set-0 video and ring-0 audio go to this port, set 1 and
                                   // ring 1 to the next one
  std::string group;               // a multicast group to send to; empty: the IPv4 address of the
                                   // command connection's peer that sent UDPup
  uint32_t channel_mask = 0xFFFF;  // bit n: video channel n is sent
  uint32_t audio_mask = 0xF;       // bit n (0..3): audio channel n has a sub-block in each
                                   // audio block; empty: no audio blocks
  VideoSettings video;             // picture size, pictures a second (1..60), quantizer
  uint32_t stride = 1392;          // fragment payload (1,400-byte datagrams), 1..65,499
  std::vector<LiveFault> faults;
  bool burst = false;           // send blocks as fast as the socket takes them, not in real time
  int pace = 0;                 // send at most this many datagrams a second (0: no limit)
  std::string foreign_address;  // where kForeignSender datagrams come from; empty: the
                                // recorder's address with its last byte one higher (one
                                // lower for .254 and .255)
};

// One block that the stream sent, as the client's tests compare against it. Header values
// are those of the block as built; a fault's change of a field shows in `faults`.
struct LiveBlockRecord {
  uint64_t serial = 0;  // 1, 2, ...: the order in which the stream built its blocks
  int type = 0;         // 0 set-0 video, 1 set-1 video, 2 ring-0 audio, 3 ring-1 audio
  int port = 0;         // destination UDP port
  uint8_t stream = 0;   // stream number: 0 video, 1 audio
  uint8_t block_number = 0;
  int fragment_count = 0;
  uint32_t stride = 0;        // the stride the block was cut with
  uint32_t size = 0;          // bytes of the block
  uint32_t length_field = 0;  // L as sent
  int64_t due_ms = 0;         // media clock time the block was due (ms since the start)
  int64_t sent_ms = 0;        // when its first datagram went out (ms since the start)

  uint32_t time_value = 0;
  uint16_t time_word = 0;
  uint8_t status_byte = 0;  // video: byte 22; audio: the flags byte 22
  uint16_t status_word = 0;
  std::array<uint8_t, 3> ptz{};  // set 0 only

  // Video blocks.
  int channel = -1;
  int64_t first_frame = -1;  // frame number of record 0 (0 at the start of the stream)
  int record_count = 0;
  bool group = false;  // the display channel's group of the whole second
  // Audio blocks.
  std::vector<int> audio_channels;  // one sub-block each, in this order
  int64_t audio_packet = -1;        // the index of every sub-block's packet
  uint8_t sequence = 0;

  // Sending: this block's own fragments in the order they went out (a dropped one is
  // missing, a duplicated one twice, a held-back late one missing here);
  std::vector<int> fragments_sent;
  int datagrams = 0;       // every datagram sent while the block went out: its fragments,
                           // those a fault added, and a carried late fragment
  uint64_t late_from = 0;  // serial of the block whose held-back fragment went out right
                           // after this block's first fragment (0: none)
  bool foreign = false;    // sent from the foreign sender
  std::vector<LiveAppliedFault> faults;
};

struct LiveCounters {
  uint64_t datagrams = 0;
  uint64_t bytes = 0;
  uint64_t blocks = 0;
  std::array<uint64_t, kLiveBlockTypes> blocks_by_type{};
  uint64_t send_errors = 0;  // datagrams the socket refused
};

// The state of the stream as UDPup, UDPdown and UDPdispmode left it.
struct LiveStatus {
  bool running = false;
  std::string destination;  // IPv4 address the datagrams go to
  int port_base = 0;
  bool set0 = false;
  bool set1 = false;
  bool audio = false;
  int display = 0;  // 0: none, else channel + 1
  int mode = 0;     // the display mode of the last UDPdispmode
};

inline constexpr size_t kLiveHistory = 4096;  // records kept, the newest

class LiveStream {
 public:
  // `local_address` is the recorder's own address, which the sending socket is bound to.
  // `clock` returns the recorder clock in seconds since 2000-01-01 00:00:00 (read once per
  // start); `on_event` gets one line when the stream starts or stops. Both may be empty.
  LiveStream(LiveOptions options, std::string local_address, std::function<int64_t()> clock = {},
             std::function<void(const std::string&)> on_event = {});
  ~LiveStream();  // stops
  LiveStream(const LiveStream&) = delete;
  LiveStream& operator=(const LiveStream&) = delete;

  // Starts sending to `destination` (dotted IPv4; the group option overrides it), stopping
  // a running stream first. `sets`: bit 0 sends set 0, bit 1 set 1, neither bit both.
  // `audio`: both audio rings, or none. The media clock, the frame numbers, the audio
  // packets, the block numbers, the counters and the history start again from 0. On
  // success returns true; on failure (bad address, no socket) stores a message in *error
  // (may be null) and returns false.
  bool start(const std::string& destination, int sets, bool audio, std::string* error);
  // Stops the sender and joins its thread (within a few milliseconds: no datagram goes out
  // after it returns). Idempotent.
  void stop();
  bool running() const;
  LiveStatus status() const;

  // Options for the next start(); the running stream keeps those it started with, except
  // the faults (set_faults).
  void set_options(LiveOptions options);
  LiveOptions options() const;

  // ---- Controls, thread-safe while the stream runs ----

  // Sets the display channel (0: none, else channel + 1) and mode, as UDPdispmode does. It
  // takes effect with the next second of the media clock. Returns false, changing nothing,
  // for a display number above 16.
  bool set_display(int display, int mode = 0);
  // Pins the status byte and word of a video set's blocks (the formula no longer applies to
  // that set until unpinned).
  void pin_status(int set, uint8_t status_byte, uint16_t status_word);
  void unpin_status(int set);
  // Pins the three PTZ values that set-0 blocks of a channel carry.
  void pin_ptz(int channel, uint8_t p1, uint8_t p2, uint8_t p3);
  void unpin_ptz(int channel);
  // Sets or clears the no-audio mark (0x10 ring 0, 0x20 ring 1) in a ring's audio blocks.
  void set_no_audio(int ring, bool on);
  // Replaces the faults of the running stream (and of the next start); counting restarts.
  void set_faults(std::vector<LiveFault> faults);

  // ---- Accounting ----

  // Returns the records of the last kLiveHistory blocks sent, in the order their last
  // datagram went out.
  std::vector<LiveBlockRecord> history() const;
  LiveCounters counters() const;
  // Waits up to timeout_ms until `count` blocks of `type` (-1: any type) have been sent
  // since the start. Returns true when they have.
  bool wait_for_blocks(int type, uint64_t count, int timeout_ms) const;

  // The header values the stream writes when nothing is pinned: video block n of a set
  // (n = 0, 1, ... counted per set since the start) of `channel`.
  static uint8_t status_byte_formula(int set, uint64_t n);
  static uint16_t status_word_formula(int channel, uint64_t n);
  static std::array<uint8_t, 3> ptz_formula(int channel, uint64_t n);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace virazav::sim
