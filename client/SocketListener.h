// The generic TCP listener: one accept thread, a thread per accepted
// connection, a table of the live connections with a limit on their number,
// and a going-offline flag the connections watch. Knows nothing of payments.
#pragma once

#include "client/SocketConnection.h"
#include "common/Mutex.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace paxelle {

// Listen results.
enum ListenResult : int {
  kListenOk = 0,
  kListenLibraryFailed = 1,  // kept for the shell's messages; POSIX sockets need no start-up
  kListenSocketFailed = 2,
  kListenBindFailed = 3,
  kListenListenFailed = 4,
};

// Listen, Start, Stop and destruction belong to one controlling thread; the
// limit, the counts and the going-offline flag may be used from any thread.
class CSocketListener {
 public:
  static constexpr int kDefaultConnectionLimit = 20;
  static constexpr int kMaxConnectionLimit = 32000;
  // Connections over the limit that may have a thread of their own (to be
  // answered by Refuse); one arriving past this is closed at once.
  static constexpr int kMaxRefusingConnections = 32;

  CSocketListener();
  // Shutdown(), then closes the listening socket.
  virtual ~CSocketListener();
  CSocketListener(const CSocketListener&) = delete;
  CSocketListener& operator=(const CSocketListener&) = delete;

  // Binds a stream socket to `port` (0: any free port, see Port()) on every
  // local IPv4 address with SO_REUSEADDR and listens with `backlog`. Returns a
  // ListenResult; LastError says why it failed. Refused with 2 while the accept
  // loop runs; otherwise a new socket replaces an earlier one.
  int Listen(int port, int backlog = 5);
  // Starts the accept loop: 0, or 1 when already running, not listening, or
  // the thread cannot be created.
  int Start();
  // Ends the accept loop (a blocked accept is woken at once) and joins its
  // thread; 0. Running connections are not touched. Never started: 0 at once.
  int Stop();

  // Returns `limit`, or -1 (limit unchanged) when it is not in 1..32000.
  int SetConnectionLimit(int limit);
  int ConnectionLimit() const { return limit_.load(); }
  // Connections registered now; a snapshot, for display and shutdown polling.
  int ConnectionCount() const { return count_.load(); }
  // Of those, the connections over the limit being refused now.
  int RefusingCount() const { return refusing_.load(); }
  // The bound port after a successful Listen, -1 before.
  int Port() const { return port_.load(); }
  bool IsRunning() const { return running_.load(); }
  // The flag every connection watches to end itself.
  void SetGoingOffline(bool goingOffline = true);
  bool IsGoingOffline() const;
  // Why the last Listen or Start failed.
  std::string LastError() const;

 protected:
  // A new, unattached connection object for an accepted socket; null (the
  // generic listener's answer) closes the socket. Runs on the accept thread.
  virtual std::unique_ptr<CSocketConnection> CreateConnection();
  // Told, on the accept thread, of a connection closed at once because
  // kMaxRefusingConnections were being refused already. Must not block.
  virtual void ConnectionClosedAtOnce(const sockaddr_in& peer);

  // Sets going offline, stops the accept loop, waits up to kSessionEndWait for
  // the connections to end, then shuts down the sockets of any still running
  // and joins every thread. Nothing runs on this object afterwards. Idempotent;
  // a derived class calls it first thing in its destructor, so no thread can
  // reach a virtual function of a half-destroyed object.
  void Shutdown();

 private:
  struct Entry {
    std::thread thread;
    int socket = -1;  // open while the entry exists
  };

  void AcceptLoop();
  void JoinEndedAcceptLoop();
  // Decides the refuse flag and starts the connection's thread; false when the
  // stop signal was raised during the limit-1 pause.
  bool Dispatch(UniqueFd socket, const sockaddr_in& peer);
  void RunConnection(std::uint64_t serial, std::unique_ptr<CSocketConnection> connection, bool refused);
  // Joins the threads of connections that have ended.
  void ReapFinished();
  void SetLastError(std::string text) EXCLUDES(tableMutex_);

  std::shared_ptr<ListenerShared> shared_;
  UniqueFd listenSocket_;
  WakeSignal stopSignal_;
  std::thread acceptThread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<int> limit_{kDefaultConnectionLimit};
  std::atomic<int> count_{0};
  std::atomic<int> refusing_{0};
  std::atomic<int> port_{-1};
  bool shutDown_ = false;

  mutable Mutex tableMutex_;
  std::condition_variable_any tableChanged_;
  std::map<std::uint64_t, Entry> table_ GUARDED_BY(tableMutex_);  // live connections by serial number
  std::vector<std::thread> finished_ GUARDED_BY(tableMutex_);     // threads of ended connections, to be joined
  std::uint64_t nextSerial_ GUARDED_BY(tableMutex_) = 1;
  std::string lastError_ GUARDED_BY(tableMutex_);
};

}  // namespace paxelle
