// The generic accepted TCP connection: the socket it owns, bounded sends and
// receives that never raise SIGPIPE, the liveness probe, and the wake-up its
// owner can raise to cut a receive wait short. Knows nothing of payments.
#pragma once

#include "common/EventFd.h"
#include "common/PosixFile.h"
#include "common/TimeLimits.h"

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace paxelle {

// A wake-up any thread may raise and one owner waits for by polling Fd(): an
// eventfd, so raising it never blocks and repeated raises merge into one.
class WakeSignal {
 public:
  // IsValid() is false when the system refused the eventfd; Signal and Clear
  // then do nothing and waits simply run to their time-out.
  WakeSignal() { fd_.Open(); }
  WakeSignal(const WakeSignal&) = delete;
  WakeSignal& operator=(const WakeSignal&) = delete;

  bool IsValid() const { return fd_.IsValid(); }
  // Readable from Signal until Clear.
  int Fd() const { return fd_.Fd(); }
  // Raises the wake-up; safe from any thread, never blocks.
  void Signal() const { fd_.Signal(); }
  // Consumes the wake-up; true when it had been raised.
  bool Clear() const { return fd_.Drain(); }
  // Waits at most `timeout` for the wake-up without consuming it; true when raised.
  bool WaitFor(std::chrono::milliseconds timeout) const;

 private:
  EventFd fd_;
};

// What a listener shares with the connections it serves; they hold it by
// shared ownership so reading it never depends on the listener's lifetime.
struct ListenerShared {
  std::atomic<bool> goingOffline{false};
};

class CSocketConnection {
 public:
  CSocketConnection() = default;
  // Shuts the socket down in both directions and closes it.
  virtual ~CSocketConnection();
  CSocketConnection(const CSocketConnection&) = delete;
  CSocketConnection& operator=(const CSocketConnection&) = delete;

  // Hands over the accepted socket, its peer and the listener's shared state;
  // called once by the listener before Serve or Refuse.
  void Attach(UniqueFd socket, const sockaddr_in& peer, std::shared_ptr<const ListenerShared> listener);

  // Runs a connection within the listener's limit; returns when it is over.
  virtual void Serve() = 0;
  // Runs a connection over the limit; returns when it is over.
  virtual void Refuse() = 0;

  // Sends every byte of `text` (MSG_NOSIGNAL, interrupted and partial sends
  // continued) within the send time-out in all. Returns the byte count, or -1
  // when the socket fails or the time-out passes first.
  int Send(std::string_view text);
  // Waits at most `timeout` for the socket to become readable (or the wake
  // signal, when one is set, to be raised: that wait ends at once and consumes
  // the signal), then reads at most `size` bytes. Returns the byte count; 0 on
  // time-out, on a wake-up or when the peer closed; -1 on a socket error. A
  // `timeout` of 0 skips the wait: the read itself may then block for up to
  // the socket's receive time-out.
  int Receive(char* buffer, std::size_t size, std::chrono::milliseconds timeout);
  // False when the connection is dead: the peer closed it in order or reset it,
  // or the socket is unusable. An idle open connection is alive. Never blocks
  // and consumes nothing.
  bool IsAlive();

  // The peer's IPv4 address in dotted decimal.
  std::string PeerAddressText() const;
  // The socket descriptor's number (-1 before Attach).
  int SocketNumber() const { return socket_.Get(); }
  // The socket's receive and send time-out options; false when refused.
  bool SetReceiveTimeout(std::chrono::milliseconds timeout);
  bool SetSendTimeout(std::chrono::milliseconds timeout);
  // Also wait for `signal` in Receive (null: the socket alone).
  void SetWakeSignal(std::shared_ptr<const WakeSignal> signal) { wake_ = std::move(signal); }

  // The listener's going-offline flag (false before Attach).
  bool IsGoingOffline() const;

 private:
  UniqueFd socket_;
  sockaddr_in peer_{};
  std::shared_ptr<const ListenerShared> listener_;
  std::shared_ptr<const WakeSignal> wake_;
  std::chrono::milliseconds sendTimeout_ = kClientSocketLimit;
};

}  // namespace paxelle
