// `paxelle status`, `paxelle watch` and `paxelle restart`: a terminal's views of
// a running server, through its control socket.
#pragma once

#include "app/control/ControlProtocol.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace paxelle {

enum ControlCommandExit : int {
  kControlExitRunning = 0,   // status: the interfaces run; watch, restart: done
  kControlExitNoServer = 1,  // no server answers on the socket
  kControlExitUsage = 2,     // a bad command line
  kControlExitStopped = 3,   // status: the server runs with its interfaces stopped
  kControlExitRefused = 4,   // this user may not use the socket
};

// Whether `word` names one of these commands.
bool IsControlCommand(const std::string& word);
// The synopsis lines of these commands, for --help.
std::vector<std::string> ControlSynopses();

// Runs `args` (the command word first, then its options). `watch` runs until
// the server goes or the process is stopped; every other command ends within
// the control socket's answer time.
int RunControlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The screen `paxelle status` prints.
std::string StatusScreen(const ControlStatus& status, const std::string& socketPath);

}  // namespace paxelle
