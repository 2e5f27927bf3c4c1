// Snapshots of what the player shows: the composite picture it hands back, cut
// into the four channel picture stores and written as bitmap files; the snapshot
// mode; and the thin calls that read and reset the player's decoder state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace virazav::player {

// The composite: 480 rows of 704 pixels of 3 bytes, bottom-up; the caller of
// the player's get_bmpdata allocates one byte more.
inline constexpr int kCompositeWidth = 704;
inline constexpr int kCompositeHeight = 480;
inline constexpr size_t kCompositeRowBytes = 2112;
inline constexpr size_t kCompositeBytes = 1013760;
inline constexpr size_t kCompositeAlloc = 1013761;
// One channel picture store (a whole composite's size).
inline constexpr size_t kChannelStoreBytes = 1013760;
// Pictures as a snapshot cuts them.
inline constexpr int kHalfWidth = 352;
inline constexpr int kHalfHeight = 240;
inline constexpr size_t kHalfPictureBytes = 253440;  // 352 x 240 x 3
inline constexpr size_t kWidePictureBytes = 506880;  // 704 x 240 x 3

inline constexpr int kSnapshotNothingPlays = 1;  // make_bmp's status when both modes are 0
inline constexpr int kSnapshotNoMemory = -13;    // the composite or a store could not be allocated

// Takes a snapshot (make_bmp: only while a feeder's mode is nonzero, else
// *status = 1; make_bmp_one: always) into the stores and the files
// "bmp<channel>.bmp" of the current folder; reports the layout and channels.
// Outputs may be NULL. Returns 0 or kSnapshotNoMemory.
int make_bmp(int* layout, int* first, int* second, void* pass, int* status);
int make_bmp_one(int* layout, int* first, int* second, void* pass);
// Writes a whole composite as "Bitmap1.bmp", 704 x 480. Returns 0 or kSnapshotNoMemory.
int marlotest();

int set_make_bmp_mode(int mode);
int get_make_bmp_mode();

// Store of channel 1..4 (kChannelStoreBytes bytes), or nullptr for any other
// number or before the first snapshot.
const uint8_t* channel_store(int channel);

// Writes pixels as a 24-bit bitmap of width x height: rows of width x 3 bytes
// rounded up to a multiple of 4, taken one after the other from `pixels`
// (`size` bytes; past them the rows are filled with zeros). Returns 0, or -1
// when the size is not positive or the file cannot be created or written.
int write_snapshot_bmp(const uint8_t* pixels, size_t size, const std::string& path, int width,
                       int height);

// The thin calls into the player.
int get_bmp(int channel, uint8_t* buffer, int* width, int* height);
int get_dec_sts();
int set_init_dec();
int clear_dec_err();
int audio_set(int value);
int zel_set_viewer_mode(int a, int b);

}  // namespace virazav::player
