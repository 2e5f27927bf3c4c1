// The receive routines of the command connection: one reply, one block, one
// block into a caller buffer, and exact counts through the slot's carry-over
// buffer. Sockets are non-blocking; waits use poll with the same bounds a
// 1 ms polling loop would have.
#include <cstring>

#include "command/connection.h"
#include "command/tcpetc.h"
#include "diag/log.h"
#include "virazav.h"

namespace virazav::command {
namespace {

// Receives once into buffer[0..n) within limit_ms. Returns the count (> 0), 0
// when the peer closed the connection, -e for socket error e, or -10035 when
// the limit passed without data.
long receive_once(platform::Socket s, void* buffer, size_t n, int limit_ms, int* error) {
  const uint32_t start = platform::tick_ms();
  // Waiting first saves the receive that would only report "nothing yet" right
  // after a command went out; a poll failure falls back to the millisecond pace.
  if (platform::wait_readable(s, limit_ms) < 0) platform::sleep_ms(1);
  for (;;) {
    long r = platform::recv_bytes(s, buffer, n);
    if (r >= 0) return r;
    int e = platform::last_socket_error();
    if (e != platform::kWsaWouldBlock) {
      *error = e;
      return -e;
    }
    int spent = static_cast<int>(platform::tick_ms() - start);
    if (spent >= limit_ms) {
      *error = platform::kWsaWouldBlock;
      return -platform::kWsaWouldBlock;
    }
    if (platform::wait_readable(s, limit_ms - spent) < 0) platform::sleep_ms(1);
  }
}

}  // namespace

namespace {

// One reply-style receive of at most n bytes: the count, -10101 when the peer
// closed, -e on socket error e ("recv_err"), -10035 after 10 s ("recv_err2").
int receive_reply_n(platform::Socket s, void* buffer, size_t n) {
  int error = 0;
  long r = receive_once(s, buffer, n, kReplyTimeoutMs, &error);
  if (r > 0) return static_cast<int>(r);
  if (r == 0) {
    diag::log_value("recv_err", platform::kWsaDisconnected);
    return -platform::kWsaDisconnected;
  }
  if (error == platform::kWsaWouldBlock) {
    diag::log_value("recv_err2", platform::kWsaWouldBlock);
  } else {
    diag::log_value("recv_err", static_cast<uint32_t>(error));
  }
  return static_cast<int>(r);
}

}  // namespace

int receive_reply(platform::Socket s, char* buffer) {
  return receive_reply_n(s, buffer, kReplyBufferSize);
}

long receive_block(platform::Socket s, uint8_t* buffer, int limit_ms) {
  int error = 0;
  return receive_once(s, buffer, kBlockSize, limit_ms, &error);
}

long receive_block_into(platform::Socket s, int /*slot*/, uint8_t* dest, size_t size,
                        int limit_ms) {
  platform::Buffer temp(kBlockSize);
  if (!temp.ok()) return VIRAZAV_ERR_NO_MEMORY;
  long r = receive_block(s, temp.data(), limit_ms);
  if (r <= 0) return r;
  size_t take = static_cast<size_t>(r) < size ? static_cast<size_t>(r) : size;
  if (dest != nullptr && take > 0) std::memcpy(dest, temp.data(), take);
  return static_cast<long>(size);
}

long receive_exact(platform::Socket s, int slot, uint8_t* dest, size_t count) {
  Slot& st = slot_state(slot);
  if (st.carry == nullptr) {
    st.carry = static_cast<uint8_t*>(platform::alloc_zeroed(kCarryOverSize));
    if (st.carry == nullptr) return VIRAZAV_ERR_NO_MEMORY;
    st.carry_offset = 0;
    st.carry_left = 0;
  }
  if (st.carry_left >= count) {
    std::memcpy(dest, st.carry + st.carry_offset, count);
    st.carry_offset += count;
    st.carry_left -= count;
    return static_cast<long>(count);
  }
  size_t done = 0;
  if (st.carry_left > 0) {
    std::memcpy(dest, st.carry + st.carry_offset, st.carry_left);
    done = st.carry_left;
    st.carry_offset = 0;
    st.carry_left = 0;
  }
  while (done < count) {
    // While at least a whole reply-sized piece is still wanted, no receive can
    // bring more than wanted, so it goes straight to the destination; the last
    // piece goes through the carry-over buffer, which keeps what came beyond.
    if (count - done >= kReplyBufferSize) {
      int r = receive_reply_n(s, dest + done, count - done);
      if (r == -platform::kWsaDisconnected) return static_cast<long>(done);
      if (r < 0) return r;
      done += static_cast<size_t>(r);
      continue;
    }
    int r = receive_reply(s, reinterpret_cast<char*>(st.carry));
    // A closed connection delivers what came before it.
    if (r == -platform::kWsaDisconnected) return static_cast<long>(done);
    if (r < 0) return r;
    size_t got = static_cast<size_t>(r);
    size_t want = count - done;
    if (got <= want) {
      std::memcpy(dest + done, st.carry, got);
      done += got;
    } else {
      std::memcpy(dest + done, st.carry, want);
      st.carry_offset = want;
      st.carry_left = got - want;
      done = count;
    }
  }
  return static_cast<long>(count);
}

}  // namespace virazav::command
