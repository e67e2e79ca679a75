// Entry point of the `paxelle` executable: the headless server, the parameter
// commands, version and help. It links no GUI library: without --headless it
// hands over to the window's own executable.
#include "app/Application.h"
#include "app/JournalStream.h"
#include "app/OpenFileLimit.h"
#include "app/ParamsCommand.h"
#include "app/ServerOptions.h"
#include "app/WindowHandOver.h"
#include "app/control/ControlCommands.h"
#include "config/ParamStore.h"
#include "core/Version.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

void PrintUsage(std::ostream& stream) { stream << paxelle::ServerUsage(); }

int RunServer(const std::vector<std::string>& args) {
  paxelle::ServerOptions options;
  if (const paxelle::Status parsed = paxelle::ParseServerOptions(args, options); !parsed.ok()) {
    std::cerr << "paxelle: " << parsed.message() << "\n";
    PrintUsage(std::cerr);
    return 2;
  }
  if (options.showHelp) {
    PrintUsage(std::cout);
    return 0;
  }
  if (options.showVersion) {
    std::cout << paxelle::kServerVersionText << "\n";
    return 0;
  }
  // The window checks the same arguments again; they were checked here first so
  // that a bad command line reads the same with or without the window installed.
  if (options.headless && options.attach != paxelle::ServerOptions::Attach::kNo) {
    std::cerr << "paxelle: --attach opens a window on a running server; it does not go with --headless\n";
    return 2;
  }
  if (!options.headless) return paxelle::HandOverToWindow(paxelle::OwnDirectory(), args, std::cerr);
  // Two hundred lanes, the host workers and the files need more than a service's default.
  std::string note;
  if (!paxelle::RaiseOpenFileLimit(note)) std::cerr << "paxelle: " << note << "\n";
  // Under a service manager the journal reads each message's priority.
  paxelle::HeadlessPolicy policy;
  policy.journal = paxelle::StandardErrorIsJournal();
  paxelle::COpxWorldPayIP_HostApp app(std::move(options), std::cout, std::cerr, policy);
  return app.Run();
}

}  // namespace

int main(int argc, char* argv[]) {
  // A running server's views: they start no server and read no parameters.
  if (argc > 1 && paxelle::IsControlCommand(argv[1])) {
    return paxelle::RunControlCommand({argv + 1, argv + argc}, std::cout, std::cerr);
  }
  const std::vector<std::string> all(argv + 1, argv + argc);
  std::vector<std::string> args;
  std::optional<std::string> paramsFile;
  // --params may stand anywhere, also between the words of a params command.
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (all[i] != "--params") {
      args.push_back(all[i]);
      continue;
    }
    // An empty FILE would quietly mean the operator's real parameter file.
    if (i + 1 >= all.size() || all[i + 1].empty() || paramsFile) {
      std::cerr << "paxelle: --params needs one non-empty FILE and may be given once\n";
      PrintUsage(std::cerr);
      return 2;
    }
    paramsFile = all[++i];
  }
  if (args.empty() || args[0] != "params") return RunServer(all);

  // The command writes no traffic log: it is not a server and may run beside one.
  paxelle::CParamStore store;
  if (paramsFile) store.SetPath(*paramsFile);
  return paxelle::RunParamsCommand({args.begin() + 1, args.end()}, store, std::cout, std::cerr);
}
