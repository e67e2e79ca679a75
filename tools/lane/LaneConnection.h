// One lane's connection to the server: connect, log in, send encrypted
// requests and aborts, and read the server's frames as clear documents.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

#include "tools/lane/LaneCrypto.h"
#include "tools/lane/LaneEnvelope.h"
#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneServerKey.h"
#include "tools/lane/LaneSocket.h"

namespace paxelle::lane {

struct LoginResult {
  int code = -1;          // OPXXReturnCode of the server's last reply (0 greeting, 2000 verified, 2009, ...)
  std::string status;     // its CmdStatus
  std::string text;       // its TextResponse
  bool verified = false;  // reply 2000 whose answer to the lane's challenge was right
};

struct LaneResponse {
  char frameType = 0;     // kTypeClear or kTypeEncrypted
  std::string document;   // the document in clear
};

enum class ReadStatus {
  kOk,
  kTimeout,   // no complete frame within the time given
  kClosed,    // the server closed the connection
  kBadFrame,  // a frame arrived that breaks the wire rules or cannot be opened
  kStopped,   // the stop flag was raised
  kError,     // not connected, or a socket failure
};

// Not for use by two threads at once; each lane has its own connection.
class LaneConnection {
 public:
  LaneConnection() = default;
  LaneConnection(const LaneConnection&) = delete;
  LaneConnection& operator=(const LaneConnection&) = delete;

  // Every wait returns early once `*stop` is true; the flag must outlive the
  // connection. Null: no flag.
  void SetStopFlag(const std::atomic<bool>* stop) { socket_.SetStopFlag(stop); }
  // Bound for each wait inside Login and for every send (default 10 s).
  void SetIoTimeout(std::chrono::milliseconds timeout) { ioTimeout_ = timeout; }

  // Connects to host:port within `timeout`, forgetting any earlier
  // connection, its buffered bytes, its outstanding session keys and the
  // server's key. Name resolution is not covered by `timeout`: give a
  // numeric address or a name the hosts file resolves.
  bool Connect(const std::string& host, int port,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

  // Reads the greeting, answers its challenge with the standard (or
  // `alternate`) material, sends the lane's own challenge and `password`, and
  // reads the server's reply. True when the exchange ran to a reply the lane
  // understood, whatever its code: `result` then holds the last reply (the
  // greeting's refusal, e.g. 2003, when there was no greeting). False with
  // LastError on a transport or wire failure, an unusable greeting, or a
  // "Login Verified." whose answer to the lane's challenge is wrong.
  bool Login(std::string_view password, bool alternate, LoginResult& result);

  // Sends `payload` encrypted under a fresh session key (type "2", or "M"),
  // behind the clear `userTrace`, and keeps the key for its response. Needs a
  // greeting's public key (Login).
  bool SendRequest(std::string_view payload, std::string_view userTrace = {}, char type = kTypeEncrypted);

  // Sends the abort frame, which asks the server to cancel this connection's
  // requests that still wait for the host. The server does not answer it.
  bool SendAbort(std::string_view userTrace = {});

  // The next frame as a clear document (encrypted ones opened with the
  // outstanding session keys, see SessionKeyRing), waiting at most `timeout`.
  ReadStatus ReadResponse(std::chrono::milliseconds timeout, LaneResponse& response);

  // The next frame, raw and without its ETX, waiting at most `timeout`.
  ReadStatus ReadFrame(std::chrono::milliseconds timeout, std::string& frame);

  // Sends `bytes` exactly as given (for tests that break the protocol on purpose).
  bool SendRaw(std::string_view bytes);

  // Closes the connection and forgets what belonged to it (buffered bytes,
  // outstanding session keys, the server key).
  void Close();
  bool IsConnected() const { return socket_.IsOpen(); }
  std::size_t OutstandingKeys() const { return keys_.Size(); }
  const std::string& LastError() const { return lastError_; }

 private:
  bool Fail(std::string what);
  // Reads a clear reply frame within the I/O bound and parses its command response.
  bool ReadReply(LoginResult& result);

  LaneCrypto crypto_;
  LaneServerKey serverKey_;
  LaneSocket socket_;
  FrameReader reader_;
  SessionKeyRing keys_;
  std::chrono::milliseconds ioTimeout_{10000};
  std::string lastError_;
};

}  // namespace paxelle::lane
