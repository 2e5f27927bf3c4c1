// The simulated recorder: the recorder's side of the TCP command protocol (login, link
// and command connections of all 16 slots) on one IPv4 address, with the recorder's
// settings, stores and blocks behind the commands, and a script of faults that tests
// inject to make it misbehave, and the live stream that UDPup sends over UDP. The wire
// formats are described in docs/formats/command-protocol.md and docs/formats/live-stream.md.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "live/live_stream.h"
#include "media/recording.h"

namespace virazav::sim {

inline constexpr int kSlotCount = 16;

// Returns the login port of a slot (0..15): 5001 + 2 × slot.
constexpr int login_port(int slot) {
  return 5001 + 2 * slot;
}
// Returns the command port of a slot (0..15): 5002 + 2 × slot; the login reply hands it out.
constexpr int command_port(int slot) {
  return 5002 + 2 * slot;
}

// Stage names a Fault may name in `command` besides command words. Command words are
// capitalised (GetTime, ReBoot), so these lower-case names never clash with one.
inline constexpr char kStageGreeting[] = "greeting";  // the greeting on a login connection
inline constexpr char kStagePassword[] = "password";  // the reply to the PASSWORD line
inline constexpr char kStageLink[] = "link";          // the answer to the "ID = " line
inline constexpr char kStageBlock[] = "block";        // a menu or play list block after its trigger

// What an injected fault does to the text that would have gone out. Unless a kind says
// otherwise, the recorder still carries the command out; only the wire changes.
enum class FaultKind {
  kBusy,            // greeting: token 0 is "Busy"; the connection is closed after it
  kHoldGreeting,    // greeting: nothing is sent; the connection is held delay_ms (0: until the
                    // client closes it or the recorder stops), then closed
  kRefusePassword,  // password: "NG" although the password matches; no link ID is handed out
  kRefuseLink,      // link: "NG" although the link ID is valid; the connection is closed
  kForeignId,       // command: token 0 of the reply is another command ID
  kNg,              // command: "<ID> NG" and the command is NOT carried out; on the password
                    // and link stages the same as kRefusePassword / kRefuseLink
  kNoReply,         // any stage: nothing is sent, the connection stays open
  kDelay,           // any stage: the text goes out after delay_ms
  kCloseAfter,      // any stage: the first `param` bytes go out, then the connection is closed
  kSplit,           // any stage: two sends, the first `param` bytes (0: half), delay_ms between
  kTrickle,         // any stage: one byte per send, delay_ms between bytes
  kTooManyTokens,   // text stages: "0" tokens are appended up to `param` tokens (0: 24)
  kLongToken,       // text stages: one token of `param` characters (0: 300) is appended
  kRaw,             // any stage: `text` goes out instead, each "{id}" replaced by the command ID
  // Download kinds, for the command words SendDataF and SendDataN: the reply goes out as
  // usual (announcing the reshaped sizes) and the step's blocks change.
  kBlockTooLarge,   // the video block (the audio block in a step without one) is padded with
                    // zeros past 1 MiB by `param` bytes (0: 4096)
  kRecordOverrun,   // the video block's last record claims `param` 32-byte units (0: 8) more
                    // than the block holds
  kCloseMidBlock,   // only the first `param` bytes of the blocks (0: half the video block) go
                    // out after the trigger, then the connection is closed
  kBareVideoBlock,  // the video block is its 100-byte header alone, record count 0
  kBareAudioBlock,  // the audio block is its 6-byte header alone
};

// One entry of the fault script. It applies to the next `count` events that match it
// (count 0 or less: every matching event until clear_faults()); the oldest matching entry
// wins when several match. `command` is a command word ("GetTime"), a stage name
// (kStageGreeting ...), or empty for any command reply. kBusy and kHoldGreeting always
// target the greeting, kRefusePassword the password reply and kRefuseLink the link answer,
// whatever `command` says. `slot` limits the entry to one slot (-1: any).
struct Fault {
  FaultKind kind = FaultKind::kNg;
  std::string command;
  int count = 1;
  int param = 0;
  int delay_ms = 0;
  std::string text;
  int slot = -1;
};

struct RecorderOptions {
  std::string address = "127.0.0.1";               // IPv4 address all 32 listeners bind to
  std::string password;                            // empty: the client's 32 '0' digits are accepted
  std::string info = "DVR 16CH NETWORK RECORDER";  // greeting token 4, sent as hexadecimal
  int reboot_ms = 300;        // after ReBoot, logins and links are closed unanswered this long
  int upload_idle_ms = 5000;  // an upload that stalls this long is given up as incomplete
  // The recordings that SendDataF and SendDataN download.
  RecordingOptions recording;
  // The live stream that UDPup starts; it is sent from `address`.
  LiveOptions live;
  // Called with one line of text per connection and per command, from the recorder's own
  // threads, one call at a time. May be empty.
  std::function<void(const std::string&)> on_event;
};

enum class SwitchTable { kCamera, kDisk, kJpeg };  // CamSw*, HDSw*, JpegSw*
enum class Store { kMemory, kI2c, kNvc };          // Mem*, I2c*, Nvc*

// The remote playback state that ControlPlay, PlaySearch, SetPlayPointer and ReadHddList
// leave behind.
struct PlayState {
  uint32_t control = 0;                   // last ControlPlay value (0: stopped)
  std::array<int32_t, 7> search = {};     // last PlaySearch fields in order
  int search_result = -1;                 // its result: 0 found, 1 no recording then, 2 bad date
  std::array<uint32_t, 2> pointer = {};   // last SetPlayPointer fields
  std::array<uint32_t, 2> hdd_list = {};  // last ReadHddList fields
};

// The last update upload (SendUpdate and the raw bytes behind it).
struct UpdateUpload {
  int serial = 0;             // 0: no upload yet; counts uploads since start
  uint32_t kind = 0;          // the SendUpdate kind field
  uint32_t announced = 0;     // the announced length
  std::vector<uint8_t> data;  // the bytes received so far (all of them once finished)
  bool finished = false;      // no more bytes will be taken for this upload
  bool complete() const { return finished && data.size() == announced; }
  bool ends_with_zero() const { return !data.empty() && data.back() == 0; }
};

class Recorder {
 public:
  explicit Recorder(RecorderOptions options);
  ~Recorder();  // stops
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Binds the 16 login and 16 command listeners on the address and starts serving. On
  // success returns true; on failure (bad address, a port in use, already running)
  // releases whatever was bound, stores a message in *error (may be null), returns false.
  bool start(std::string* error);
  // Closes every listener and connection and joins every thread. Idempotent; the state
  // (settings, stores, logs) survives, and start() may be called again.
  void stop();
  bool running() const;

