// The POSIX half of the platform layer: BSD sockets with Winsock error numbers,
// the monotonic clock, files, folders and environment.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "platform/posix/audio_posix.h"
#include "platform/posix/drive_posix.h"
#include "platform/posix/file64_posix.h"
#include "platform/posix/free_space_posix.h"
#include "platform/posix/udp_posix.h"

namespace virazav::platform {
namespace {

thread_local int t_last_socket_error = 0;

void set_error_from_errno() {
  t_last_socket_error = posix::wsa_from_errno(errno);
}

int real_net_startup() {
  return 0;
}

Socket real_tcp_socket() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) set_error_from_errno();
  return s < 0 ? kInvalidSocket : s;
}

int real_bind_any(Socket s) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  a.sin_port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    set_error_from_errno();
    return -1;
  }
  return 0;
}

int real_connect_ipv4(Socket s, uint32_t address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = address;
  a.sin_port = htons(port);
  int r;
  do r = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  while (r != 0 && errno == EINTR);
  if (r != 0) {
    set_error_from_errno();
    return -1;
  }
  // Commands are single short lines answered by single replies: send them at once.
  int one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return 0;
}

int real_set_nonblocking(Socket s, bool on) {
  int flags = ::fcntl(s, F_GETFL, 0);
  if (flags < 0) return -1;
  flags = on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  return ::fcntl(s, F_SETFL, flags) == 0 ? 0 : -1;
}

long real_send_bytes(Socket s, const void* data, size_t n) {
  ssize_t r;
  do r = ::send(s, data, n, MSG_NOSIGNAL);
  while (r < 0 && errno == EINTR);
  if (r < 0) set_error_from_errno();
  return static_cast<long>(r);
}

long real_recv_bytes(Socket s, void* data, size_t n) {
  ssize_t r;
  do r = ::recv(s, data, n, 0);
  while (r < 0 && errno == EINTR);
  if (r < 0) set_error_from_errno();
  return static_cast<long>(r);
}

FileHandle real_file_open(const std::string& path, OpenMode mode) {
  if (mode == OpenMode::kUpdate) return posix::open_update_stream(path);
  const char* m = mode == OpenMode::kRead            ? "rbe"
                  : mode == OpenMode::kWriteTruncate ? "wbe"
                                                     : "abe";
  return std::fopen(path.c_str(), m);
}

long real_file_read(FileHandle f, void* data, size_t n) {
  FILE* fp = static_cast<FILE*>(f);
  size_t r = std::fread(data, 1, n, fp);
  if (r < n && std::ferror(fp)) return -1;
  return static_cast<long>(r);
}

int real_file_write(FileHandle f, const void* data, size_t n) {
  if (n == 0) return 0;
  return std::fwrite(data, 1, n, static_cast<FILE*>(f)) == n ? 0 : -1;
}

// Buffers from this size on are mapped from the system: their pages are zero
// until touched, where calloc would clear memory the heap reuses, and a
// session that allocates and frees tens of MiB would pay for clearing all of
// it every time. Under the address sanitizer every buffer comes from calloc,
// so that its bounds are watched.
#if defined(__SANITIZE_ADDRESS__)
#define VZ_MAP_LARGE_BUFFERS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VZ_MAP_LARGE_BUFFERS 0
#endif
#endif
#ifndef VZ_MAP_LARGE_BUFFERS
#define VZ_MAP_LARGE_BUFFERS 1
#endif
constexpr size_t kMapThreshold = 128 * 1024;

bool mapped_size(size_t n) {
  return VZ_MAP_LARGE_BUFFERS && n >= kMapThreshold;
}

void* real_alloc_zeroed(size_t n) {
  if (mapped_size(n)) {
    void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
  }
  return std::calloc(n == 0 ? 1 : n, 1);
}

const Ops kSystemOps = {
    real_net_startup,       real_tcp_socket,        real_bind_any,
    real_connect_ipv4,      real_set_nonblocking,   real_send_bytes,
    real_recv_bytes,        real_file_open,         real_file_read,
    real_file_write,        real_alloc_zeroed,      posix::real_free_space_kib,
    posix::real_file_seek,  posix::real_drive_open, posix::real_drive_geometry,
    posix::real_drive_read, posix::real_audio_open, posix::real_audio_write,
    posix::real_udp_socket, posix::real_recv_from,
};

std::atomic<const Ops*> g_ops{&kSystemOps};
std::atomic<int> g_net_refs{0};

const Ops& ops() {
  return *g_ops.load(std::memory_order_acquire);
}

int wait_for(Socket s, short events, int timeout_ms) {
  pollfd p{};
  p.fd = s;
  p.events = events;
  uint32_t start = tick_ms();
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms < 0 ? 0 : timeout_ms);
    if (r >= 0) return r > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
    int spent = static_cast<int>(tick_ms() - start);
    if (spent >= timeout_ms) return 0;
    timeout_ms -= spent;
    start = tick_ms();
  }
}

}  // namespace

const Ops& system_ops() {
  return kSystemOps;
}
void install_ops(const Ops* table) {
  g_ops.store(table ? table : &kSystemOps, std::memory_order_release);
}

int net_startup() {
  if (ops().net_startup() != 0) return -1;
  g_net_refs.fetch_add(1);
  return 0;
}
void net_cleanup() {
  int n = g_net_refs.load();
  while (n > 0 && !g_net_refs.compare_exchange_weak(n, n - 1)) {
  }
}

