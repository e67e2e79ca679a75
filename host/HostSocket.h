// The plain TCP client beneath the host TLS link: name resolution, a connect with a
// time-out of its own, receives that give up on time-out, close or interface stop, and
// the last failure as a number and a text.
#pragma once

#include "common/Event.h"
#include "common/PosixFile.h"
#include "common/TimeLimits.h"
#include "common/TrafficLog.h"
#include "host/HostAddressCache.h"

#include <netinet/in.h>

#include <string>

namespace paxelle {

// Error codes of the host socket; any other code is an errno or resolver value.
enum HostSocketError : int {
  kHostSocketNoError = 9999,         // nothing has failed since construction
  kHostSocketSendFailed = 3003,
  kHostSocketCreateFailed = 3005,
  kHostSocketConnectFailed = 3006,   // refused, unreachable, timed out or stopped
};

class CHostSocket {
 public:
  // Holds no socket; the last error code is 9999 (there is no socket library to start).
  // Every wait gives up once `stopping` (the interfaces-stopping event, which must
  // outlive the socket) is set; with null, every wait runs to its own limit.
  explicit CHostSocket(const Event* stopping);
  // Closes the socket when one is open.
  virtual ~CHostSocket();
  CHostSocket(const CHostSocket&) = delete;
  CHostSocket& operator=(const CHostSocket&) = delete;

  // Resolves `name` and connects to its first IPv4 address on `port` within `timeout`.
  // Any connection held before is closed first. False with the last error set (a failed
  // lookup carries the resolver's code); no socket is left open. With `addresses`
  // (which must outlive the call) an address kept there is used without a lookup, a
  // looked-up one is kept, and one whose connect failed is forgotten.
  bool ConnectByName(const std::string& name, int port, milliseconds timeout, CHostAddressCache* addresses = nullptr);
  // Connects to `address` (family, port and address in network order) within
  // `timeout`, giving up early when the interfaces-stopping event is set. On success
  // the socket is blocking again. False with the last error set; no socket is left open.
  bool ConnectAddress(const sockaddr_in& address, milliseconds timeout);
  // Shuts the connection down both ways and closes it; true, also when none was open.
  bool Close();

  // Sends all `length` bytes of `data` (a partial send never loses bytes); returns
  // `length`, 0 for an empty buffer without touching the socket, -1 on error (3003).
  // A peer that takes nothing for 10 s, or the interfaces stopping, is an error too.
  int Send(const char* data, int length);
  // Waits at most `timeout` for bytes and reads up to `size` of them into `buffer`.
  // Returns the count; 0 on time-out, when the peer closed or reset the connection, when
  // the interfaces-stopping event is set, or without a socket; -1 on a read error.
  int Receive(char* buffer, int size, milliseconds timeout);

  // True when bytes wait to be read.
  bool BytesAvailable() const;
  // False without a socket or when the peer has closed or reset the connection; an idle
  // open connection is alive.
  bool IsAlive() const;

  int LastErrorCode() const;
  std::string LastErrorText() const;

 protected:
  // Records a failure; `format` must be a literal (callers' texts go in as arguments).
  void SetLastError(int code, const char* format, ...) PAXELLE_PRINTF(3, 4);
  // The errno behind the last failed Send or Receive (0 when it had none).
  int LastSystemError() const { return systemError_; }

 private:
  void CloseQuietly();
  bool Stopping() const { return stopping_ != nullptr && stopping_->IsSet(); }

  const Event* const stopping_;
  UniqueFd socket_;
  sockaddr_in address_{};
  int lastErrorCode_ = kHostSocketNoError;
  std::string lastErrorText_;
  int systemError_ = 0;
};

}  // namespace paxelle
