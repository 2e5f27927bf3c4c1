// Faults of the live stream that tests choose to make the recorder misbehave on the wire:
// fragments reordered, duplicated, dropped or late, a foreign sender, a bad stride, length,
// stream number or block type, datagrams too short to carry a fragment. Each fault names
// the blocks it hits as "every Nth block of a type", so a test can predict exactly which
// blocks change and how; the record of every sent block lists what was done to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace virazav::sim {

enum class LiveFaultKind {
  kReorder,          // fragments go out as 1, 0, 2, 3, ...; value 1: all in reverse order
  kDuplicate,        // fragment `fragment` goes out twice in a row
  kDrop,             // fragment `fragment` does not go out
  kLateFragment,     // fragment `fragment` is held back and goes out right after the first
                     // fragment of the next block on the same port and stream
  kForeignSender,    // every datagram of the block goes out from the foreign sender's address
  kOversizedStride,  // one more datagram goes out before the block's last one: fragment index
                     // 254, stride 0xFFFF (254 × 65,535 bytes is far beyond 1 MiB), 16 bytes
                     // of 0xEE
  kOversizedLength,  // the length field L says `value` (0: 0xFFFFFFF0, which wraps when 28 or
                     // 72 is added in 32 bits)
  kShortDatagram,    // one more datagram of `value` bytes (1..8; 0: 8) goes out before the
                     // block's first one: the first bytes of fragment 0's header
  kStreamTwo,        // every fragment carries stream number 2
  kBlockType7,       // byte 15 of the block (of the first sub-block of an audio block) says 7
};

// Returns the fault's name as the fault syntax writes it ("reorder", "drop", ...).
const char* live_fault_name(LiveFaultKind kind);

// One fault: it hits the every-th, 2 × every-th, ... block that matches its type and
// channel, counted from the start of the stream (or from the last set_faults()).
struct LiveFault {
  LiveFaultKind kind = LiveFaultKind::kDrop;
  int block_type = -1;  // 0 set-0 video, 1 set-1 video, 2 ring-0 audio, 3 ring-1 audio; -1 any
  int every = 1;        // N >= 1
  int channel = -1;     // video blocks of this channel only (audio blocks never match); -1 any
  int count = 0;        // hits at most this many blocks (0: no limit)
  int fragment = -1;    // kDuplicate, kDrop, kLateFragment: the fragment index; a negative one
                        // counts from the end (-1: the last); cut to the block's fragments
  uint32_t value = 0;   // kReorder, kOversizedLength, kShortDatagram: see there
};

// What a fault did to one block, as the block's record lists it.
struct LiveAppliedFault {
  LiveFaultKind kind = LiveFaultKind::kDrop;
  int fragment = -1;   // the fragment dropped, duplicated or held back; -1 for other kinds
  uint32_t value = 0;  // kReorder: 0 swap, 1 reverse; kOversizedLength: L; kShortDatagram:
                       // its size; kOversizedStride: the stride 0xFFFF
  friend bool operator==(const LiveAppliedFault&, const LiveAppliedFault&) = default;
};

// One datagram of a block on its way out.
struct LiveDatagram {
  std::vector<uint8_t> bytes;
  int fragment = -1;     // the fragment index it carries; -1 for a datagram a fault added
  bool foreign = false;  // goes out from the foreign sender
};

// Parses the fault syntax of `virazav-recorder serve --live-faults`:
//
//   faults = entry *("," entry)
//   entry  = name ":" type ":" N [":" param]
//   name   = "reorder" | "duplicate" | "drop" | "late" | "foreign" | "stride" | "length"
//          | "short" | "stream2" | "type7"
//   type   = "v0" | "v1" | "a0" | "a1" | "any"
//   N      = decimal >= 1: every Nth block of that type
//   param  = decimal (a leading "-" allowed) or "0x" hexadecimal: the fragment index of
//            duplicate, drop and late; L of length; the size of short; 1 (reverse) for
//            reorder. The other faults take no param.
//
// On success stores the faults in *out and returns true; otherwise stores a message in
// *error (may be null) and returns false.
bool parse_live_faults(std::string_view text, std::vector<LiveFault>* out, std::string* error);

// The faults of a stream with their counts of matching blocks.
class LiveFaultPlan {
 public:
  // Replaces the faults; every count starts again from 0.
  void set(std::vector<LiveFault> faults);
  const std::vector<LiveFault>& faults() const { return faults_; }
  // Counts a block of `type` (and video `channel`, -1 for audio) against every fault it
  // matches and returns the faults that hit it, in the order they were set.
  std::vector<LiveFault> take(int type, int channel);

 private:
  std::vector<LiveFault> faults_;
  std::vector<int64_t> matched_;
  std::vector<int64_t> hits_;
};

// Applies the faults that change a block's bytes (kOversizedLength, kBlockType7) before it
// is cut, and appends what they did to *applied.
void apply_live_block_faults(const std::vector<LiveFault>& faults, std::vector<uint8_t>* block,
                             std::vector<LiveAppliedFault>* applied);

// Applies the faults that change how a cut block goes out, in this order whatever order
// they were set in: kStreamTwo; kDrop, kDuplicate, kLateFragment (fragment indexes are
// those of the cut block); kReorder (on what is left; not applied to fewer than two
// datagrams); kOversizedStride; kShortDatagram; kForeignSender (every datagram, the added
// ones too). The fragment kLateFragment holds back goes to *held. Appends what was done to
// *applied.
void apply_live_datagram_faults(const std::vector<LiveFault>& faults,
                                std::vector<LiveDatagram>* datagrams,
                                std::optional<LiveDatagram>* held,
                                std::vector<LiveAppliedFault>* applied);

}  // namespace virazav::sim
