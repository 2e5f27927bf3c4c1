// Internals of the simulated recorder shared by its source files: the wire field helpers,
// the connection reader and writer, the fault script, the command parser and the state
// behind the commands. Nothing here is used outside tools/recorder-sim.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "media/recording.h"
#include "recorder.h"

namespace virazav::sim::detail {

// ---- Wire fields (wire.cc) ----

// Returns the value as upper-case hexadecimal, zero-filled to width ("%0*X").
std::string hex_text(uint32_t value, int width);
// Returns the value as decimal, zero-filled to width ("%0*d").
std::string dec_text(int32_t value, int width);
// Parses a field written as "%0<width>X": 1..8 upper-case hexadecimal digits that print
// back to exactly the same text (so no missing or extra leading zeros). On success stores
// the value in *out and returns true.
bool parse_hex_field(std::string_view text, int width, uint32_t* out);
// Parses a field written as "%0<width>d" in the same exact way.
bool parse_dec_field(std::string_view text, int width, int32_t* out);
// Returns each byte as two upper-case hexadecimal digits, high half first.
std::string encode_hex(std::string_view bytes);
// Returns the PASSWORD line's digits for a password: encode_hex, then '0' up to 32 digits.
std::string password_digits(std::string_view password);
// Returns true for "ID" followed by exactly 8 upper-case hexadecimal digits.
bool is_command_id(std::string_view text);

// ---- Connection I/O (connection.cc) ----

// One accepted TCP connection: reads lines and raw bytes, sends texts, and waits, always
// through poll() on the socket and the recorder's stop descriptor.
class Connection {
 public:
  enum class Read { kOk, kClosed, kStopped, kTimeout, kOverlong };
  static constexpr size_t kMaxLine = 4096;

  Connection(int fd, int stop_fd) : fd_(fd), stop_fd_(stop_fd) {}

  // Reads one line into *line, "\n" included. kClosed with a non-empty *line: the client
  // closed the connection in the middle of a line (the part is returned). kOverlong: no
  // newline within kMaxLine bytes; *line holds the first kMaxLine bytes and the rest of
  // that line is skipped.
  Read read_line(std::string* line);
  // Appends exactly n bytes to *out (bytes already buffered first). Stops early with
  // kClosed, kStopped, or kTimeout when nothing arrives for idle_ms.
  Read read_bytes(size_t n, int idle_ms, std::vector<uint8_t>* out);
  // Sends the bytes in one send() call (a short send is continued). Returns false when the
  // connection failed.
  bool send_text(std::string_view bytes);
  // Sleeps ms milliseconds; returns false when the recorder is stopping.
  bool pause(int ms);
  // Waits until the client closes the connection or the recorder stops; bytes that arrive
  // meanwhile are read as lines and handed to on_line.
  template <typename F>
  void drain_until_closed(F on_line) {
    std::string line;
    for (;;) {
      Read r = read_line(&line);
      if (!line.empty()) on_line(line);
      if (r == Read::kClosed || r == Read::kStopped) return;
    }
  }

 private:
  // Waits for the socket to become readable; kOk, kStopped or kTimeout.
  Read wait_readable(int timeout_ms);
  // Receives into buffer_; kOk, kClosed or kStopped.
  Read fill(int timeout_ms);

  int fd_;
  int stop_fd_;
  std::string buffer_;
  bool skipping_ = false;  // inside an overlong line, dropping bytes up to its newline
};

// ---- Fault script (faults.cc) ----

enum class Stage { kGreeting, kPassword, kLink, kCommand, kBlock };

class FaultScript {
 public:
  void add(Fault fault);
  void clear();
  int pending() const;
  // Removes one use of the oldest entry that matches the stage, the command word (for
  // kCommand) and the slot, and returns a copy of it; nullopt when none matches.
  std::optional<Fault> take(Stage stage, std::string_view word, int slot);

 private:
  mutable std::mutex mu_;
  std::list<Fault> faults_;  // guarded by mu_
};

// Returns the text with the changes a fault makes to its content (foreign ID, extra
// tokens, raw text, Busy); the text is unchanged for faults that only change the sending.
// `id` is the command ID of the reply (empty outside command replies).
std::string reshape(const Fault& fault, std::string text, std::string_view id);
// Sends the text as the fault says (delay, split, trickle, close after K bytes, nothing).
// Returns false when the connection is to be closed afterwards.
bool send_shaped(Connection& conn, std::string_view text, const std::optional<Fault>& fault);

// ---- Commands (commands.cc) ----

struct Command {
  std::string id;
  std::string word;
  std::vector<std::string> fields;  // as sent
  std::vector<int64_t> values;      // numeric value of each field (0 for text fields)
};

enum class ParseResult { kOk, kBadId, kUnknownWord, kBadFields };

// Parses a command line without its "\n": "ID%08X", one blank, the word, then the fields
// each behind one blank, with the field count and forms of that word.
ParseResult parse_command(std::string_view line, Command* out);

// What a carried-out command gives back: the reply, and what follows it.
struct Outcome {
  std::string reply;    // "<ID> OK ...\r\n"
  std::string trigger;  // the line (with "\n") after which `block` goes out; empty: none
  std::string block;
  int64_t upload_length = -1;  // >= 0: that many raw bytes follow the reply
  bool reboot = false;
  int64_t block_cut = -1;  // >= 0: only that many bytes of `block` go out, then the
                           // connection is closed
};

// The recorder's settings and stores behind the commands.
struct State {
  int64_t clock_offset = 0;  // recorder clock seconds minus host clock seconds
  std::array<std::map<uint32_t, uint32_t>, 3> switches;
  std::map<uint32_t, std::array<uint32_t, 4>> combi;
  std::map<uint32_t, uint32_t> status;
  PlayState play;
  RecordingOptions recording;  // what the play lists name
  std::array<std::map<std::array<uint32_t, 3>, uint32_t>, 3> stores;

