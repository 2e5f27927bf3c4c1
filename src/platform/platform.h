// The operating-system door of the library: sockets, clock and sleeps, files and
// folders, large buffers, environment, local time, named locks and the message sink.
// Nothing outside src/platform/ includes an OS header; everything below reports
// failures as values, never as exceptions, and retries EINTR inside.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/audio.h"

namespace virazav::platform {

// ---- Sockets ------------------------------------------------------------------
// Socket errors are reported with their Winsock numbers so that the codes the
// library returns are the same on every system.
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaConnAborted = 10053;
inline constexpr int kWsaConnReset = 10054;
inline constexpr int kWsaNotConnected = 10057;
inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnRefused = 10061;
inline constexpr int kWsaHostUnreachable = 10065;
inline constexpr int kWsaDisconnected = 10101;  // the peer closed the connection
inline constexpr int kWsaOther = 10004;         // any other failure (interrupted call)

using Socket = int;
inline constexpr Socket kInvalidSocket = -1;

// Takes a reference on the socket service. Returns 0, or -1 when the service is
// not available (only an injected fault fails on Linux).
int net_startup();
// Gives back one reference taken by net_startup.
void net_cleanup();

// Creates a TCP socket (blocking). Returns kInvalidSocket on failure and sets
// the thread's last socket error.
Socket tcp_socket();
// Binds to any local address and port. Returns 0 or -1 (last error set).
int bind_any(Socket s);
// Connects, blocking, to the IPv4 address (network byte order in memory, as
// parsed) and port. Returns 0 or -1 (last error set).
int connect_ipv4(Socket s, uint32_t address, uint16_t port);
// Switches non-blocking mode. Returns 0 or -1.
int set_nonblocking(Socket s, bool on);
// Sends up to n bytes. Returns the count sent or -1 (last error set; a full
// socket buffer on a non-blocking socket reports kWsaWouldBlock). Never raises
// SIGPIPE.
long send_bytes(Socket s, const void* data, size_t n);
// Receives up to n bytes. Returns the count, 0 when the peer closed the
// connection, or -1 (last error set; nothing waiting on a non-blocking socket
// reports kWsaWouldBlock).
long recv_bytes(Socket s, void* data, size_t n);
// Waits up to timeout_ms for the socket to become readable (or closed, or in
// error). Returns 1 when it is, 0 on time-out, -1 on failure.
int wait_readable(Socket s, int timeout_ms);
// As wait_readable, for writability.
int wait_writable(Socket s, int timeout_ms);
// Closes the socket; kInvalidSocket is ignored.
void close_socket(Socket s);
// Last socket error of this thread, as a Winsock number (0 if none).
int last_socket_error();
// Sets this thread's last socket error (used by the fault seam).
void set_last_socket_error(int wsa_error);
// The system's own dotted-address parser (inet_addr): the address in network
// byte order as it lies in memory, or 0xFFFFFFFF when the text is not one.
uint32_t system_inet_addr(const char* text);

// ---- UDP reception -------------------------------------------------------------
// Creates a UDP socket (blocking). Returns kInvalidSocket on failure and sets the
// thread's last socket error.
Socket udp_socket();
// Binds to any local address at `port` (0: any port). Returns 0 or -1.
int bind_port(Socket s, uint16_t port);
// Sets SO_REUSEADDR. Returns 0 or -1.
int set_reuse_address(Socket s, bool on);
// Joins the IPv4 multicast group (network byte order in memory, as parsed) on any
// interface. Returns 0 or -1 (a unicast address fails).
int join_multicast(Socket s, uint32_t group);
// Sets IP_MULTICAST_LOOP. Returns 0 or -1.
int set_multicast_loop(Socket s, bool on);
// Asks for a receive buffer of `bytes` and reads back what the kernel granted.
// When the kernel caps the request (net.core.rmem_max) and the process may lift
// the cap, the request is forced. Stores in *granted (may be null) the size as
// the kernel reports it, which on Linux counts its bookkeeping too and so is
// twice the payload room it set aside. Returns 0 when the granted room reaches
// the request, 1 when it is smaller, -1 when the size cannot be set or read.
int set_receive_buffer(Socket s, int bytes, int* granted);
// Receives one datagram of at most n bytes (a longer one is cut) and stores the
// sender's IPv4 address (network byte order in memory) in *from (may be null).
// Returns the datagram's length, or -1 (last error set; nothing waiting on a
// non-blocking socket reports kWsaWouldBlock).
long recv_from(Socket s, void* data, size_t n, uint32_t* from);
// The dotted-decimal text "%d.%d.%d.%d" of an address in network byte order.
std::string dotted_text(uint32_t address);

// A wake-up a thread can wait on together with a socket: wake() from any thread
// makes the waiter return at once until clear() is called. Construction never
// fails; a Waker whose descriptor could not be made wakes its waiter every
// millisecond instead.
class Waker {
 public:
  Waker();
  ~Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  void wake();
  void clear();
  int descriptor() const { return fd_; }

