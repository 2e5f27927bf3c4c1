// The recorder's media: synthetic camera pictures and microphone tones whose content is
// known, their MPEG-4 and IMA ADPCM encodings, and the PES packets the recorder stores
// them in. The same sources feed the recordings that the simulated recorder downloads and
// anything else that needs recorded material (disk images, tests, benchmarks).
// The packet layout is described in docs/formats/stream-file.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace virazav::sim {

inline constexpr int kChannelCount = 16;      // video channels 0..15
inline constexpr int kAudioChannelCount = 4;  // audio channels 0..3

inline constexpr int64_t kPtsRate = 90000;        // PES time stamps count 90 kHz ticks
inline constexpr int kAudioRate = 8000;           // samples a second, mono
inline constexpr int kAudioPacketSamples = 4096;  // samples in one audio packet
inline constexpr int kAdpcmBytes = 2048;          // 4 bits a sample
inline constexpr int kAudioHeaderSize = 64;       // PES header and ADPCM states
inline constexpr int kAudioPacketSize = kAudioHeaderSize + kAdpcmBytes;  // 2112
// 4096 samples at 8000 a second last 0.512 s: 46,080 ticks.
inline constexpr int64_t kAudioPacketTicks = kAudioPacketSamples * kPtsRate / kAudioRate;

// Stream ids of the PES packets: video of channel n is E0+n, audio of channel n C0+n.
inline constexpr uint8_t kVideoStreamBase = 0xE0;
inline constexpr uint8_t kAudioStreamBase = 0xC0;

// Offsets of the recorder's private fields inside a packet's PES header region.
inline constexpr size_t kPrevSizeOffset = 21;    // 22-bit distance back to an earlier packet
inline constexpr size_t kPacketSizeOffset = 24;  // 22-bit length of this packet
inline constexpr uint32_t kMaxField22 = (1u << 22) - 1;
// Offsets of the two ADPCM decoder states in an audio packet's header.
inline constexpr size_t kAdpcmStateAOffset = 56;  // predictor (16-bit LE), step index
inline constexpr size_t kAdpcmStateBOffset = 60;
// A video packet's PES header is at least this long (start code to first payload byte),
// so that the private fields fit inside it.
inline constexpr size_t kVideoHeaderSize = 32;
// The recorder stores packets in units of 32 bytes; packets are padded to a multiple.
inline constexpr size_t kPacketUnit = 32;

// ---- Pictures -------------------------------------------------------------------------

// A picture in planar YUV 4:2:0 (full-range values as the encoder takes them), rows top
// first, each plane tightly packed: y is width × height, u and v (width/2) × (height/2).
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y, u, v;

  uint8_t luma(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
};

// One camera of the recorder. Its pictures show eight vertical colour bars in an order
// that is the channel's own (rotated by the channel number), a white box in the top left
// corner holding the channel number in large digits, and a black box at the bottom holding
// the frame counter in large digits; a small white square moves across the bottom box
// with the frame number so that consecutive pictures differ outside the digits too.
class SyntheticChannel {
 public:
  SyntheticChannel(int channel, int width, int height);

  int channel() const { return channel_; }
  int width() const { return width_; }
  int height() const { return height_; }

  // Returns the known source picture of frame `frame` (0, 1, ...).
  Picture source_picture(int64_t frame) const;

 private:
  int channel_;
  int width_;
  int height_;
};

// Pixel geometry of the drawn digits, so that tests can find them: the digit cells of the
// channel box start at (kDigitMargin, kDigitMargin), those of the counter box at
// (kDigitMargin, height − kDigitMargin − kDigitHeight); each cell is kDigitWidth wide with
// kDigitGap between cells. The counter shows kCounterDigits digits, leading zeros
// included.
inline constexpr int kDigitScale = 4;                // pixels per font dot
inline constexpr int kDigitWidth = 3 * kDigitScale;  // 3 × 5 dot font
inline constexpr int kDigitHeight = 5 * kDigitScale;
inline constexpr int kDigitGap = kDigitScale;
inline constexpr int kDigitMargin = 8;
inline constexpr int kCounterDigits = 6;

// Returns the value of the digits drawn in the counter box of a picture (as decoded, with
// some noise): each dot is read at its centre against a luma threshold. Returns -1 when a
// cell does not read as a digit.
int64_t read_frame_counter(const Picture& picture);
// Reads the two digits of the channel box in the same way; -1 when unreadable.
int read_channel_number(const Picture& picture);

// ---- MPEG-4 video ---------------------------------------------------------------------

