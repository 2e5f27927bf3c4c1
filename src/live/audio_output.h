// The audio output thread's hand-over points inside the live stream client and
// for the downloaded-data player's playback ring (private to src/live/ and its
// producers).
#pragma once

#include <cstdint>

namespace virazav::live::detail {

// Gives up the buffers of live ring r that are still queued or playing: none of
// them is written to the device any more, a device that plays one of them is
// reset, and all six slots are set empty. Used before the ring's buffers are
// freed while the output thread may still hold them.
void release_ring(int r);

// The device callback: frees the slot of the oldest buffer written.
void device_report(int event, void* user);

// Forgets that no device was found, so that the next output thread searches
// again (the device state returns to closed). Only while no output thread runs.
void forget_missing_device();

}  // namespace virazav::live::detail
