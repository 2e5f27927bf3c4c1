// The wrapper table that fails chosen platform calls.
#include "platform/fault.h"

namespace virazav::platform {
namespace {

struct Arm {
  std::atomic<int> calls{0};
  std::atomic<int> nth{0};  // 0: not armed
  std::atomic<bool> persistent{false};
  std::atomic<int> wsa_error{kWsaConnReset};
};

Arm g_arms[static_cast<int>(FaultKind::kCount)];

// Counts the call and tells whether it must fail.
bool hit(FaultKind kind) {
  Arm& a = g_arms[static_cast<int>(kind)];
  int n = a.calls.fetch_add(1) + 1;
  int nth = a.nth.load();
  if (nth == 0) return false;
  return a.persistent.load() ? n >= nth : n == nth;
}

bool hit_socket(FaultKind kind) {
  if (!hit(kind)) return false;
  set_last_socket_error(g_arms[static_cast<int>(kind)].wsa_error.load());
  return true;
}

int f_net_startup() {
  return hit(FaultKind::kNetStartup) ? -1 : system_ops().net_startup();
}
Socket f_tcp_socket() {
  return hit_socket(FaultKind::kSocketCreate) ? kInvalidSocket : system_ops().tcp_socket();
}
int f_bind_any(Socket s) {
  return hit_socket(FaultKind::kSocketBind) ? -1 : system_ops().bind_any(s);
}
int f_connect_ipv4(Socket s, uint32_t a, uint16_t p) {
  return hit_socket(FaultKind::kSocketConnect) ? -1 : system_ops().connect_ipv4(s, a, p);
}
int f_set_nonblocking(Socket s, bool on) {
  return hit_socket(FaultKind::kSocketNonBlocking) ? -1 : system_ops().set_nonblocking(s, on);
}
long f_send_bytes(Socket s, const void* d, size_t n) {
  return hit_socket(FaultKind::kSocketSend) ? -1 : system_ops().send_bytes(s, d, n);
}
long f_recv_bytes(Socket s, void* d, size_t n) {
  return hit_socket(FaultKind::kSocketRecv) ? -1 : system_ops().recv_bytes(s, d, n);
}
FileHandle f_file_open(const std::string& path, OpenMode mode) {
  return hit(FaultKind::kFileOpen) ? nullptr : system_ops().file_open(path, mode);
}
long f_file_read(FileHandle f, void* d, size_t n) {
  return hit(FaultKind::kFileRead) ? -1 : system_ops().file_read(f, d, n);
}
int f_file_write(FileHandle f, const void* d, size_t n) {
  return hit(FaultKind::kFileWrite) ? -1 : system_ops().file_write(f, d, n);
}
void* f_alloc_zeroed(size_t n) {
  return hit(FaultKind::kAlloc) ? nullptr : system_ops().alloc_zeroed(n);
}
int f_free_space_kib(const std::string& dir, uint64_t* kib) {
  return hit(FaultKind::kFreeSpace) ? -1 : system_ops().free_space_kib(dir, kib);
}
int f_file_seek(FileHandle f, int64_t offset, SeekFrom from) {
  return hit(FaultKind::kFileSeek) ? -1 : system_ops().file_seek(f, offset, from);
}
DriveHandle f_drive_open(int number) {
  return hit(FaultKind::kDriveOpen) ? nullptr : system_ops().drive_open(number);
}
int f_drive_geometry(DriveHandle d, DriveGeometry* g) {
  return hit(FaultKind::kDriveGeometry) ? -1 : system_ops().drive_geometry(d, g);
}
long f_drive_read(DriveHandle d, void* data, size_t n) {
  return hit(FaultKind::kDriveRead) ? -1 : system_ops().drive_read(d, data, n);
}
AudioDevice* f_audio_open(AudioCallback callback, void* user) {
  return hit(FaultKind::kAudioOpen) ? nullptr : system_ops().audio_open(callback, user);
}
int f_audio_write(AudioDevice* device, const void* pcm, size_t bytes) {
  return hit(FaultKind::kAudioWrite) ? -1 : system_ops().audio_write(device, pcm, bytes);
}

Socket f_udp_socket() {
  return hit_socket(FaultKind::kUdpSocket) ? kInvalidSocket : system_ops().udp_socket();
}
long f_recv_from(Socket s, void* d, size_t n, uint32_t* from) {
  return hit_socket(FaultKind::kRecvFrom) ? -1 : system_ops().recv_from(s, d, n, from);
}

const Ops kFaultOps = {
    f_net_startup,  f_tcp_socket,     f_bind_any,    f_connect_ipv4, f_set_nonblocking,
    f_send_bytes,   f_recv_bytes,     f_file_open,   f_file_read,    f_file_write,
    f_alloc_zeroed, f_free_space_kib, f_file_seek,   f_drive_open,   f_drive_geometry,
    f_drive_read,   f_audio_open,     f_audio_write, f_udp_socket,   f_recv_from,
};

}  // namespace

void fault_arm(FaultKind kind, int nth, bool persistent, int wsa_error) {
  Arm& a = g_arms[static_cast<int>(kind)];
  a.calls.store(0);
  a.persistent.store(persistent);
  a.wsa_error.store(wsa_error);
  a.nth.store(nth);
  install_ops(&kFaultOps);
}

int fault_calls(FaultKind kind) {
  return g_arms[static_cast<int>(kind)].calls.load();
}

void fault_reset() {
  for (Arm& a : g_arms) {
    a.nth.store(0);
    a.calls.store(0);
    a.persistent.store(false);
  }
  install_ops(nullptr);
}

}  // namespace virazav::platform
