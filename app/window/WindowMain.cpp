// Entry point of the `paxelle-window` executable: the server run in the
// operator window. `paxelle` without --headless hands over to it with the same
// arguments; the parameter commands stay with `paxelle`.
#include "app/Application.h"
#include "app/OpenFileLimit.h"
#include "app/ServerOptions.h"
#include "app/control/ControlClient.h"
#include "app/window/AttachedWindow.h"
#include "app/window/DisplayCheck.h"
#include "app/window/WindowFrontEnd.h"
#include "core/Version.h"

#include <QApplication>
#include <QMessageBox>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Which server's socket a view attaches to.
std::filesystem::path AttachSocket(const paxelle::ServerOptions& options, bool workdirGiven) {
  if (!options.control.empty()) return options.control;
  if (workdirGiven) return options.workdir / paxelle::kControlSocketName;
  return paxelle::kServiceControlPath;
}

bool SocketExists(const std::filesystem::path& path) {
  struct stat found {};
  return ::lstat(path.c_str(), &found) == 0 && S_ISSOCK(found.st_mode);
}

// The window as a view of the server on `socket`; its exit code. With `orOwn`,
// nullopt when no server answers there (the caller runs one of its own).
std::optional<int> RunView(const std::filesystem::path& socket, bool orOwn) {
  int argc = 1;
  char name[] = "paxelle-window";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  paxelle::AttachedWindow view(socket);
  const paxelle::Status opened = view.Open();
  const std::string& error = opened.message();
  switch (static_cast<paxelle::AttachResult>(opened.code())) {
    case paxelle::AttachResult::kAttached: return QApplication::exec();
    case paxelle::AttachResult::kNoServer:
      if (orOwn) return std::nullopt;
      break;
    case paxelle::AttachResult::kRefused:
      // Never a second server beside the one that is there: that is what the
      // socket's group keeps this user from.
      std::cerr << "paxelle-window: " << error << "\n" << paxelle::AccessAdvice() << "\n";
      QMessageBox(QMessageBox::Warning, "Paxelle", QString::fromStdString(paxelle::AccessAdvice()), QMessageBox::Ok)
          .exec();
      return 1;
    case paxelle::AttachResult::kFailed: break;
  }
  std::cerr << "paxelle-window: no server to attach to on " << socket.string() << ": " << error << "\n";
  QMessageBox(QMessageBox::Warning, "Paxelle",
              QString::fromStdString("No payment server answers on " + socket.string() + ".\n" + error),
              QMessageBox::Ok)
      .exec();
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  paxelle::ServerOptions options;
  std::string error;
  if (!args.empty() && args[0] == "params") error = "the params command is paxelle's: paxelle params ...";
  if (error.empty()) error = paxelle::ParseServerOptions(args, options).message();
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
  using Attach = paxelle::ServerOptions::Attach;
  if (options.attach != Attach::kNo) {
    const bool workdirGiven = std::find(args.begin(), args.end(), "--workdir") != args.end() ||
                              std::any_of(args.begin(), args.end(),
                                          [](const std::string& arg) { return arg.starts_with("--workdir="); });
    const std::filesystem::path socket = AttachSocket(options, workdirGiven && options.attach == Attach::kAlways);
    // Auto: the service's socket there means its server runs, or did; when
    // nobody answers on it, this window runs a server of its own as before.
    if (options.attach == Attach::kAlways || SocketExists(socket)) {
      if (const std::optional<int> code = RunView(socket, options.attach == Attach::kAuto)) return *code;
    }
  }
  // Two hundred lanes, the host workers and the files need more than a desktop's default.
  std::string note;
  if (!paxelle::RaiseOpenFileLimit(note)) std::cerr << "paxelle-window: " << note << "\n";
  // Declared first: the window outlives the application that uses it.
  paxelle::WindowFrontEnd window(QString::fromStdString(options.params.string()));
  paxelle::COpxWorldPayIP_HostApp app(std::move(options), window, std::cerr);
  return app.Run();
}
