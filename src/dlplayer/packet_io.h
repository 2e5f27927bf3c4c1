// Reading a whole packet of the open stream file into the decoder's frame
// buffer (private to src/dlplayer/).
#pragma once

#include <cstdint>

#include "format/stream_format.h"
#include "platform/platform.h"

namespace virazav::dlplayer::detail {

// Reads the packet `h` (the file positioned at its start) into the frame
// buffer and makes it the current packet (channel, sizes, kind, time stamp,
// bytes loaded). A packet cut off by the end of the file loads the bytes that
// are there. Returns the bytes loaded, or -1 (nothing changed) when its size
// is below the 27 header bytes or above the 1 MiB frame buffer, the frame
// buffer is missing, or nothing could be read. The file is left after the
// bytes read.
long load_packet(platform::File& file, const format::PacketHeader& h);

// Reads up to n bytes from the file's position, as many as it gives before
// its end. Returns the count read.
size_t read_up_to(platform::File& file, uint8_t* data, size_t n);

}  // namespace virazav::dlplayer::detail
