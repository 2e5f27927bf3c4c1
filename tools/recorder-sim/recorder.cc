// The recorder's connections: the 32 listeners of one address, the login dialogue (greeting,
// password, link ID), the command loop with its blocks and uploads, and the reboot. Each
// accepted connection is served by its own thread; one thread accepts for all listeners.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "internal.h"

namespace virazav::sim {

namespace {

using detail::Connection;
using detail::Stage;

constexpr int kListenBacklog = 16;
constexpr size_t kLinksKept = 8;  // link IDs a slot keeps valid at once
constexpr size_t kEventTextMax = 160;

// Greeting tokens besides the information text (token 4): model, firmware version,
// channel count, serial number, disk, video system, state.
constexpr const char* kGreetingModel = "DR16";
constexpr const char* kGreetingFirmware = "V1.20";
constexpr const char* kGreetingChannels = "16CH";
constexpr const char* kGreetingSerial = "SN00001234";
constexpr const char* kGreetingDisk = "HDD250G";
constexpr const char* kGreetingVideo = "NTSC";
constexpr const char* kGreetingState = "READY";

// Returns the text fit for one line of the event log: control bytes shown as '.', the end
// of the line dropped, long texts cut.
std::string printable(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  std::string out;
  for (char c : text.substr(0, kEventTextMax)) {
    out.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '.' : c);
  }
  if (text.size() > kEventTextMax) out += "...";
  return out;
}

std::string slot_prefix(int slot) {
  return "slot " + std::to_string(slot) + ": ";
}

const char* fault_name(FaultKind kind) {
  switch (kind) {
    case FaultKind::kBusy:
      return "busy";
    case FaultKind::kHoldGreeting:
      return "hold greeting";
    case FaultKind::kRefusePassword:
      return "refuse password";
    case FaultKind::kRefuseLink:
      return "refuse link";
    case FaultKind::kForeignId:
      return "foreign ID";
    case FaultKind::kNg:
      return "NG";
    case FaultKind::kNoReply:
      return "no reply";
    case FaultKind::kDelay:
      return "delay";
    case FaultKind::kCloseAfter:
      return "close after";
    case FaultKind::kSplit:
      return "split";
    case FaultKind::kTrickle:
      return "trickle";
    case FaultKind::kTooManyTokens:
      return "too many tokens";
    case FaultKind::kLongToken:
      return "long token";
    case FaultKind::kRaw:
      return "raw";
    case FaultKind::kBlockTooLarge:
      return "block too large";
    case FaultKind::kRecordOverrun:
      return "record overrun";
    case FaultKind::kCloseMidBlock:
      return "close mid-block";
    case FaultKind::kBareVideoBlock:
      return "bare video block";
    case FaultKind::kBareAudioBlock:
      return "bare audio block";
  }
  return "?";
}

// Returns the IPv4 address of a connection's peer as dotted text, or "" when unknown.
std::string peer_address(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  char text[INET_ADDRSTRLEN] = {};
  if (::getpeername(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0 || sa.sin_family != AF_INET ||
      ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text) == nullptr) {
    return {};
  }
  return text;
}

std::string fault_note(const std::optional<Fault>& fault) {
  if (!fault) return {};
  return std::string(" [fault: ") + fault_name(fault->kind) + "]";
}

}  // namespace

// ---- Start, stop and the accepting thread ----

Recorder::Impl::Impl(RecorderOptions opts)
    : options(std::move(opts)),
      downloads(options.recording),
      live(
          options.live, options.address,
          [this] {
            std::lock_guard<std::mutex> lock(mu);
            return state.clock_since_2000();
          },
          [this](const std::string& text) { event(text); }) {
  state.recording = options.recording;
}

