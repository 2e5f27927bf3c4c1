// Raw access to a recorder disk attached to this computer: the library's one
// drive handle, the drive probe, and the sector readers that everything else on
// the disk side is read through (record index, recorded chunks, JPEG stills).
//
// The recorder writes its disk without a partition table; everything is
// addressed by absolute 512-byte sector numbers from the first sector of the
// drive. Nothing here is locked: callers serialise their use of the drive.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::recdisk {

inline constexpr uint32_t kSectorSize = 512;

// The only geometry the recorder writes: 512-byte sectors, 255 heads (tracks per
// cylinder), 63 sectors a track.
inline constexpr uint32_t kRecorderHeads = 255;
inline constexpr uint32_t kRecorderSectorsPerTrack = 63;

// Results of probe_drive besides a positive cylinder count.
inline constexpr int kProbeOpenFailed = -1;      // the drive could not be opened (or is held)
inline constexpr int kProbeGeometryFailed = -2;  // the geometry request failed
inline constexpr int kProbeNotFixedDisk = -3;    // removable media, or not a fixed disk
inline constexpr int kProbeWrongGeometry = -4;   // not 512 bytes x 255 heads x 63 sectors

// Result of open_drive besides 0.
inline constexpr int kOpenFailed = -1;

// Results of the sector readers besides 0.
inline constexpr int kDiskSeekFailed =
    -1;  // no drive open, negative sector, or position not settable
inline constexpr int kDiskReadFailed =
    -2;  // the read request failed or the disk ended before its end

// Largest byte count read_disk_bytes accepts.
inline constexpr uint32_t kMaxByteRead = 0x7FFFFFFF;

// Probes drive `number` (0..9) with a handle of its own, closed again before it
// returns; the open drive, if any, is left untouched. Returns the low 32 bits of
// the cylinder count of a fixed disk in the recorder's geometry, or one of the
// kProbe* codes. Writes the trace line "Cylinders = %d\n" on success.
int probe_drive(int number);

// Opens drive `number` read-only and exclusively as the open drive. Returns 0, or
// kOpenFailed (the drive stays closed). Does not close a drive that is already
// open: the caller closes first (the earlier handle is released and replaced).
int open_drive(int number);

// Closes the open drive. Afterwards every read fails with kDiskSeekFailed.
void close_drive();

// True while a drive is open.
bool drive_is_open();

// Reads `count` sectors from `sector` into dest (count x 512 bytes, counted in
// 32 bits as the recorder's software does). Returns 0, kDiskSeekFailed (no drive, a
// negative sector) or kDiskReadFailed (the request failed or returned fewer bytes:
// the disk ends before the last sector asked for). dest may hold part of the
// data after a failure.
int read_sectors(int32_t sector, uint32_t count, void* dest);

// Byte-granular read: reads the whole sectors that hold `byte_count` bytes from
// `sector` into a temporary buffer and copies exactly byte_count bytes to dest.
// Returns 0, kDiskSeekFailed (also a byte count above kMaxByteRead) or kDiskReadFailed
// (also a temporary buffer that could not be allocated). dest is untouched on
// failure.
int read_disk_bytes(int32_t sector, void* dest, uint32_t byte_count);

// Resilient multi-sector read used by the still scanner: one request normally;
// after a failed request the following calls read sector by sector until one
// such call succeeds completely. Returns 0, kDiskSeekFailed or kDiskReadFailed.
int read_sectors_resilient(int32_t sector, uint32_t count, void* dest);

// The fallback flag of read_sectors_resilient (process-wide).
bool resilient_fallback_active();
// Clears the fallback flag (for tests that start from a known state).
void reset_resilient_fallback();

// Reads sector 0 and delivers it as 128 32-bit values, each made of two
// little-endian 16-bit words with the high half first. Returns 0, kDiskSeekFailed
// or kDiskReadFailed; out is untouched on failure.
int read_sector0_words(uint32_t out[128]);

// Copies sector 0 unconverted into out (512 bytes). Returns 0 always; after a
// failed read out is filled with zeros.
int read_sector0_raw(uint8_t out[512]);

}  // namespace virazav::recdisk
