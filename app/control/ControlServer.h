// The control socket: a Unix stream socket on which operators' tools and
// windows ask a running server for its status, its parameters as the setup
// dialog shows them, a restart, or a watch of its traffic rows. One thread of
// its own serves every client without blocking: no client can hold up the
// server's other threads, and a client that does not keep up is dropped.
#pragma once

#include "app/control/ControlProtocol.h"
#include "app/control/ViewBoard.h"
#include "common/EventFd.h"
#include "common/Status.h"
#include "common/TimeLimits.h"

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace paxelle {

struct ControlServerSettings {
  std::filesystem::path path;                 // where the socket is made
  std::size_t maxClients = 16;                // one more is answered "busy" and closed
  std::chrono::milliseconds answerLimit{kControlAnswerLimit};  // a reply not taken by then drops its client
  std::chrono::milliseconds requestWait{kControlRequestWait};  // a client that asks nothing by then is closed
  std::size_t watchBacklog = 64 * 1024;       // a watcher's rows waiting to be taken, at most
  int sendBuffer = 16 * 1024;                 // the kernel's send buffer of each client
  std::optional<gid_t> operatorGroup;         // owns the socket when set; its members may connect
};

// What the server answers with; called on the control thread, so each must be
// thread-safe and return at once.
struct ControlHandlers {
  std::function<ControlStatus()> status;
  std::function<ControlParams()> params;
  std::function<void()> restart;  // asks for a restart; does not wait for it
  std::function<void(const std::string&)> log;  // one traffic log line
};

class ControlServer {
 public:
  // `board` must outlive this object.
  ControlServer(ControlServerSettings settings, ControlHandlers handlers, const ViewBoard& board);
  // Stop().
  ~ControlServer();
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Makes the socket (mode 0660, in the operators' group when given; a socket
  // left at the path by an earlier run is replaced, any other file is not) and
  // starts serving. A failure says why it cannot.
  Status Start();
  // Closes every client and the socket and removes it; within a moment. Idempotent.
  void Stop();

 private:
  struct Client;
  void Serve();

  ControlServerSettings settings_;
  ControlHandlers handlers_;
  const ViewBoard& board_;
  UniqueFd listenFd_;
  EventFd stopFd_;
  std::thread thread_;
};

}  // namespace paxelle
