// Fault injection through the platform seam: fails the n-th call of a kind of
// operation, once or from then on, so tests can reach every failure path.
#pragma once

#include <atomic>

#include "platform/platform.h"

namespace virazav::platform {

enum class FaultKind {
  kNetStartup,
  kSocketCreate,
  kSocketBind,
  kSocketConnect,
  kSocketNonBlocking,
  kSocketSend,
  kSocketRecv,
  kFileOpen,
  kFileRead,
  kFileWrite,
  kAlloc,
  kFreeSpace,
  kFileSeek,
  kDriveOpen,
  kDriveGeometry,
  kDriveRead,
  kAudioOpen,
  kAudioWrite,
  kUdpSocket,
  kRecvFrom,
  kCount
};

// Arms the seam: the nth call (1 = the next one) of `kind` fails, and with
// `persistent` every later one too. A failing socket call reports `wsa_error`.
// Installs the wrapper table on first use.
void fault_arm(FaultKind kind, int nth, bool persistent = false, int wsa_error = kWsaConnReset);
// Counts calls of `kind` since the last reset (failed ones included).
int fault_calls(FaultKind kind);
// Disarms every fault, resets the counters and restores the real operations.
void fault_reset();

// Disarms every fault when it goes out of scope.
struct FaultScope {
  FaultScope() = default;
  ~FaultScope() { fault_reset(); }
  FaultScope(const FaultScope&) = delete;
  FaultScope& operator=(const FaultScope&) = delete;
};

}  // namespace virazav::platform
