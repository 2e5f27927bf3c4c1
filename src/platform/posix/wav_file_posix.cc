// The wav audio device's file: recognising a file of its own format to append to,
// writing the header, and appending samples so that the file is valid at all times.
#include "platform/posix/wav_file_posix.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "format/bytes.h"

namespace virazav::platform::posix {
namespace {

// Header fields (offsets into the 44-byte header).
constexpr size_t kRiffTag = 0;
constexpr size_t kRiffSize = 4;  // bytes after this field: 36 + data size
constexpr size_t kWaveTag = 8;
constexpr size_t kFmtTag = 12;
constexpr size_t kFmtSize = 16;  // 16: PCM without extension
constexpr size_t kFormatTag = 20;
constexpr size_t kChannels = 22;
constexpr size_t kSampleRate = 24;
constexpr size_t kByteRate = 28;
constexpr size_t kBlockAlign = 32;
constexpr size_t kBitsPerSample = 34;
constexpr size_t kDataTag = 36;
constexpr size_t kDataSize = 40;

constexpr uint32_t kFmtChunkBytes = 16;
constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kBlockAlignBytes = kAudioChannels * kAudioBitsPerSample / 8;
constexpr uint32_t kRiffSizeWithoutData = 36;

using format::load_le16;
using format::load_le32;
using format::store_le16;
using format::store_le32;

bool has_tag(const uint8_t* header, size_t at, const char* tag) {
  return std::memcmp(header + at, tag, 4) == 0;
}

void build_header(uint8_t* h, uint32_t data_bytes) {
  std::memcpy(h + kRiffTag, "RIFF", 4);
  store_le32(h + kRiffSize, kRiffSizeWithoutData + data_bytes);
  std::memcpy(h + kWaveTag, "WAVE", 4);
  std::memcpy(h + kFmtTag, "fmt ", 4);
  store_le32(h + kFmtSize, kFmtChunkBytes);
  store_le16(h + kFormatTag, kFormatPcm);
  store_le16(h + kChannels, kAudioChannels);
  store_le32(h + kSampleRate, kAudioSampleRate);
  store_le32(h + kByteRate, kAudioBytesPerSecond);
  store_le16(h + kBlockAlign, kBlockAlignBytes);
  store_le16(h + kBitsPerSample, kAudioBitsPerSample);
  std::memcpy(h + kDataTag, "data", 4);
  store_le32(h + kDataSize, data_bytes);
}

// Whether the header is this device's own format with the data chunk right after
// the fmt chunk (the only layout it appends to).
bool is_own_format(const uint8_t* h) {
  return has_tag(h, kRiffTag, "RIFF") && has_tag(h, kWaveTag, "WAVE") &&
         has_tag(h, kFmtTag, "fmt ") && load_le32(h + kFmtSize) == kFmtChunkBytes &&
         load_le16(h + kFormatTag) == kFormatPcm && load_le16(h + kChannels) == kAudioChannels &&
         load_le32(h + kSampleRate) == static_cast<uint32_t>(kAudioSampleRate) &&
         load_le32(h + kByteRate) == static_cast<uint32_t>(kAudioBytesPerSecond) &&
         load_le16(h + kBlockAlign) == kBlockAlignBytes &&
         load_le16(h + kBitsPerSample) == kAudioBitsPerSample && has_tag(h, kDataTag, "data");
}

// Cuts the file to `size` bytes.
bool truncate_to(FileHandle f, int64_t size) {
  FILE* fp = static_cast<FILE*>(f);
  if (std::fflush(fp) != 0) return false;
  int r;
  do r = ::ftruncate(::fileno(fp), static_cast<off_t>(size));
  while (r != 0 && errno == EINTR);
  return r == 0;
}

}  // namespace

std::unique_ptr<WavFile> WavFile::open(const std::string& path) {
  FileHandle f = file_open(path, OpenMode::kUpdate);
  if (f == nullptr) return nullptr;
  // Unbuffered, so that every header update and every append has reached the file
  // when append() returns and a reader never sees a header ahead of its samples.
  std::setvbuf(static_cast<FILE*>(f), nullptr, _IONBF, 0);
  std::unique_ptr<WavFile> wav(new WavFile(f));

  uint8_t header[kWavHeaderBytes];
  int64_t size = file_size(f);
  if (size < 0) return nullptr;
  long got = static_cast<size_t>(size) >= kWavHeaderBytes ? file_read(f, header, sizeof header) : 0;
  uint32_t keep = 0;
  if (got == static_cast<long>(sizeof header) && is_own_format(header)) {
    // The stated size may run past the end of a file whose last write was cut off;
    // keep the whole samples that are really there.
    int64_t held = size - static_cast<int64_t>(kWavHeaderBytes);
    int64_t stated = load_le32(header + kDataSize);
    keep = static_cast<uint32_t>(std::min({stated, held, int64_t{kWavMaxDataBytes}})) & ~1u;
  }
  wav->data_bytes_ = keep;
  if (!truncate_to(f, static_cast<int64_t>(kWavHeaderBytes) + keep)) return nullptr;
  if (wav->write_header() != 0) return nullptr;
  return wav;
}

WavFile::~WavFile() {
  file_close(file_);
}

int WavFile::write_header() {
  uint8_t header[kWavHeaderBytes];
  build_header(header, data_bytes_);
  if (file_seek(file_, 0, SeekFrom::kBegin) != 0) return -1;
  return file_write(file_, header, sizeof header);
}

int WavFile::append(const uint8_t* pcm, size_t bytes) {
  size_t room = kWavMaxDataBytes - data_bytes_;
  if (bytes > room) bytes = room;
  if (bytes == 0) return 0;
  // Samples first, sizes after: a reader in between sees the old sizes, which are
  // still true of the bytes they cover.
  if (file_seek(file_, static_cast<int64_t>(kWavHeaderBytes) + data_bytes_, SeekFrom::kBegin) !=
          0 ||
      file_write(file_, pcm, bytes) != 0)
    return -1;
  data_bytes_ += static_cast<uint32_t>(bytes);
  return write_header();
}

}  // namespace virazav::platform::posix
