// paxelle-listener-harness KEYSTORE_DIR PARAMS_FILE PORT
// Runs the client listener alone, for tests that drive it from another
// process: the crypto on the given key store, the merchant parameters from the
// given file, the listener on PORT (0: any free port), the log and state files in
// the current directory. Prints "listening on
// <port>" once it accepts, and stops cleanly on SIGTERM, SIGINT or end of
// standard input. Exit status 0 after a clean stop, 2 on bad arguments, 1 when
// something cannot be started.
#include "client/ClientGuards.h"
#include "client/ClientListener.h"
#include "client/MessageCrypto.h"
#include "core/ServerContext.h"
#include "host/BatchState.h"

#include <filesystem>

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int ParsePort(const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 65535) return -1;
  return static_cast<int>(value);
}

// Waits until a stop signal arrives or standard input ends.
void WaitForStop(int signalFd) {
  pollfd descriptors[2] = {{signalFd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(descriptors, 2, 1000);
    if (ready < 0 && errno != EINTR) return;
    if (ready <= 0) continue;
    if ((descriptors[0].revents & POLLIN) != 0) return;
    if ((descriptors[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      char buffer[256];
      const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (got <= 0) return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace paxelle;
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s KEYSTORE_DIR PARAMS_FILE PORT\n", argv[0]);
    return 2;
  }
  const int port = ParsePort(argv[3]);
  if (port < 0) {
    std::fprintf(stderr, "bad port: %s\n", argv[3]);
    return 2;
  }

  // Blocked before any thread starts, so every thread inherits the mask and
  // the signals reach only the signalfd.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  if (::sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) return 1;
  const int signalFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (signalFd < 0) return 1;
  ::signal(SIGPIPE, SIG_IGN);

  CServerContext context(std::filesystem::current_path());
  CMessageCrypto crypto(context.log);
  CBatchState batch(context.workdir, context.log);
  if (!crypto.Startup(argv[1])) {
    std::fprintf(stderr, "the crypto could not be started on %s\n", argv[1]);
    return 1;
  }
  context.requestCrypto = &crypto;
  context.params.SetPath(argv[2]);
  if (!context.params.Load()) {
    std::fprintf(stderr, "parameters: %s\n", context.params.LastErrorText().c_str());
    return 1;
  }

  int status = 0;
  {
    ClientGuards guards;
    CClientListener listener(ClientLinkParts{context, crypto, batch, guards}, port);
    const int started = listener.StartOnClientPort();
    if (started != 0) {
      std::fprintf(stderr, "the listener could not start (%d): %s\n", started, listener.LastError().c_str());
      status = 1;
    } else {
      std::printf("listening on %d\n", listener.Port());
      std::fflush(stdout);
      WaitForStop(signalFd);
      listener.SetGoingOffline();
      listener.Stop();
    }
  }
  crypto.Shutdown();
  ::close(signalFd);
  return status;
}
