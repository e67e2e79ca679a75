#include "tests/lane/FakeServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "client/HexText.h"
#include "core/MessageFrame.h"
#include "core/ResponseDocuments.h"

namespace paxelle::lane::testing {

namespace {

int ListenOnLoopback(int& port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool WaitReadable(int fd, std::chrono::milliseconds timeout) {
  pollfd descriptor{fd, POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&descriptor, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

}  // namespace

bool FakePeer::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t count = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  return true;
}

bool FakePeer::ReadMessage(std::string& message, std::chrono::milliseconds timeout) {
  for (;;) {
    const std::size_t etx = buffer_.find('\x03');
    if (etx != std::string::npos) {
      message = buffer_.substr(0, etx);
      buffer_.erase(0, etx + 1);
      return true;
    }
    if (!WaitReadable(fd_, timeout)) return false;
    char chunk[1024];
    const ssize_t count = ::recv(fd_, chunk, sizeof chunk, 0);
    if (count <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(count));
  }
}

bool FakePeer::WaitForClose(std::chrono::milliseconds timeout) {
  for (;;) {
    if (!WaitReadable(fd_, timeout)) return false;
    char chunk[1024];
    const ssize_t count = ::recv(fd_, chunk, sizeof chunk, 0);
    if (count <= 0) return true;
  }
}

bool FakePeer::SendReply(int code, char statusLetter, const std::string& text, const std::string& userTrace) {
  paxelle::CommandResponse reply;
  reply.code = SixDigitCode(code);
  reply.statusLetter = statusLetter;
  reply.text = text;
  reply.userTraceData = userTrace;
  return Send(FrameMessage(BuildCommandDocument(reply), false));
}

FakeLogin ServeLogin(FakePeer& peer, CMessageCrypto& crypto, const std::string& password, bool forgeAnswer) {
  FakeLogin seen;
  std::string challenge(16, '\0');
  crypto.GenerateRandom(challenge.size(), reinterpret_cast<unsigned char*>(challenge.data()));
  const std::string greeting = "CONNECTED to OPX_IP! -- Password ?" + crypto.PublicKeyText() + "\x1E" +
                               paxelle::BytesToHex(challenge) + "\x1F";
  std::string message;
  if (!peer.SendReply(0, 'S', greeting) || !peer.ReadMessage(message)) return seen;

  const std::size_t rs = message.find('\x1E');
  const std::size_t us = rs == std::string::npos ? rs : message.find('\x1F', rs);
  const std::size_t fs = message.find('\x1C');
  seen.alternate = fs != std::string::npos && fs < rs && message.substr(fs + 1, rs - fs - 1) == "M";
  std::string expected = challenge;
  crypto.EncryptChallenge(reinterpret_cast<unsigned char*>(expected.data()), expected.size(), seen.alternate);
  if (us == std::string::npos || message.substr(rs + 1, us - rs - 1) != paxelle::BytesToHex(expected)) {
    seen.replyCode = 2010;
    peer.SendReply(2010, 'E', "Password Failed!(Challenge/Response) -- Disconnecting.");
    return seen;
  }
  const std::size_t dc1 = message.find('\x11');
  const std::size_t dc2 = dc1 == std::string::npos ? dc1 : message.find('\x12', dc1);
  std::vector<unsigned char> clientChallenge;
  if (dc2 != std::string::npos) {
    seen.clientChallengeHex = message.substr(dc1 + 1, dc2 - dc1 - 1);
    paxelle::HexToBytes(seen.clientChallengeHex, clientChallenge);
  }
  if (message.size() < password.size() + 1 ||
      message.compare(message.size() - password.size(), password.size(), password) != 0) {
    seen.replyCode = 2009;
    peer.SendReply(2009, 'E', "Password Failed!(Client/Server) -- Disconnecting.");
    return seen;
  }
  crypto.EncryptChallenge(clientChallenge.data(), clientChallenge.size(), seen.alternate);
  if (forgeAnswer && !clientChallenge.empty()) clientChallenge[0] ^= 1;
  seen.replyCode = 2000;
  peer.SendReply(2000, 'S', "Login Verified.\x1E" + paxelle::BytesToHex(clientChallenge) + "\x1F");
  return seen;
}

bool OpenRequest(CMessageCrypto& crypto, const std::string& message, FakeRequest& request) {
  const std::size_t fs = message.find('\x1C');
  const std::size_t dc1 = message.find('\x11');
  const std::size_t dc2 = dc1 == std::string::npos ? dc1 : message.find('\x12', dc1);
  if (fs == std::string::npos || fs + 1 >= message.size() || dc2 == std::string::npos) return false;
  FakeRequest opened;
  opened.userTrace = message.substr(0, fs);
  opened.type = message[fs + 1];
  opened.keyBlobHex = message.substr(dc1 + 1, dc2 - dc1 - 1);
  if (!crypto.DecryptWithSessionKey(opened.keyBlobHex, message.substr(dc2 + 1), opened.payload)) return false;
  request = std::move(opened);
  return true;
}

bool AnswerRequest(FakePeer& peer, CMessageCrypto& crypto, const FakeRequest& request, const std::string& document,
                   bool queued) {
  std::string cipherHex;
  if (!crypto.EncryptWithSessionKey(request.keyBlobHex, document, cipherHex)) return false;
  if (queued && !peer.SendReply(0, 'S', "Queued:045:000", request.userTrace)) return false;
  return peer.Send(FrameMessage(cipherHex, true));
}

FakeServer::FakeServer() { listener_ = ListenOnLoopback(port_); }

FakeServer::~FakeServer() {
  Join();
  if (listener_ >= 0) ::close(listener_);
}

void FakeServer::Run(std::function<void(FakePeer&)> script) {
  thread_ = std::thread([this, script = std::move(script)] {
    if (listener_ < 0 || !WaitReadable(listener_, std::chrono::seconds(5))) return;
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    FakePeer peer(fd);
    script(peer);
    ::close(fd);
  });
}

void FakeServer::Join() {
  if (thread_.joinable()) thread_.join();
}

int UnusedPort() {
  int port = 0;
  const int fd = ListenOnLoopback(port);
  if (fd >= 0) ::close(fd);
  return port;
}

}  // namespace paxelle::lane::testing