bool Recorder::Impl::start(std::string* error) {
  auto fail = [&](const std::string& message) {
    for (int fd : listeners) ::close(fd);
    listeners.clear();
    if (stop_fd >= 0) ::close(stop_fd);
    stop_fd = -1;
    if (error != nullptr) *error = message;
    return false;
  };
  if (running) return fail("the recorder is already running");
  in_addr addr{};
  if (::inet_pton(AF_INET, options.address.c_str(), &addr) != 1) {
    return fail("not an IPv4 address: " + options.address);
  }
  stop_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stop_fd < 0) return fail(std::string("eventfd: ") + std::strerror(errno));
  for (int slot = 0; slot < kSlotCount; ++slot) {
    for (int port : {login_port(slot), command_port(slot)}) {
      int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) return fail(std::string("socket: ") + std::strerror(errno));
      listeners.push_back(fd);
      int one = 1;
      ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
      sockaddr_in sa{};
      sa.sin_family = AF_INET;
      sa.sin_addr = addr;
      sa.sin_port = htons(static_cast<uint16_t>(port));
      if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
          ::listen(fd, kListenBacklog) != 0) {
        return fail("cannot listen on " + options.address + ":" + std::to_string(port) + ": " +
                    std::strerror(errno));
      }
    }
  }
  {
    std::lock_guard<std::mutex> lock(mu);
    std::random_device rd;
    next_link = rd();
  }
  running = true;
  acceptor = std::thread([this] { accept_loop(); });
  event("recorder listening on " + options.address + " ports " + std::to_string(login_port(0)) +
        ".." + std::to_string(command_port(kSlotCount - 1)));
  return true;
}

void Recorder::Impl::stop() {
  // The live stream may outlive the connection that started it; it ends with the recorder.
  live.stop();
  if (!running) return;
  uint64_t one = 1;
  // The stop descriptor stays readable from here on: every poll of every thread sees it.
  [[maybe_unused]] ssize_t n = ::write(stop_fd, &one, sizeof one);
  acceptor.join();
  shutdown_sessions(true);
  reap_sessions(true);
  for (int fd : listeners) ::close(fd);
  listeners.clear();
  ::close(stop_fd);
  stop_fd = -1;
  running = false;
  event("recorder stopped");
}

