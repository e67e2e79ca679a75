// opx-lane: the reference POS lane client's command-line entry point.
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "tools/lane/LoadRun.h"
#include "tools/lane/OpxLaneCommands.h"

int main(int argc, char** argv) {
  using namespace paxelle::lane;
  std::signal(SIGPIPE, SIG_IGN);
  LaneCommandLine line;
  const paxelle::Status parsed = ParseLaneCommandLine(std::vector<std::string>(argv + 1, argv + argc), line);
  if (!parsed.ok()) {
    std::cerr << "opx-lane: " << parsed.message() << "\n" << LaneUsageText();
    return kExitUsage;
  }
  switch (line.command) {
    case LaneCommand::kHelp:
      std::cout << LaneUsageText();
      return kExitOk;
    case LaneCommand::kVersion:
      std::cout << "opx-lane (Paxelle) " PAXELLE_VERSION "\n";
      return kExitOk;
    case LaneCommand::kRequest:
      return RunRequest(line.session, line.pairs, std::cout, std::cerr);
    case LaneCommand::kAbort:
      return RunAbort(line.session, std::cout, std::cerr);
    case LaneCommand::kLoad:
      return RunLoadCommand(line.session, line.load, std::cout, std::cerr);
  }
  return kExitUsage;
}
