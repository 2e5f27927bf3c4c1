#include "test_player.h"

#include <cstring>

#include "platform/platform.h"
#include "player/snapshot.h"

namespace virazav::testing {
namespace {

RecordingPlayer* g_player = nullptr;

PlayerCall make_call(PlayerOp op, int a = 0, int b = 0, int c = 0, int d = 0) {
  PlayerCall call;
  call.op = op;
  call.a = a, call.b = b, call.c = c, call.d = d;
  return call;
}

}  // namespace

uint64_t digest_of(const uint8_t* data, size_t length) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (size_t i = 0; i < length; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h ^ length;
}

RecordingPlayer::RecordingPlayer() {
  table_ = player::PlayerLibrary{
      open,           add_ring,   sound_change, stop_play_thread,  err_flag_status, err_flag_reset,
      set_init_again, get_ch_bmp, get_bmpdata,  no_audio_mode_set, set_viewer_mode};
  g_player = this;
  player::set_player_library(&table_);
}

RecordingPlayer::~RecordingPlayer() {
  player::set_player_library(nullptr);
  g_player = nullptr;
}

void RecordingPlayer::record(PlayerCall call) {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.push_back(std::move(call));
}

std::vector<PlayerCall> RecordingPlayer::calls() const {
  std::lock_guard<std::mutex> hold(lock_);
  return calls_;
}

std::vector<PlayerCall> RecordingPlayer::offers() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<PlayerCall> out;
  for (const PlayerCall& c : calls_)
    if (c.op == PlayerOp::kAddRing) out.push_back(c);
  return out;
}

std::vector<PlayerCall> RecordingPlayer::taken() const {
  std::lock_guard<std::mutex> hold(lock_);
  std::vector<PlayerCall> out;
  for (const PlayerCall& c : calls_)
    if (c.op == PlayerOp::kAddRing && c.taken) out.push_back(c);
  return out;
}

int RecordingPlayer::count(PlayerOp op) const {
  std::lock_guard<std::mutex> hold(lock_);
  int n = 0;
  for (const PlayerCall& c : calls_) n += c.op == op ? 1 : 0;
  return n;
}

void RecordingPlayer::clear() {
  std::lock_guard<std::mutex> hold(lock_);
  calls_.clear();
}

void RecordingPlayer::refuse_next(int n) {
  std::lock_guard<std::mutex> hold(lock_);
  refuse_next_ = n;
}

void RecordingPlayer::refuse_all(bool on) {
  std::lock_guard<std::mutex> hold(lock_);
  refuse_all_ = on;
}

bool RecordingPlayer::wait_taken(size_t n, int timeout_ms) const {
  for (int waited = 0; taken().size() < n; waited += 2) {
    if (waited >= timeout_ms) return false;
    platform::sleep_ms(2);
  }
  return true;
}

bool RecordingPlayer::wait_offers(size_t n, int timeout_ms) const {
  for (int waited = 0; offers().size() < n; waited += 2) {
    if (waited >= timeout_ms) return false;
    platform::sleep_ms(2);
  }
  return true;
}

int RecordingPlayer::open(int a, int b, int c, int d) {
  g_player->record(make_call(PlayerOp::kOpen, a, b, c, d));
  return g_player->open_result;
}

int RecordingPlayer::add_ring(int ring, const uint8_t* data, int length, int special, int speed) {
  PlayerCall call = make_call(PlayerOp::kAddRing, ring, length, special, speed);
  if (data != nullptr && length > 0) {
    call.digest = digest_of(data, static_cast<size_t>(length));
    if (g_player->keep_data) call.data.assign(data, data + length);
  }
  {
    std::lock_guard<std::mutex> hold(g_player->lock_);
    call.taken = !g_player->refuse_all_ && g_player->refuse_next_ == 0;
    if (g_player->refuse_next_ > 0) --g_player->refuse_next_;
    g_player->calls_.push_back(call);
  }
  return call.taken ? 0 : 1;
}

void RecordingPlayer::sound_change(int value) {
  g_player->record(make_call(PlayerOp::kSoundChange, value));
}

void RecordingPlayer::stop_play_thread() {
  g_player->record(make_call(PlayerOp::kStopPlayThread));
}

int RecordingPlayer::err_flag_status() {
  g_player->record(make_call(PlayerOp::kErrFlagStatus));
  return g_player->err_status;
}

void RecordingPlayer::err_flag_reset() {
  g_player->record(make_call(PlayerOp::kErrFlagReset));
}

void RecordingPlayer::set_init_again() {
  g_player->record(make_call(PlayerOp::kSetInitAgain));
}

int RecordingPlayer::get_ch_bmp(int channel, uint8_t* buffer, int* width, int* height) {
  PlayerCall call = make_call(PlayerOp::kGetChBmp, channel);
  call.pointer = buffer;
  call.pointer2 = width;
  call.d = height != nullptr ? 1 : 0;
  g_player->record(call);
  if (width != nullptr) *width = g_player->ch_width;
  if (height != nullptr) *height = g_player->ch_height;
  if (buffer != nullptr) std::memset(buffer, g_player->ch_fill, 16);
  return g_player->ch_bmp_result;
}

void RecordingPlayer::get_bmpdata(int* layout, int* first, int* second, uint8_t* pixels,
                                  void* pass) {
  PlayerCall call = make_call(PlayerOp::kGetBmpData);
  call.pointer = pass;
  call.pointer2 = pixels;
  g_player->record(call);
  *layout = g_player->layout;
  *first = g_player->first;
  *second = g_player->second;
  // The whole buffer the caller allocates: 480 rows of 2112 bytes and one more.
  for (int r = 0; r < player::kCompositeHeight; ++r) {
    for (int i = 0; i < static_cast<int>(player::kCompositeRowBytes); ++i) {
      pixels[player::kCompositeRowBytes * r + i] = g_player->pattern ? g_player->pattern(r, i) : 0;
    }
  }
  pixels[player::kCompositeBytes] = 0x5A;
}

int RecordingPlayer::no_audio_mode_set(int value) {
  g_player->record(make_call(PlayerOp::kNoAudioModeSet, value));
  return g_player->no_audio_result;
}

int RecordingPlayer::set_viewer_mode(int a, int b) {
  g_player->record(make_call(PlayerOp::kSetViewerMode, a, b));
  return g_player->viewer_result;
}

}  // namespace virazav::testing
