// A one-connection server on loopback for the lane's connection tests: it
// accepts one lane and runs a script against it on its own thread, using the
// server's own crypto object, documents and frames.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "client/MessageCrypto.h"

namespace paxelle::lane::testing {

// The accepted connection as the script sees it. Every wait is bounded.
class FakePeer {
 public:
  explicit FakePeer(int fd) : fd_(fd) {}
  FakePeer(const FakePeer&) = delete;
  FakePeer& operator=(const FakePeer&) = delete;

  bool Send(const std::string& bytes);
  // The next message up to its ETX (ETX dropped); false on close or time-out.
  bool ReadMessage(std::string& message, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Waits until the lane closes the connection; false when it did not.
  bool WaitForClose(std::chrono::milliseconds timeout = std::chrono::seconds(5));

  // The server's whole-document command reply framed in clear.
  bool SendReply(int code, char statusLetter, const std::string& text, const std::string& userTrace = "");

 private:
  int fd_;
  std::string buffer_;
};

// What ServeLogin saw and answered.
struct FakeLogin {
  int replyCode = -1;
  bool alternate = false;
  std::string clientChallengeHex;
};

// Greets with a fresh challenge and the crypto's public key, reads the login
// message and answers it as the server's session does: 2010 for a wrong
// challenge answer, 2009 for a wrong password, 2000 with the encrypted client
// challenge otherwise (or, with `forgeAnswer`, with a wrong value).
FakeLogin ServeLogin(FakePeer& peer, CMessageCrypto& crypto, const std::string& password, bool forgeAnswer = false);

// A request message (as ReadMessage hands it out) opened the way the server's
// session does.
struct FakeRequest {
  std::string userTrace;
  char type = 0;
  std::string keyBlobHex;
  std::string payload;  // in clear; may hold card data, so never print it
};

// Opens `message` with the server's crypto; false when it is not a request
// frame or its session key does not unwrap.
bool OpenRequest(CMessageCrypto& crypto, const std::string& message, FakeRequest& request);

// Answers `request` as the session does when the host has answered: the
// "Queued:045:000" reply in clear (unless `queued` is false), then `document`
// encrypted with the request's session key.
bool AnswerRequest(FakePeer& peer, CMessageCrypto& crypto, const FakeRequest& request, const std::string& document,
                   bool queued = true);

class FakeServer {
 public:
  // Listens on an ephemeral loopback port.
  FakeServer();
  // Joins the script (it must end within its own bounded waits).
  ~FakeServer();
  FakeServer(const FakeServer&) = delete;
  FakeServer& operator=(const FakeServer&) = delete;

  int Port() const { return port_; }
  // Starts a thread that accepts one connection (waiting at most 5 s) and runs
  // `script` with it; the connection is closed when the script returns.
  void Run(std::function<void(FakePeer&)> script);
  // Waits for the script to end.
  void Join();

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

// A loopback port that nothing listens on (bound, then released).
int UnusedPort();

}  // namespace paxelle::lane::testing