struct VideoSettings {
  int width = 352;
  int height = 240;
  int fps = 10;       // pictures a second; a group of `fps` pictures lasts one second
  int quantizer = 4;  // fixed quantizer 2..31 (lower: better pictures, larger packets)
};

// One encoded picture: an MPEG-4 Visual elementary stream for one VOP. A key picture
// (intra) is preceded by its visual object sequence, video object, video object layer and
// group of VOP headers, so that a decoder can start there.
struct EncodedPicture {
  std::vector<uint8_t> data;
  bool key = false;
  int64_t frame = 0;
};

// Encodes pictures first_frame .. first_frame + count − 1 of the channel as one group:
// the first is intra with its headers, the others predicted (no bidirectional pictures).
// On success stores them in *out (replacing its content) and returns true; on failure
// stores a message in *error (may be null) and returns false.
bool encode_video_packets(const SyntheticChannel& source, int64_t first_frame, int count,
                          const VideoSettings& settings, std::vector<EncodedPicture>* out,
                          std::string* error);

// Decodes MPEG-4 pictures (one elementary stream per element, in order, starting at a key
// picture) back into YUV 4:2:0 pictures. For tests of the material itself. Returns false
// with a message on a decoding failure.
bool decode_video_packets(const std::vector<std::vector<uint8_t>>& pictures,
                          std::vector<Picture>* out, std::string* error);

// Peak signal-to-noise ratio of the luma planes of two pictures of one size, in dB
// (99 for identical planes, 0 for different sizes).
double luma_psnr(const Picture& a, const Picture& b);

// ---- IMA ADPCM audio --------------------------------------------------------------------

// The decoder state that each audio packet carries for its first sample.
struct AdpcmState {
  int16_t predictor = 0;
  uint8_t index = 0;  // 0..88
};

// Returns `count` samples of the audio channel's known tone from sample `first` on: a sine
// of tone_frequency(channel) Hz at amplitude kToneAmplitude.
std::vector<int16_t> tone_samples(int audio_channel, int64_t first, int count);
double tone_frequency(int audio_channel);  // 500 + 250 × channel Hz
inline constexpr int kToneAmplitude = 8000;

// Encodes an even number of samples into count / 2 bytes of IMA ADPCM, two samples a byte,
// the earlier one in the low nibble. The reconstruction follows the recorder's decoder
// exactly (difference = (2 × magnitude + 1) × step / 8 in integer arithmetic), so *state
// ends as a decoder's would.
void encode_adpcm(const int16_t* pcm, size_t count, AdpcmState* state, uint8_t* out);
// Decodes `bytes` bytes into 2 × bytes samples with the same rules.
void decode_adpcm(const uint8_t* in, size_t bytes, AdpcmState* state, int16_t* out);

// ---- PES packets --------------------------------------------------------------------------

// Writes and reads the recorder's marker-protected 22-bit field (3 bytes): bit 7 of the
// first byte and bit 3 of the second are set markers; the value is bits 21..15, 14..11,
// 10..8 and 7..0 in that order. Values above kMaxField22 are cut to 22 bits.
void put_field22(uint8_t* p, uint32_t value);
uint32_t get_field22(const uint8_t* p);

// Builds one PES packet: 00 00 01 stream_id, PES_packet_length (length − 6, or 0 when that
// does not fit in 16 bits), flags, the PTS (and the DTS when given, 33 bits each), stuffing
// up to a header of at least min_header bytes, then the payload. The header is lengthened
// with more stuffing so that the packet is a multiple of kPacketUnit bytes. The private
// fields are set: prev_size 0, packet_size the packet's length. Returns an empty vector
// when the header would exceed 264 bytes or the packet kMaxField22 bytes.
std::vector<uint8_t> make_pes_packet(uint8_t stream_id, uint64_t pts, std::optional<uint64_t> dts,
                                     const uint8_t* payload, size_t size, size_t min_header);

// The recorder's video packet of one picture: stream E0+channel, PTS and DTS.
std::vector<uint8_t> make_video_packet(int channel, uint64_t pts, uint64_t dts,
                                       const EncodedPicture& picture);
// The recorder's audio packet: stream C0+channel, PTS, both ADPCM states (the same state
// at bytes 56..58 and 60..62), 2048 bytes of ADPCM from byte 64 on: 2112 bytes.
std::vector<uint8_t> make_audio_packet(int channel, uint64_t pts, const AdpcmState& state,
                                       const uint8_t* adpcm);

// Returns the time stamp of a packet as a player reads it: its DTS when both are present,
// else its PTS, low 32 bits; nullopt when the bytes do not start with a PES header that
// carries one.
std::optional<uint32_t> packet_time_stamp(const uint8_t* packet, size_t size);

}  // namespace virazav::sim
