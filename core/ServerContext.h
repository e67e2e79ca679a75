// The objects one server shares between its threads: the working directory, the
// traffic log, the merchant parameters, the pending queue, the host worker tickets
// and the two events that tie the threads together.
#pragma once

#include "common/Clock.h"
#include "common/Event.h"
#include "common/TrafficLog.h"
#include "config/ParamStore.h"
#include "core/HostSequenceRegistry.h"
#include "core/PendingQueue.h"
#include "core/ServerMetrics.h"

#include <chrono>
#include <filesystem>
#include <string_view>

namespace paxelle {

class IRequestCrypto;

struct ServerContextSettings {
  WallClock clock = SystemNow;  // log stamps and daily files
  // How long the log's shutdown waits for its writer (tests shorten it).
  std::chrono::milliseconds logShutdownWait = kLogShutdownWait;
};

// These are the server's process-wide objects: the application builds exactly one
// context per process and hands it by reference to every part (listener, sessions,
// request parsers, host interface and workers, dial link, operator front end), so
// nothing reaches a global. Tests build as many as they need, one per server.
// Member order is construction order: the events exist before anything that
// waits on them, and the log outlives every part that writes to it.
class CServerContext {
 public:
  // `workdir` must be an absolute path to an existing directory; every state
  // file, the log directory, the reports and the lock file live under it.
  explicit CServerContext(std::filesystem::path workdir, ServerContextSettings settings = {});
  CServerContext(const CServerContext&) = delete;
  CServerContext& operator=(const CServerContext&) = delete;

  // `name` (a file or folder name, or a relative path) under the working directory.
  std::filesystem::path PathOf(std::string_view name) const { return workdir / name; }

  const std::filesystem::path workdir;
  // Set while the interfaces stop; host workers, the ticket registry and the host
  // socket give up when they see it. Manual reset.
  Event interfacesStopping{Event::Reset::kManual};
  // Set while a dial call to the host is up. Manual reset.
  Event dialLineConnected{Event::Reset::kManual};
  CTrafficLog log;
  CParamStore params;
  PendingQueue queue;
  HostSequenceRegistry registry;
  // Session-key and card-reader cryptography of the client link; installed by the
  // application before any session starts and kept until every session ended.
  // Null where no encrypted data is handled (a request needing it is refused).
  IRequestCrypto* requestCrypto = nullptr;
  // Where the parts report what a monitor counts; never null. The application
  // installs its own before any interface starts and keeps it until they ended.
  NoServerMetrics noMetrics;
  IServerMetrics* metrics = &noMetrics;
};

}  // namespace paxelle