Socket tcp_socket() {
  return ops().tcp_socket();
}
Socket udp_socket() {
  return ops().udp_socket();
}
long recv_from(Socket s, void* data, size_t n, uint32_t* from) {
  return ops().recv_from(s, data, n, from);
}
int bind_any(Socket s) {
  return ops().bind_any(s);
}
int connect_ipv4(Socket s, uint32_t address, uint16_t port) {
  return ops().connect_ipv4(s, address, port);
}
int set_nonblocking(Socket s, bool on) {
  return ops().set_nonblocking(s, on);
}
long send_bytes(Socket s, const void* data, size_t n) {
  return ops().send_bytes(s, data, n);
}
long recv_bytes(Socket s, void* data, size_t n) {
  return ops().recv_bytes(s, data, n);
}
int wait_readable(Socket s, int timeout_ms) {
  return wait_for(s, POLLIN, timeout_ms);
}
int wait_writable(Socket s, int timeout_ms) {
  return wait_for(s, POLLOUT, timeout_ms);
}
void close_socket(Socket s) {
  if (s != kInvalidSocket) ::close(s);
}
int last_socket_error() {
  return t_last_socket_error;
}
void set_last_socket_error(int wsa_error) {
  t_last_socket_error = wsa_error;
}

uint32_t system_inet_addr(const char* text) {
  in_addr a{};
  // inet_aton accepts the same classic forms as inet_addr ("1.2.3.4", "0x7f.1",
  // "127.1") and, unlike it, tells a real 255.255.255.255 from a failure; the
  // library treats both as "not an address" anyway.
  if (text == nullptr || ::inet_aton(text, &a) == 0) return 0xFFFFFFFFu;
  return a.s_addr;
}

uint32_t tick_ms() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

void sleep_ms(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

LocalTime local_time_now() {
  time_t now = ::time(nullptr);
  tm t{};
  ::localtime_r(&now, &t);
  return LocalTime{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_wday,
                   t.tm_hour,        t.tm_min,     t.tm_sec};
}

void* alloc_zeroed(size_t n) {
  return ops().alloc_zeroed(n);
}
int free_space_kib(const std::string& dir, uint64_t* kib) {
  return kib ? ops().free_space_kib(dir, kib) : -1;
}
void free_buffer(void* p, size_t n) {
  if (p == nullptr) return;
  if (mapped_size(n)) {
    ::munmap(p, n);
  } else {
    std::free(p);
  }
}

FileHandle file_open(const std::string& path, OpenMode mode) {
  return ops().file_open(path, mode);
}
long file_read(FileHandle f, void* data, size_t n) {
  return f ? ops().file_read(f, data, n) : -1;
}
int file_write(FileHandle f, const void* data, size_t n) {
  return f ? ops().file_write(f, data, n) : -1;
}
int file_seek(FileHandle f, int64_t offset, SeekFrom from) {
  return f ? ops().file_seek(f, offset, from) : -1;
}
DriveHandle drive_open(int number) {
  return ops().drive_open(number);
}
int drive_geometry(DriveHandle d, DriveGeometry* out) {
  return d && out ? ops().drive_geometry(d, out) : -1;
}
long drive_read(DriveHandle d, void* data, size_t n) {
  return d ? ops().drive_read(d, data, n) : -1;
}
AudioDevice* audio_open(AudioCallback callback, void* user) {
  return ops().audio_open(callback, user);
}
int audio_write(AudioDevice* device, const void* pcm, size_t bytes) {
  return device ? ops().audio_write(device, pcm, bytes) : -1;
}
void file_close(FileHandle f) {
  if (f) std::fclose(static_cast<FILE*>(f));
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool is_directory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return 0;
  return is_directory(path) ? 0 : -1;
}

int last_access_day(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return -1;
  // Writes count as accesses, as they do for the recorder software's own
  // file system; Linux mounts with relatime would otherwise keep a stale day.
  time_t t = st.st_atime > st.st_mtime ? st.st_atime : st.st_mtime;
  tm lt{};
  ::localtime_r(&t, &lt);
  return lt.tm_mday;
}

std::string join_path(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (a.back() == '/') return a + b;
  return a + "/" + b;
}

bool get_env(const char* name, std::string* value) {
  const char* v = std::getenv(name);
  if (v == nullptr) {
    if (value) value->clear();
    return false;
  }
  if (value) *value = v;
  return true;
}

bool drive_root(char letter, std::string* root) {
  char name[] = "VIRAZAV_DRIVE_C";
  name[sizeof name - 2] = letter;
  std::string v;
  if (!get_env(name, &v) || v.empty()) return false;
  if (root) *root = v;
  return true;
}

}  // namespace virazav::platform

namespace virazav::platform::posix {

// errno → Winsock number: one line per case, an explicit default.
int wsa_from_errno(int e) {
  switch (e) {
    case EWOULDBLOCK:
      return kWsaWouldBlock;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
      return kWsaWouldBlock;
#endif
    case EINPROGRESS:
      return kWsaWouldBlock;
    case ECONNRESET:
      return kWsaConnReset;
    case EPIPE:
      return kWsaConnReset;
    case ECONNABORTED:
      return kWsaConnAborted;
    case ENOTCONN:
      return kWsaNotConnected;
    case ETIMEDOUT:
      return kWsaTimedOut;
    case ECONNREFUSED:
      return kWsaConnRefused;
    case EHOSTUNREACH:
      return kWsaHostUnreachable;
    case ENETUNREACH:
      return kWsaHostUnreachable;
    default:
      return kWsaOther;
  }
}

}  // namespace virazav::platform::posix
