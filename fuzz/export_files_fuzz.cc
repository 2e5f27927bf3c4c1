// The files the export reads: the input's first byte chooses which (bit 0 set: a
// manifest for verify; else a recording, with bit 1 naming it HDR.dat so that a
// copy's packet headers are walked too), the rest is the file. A recording is
// opened and walked to its end; every packet it visits must lie inside the file
// and its payload inside the packet. A manifest is read; every item it keeps must
// carry a whole digest.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "export/manifest.h"
#include "export/recording_source.h"

namespace {

namespace ex = virazav::cli::exporting;

// A folder of this process's own, so that no .index of another run lies beside the file.
const std::string& folder() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/virazav-export-fuzz-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) std::abort();
    return std::string(tmpl);
  }();
  return dir;
}

bool write_file(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  const std::string path =
      folder() + ((choice & 1) ? "/export.sha" : (choice & 2) ? "/HDR.dat" : "/rec.mpg");
  if (!write_file(path, data + 1, size - 1)) std::abort();
  std::string error;
  if (choice & 1) {
    ex::Manifest m;
    if (ex::read_manifest(path, &m, &error)) {
      for (const ex::ManifestItem& item : m.items) {
        if (item.sha256.size() != 64) std::abort();
      }
    }
  } else {
    ex::RecordingSource source;
    if (source.open(path, &error)) {
      const int64_t file_size = static_cast<int64_t>(size - 1);
      source.walk([&](const ex::SourcePacket& p) {
        if (p.offset < 0 || p.end > file_size || p.end <= p.offset) std::abort();
        if (p.pes == nullptr || p.payload_offset > p.pes_size) std::abort();
        if (p.channel < 0 || p.channel > 15) std::abort();
        return true;
      });
    }
  }
  std::remove(path.c_str());
  return 0;
}
