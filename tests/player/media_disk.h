// Recorded material with pictures and sound for the player's tests: a disk
// image of the simulated recorder in media mode (channels of known synthetic
// pictures, tones on the audio channels), open as a drive, and the copy pair
// (HDR.dat and .index, docs/formats/copy-media.md) of the same chunks. Plus
// the means to tell which channel and which picture a snapshot shows.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/disk_image.h"
#include "media/media.h"
#include "support/recorded_chunks.h"

namespace virazav::testing {

inline constexpr int kMediaWidth = 352;
inline constexpr int kMediaHeight = 240;
inline constexpr int kMediaFps = 5;

class MediaDisk {
 public:
  // Records `seconds` seconds of `channels` video channels (4 audio channels)
  // into `dir`/disk.img, opens it as drive `drive` with its index loaded, and
  // writes the copy pair `dir`/HDR.dat and `dir`/.index.
  MediaDisk(const std::string& dir, int drive, int seconds, int channels = 4);
  ~MediaDisk();
  MediaDisk(const MediaDisk&) = delete;
  MediaDisk& operator=(const MediaDisk&) = delete;

  bool ok() const { return ok_; }
  const std::vector<RecordedChunk>& chunks() const { return chunks_; }
  uint32_t start_time() const { return chunks_.empty() ? 0 : chunks_.front().time; }
  std::string data_path() const { return dir_ + "/HDR.dat"; }
  std::string index_path() const { return dir_ + "/.index"; }

 private:
  std::string dir_;
  int drive_;
  bool ok_ = false;
  std::vector<RecordedChunk> chunks_;
};

// Polls `done` every 5 ms until it holds (true) or timeout_ms passed (false).
bool wait_until(const std::function<bool()>& done, int timeout_ms = 5000);

// Asks both feeders to end and waits (at most 2 s) until they have, and a
// little longer for their last unlock, so that nothing of theirs runs when the
// test process ends.
void end_feeders();

// A picture the player handed back: rows bottom-up, 24-bit BGR, unpadded.
struct ShownPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
};

// Reads a 24-bit bitmap file; false when it is missing or not one.
bool read_bitmap(const std::string& path, ShownPicture* out);

// The luma of a shown picture, top-down, as the encoder's limited range,
// brought to kMediaWidth x kMediaHeight (a 704-wide picture by averaging pairs
// of columns).
sim::Picture recorded_size_luma(const ShownPicture& shown);

// What a shown picture holds: the channel number and frame counter drawn into
// it (-1 when unreadable), and its PSNR against that source picture.
struct Identified {
  int channel = -1;
  int64_t frame = -1;
  double psnr = 0;
};
Identified identify(const ShownPicture& shown);

// PSNR of a shown picture against picture `frame` of recorder channel `channel`.
double psnr_against(const ShownPicture& shown, int channel, int64_t frame);

// A figure every correctly placed picture reaches and a picture of another
// channel, or upside down, does not.
inline constexpr double kShownPsnr = 30.0;

}  // namespace virazav::testing