  State();  // the defaults of a recorder fresh from the factory
  std::string clock_text() const;
  // Returns the recorder clock in seconds since 2000-01-01 00:00:00.
  int64_t clock_since_2000() const;
  bool set_clock(std::string_view date, std::string_view time);
  uint32_t switch_value(SwitchTable table, uint32_t item) const;
  std::array<uint32_t, 4> combi_words(uint32_t group) const;
  uint32_t status_word(uint32_t item) const;
  // Carries out a parsed command. The caller holds the recorder's state lock.
  Outcome execute(const Command& cmd);
};

std::string menu_block(uint32_t menu);
// The play list of channel `list` (0..15): the recorded stretch of that channel, one
// line, or no line when the channel was not recorded; empty for other numbers.
std::string play_list_block(uint32_t list, const RecordingOptions& recording);
// The recorded stretch of each recorded channel, one line each:
// "channel N: YYYY-MM-DDThh:mm:ss .. YYYY-MM-DDThh:mm:ss, video and audio".
std::vector<std::string> recorded_ranges(const RecordingOptions& recording);

// ---- Downloads (media/download_server.cc) ----

// The recorder's side of the recorded-data download on every slot: SendDataF plans the
// steps of a stretch of time, each SendDataN hands out the next step, and the blocks of a
// step follow the "JpegSendStart" line. The download fault kinds reshape a step's blocks.
class DownloadServer {
 public:
  explicit DownloadServer(RecordingOptions options) : recording_(std::move(options)) {}

  // Returns true for the command words this server answers.
  static bool handles(std::string_view word);
  // Carries out SendDataF or SendDataN for the slot.
  Outcome execute(const Command& cmd, int slot, const std::optional<Fault>& fault);
  // The steps handed out on the slot since its last SendDataF, faults applied.
  std::vector<DownloadStep> steps_sent(int slot) const;
  Recording& recording() { return recording_; }

 private:
  struct Session {
    bool started = false;
    std::vector<DownloadStep> planned;
    size_t next = 0;
    std::vector<DownloadStep> sent;
  };

  Recording recording_;
  mutable std::mutex mu_;
  std::array<Session, kSlotCount> sessions_;  // guarded by mu_
};

// ---- Live stream commands (live/live_commands.cc) ----

// Returns true for UDPup, UDPdown and UDPdispmode.
bool is_live_command(std::string_view word);
// Carries out a live stream command that came on a command connection whose peer has the
// IPv4 address `peer`. Stores a short note for the event line in *note (may stay empty).
Outcome execute_live_command(const Command& cmd, LiveStream& live, const std::string& peer,
                             std::string* note);

}  // namespace virazav::sim::detail

namespace virazav::sim {

// The recorder behind the public class: listeners, sessions and state.
struct Recorder::Impl {
  struct Session {
    int fd = -1;  // guarded by sessions_mu; -1 once the session closed it
    int slot = 0;
    bool command = false;
    std::thread thread;
    std::atomic<bool> finished{false};
  };

  explicit Impl(RecorderOptions opts);

  bool start(std::string* error);
  void stop();
  void accept_loop();
  void serve_login(Session* session);
  void serve_command(Session* session);
  // Reads and answers command lines until the connection ends; `peer` is the client's
  // IPv4 address, where UDPup sends the live stream.
  void command_loop(detail::Connection& conn, int slot, const std::string& peer);
  // Counts a reboot, forgets the link IDs handed out and opens the reboot window, in which
  // new connections are closed unanswered. The caller then drops the open connections.
  void begin_reboot();
  // Shuts down the sockets of all sessions (or only command sessions) so that their
  // threads see the end of the connection.
  void shutdown_sessions(bool all);
  void reap_sessions(bool all);
  void event(const std::string& text);
  void record_line(int slot, const std::string& line);
  bool in_reboot_window() const;
  std::string make_greeting() const;
  std::string issue_link(int slot);
  bool accept_link(int slot, std::string_view link);

  RecorderOptions options;
  int stop_fd = -1;
  std::vector<int> listeners;  // login port of slot s at 2s, its command port at 2s+1
  std::thread acceptor;
  bool running = false;  // changed by start() and stop() only

  std::mutex sessions_mu;
  std::list<std::unique_ptr<Session>> sessions;  // guarded by sessions_mu

  detail::FaultScript faults;
  detail::DownloadServer downloads;

  mutable std::mutex mu;  // guards everything below
  detail::State state;
  std::array<std::vector<std::string>, kSlotCount> lines;
  std::array<std::deque<std::string>, kSlotCount> links;  // link IDs handed out, unused
  std::array<int, kSlotCount> logins = {};
  std::array<int, kSlotCount> open_commands = {};
  int reboots = 0;
  std::chrono::steady_clock::time_point reboot_until{};
  uint32_t next_link = 0;
  UpdateUpload upload;
  mutable std::condition_variable upload_cv;

  std::mutex event_mu;  // one on_event call at a time

  // Last, so that it stops before anything its clock and events reach goes away.
  LiveStream live;
};

}  // namespace virazav::sim