void Recorder::Impl::accept_loop() {
  std::vector<pollfd> fds;
  for (int fd : listeners) fds.push_back({fd, POLLIN, 0});
  fds.push_back({stop_fd, POLLIN, 0});
  for (;;) {
    int n = ::poll(fds.data(), fds.size(), -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || fds.back().revents != 0) return;
    for (size_t i = 0; i + 1 < fds.size(); ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      sockaddr_in peer{};
      socklen_t len = sizeof peer;
      int fd = ::accept4(fds[i].fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
      if (fd < 0) continue;  // the client gave up before we took it
      // Each reply is one send; it must leave at once, not wait for the previous one's ACK.
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto s = std::make_unique<Session>();
      s->fd = fd;
      s->slot = static_cast<int>(i / 2);
      s->command = i % 2 == 1;
      Session* raw = s.get();
      std::lock_guard<std::mutex> lock(sessions_mu);
      sessions.push_back(std::move(s));
      raw->thread = std::thread([this, raw] {
        if (raw->command) {
          serve_command(raw);
        } else {
          serve_login(raw);
        }
        int fd_to_close;
        {
          std::lock_guard<std::mutex> guard(sessions_mu);
          fd_to_close = raw->fd;
          raw->fd = -1;
        }
        ::close(fd_to_close);
        raw->finished = true;
      });
    }
    reap_sessions(false);
  }
}

void Recorder::Impl::shutdown_sessions(bool all) {
  std::lock_guard<std::mutex> lock(sessions_mu);
  for (auto& s : sessions) {
    if (s->fd >= 0 && (all || s->command)) ::shutdown(s->fd, SHUT_RDWR);
  }
}

void Recorder::Impl::reap_sessions(bool all) {
  std::list<std::unique_ptr<Session>> done;
  {
    std::lock_guard<std::mutex> lock(sessions_mu);
    for (auto it = sessions.begin(); it != sessions.end();) {
      if (all || (*it)->finished) {
        done.push_back(std::move(*it));
        it = sessions.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (auto& s : done) s->thread.join();
}

// ---- Small shared pieces ----

void Recorder::Impl::event(const std::string& text) {
  if (!options.on_event) return;
  std::lock_guard<std::mutex> lock(event_mu);
  options.on_event(text);
}

void Recorder::Impl::record_line(int slot, const std::string& line) {
  std::lock_guard<std::mutex> lock(mu);
  lines[static_cast<size_t>(slot)].push_back(line);
}

bool Recorder::Impl::in_reboot_window() const {
  std::lock_guard<std::mutex> lock(mu);
  return std::chrono::steady_clock::now() < reboot_until;
}

std::string Recorder::Impl::make_greeting() const {
  // An empty information text is sent as one zero byte, which reads back as empty; the
  // greeting keeps its 8 tokens.
  std::string info = options.info.empty() ? "00" : detail::encode_hex(options.info);
  std::string out;
  for (const char* t : {kGreetingModel, kGreetingFirmware, kGreetingChannels, kGreetingSerial}) {
    out += t;
    out += ' ';
  }
  out += info;
  for (const char* t : {kGreetingDisk, kGreetingVideo, kGreetingState}) {
    out += ' ';
    out += t;
  }
  return out + "\r\n";
}

std::string Recorder::Impl::issue_link(int slot) {
  std::lock_guard<std::mutex> lock(mu);
  // An odd step visits every 32-bit value before repeating, so link IDs stay fresh.
  next_link += 0x9E3779B1u;
  std::string link = "ID" + detail::hex_text(next_link, 8);
  auto& q = links[static_cast<size_t>(slot)];
  q.push_back(link);
  if (q.size() > kLinksKept) q.pop_front();
  return link;
}

bool Recorder::Impl::accept_link(int slot, std::string_view link) {
  std::lock_guard<std::mutex> lock(mu);
  auto& q = links[static_cast<size_t>(slot)];
  for (auto it = q.begin(); it != q.end(); ++it) {
    if (*it == link) {
      q.erase(it);  // a link ID opens one command connection
      return true;
    }
  }
  return false;
}

void Recorder::Impl::begin_reboot() {
  {
    std::lock_guard<std::mutex> lock(mu);
    ++reboots;
    reboot_until = std::chrono::steady_clock::now() + std::chrono::milliseconds(options.reboot_ms);
    for (auto& q : links) q.clear();
  }
  event("recorder rebooting for " + std::to_string(options.reboot_ms) + " ms");
}

// ---- The login connection ----

void Recorder::Impl::serve_login(Session* session) {
  const int slot = session->slot;
  Connection conn(session->fd, stop_fd);
  auto keep_line = [&](const std::string& l) { record_line(slot, l); };
  {
    std::lock_guard<std::mutex> lock(mu);
    ++logins[static_cast<size_t>(slot)];
  }
  if (in_reboot_window()) {
    event(slot_prefix(slot) + "login connection closed: rebooting");
    return;
  }

  auto gf = faults.take(Stage::kGreeting, {}, slot);
  event(slot_prefix(slot) + "login connection" + fault_note(gf));
  if (gf && gf->kind == FaultKind::kHoldGreeting) {
    if (gf->delay_ms > 0) {
      conn.pause(gf->delay_ms);
    } else {
      conn.drain_until_closed(keep_line);
    }
    return;
  }
  std::string greeting = make_greeting();
  if (gf) greeting = detail::reshape(*gf, greeting, {});
  if (!detail::send_shaped(conn, greeting, gf)) return;
  // A busy recorder says so and hangs up.
  if (gf && gf->kind == FaultKind::kBusy) return;

  std::string line;
  Connection::Read r = conn.read_line(&line);
  if (!line.empty()) keep_line(line);
  if (r != Connection::Read::kOk && r != Connection::Read::kOverlong) return;

  auto pf = faults.take(Stage::kPassword, {}, slot);
  bool refused = pf && (pf->kind == FaultKind::kRefusePassword || pf->kind == FaultKind::kNg);
  bool matches = r == Connection::Read::kOk &&
                 line == "PASSWORD " + detail::password_digits(options.password) + "\n";
  std::string reply = "NG\r\n";
  if (matches && !refused) {
    reply = "OK " + detail::hex_text(static_cast<uint32_t>(command_port(slot)), 4) + " " +
            issue_link(slot) + "\r\n";
  }
  event(slot_prefix(slot) + (matches ? "password accepted -> " : "password refused -> ") +
        printable(reply) + fault_note(pf));
  if (pf) reply = detail::reshape(*pf, reply, {});
  if (!detail::send_shaped(conn, reply, pf)) return;
  // The client closes the login connection once it holds the link ID.
  conn.drain_until_closed(keep_line);
}

// ---- The command connection ----

void Recorder::Impl::serve_command(Session* session) {
  const int slot = session->slot;
  Connection conn(session->fd, stop_fd);
  if (in_reboot_window()) {
    event(slot_prefix(slot) + "command connection closed: rebooting");
    return;
  }

  // The first line names the link ID the login handed out: "ID = <link>\n".
  std::string line;
  Connection::Read r = conn.read_line(&line);
  if (!line.empty()) record_line(slot, line);
  if (r != Connection::Read::kOk && r != Connection::Read::kOverlong) return;
  auto lf = faults.take(Stage::kLink, {}, slot);
  bool refused = lf && (lf->kind == FaultKind::kRefuseLink || lf->kind == FaultKind::kNg);
  constexpr std::string_view kLinkPrefix = "ID = ";
  bool valid = r == Connection::Read::kOk && line.size() > kLinkPrefix.size() + 1 &&
               line.compare(0, kLinkPrefix.size(), kLinkPrefix) == 0 && !refused &&
               accept_link(slot, std::string_view(line).substr(
                                     kLinkPrefix.size(), line.size() - kLinkPrefix.size() - 1));
  std::string reply = valid ? "OK\r\n" : "NG\r\n";
  event(slot_prefix(slot) + "command connection, " + printable(line) + " -> " + printable(reply) +
        fault_note(lf));
  if (lf) reply = detail::reshape(*lf, reply, {});
  bool keep = detail::send_shaped(conn, reply, lf);
  // A refused link is hung up.
  if (!valid || !keep) return;

  {
    std::lock_guard<std::mutex> lock(mu);
    ++open_commands[static_cast<size_t>(slot)];
  }
  command_loop(conn, slot, peer_address(session->fd));
  {
    std::lock_guard<std::mutex> lock(mu);
    --open_commands[static_cast<size_t>(slot)];
  }
}

void Recorder::Impl::command_loop(Connection& conn, int slot, const std::string& peer) {
  // A block (menu or play list) waits for its trigger line; any other line drops it.
  std::string trigger;
  std::string block;
  int64_t block_cut = -1;
  std::string line;
  for (;;) {
    Connection::Read r = conn.read_line(&line);
    if (r == Connection::Read::kClosed || r == Connection::Read::kStopped) {
      if (!line.empty()) record_line(slot, line);
      return;
    }
    record_line(slot, line);
    if (r == Connection::Read::kOverlong) {
      std::string_view head(line);
      std::string id(head.substr(0, 10));
      std::string reply = detail::is_command_id(id) ? id + " NG\r\n" : "NG\r\n";
      event(slot_prefix(slot) + "line too long -> " + printable(reply));
      trigger.clear();
      if (!conn.send_text(reply)) return;
      continue;
    }

    if (!trigger.empty() && line == trigger) {
      auto bf = faults.take(Stage::kBlock, {}, slot);
      std::string text = bf ? detail::reshape(*bf, block, {}) : block;
      event(slot_prefix(slot) + printable(line) + " -> block of " + std::to_string(block.size()) +
            " bytes" + fault_note(bf));
      trigger.clear();
      if (block_cut >= 0) {
        // A download step cut short: part of its blocks, then the connection goes down.
        conn.send_text(std::string_view(text).substr(
            0, std::min(text.size(), static_cast<size_t>(block_cut))));
        return;
      }
      if (!detail::send_shaped(conn, text, bf)) return;
      continue;
    }
    trigger.clear();
    // A trigger line that nothing waits for is not a command and gets no answer.
    if (line == "dummy\n" || line == "JpegSendStart\n") {
      event(slot_prefix(slot) + printable(line) + " (nothing to send)");
      continue;
    }

    std::string_view body(line);
    body.remove_suffix(1);  // the "\n"
    detail::Command cmd;
    detail::ParseResult pr = detail::parse_command(body, &cmd);
    if (pr != detail::ParseResult::kOk) {
      std::string reply = pr == detail::ParseResult::kBadId ? "NG\r\n" : cmd.id + " NG\r\n";
      event(slot_prefix(slot) + printable(line) + " -> " + printable(reply) + " (malformed)");
      if (!conn.send_text(reply)) return;
      continue;
    }

    auto cf = faults.take(Stage::kCommand, cmd.word, slot);
    detail::Outcome out;
    std::string note;
    if (cf && cf->kind == FaultKind::kNg) {
      out.reply = cmd.id + " NG\r\n";  // refused: nothing is carried out
    } else if (detail::is_live_command(cmd.word)) {
      out = detail::execute_live_command(cmd, live, peer, &note);
    } else if (detail::DownloadServer::handles(cmd.word)) {
      out = downloads.execute(cmd, slot, cf);  // encodes on first use: not under `mu`
    } else {
      std::lock_guard<std::mutex> lock(mu);
      out = state.execute(cmd);
      if (out.upload_length >= 0) {
        int serial = upload.serial + 1;
        upload = UpdateUpload{};
        upload.serial = serial;
        upload.kind = static_cast<uint32_t>(cmd.values[0]);
        upload.announced = static_cast<uint32_t>(out.upload_length);
      }
    }
    std::string text = cf ? detail::reshape(*cf, out.reply, cmd.id) : out.reply;
    event(slot_prefix(slot) + printable(line) + " -> " + printable(text) + fault_note(cf) +
          (note.empty() ? "" : " (" + note + ")"));
    // Like every command, a reboot has taken effect by the time its reply is out.
    if (out.reboot) begin_reboot();
    bool keep = detail::send_shaped(conn, text, cf);

    if (out.upload_length >= 0) {
      // The upload is raw bytes, newlines and zeros included, not lines.
      std::vector<uint8_t> data;
      Connection::Read ur = Connection::Read::kClosed;
      if (keep) {
        data.reserve(static_cast<size_t>(std::min<int64_t>(out.upload_length, 1 << 20)));
        ur = conn.read_bytes(static_cast<size_t>(out.upload_length), options.upload_idle_ms, &data);
      }
      size_t got = data.size();
      {
        std::lock_guard<std::mutex> lock(mu);
        upload.data = std::move(data);
        upload.finished = true;
      }
      upload_cv.notify_all();
      event(slot_prefix(slot) + "upload " + std::to_string(got) + " of " +
            std::to_string(out.upload_length) + " bytes" +
            (ur == Connection::Read::kOk ? "" : " (incomplete)"));
      if (ur == Connection::Read::kClosed || ur == Connection::Read::kStopped) return;
    }
    if (out.reboot) {
      // The reply is out; now every connection of every slot goes down, this one too.
      shutdown_sessions(true);
      return;
    }
    if (!keep) return;
    if (!out.trigger.empty()) {
      trigger = out.trigger;
      block = std::move(out.block);
      block_cut = out.block_cut;
    }
  }
}

// ---- The public class ----

Recorder::Recorder(RecorderOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Recorder::~Recorder() {
  impl_->stop();
}

bool Recorder::start(std::string* error) {
  return impl_->start(error);
}
void Recorder::stop() {
  impl_->stop();
}
bool Recorder::running() const {
  return impl_->running;
}

void Recorder::inject(Fault fault) {
  impl_->faults.add(std::move(fault));
}
void Recorder::clear_faults() {
  impl_->faults.clear();
}
int Recorder::pending_faults() const {
  return impl_->faults.pending();
}

std::vector<std::string> Recorder::received_lines(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return {};
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->lines[static_cast<size_t>(slot)];
}

void Recorder::clear_received_lines() {
  std::lock_guard<std::mutex> lock(impl_->mu);
  for (auto& l : impl_->lines) l.clear();
}

std::string Recorder::greeting() const {
  return impl_->make_greeting();
}

std::string Recorder::clock_text() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.clock_text();
}

bool Recorder::set_clock(std::string_view date, std::string_view time) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.set_clock(date, time);
}

uint32_t Recorder::switch_value(SwitchTable table, uint32_t item) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.switch_value(table, item);
}

void Recorder::set_switch_value(SwitchTable table, uint32_t item, uint32_t value) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->state.switches[static_cast<size_t>(table)][item] = value;
}

std::map<uint32_t, uint32_t> Recorder::switch_table(SwitchTable table) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.switches[static_cast<size_t>(table)];
}

