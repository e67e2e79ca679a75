// The client end of the control socket, for `paxelle status|watch|restart` and
// the attached window: connects, asks, and reads the server's lines, every
// wait bounded.
#pragma once

#include "app/control/ControlProtocol.h"
#include "common/PosixFile.h"
#include "common/Status.h"
#include "common/TimeLimits.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace paxelle {

inline constexpr char kControlSocketName[] = "control";
inline constexpr char kServiceControlPath[] = "/run/paxelle/control";

// Where a server makes its socket: in the service's runtime directory
// (`runtimeDirectory`, the first of its ':'-separated paths, when not null or
// empty), else in its working directory.
std::filesystem::path ServerControlPath(const std::filesystem::path& workdir, const char* runtimeDirectory);

// Why Connect failed: its Status's code.
enum class ControlConnect {
  kConnected,
  kNoServer,  // no socket there, or nobody listening on it
  kRefused,   // the socket's permissions keep this user out
  kFailed,    // anything else; the message says what
};

// The text that tells a user kept out how to get in.
std::string AccessAdvice();
// Whether the server's error text is its refusal of this user.
bool IsAccessRefusal(const std::string& error);

class ControlClient {
 public:
  ControlClient() = default;
  ~ControlClient();
  ControlClient(const ControlClient&) = delete;
  ControlClient& operator=(const ControlClient&) = delete;

  Status Connect(const std::filesystem::path& path);
  void Close();
  bool Connected() const { return fd_.IsValid(); }
  int Descriptor() const { return fd_.Get(); }

  // Sends one request; a failure when it could not be sent in time.
  Status Send(ControlRequest request);
  enum class Read { kLine, kTimeout, kClosed };
  // The next line (without its line end), waiting at most `limit`.
  Read ReadLine(std::string& line, std::chrono::milliseconds limit);
  // One request and its reply line.
  Status Ask(ControlRequest request, std::string& reply);
  // Reads what has arrived without waiting and appends its complete lines;
  // false once the server has closed the connection.
  bool ReadAvailable(std::vector<std::string>& lines);

 private:
  bool TakeLine(std::string& line);

  UniqueFd fd_;
  std::string buffer_;
};

}  // namespace paxelle
