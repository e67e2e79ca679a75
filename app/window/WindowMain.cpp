// Entry point of the `paxelle-window` executable: the server run in the
// operator window. `paxelle` without --headless hands over to it with the same
// arguments; the parameter commands stay with `paxelle`.
#include "app/Application.h"
#include "app/OpenFileLimit.h"
#include "app/ServerOptions.h"
#include "app/window/DisplayCheck.h"
#include "app/window/WindowFrontEnd.h"
#include "core/Version.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  paxelle::ServerOptions options;
  std::string error;
  if (!args.empty() && args[0] == "params") error = "the params command is paxelle's: paxelle params ...";
  if (error.empty()) paxelle::ParseServerOptions(args, options, error);
  if (error.empty() && options.headless) error = "--headless is paxelle's: paxelle --headless ...";
  if (!error.empty()) {
    std::cerr << "paxelle-window: " << error << "\n" << paxelle::WindowUsage();
    return 2;
  }
  if (options.showHelp) {
    std::cout << paxelle::WindowUsage();
    return 0;
  }
  if (options.showVersion) {
    std::cout << paxelle::kServerVersionText << "\n";
    return 0;
  }
  // Qt ends the process when it cannot reach a display: ask first.
  if (!paxelle::HasDisplay()) {
    std::cerr << "paxelle-window: no display to open the window on; use paxelle --headless to run without one\n";
    return 2;
  }
  // Two hundred lanes, the host workers and the files need more than a desktop's default.
  std::string note;
  if (!paxelle::RaiseOpenFileLimit(note)) std::cerr << "paxelle-window: " << note << "\n";
  // Declared first: the window outlives the application that uses it.
  paxelle::WindowFrontEnd window(QString::fromStdString(options.params.string()));
  paxelle::COpxWorldPayIP_HostApp app(std::move(options), window, std::cerr);
  return app.Run();
}