  // Appends one entry to the fault script. Thread-safe, also while clients are connected.
  void inject(Fault fault);
  void clear_faults();
  // Returns the number of script entries not yet used up.
  int pending_faults() const;

  // Returns what the client sent on the login and command connections of a slot, one
  // element per line in arrival order, byte-exact with its "\n" (a line cut off by the end
  // of the connection lacks it). Upload bytes are not lines and are not listed. Empty for
  // a slot outside 0..15.
  std::vector<std::string> received_lines(int slot) const;
  void clear_received_lines();

  // Returns the exact greeting text (without faults), "\r\n" included.
  std::string greeting() const;

  // Returns the recorder clock as "YY/MM/DD HH:MM:SS". The clock runs on from the last set
  // value; it starts at the host's local time.
  std::string clock_text() const;
  // Sets the clock as SetTime does: date "YY/MM/DD" or "YYYY/MM/DD" (years 1980..2079),
  // time "HH:MM:SS". Returns false and leaves the clock unchanged on bad text.
  bool set_clock(std::string_view date, std::string_view time);

  // Returns the value of one switch item (0 when the item was never set and has no default).
  uint32_t switch_value(SwitchTable table, uint32_t item) const;
  void set_switch_value(SwitchTable table, uint32_t item, uint32_t value);
  std::map<uint32_t, uint32_t> switch_table(SwitchTable table) const;

  // Returns the four words of a combination group as CombiSwSet stored them (its 2nd..5th
  // words), or the group's defaults {1000+g, 2000+g, 3000+g, 4000+g} (hex) when never set.
  std::array<uint32_t, 4> combi_words(uint32_t group) const;

  uint32_t status_word(uint32_t item) const;
  void set_status_word(uint32_t item, uint32_t value);
  PlayState play_state() const;

  // Returns the stored value of a memory address (k1), an I2C device and register (k1, k2)
  // or an Nvc triple (k1, k2, k3); nullopt when nothing was stored there.
  std::optional<uint32_t> store_value(Store store, uint32_t k1, uint32_t k2 = 0,
                                      uint32_t k3 = 0) const;
  void set_store_value(Store store, uint32_t k1, uint32_t k2, uint32_t k3, uint32_t value);

  // Returns the block the recorder sends for a menu (SendMenu) or a play list
  // (GetPlayList); empty for numbers it does not know (then it announces size 0).
  static std::string menu_block(uint32_t menu);
  // The play list of `list` names the stretch `recording` holds for that channel.
  static std::string play_list_block(uint32_t list,
                                     const RecordingOptions& recording = RecordingOptions{});
  // The recorded stretch of each recorded channel, one line each, as serve prints them:
  // "channel N: YYYY-MM-DDThh:mm:ss .. YYYY-MM-DDThh:mm:ss, video and audio".
  static std::vector<std::string> recorded_ranges(const RecordingOptions& recording);

  UpdateUpload last_update() const;
  // Waits up to timeout_ms for the latest upload to finish. On success stores it in *out
  // (may be null) and returns true; returns false when none finished in time.
  bool wait_for_update(int timeout_ms, UpdateUpload* out) const;

  int login_count(int slot) const;          // login connections accepted on the slot
  int command_connections(int slot) const;  // command connections open now (link accepted)
  int reboot_count() const;
  bool rebooting() const;  // inside the window after ReBoot

  // Returns the steps of the download on a slot since its last SendDataF, as the recorder
  // announced them and sends them after "JpegSendStart" (download faults applied), in
  // order; empty for a slot outside 0..15.
  std::vector<DownloadStep> download_steps(int slot) const;
  // The recordings behind the downloads: source pictures, packets and blocks. Thread-safe.
  Recording& recording();
  // The live stream that UDPup, UDPdown and UDPdispmode control: its controls, faults and
  // record of sent blocks. Thread-safe; stop() and the destructor stop it too.
  LiveStream& live();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace virazav::sim