std::array<uint32_t, 4> Recorder::combi_words(uint32_t group) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.combi_words(group);
}

uint32_t Recorder::status_word(uint32_t item) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.status_word(item);
}

void Recorder::set_status_word(uint32_t item, uint32_t value) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->state.status[item] = value;
}

PlayState Recorder::play_state() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->state.play;
}

std::optional<uint32_t> Recorder::store_value(Store store, uint32_t k1, uint32_t k2,
                                              uint32_t k3) const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  const auto& s = impl_->state.stores[static_cast<size_t>(store)];
  auto it = s.find({k1, k2, k3});
  if (it == s.end()) return std::nullopt;
  return it->second;
}

void Recorder::set_store_value(Store store, uint32_t k1, uint32_t k2, uint32_t k3, uint32_t value) {
  std::lock_guard<std::mutex> lock(impl_->mu);
  impl_->state.stores[static_cast<size_t>(store)][{k1, k2, k3}] = value;
}

std::string Recorder::menu_block(uint32_t menu) {
  return detail::menu_block(menu);
}
std::string Recorder::play_list_block(uint32_t list, const RecordingOptions& recording) {
  return detail::play_list_block(list, recording);
}
std::vector<std::string> Recorder::recorded_ranges(const RecordingOptions& recording) {
  return detail::recorded_ranges(recording);
}

UpdateUpload Recorder::last_update() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->upload;
}

bool Recorder::wait_for_update(int timeout_ms, UpdateUpload* out) const {
  std::unique_lock<std::mutex> lock(impl_->mu);
  bool done = impl_->upload_cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
    return impl_->upload.serial > 0 && impl_->upload.finished;
  });
  if (done && out != nullptr) *out = impl_->upload;
  return done;
}

int Recorder::login_count(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->logins[static_cast<size_t>(slot)];
}

int Recorder::command_connections(int slot) const {
  if (slot < 0 || slot >= kSlotCount) return 0;
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->open_commands[static_cast<size_t>(slot)];
}

int Recorder::reboot_count() const {
  std::lock_guard<std::mutex> lock(impl_->mu);
  return impl_->reboots;
}

bool Recorder::rebooting() const {
  return impl_->in_reboot_window();
}

std::vector<DownloadStep> Recorder::download_steps(int slot) const {
  return impl_->downloads.steps_sent(slot);
}

Recording& Recorder::recording() {
  return impl_->downloads.recording();
}

LiveStream& Recorder::live() {
  return impl_->live;
}

}  // namespace virazav::sim
