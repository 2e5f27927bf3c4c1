// The assembly of live datagrams into blocks and the filing of complete blocks:
// video blocks into the slot of their set and channel (with the display
// channel's group table), audio blocks into their ring, decoded and queued for
// output. One Assembler belongs to one receive thread; it works on the shared
// slots and rings of the session and needs no socket, so tests and the fuzzer
// feed it datagrams directly. docs/formats/live-stream.md gives the layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "live/live_state.h"
#include "platform/platform.h"

namespace virazav::live::detail {

// Datagram fields.
inline constexpr size_t kDatagramHeader = 8;
inline constexpr size_t kBlockNumberAt = 0;
inline constexpr size_t kFragmentIndexAt = 1;
inline constexpr size_t kFragmentCountAt = 2;
inline constexpr size_t kStreamNumberAt = 3;
inline constexpr size_t kStrideAt = 4;  // u32le, only the low 16 bits count

// Block header fields (little-endian).
inline constexpr size_t kBlockChannelAt = 0;  // video: bits 12..15; audio: the whole word
inline constexpr size_t kBlockLengthAt = 4;
inline constexpr size_t kBlockTimeValueAt = 8;
inline constexpr size_t kBlockTimeWordAt = 12;
inline constexpr size_t kBlockTypeAt = 15;
inline constexpr size_t kBlockStatusWordAt = 16;
inline constexpr size_t kBlockStatusByteAt = 22;  // audio: the flags
inline constexpr size_t kBlockPtzAt = 23;         // three bytes; audio: sequence number
inline constexpr size_t kAudioSequenceAt = 23;
inline constexpr size_t kAudioSubBlocksAt = 24;
inline constexpr size_t kBlockHeaderBytes = 28;

// Video block body: records from offset 128, each a 6-byte header (its length
// in 32-byte units at bytes 2..3) and one PES packet.
inline constexpr size_t kVideoRecordsAt = 128;
inline constexpr size_t kRecordHeaderBytes = 6;
inline constexpr size_t kRecordUnitsAt = 2;
inline constexpr size_t kRecordUnit = 32;
inline constexpr size_t kFirstRecordDataAt = kVideoRecordsAt + kRecordHeaderBytes;  // 134
// A staged block is copied with its length field plus this; the display buffer
// gets the length field plus kDisplayExtra bytes from the records on.
inline constexpr size_t kStagedExtra = 28;
inline constexpr size_t kDisplayExtra = 72;

// Audio sub-block: the 28-byte header, 44 more bytes (the decoded length at
// 68..71), the audio packet from offset 72.
inline constexpr size_t kAudioDataAt = 72;
inline constexpr size_t kAudioDecodedLengthAt = 68;
inline constexpr int kMaxSubBlocks = 4;
inline constexpr uint8_t kNoAudioMark[kRings] = {0x10, 0x20};
// The output room an audio decode is given (in place, from the audio data on).
inline constexpr size_t kAudioDecodeRoom = 253144;

// Block types.
inline constexpr int kTypeVideoSet0 = 0;
inline constexpr int kTypeVideoSet1 = 1;
inline constexpr int kTypeAudioRing0 = 2;
inline constexpr int kTypeAudioRing1 = 3;

// What became of one datagram.
enum class Outcome {
  kIgnored,       // 8 bytes or fewer, or stream number above 1
  kLate,          // a fragment of the block abandoned last
  kDropped,       // it would not fit its buffer, or the buffer is absent
  kStored,        // stored; the block is not complete yet
  kCompleted,     // it completed a block, which was filed
  kBlockDropped,  // it completed a block that had nowhere to go
};

class Assembler {
 public:
  // `thread` (0 or 1) chooses the ADPCM work buffer and the sequence numbers.
  // Allocates the two staging buffers.
  explicit Assembler(int thread);
  Assembler(const Assembler&) = delete;
  Assembler& operator=(const Assembler&) = delete;

  // True when both staging buffers were allocated.
  bool ok() const { return staging_[0].ok() && staging_[1].ok(); }

  // Runs one datagram (the sender already accepted) through the assembly step
  // and, when it completes a block, files the block. Never reads or writes
  // outside the datagram, the staging buffers or the session's buffers.
  Outcome take(const uint8_t* datagram, size_t length);

 private:
  struct Record {
    int count = 0;  // fragments received of the block in progress
    uint8_t current = 0;
    uint8_t previous = 0;
    bool staging = false;
    int type = 0;
    int channel = 0;
    int fragments = 0;  // the block's fragment count
    size_t extent = 0;  // end of the furthest fragment stored
  };

  Outcome complete(int stream);
  Outcome file_video(int set, int channel, VideoSlot& slot);
  Outcome file_audio(int ring, int slot_index, AudioSlot& slot);

  int thread_;
  Record records_[kStreams];
  platform::Buffer staging_[kStreams];
  int last_sequence_[kRings] = {kNoSequence, kNoSequence};
};

// Describes the group in a video set's display buffer: `copied` bytes of the
// block from its records on, whose length field is `length`, for `channel`.
// Fills records 0.. until the one that ends at or after the records' end (the
// rest cleared), stopping before a record that would lie outside the copy.
// The caller holds the set's group lock.
void build_group(VideoSet& set, size_t copied, uint32_t length, int channel)
    VZ_REQUIRES(set.group_lock);

// Locks the ring slot at the write index, following the index if it moves
// while the lock is taken. Returns the slot's index; the caller unlocks.
int lock_write_slot(AudioRing& ring);

}  // namespace virazav::live::detail
