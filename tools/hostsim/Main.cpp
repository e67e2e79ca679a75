// paxelle-hostsim: the authorization host simulator's command-line entry point.
#include "tools/hostsim/HostSimulator.h"
#include "tools/hostsim/Journal.h"
#include "tools/hostsim/ModemSimulator.h"
#include "tools/hostsim/SimOptions.h"
#include "tools/hostsim/SimServer.h"
#include "tools/hostsim/StopSignal.h"
#include "tools/hostsim/TlsContext.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

using namespace paxelle::hostsim;
using paxelle::Status;

constexpr int kExitUsage = 2;
constexpr int kExitStartFailed = 1;

// SIGINT and SIGTERM are blocked in every thread and taken here, one second at a time, so
// that no handler has to touch shared state.
void WatchStopSignals(const sigset_t& signals, StopSignal& stop) {
  const timespec second{1, 0};
  while (!stop.Raised()) {
    if (::sigtimedwait(&signals, nullptr, &second) > 0) stop.Raise();
  }
}

int Fail(int code, const std::string& text) {
  std::fprintf(stderr, "paxelle-hostsim: %s\n", text.c_str());
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions options;
  const Status parsed = ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options);
  if (!parsed.ok()) return Fail(kExitUsage, parsed.message() + " (see --help)");
  if (options.help) {
    std::fputs(SimHelpText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::puts("paxelle-hostsim (Paxelle) " PAXELLE_VERSION);
    return 0;
  }

  std::signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  StopSignal stop;
  if (!stop.Valid()) return Fail(kExitStartFailed, "cannot create the stop signal");
  TlsServerContext tls;
  const Status loaded =
      options.network ? tls.Load(options.certFile, options.keyFile, options.resumption) : Status::Ok();
  if (!loaded.ok()) return Fail(kExitStartFailed, loaded.message());
  Journal journal;
  const Status opened = options.journalFile.empty() ? Status::Ok() : journal.Open(options.journalFile);
  if (!opened.ok()) return Fail(kExitStartFailed, opened.message());
  HostSimulator simulator(options.journalFile.empty() ? nullptr : &journal);
  ServerLimits limits;
  limits.delay = options.delay;
  limits.handshakeDelay = options.handshakeDelay;
  SimServer server(tls.Get(), simulator, stop, limits);
  if (options.network) {
    if (const Status listening = server.Listen(options.port); !listening.ok()) {
      return Fail(kExitStartFailed, listening.message());
    }
    std::printf("paxelle-hostsim listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.Port()));
  }
  ModemTimings modemTimings;
  modemTimings.answerDelay = options.delay;
  ModemSimulator modem(simulator, stop, modemTimings);
  if (!options.modemLink.empty()) {
    if (const Status linked = modem.Open(options.modemLink); !linked.ok()) {
      return Fail(kExitStartFailed, linked.message());
    }
    std::printf("paxelle-hostsim modem on %s (%s)\n", options.modemLink.c_str(), modem.DevicePath().c_str());
  }
  std::fflush(stdout);

  std::thread watcher(WatchStopSignals, std::cref(stopSignals), std::ref(stop));
  std::thread modemThread;
  if (!options.modemLink.empty()) modemThread = std::thread([&modem] { modem.Run(); });
  bool healthy = true;
  if (options.network) {
    healthy = server.Run();
    stop.Raise();
  }
  watcher.join();
  if (modemThread.joinable()) modemThread.join();
  return healthy ? 0 : kExitStartFailed;
}
