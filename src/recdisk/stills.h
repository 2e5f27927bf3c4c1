// The JPEG stills the recorder keeps in an area of its disk: recognising a still
// by its header, naming it after the fields the header carries, reading it whole,
// scanning for the next start marker, and writing it to a file in JPEG order.
#pragma once

#include <cstddef>
#include <cstdint>

namespace virazav::recdisk {

// Geometry of the scan and of the caller's buffers.
inline constexpr uint32_t kStillSectorSize = 512;
inline constexpr uint32_t kStillMaxSize = 0x40000;  // a header with this size or more is none
inline constexpr uint32_t kStillWorkBufferSize = 0x40000;  // the caller's work buffer, at least
inline constexpr size_t kStillNameSize = 43;               // the longest name (42) and its zero
inline constexpr uint32_t kStillScanSectors = 128;         // sectors per scan request (64 KiB)
inline constexpr int kStillScanPasses = 256;               // scan requests per call (16 MiB)
inline constexpr int64_t kStillUnreadableSkip = 129;       // cursor step past an unreadable sector

// Results of read_still besides the size of a still.
inline constexpr int kStillNoMarker = -2;        // 16 MiB scanned without a start marker
inline constexpr int kStillUnreadable = -3;      // the sector at the cursor could not be read
inline constexpr int kStillRestUnreadable = -5;  // valid header, the rest could not be read
inline constexpr int kStillMarkerAhead = -6;     // no still at the cursor; a marker further on
inline constexpr int kStillAreaEnd = -7;         // the scan reached the end of the area

// Results of write_still_file besides the running total.
inline constexpr int kStillFileNotCreated = -1;  // the file could not be created
inline constexpr int kStillFileShortWrite = -2;  // not every byte was written (or bad arguments)

// The fields of a still's header that the library uses. The recorder stores the
// JPEG with the two bytes of every 16-bit word exchanged; these are the values
// in the JPEG's own byte order.
struct StillHeader {
  uint32_t size = 0;          // the whole JPEG in bytes (24 bits)
  uint16_t tag = 0;           // the 16-bit value printed in hexadecimal in the name
  uint8_t date_time[6] = {};  // year since 2000, month, day, hour, minute, second
  uint8_t camera = 0;         // the 4-bit value printed right after the time
};

// Parses the header from the first bytes of a sector as the recorder stores it
// (pair-exchanged). Returns true and fills *out when the sector holds a valid
// header: the start-of-image marker and a size below kStillMaxSize. Returns false
// (leaving *out unchanged) otherwise, also when fewer than 44 bytes are given.
bool parse_still_header(const uint8_t* stored, size_t n, StillHeader* out);

// Writes the still's file name "<seq>_<yymmdd>_<hhmmss><c>_<tag hex>.jpg" into
// name (cap bytes, cut and zero-terminated when too small). Returns the length of
// the full name.
int format_still_name(int sequence, const StillHeader& header, char* name, size_t cap);

// Where the scanner reads sectors from: the disk's resilient read in the library,
// a memory image in tests. read returns 0 when all `count` sectors were read into
// dest, a negative value otherwise.
struct SectorSource {
  int (*read)(void* context, int64_t sector, uint32_t count, uint8_t* dest) = nullptr;
  void* context = nullptr;
};

// Reads the still at *cursor, or scans on for the next start marker, within the
// area of `area_sectors` sectors from `area_first`. With sequence 0 only the name
// and size are taken; otherwise the still is read into work (kStillWorkBufferSize
// bytes) as stored, from byte 0 on. The name goes to name (kStillNameSize bytes).
// Returns the size of the still (the cursor moves past it) or one of the
// kStill* codes above (the cursor moves as each code's comment in stills.cc says).
int read_still(const SectorSource& source, int32_t* cursor, int32_t area_first,
               int32_t area_sectors, int sequence, uint8_t* work, char* name);

// Exchanges the bytes of every 16-bit word of data in place (an odd last byte
// stays), turning the recorder's stored order into the JPEG's and back.
void swap_byte_pairs(uint8_t* data, size_t n);

// Creates or truncates the file at path, turns the first `length` bytes of
// buffer into JPEG order in place and writes them. Returns total + length, or
// kStillFileNotCreated / kStillFileShortWrite.
int write_still_file(const char* path, int length, uint8_t* buffer, int total);

// Reads up to 16 bytes of a JPEG file into head and classifies it by the high
// four bits h of byte 7: (h & 7) * 2, plus 1 for h of 8 or more. Returns 0 when
// the file cannot be opened, and the number of bytes read when fewer than 16.
int still_header_code(const char* path, uint8_t* head);

}  // namespace virazav::recdisk