 private:
  int fd_;
};
// Waits up to timeout_ms (negative: without a bound) until the socket is readable
// or the waker was woken; kInvalidSocket waits for the waker alone. Returns 2 when
// woken (whether or not the socket is readable too), 1 when the socket is
// readable, 0 on time-out, -1 on failure.
int wait_readable_or_woken(Socket s, const Waker& waker, int timeout_ms);

// ---- Clock, sleep ---------------------------------------------------------------
// Milliseconds of a monotonic clock; wraps like a 32-bit tick count.
uint32_t tick_ms();
void sleep_ms(int ms);

struct LocalTime {
  int year;     // e.g. 2026
  int month;    // 1..12
  int day;      // 1..31
  int weekday;  // 0 = Sunday .. 6
  int hour, minute, second;
};
// The local calendar time now.
LocalTime local_time_now();

// ---- Large buffers ----------------------------------------------------------------
// Allocates n zero-filled bytes. Returns nullptr on failure. Large buffers are
// mapped straight from the system, so their pages cost nothing until touched.
void* alloc_zeroed(size_t n);
// Frees a buffer of alloc_zeroed; n is the size it was allocated with.
void free_buffer(void* p, size_t n);

// Owner of a zero-filled buffer from alloc_zeroed.
class Buffer {
 public:
  Buffer() = default;
  explicit Buffer(size_t n) : data_(static_cast<uint8_t*>(alloc_zeroed(n))), size_(data_ ? n : 0) {}
  ~Buffer() { free_buffer(data_, size_); }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr, o.size_ = 0; }
  Buffer& operator=(Buffer&& o) noexcept {
    if (this != &o) {
      free_buffer(data_, size_);
      data_ = o.data_, size_ = o.size_;
      o.data_ = nullptr, o.size_ = 0;
    }
    return *this;
  }
  bool ok() const { return data_ != nullptr; }
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// ---- Files and folders ----------------------------------------------------------------
// The raw calls behind File (below), which is how the library holds a file.
using FileHandle = void*;
// kUpdate opens for reading and writing, creates a missing file and keeps an
// existing one's bytes: writing begins at its start and overwrites in place.
enum class OpenMode { kRead, kWriteTruncate, kAppend, kUpdate };
// Opens a file (binary; text mode is the same on Linux). Returns nullptr on
// failure.
FileHandle file_open(const std::string& path, OpenMode mode);
// Reads up to n bytes; returns the count (0 at the end) or -1.
long file_read(FileHandle f, void* data, size_t n);
// Writes n bytes; returns 0 when all were written, -1 otherwise.
int file_write(FileHandle f, const void* data, size_t n);
void file_close(FileHandle f);
bool file_exists(const std::string& path);
bool is_directory(const std::string& path);
// Creates one folder. Returns 0 when it exists afterwards, -1 otherwise.
int make_directory(const std::string& path);
// Day of month (1..31, local time) of the last access to the file, counting a
// write as an access; -1 when the file cannot be queried.
int last_access_day(const std::string& path);
// Joins two path parts with the system's separator.
std::string join_path(const std::string& a, const std::string& b);

// ---- Free space and file position --------------------------------------------------
// Stores in *kib the space available to an unprivileged writer on the file system
// that holds `dir`, in KiB, and returns 0; returns -1 (and leaves *kib unchanged)
// when the folder cannot be queried.
int free_space_kib(const std::string& dir, uint64_t* kib);
// Moves the file's read/write position back to its start. Returns 0 or -1.
int file_rewind(FileHandle f);

// ---- Large files and calendar ---------------------------------------------------------
// Positions are 64-bit so that stream files beyond 4 GiB can be read.
enum class SeekFrom { kBegin, kCurrent, kEnd };
// Moves the position of an open file. Returns 0, or -1 (position unchanged)
// when the target would be negative or the file cannot seek.
int file_seek(FileHandle f, int64_t offset, SeekFrom from);
// The position of an open file, or -1.
int64_t file_tell(FileHandle f);
// The size in bytes of an open file, or -1; the position is left unchanged.
int64_t file_size(FileHandle f);
// Seconds of local calendar time as the C library's mktime counts them, with
// the daylight-saving flag given as 0. Returns -1 when the fields cannot be
// represented.
int64_t make_local_seconds(const LocalTime& t);
// The local calendar fields of a seconds count. Returns false when the count
// cannot be converted.
bool local_time_of(int64_t seconds, LocalTime* out);

// ---- File owner -----------------------------------------------------------------------
// Owner of an open file: closes it when it goes out of scope, is closed or is
// assigned another. Movable, not copyable; a default-constructed File holds
// none. The members are the calls above on the held file, with their results;
// on a File that holds none each of them fails (-1) and close does nothing.
class File {
 public:
  File() = default;
  // Opens `path` through the operations table (the fault seam sees it); the
  // result holds no file when the open failed.
  static File open(const std::string& path, OpenMode mode) {
    File f;
    f.handle_ = file_open(path, mode);
    return f;
  }
  ~File() { close(); }
  File(File&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  File& operator=(File&& o) noexcept {
    if (this != &o) {
      close();
      handle_ = o.handle_;
      o.handle_ = nullptr;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool is_open() const { return handle_ != nullptr; }
  long read(void* data, size_t n) { return file_read(handle_, data, n); }
  int write(const void* data, size_t n) { return file_write(handle_, data, n); }
  int seek(int64_t offset, SeekFrom from) { return file_seek(handle_, offset, from); }
  int rewind() { return file_rewind(handle_); }
  int64_t tell() const { return file_tell(handle_); }
  int64_t size() const { return file_size(handle_); }
  void close() {
    file_close(handle_);
    handle_ = nullptr;
  }

 private:
  FileHandle handle_ = nullptr;
};

// ---- Raw drives ------------------------------------------------------------------------
// A recorder disk attached to this computer, read as a raw drive. Drive N (0..9)
// is the path in VIRAZAV_PHYSICALDRIVE<N> when that is set (read at every open),
// else /dev/sd + ('a' + N). A regular file (a disk image) counts as a fixed disk
// of 512-byte sectors, 255 heads and 63 sectors a track with cylinders = size /
// (512 x 255 x 63); a block device reports its own geometry. Opens are read-only
// and exclusive (O_EXCL on a block device, an flock on an image), so a second
// open of a drive that is open fails.
using DriveHandle = void*;  // nullptr: no drive
inline constexpr int32_t kMediaRemovable = 11;
inline constexpr int32_t kMediaFixedDisk = 12;
struct DriveGeometry {
  int64_t cylinders = 0;
  int32_t media_type = 0;  // kMediaFixedDisk, kMediaRemovable
  uint32_t tracks_per_cylinder = 0;
  uint32_t sectors_per_track = 0;
  uint32_t bytes_per_sector = 0;
};
// The path of drive `number`; empty for a number outside 0..9.
std::string drive_path(int number);
// Opens drive `number`. Returns nullptr when it does not exist, is held by
// another open, or cannot be opened.
DriveHandle drive_open(int number);
// Stores the drive's geometry. Returns 0 or -1.
int drive_geometry(DriveHandle d, DriveGeometry* out);
// Moves the drive's position to byte `offset` from its start. Returns 0, or -1
// for a negative offset or a drive that cannot seek.
int drive_seek(DriveHandle d, int64_t offset);
// Reads up to n bytes at the position and advances it. Returns the count (fewer
// than n only where the drive ends), or -1 when the request failed.
long drive_read(DriveHandle d, void* data, size_t n);
// Closes the drive; nullptr is ignored.
void drive_close(DriveHandle d);

// ---- Environment -------------------------------------------------------------------
// Returns the variable's value, or an empty string (and false) when unset.
bool get_env(const char* name, std::string* value);
// Root folder of the log drive letter 'C'..'F' (VIRAZAV_DRIVE_<L>). Returns false
// when the drive does not exist.
bool drive_root(char letter, std::string* root);

// ---- Threads ------------------------------------------------------------------------
// Starts a detached worker thread running fn(arg). Returns false when no thread
// could be started.
bool start_detached_thread(void (*fn)(int), int arg);

// ---- Named locks --------------------------------------------------------------------
// A lock shared by every thread of every process that uses the same name.
class NamedMutex {
 public:
  explicit NamedMutex(const char* name);
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;
  void lock();
  void unlock();
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  void* impl_;
};

// ---- Message and trace sinks -------------------------------------------------------
using MessageHandler = void (*)(const char* text, const char* caption, void* user);
// Shows a message (the library's message box). Default: one line
// "VIRAZAV: <caption>: <text>" on standard error.
void show_message(const char* text, const char* caption);
// Replaces the sink; nullptr restores the default. Thread-safe.
void set_message_handler(MessageHandler fn, void* user);

using TraceHandler = void (*)(const char* line, void* user);
// Writes trace text (nullptr and "" are ignored). Each thread's text is
// collected up to each "\n"; every complete line, with its "\n", goes to the
// trace handler, by default to standard output (flushed at once). A line is
// handed on whole even when it was traced in pieces. Thread-safe; the handler
// may be called from several threads at once.
void trace(const char* text);
// Replaces the trace sink; nullptr restores standard output. Thread-safe.
void set_trace_handler(TraceHandler fn, void* user);

// ---- Fault seam ---------------------------------------------------------------------
// Every call above that can fail passes through a process-wide table of
// operations. Tests install a wrapper that fails chosen calls.
struct Ops {
  int (*net_startup)();
  Socket (*tcp_socket)();
  int (*bind_any)(Socket);
  int (*connect_ipv4)(Socket, uint32_t, uint16_t);
  int (*set_nonblocking)(Socket, bool);
  long (*send_bytes)(Socket, const void*, size_t);
  long (*recv_bytes)(Socket, void*, size_t);
  FileHandle (*file_open)(const std::string&, OpenMode);
  long (*file_read)(FileHandle, void*, size_t);
  int (*file_write)(FileHandle, const void*, size_t);
  void* (*alloc_zeroed)(size_t);
  int (*free_space_kib)(const std::string&, uint64_t*);
  int (*file_seek)(FileHandle, int64_t, SeekFrom);
  DriveHandle (*drive_open)(int);
  int (*drive_geometry)(DriveHandle, DriveGeometry*);
  long (*drive_read)(DriveHandle, void*, size_t);
  AudioDevice* (*audio_open)(AudioCallback, void*);
  int (*audio_write)(AudioDevice*, const void*, size_t);
  Socket (*udp_socket)();
  long (*recv_from)(Socket, void*, size_t, uint32_t*);
};
// The real operations.
const Ops& system_ops();
// Installs a table (nullptr restores the real one). Not thread-safe against
// calls in flight: install before the operation under test.
void install_ops(const Ops* ops);

}  // namespace virazav::platform
