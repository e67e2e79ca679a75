// The lane's TCP connection to the server: connect, send and receive, each
// with a bound on how long it may wait, and an optional stop flag they watch.
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>

namespace paxelle::lane {

enum class ReceiveResult { kData, kTimeout, kClosed, kStopped, kError };

class LaneSocket {
 public:
  LaneSocket() = default;
  ~LaneSocket();
  LaneSocket(const LaneSocket&) = delete;
  LaneSocket& operator=(const LaneSocket&) = delete;

  // Waits in every call return early with failure (kStopped) once `*stop` is
  // true. The flag must outlive the socket; null (the default) means no flag.
  void SetStopFlag(const std::atomic<bool>* stop) { stop_ = stop; }

  // Connects to the first IPv4 address of `host` on `port`, waiting at most
  // `timeout` for the connection (name resolution is the resolver's own
  // wait). Closes any earlier connection first. False with LastError
  // ("refused", "timed out", ...) on failure.
  bool Connect(const std::string& host, int port, std::chrono::milliseconds timeout);

  // Sends every byte of `bytes` or fails; waits at most `timeout` in all for
  // the peer to take them. A broken connection fails without SIGPIPE.
  bool SendAll(std::string_view bytes, std::chrono::milliseconds timeout);

  // Appends what arrives to `received`, waiting at most `timeout` for the
  // first byte. kClosed: the peer closed the connection (nothing appended).
  ReceiveResult Receive(std::string& received, std::chrono::milliseconds timeout);

  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  const std::string& LastError() const { return lastError_; }

 private:
  enum class WaitResult { kReady, kTimeout, kStopped, kError };
  WaitResult WaitFor(short events, std::chrono::steady_clock::time_point deadline);
  bool Fail(std::string what);

  int fd_ = -1;
  const std::atomic<bool>* stop_ = nullptr;
  std::string lastError_;
};

}  // namespace paxelle::lane
