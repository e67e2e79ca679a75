#include "app/control/ControlCommands.h"

#include "app/control/ControlClient.h"

#include <chrono>
#include <filesystem>
#include <optional>
#include <ostream>

namespace paxelle {
namespace {

struct CommandLine {
  std::string command;
  std::filesystem::path socket = kServiceControlPath;
};

bool Parse(const std::vector<std::string>& args, CommandLine& line, std::string& error) {
  line.command = args.at(0);
  bool placed = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.resize(equals);
    }
    if (name != "--workdir" && name != "--control") {
      error = "unknown argument \"" + args[i] + "\"";
      return false;
    }
    if (placed) {
      error = "give --workdir DIR or --control PATH, once";
      return false;
    }
    if (!value) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    if (value->empty()) {
      error = name + " needs a non-empty value";
      return false;
    }
    std::error_code failure;
    std::filesystem::path path = std::filesystem::absolute(*value, failure);
    if (failure) path = *value;
    line.socket = name == "--workdir" ? path / kControlSocketName : path;
    placed = true;
  }
  return true;
}

// Connects, telling the user what went wrong; the exit code when it did.
std::optional<int> ConnectTo(ControlClient& client, const std::filesystem::path& socket, std::ostream& err) {
  const Status connected = client.Connect(socket);
  switch (static_cast<ControlConnect>(connected.code())) {
    case ControlConnect::kConnected: return std::nullopt;
    case ControlConnect::kRefused:
      err << "paxelle: " << connected.message() << "\n" << AccessAdvice() << "\n";
      return kControlExitRefused;
    case ControlConnect::kNoServer:
      err << "paxelle: no server answers on " << socket.string() << " (" << connected.message() << ")\n";
      return kControlExitNoServer;
    case ControlConnect::kFailed: break;
  }
  err << "paxelle: " << connected.message() << "\n";
  return kControlExitNoServer;
}

// The exit code of a request the server did not answer as asked.
int Failed(const std::string& error, std::ostream& err) {
  err << "paxelle: " << error << "\n";
  if (IsAccessRefusal(error)) {
    err << AccessAdvice() << "\n";
    return kControlExitRefused;
  }
  return kControlExitNoServer;
}

std::string HostLine(const ControlStatus& status) {
  std::string line = status.hostPrimary;
  if (!status.hostSecondary.empty() && status.hostSecondary != status.hostPrimary) {
    line += ", fail-over " + status.hostSecondary;
  }
  if (!status.board.hostReached) return line + "; not contacted yet";
  return line + (*status.board.hostReached ? "; last connection made" : "; last connection FAILED");
}

std::string DialLine(const ControlStatus& status) {
  std::string line = status.transport;
  if (status.transport != "IP Only") line += status.dialLineUp ? "; line up" : "; line down";
  if (!status.board.lastDialCall.empty()) line += "; last call: " + status.board.lastDialCall;
  return line;
}

int ShowStatus(ControlClient& client, const CommandLine& line, std::ostream& out, std::ostream& err) {
  std::string reply;
  ControlStatus status;
  Status asked = client.Ask(ControlRequest::kStatus, reply);
  if (asked.ok()) asked = ParseStatusReply(reply, status);
  if (!asked.ok()) return Failed(asked.message(), err);
  out << StatusScreen(status, line.socket.string());
  return status.board.state == InterfacesState::kRunning ? kControlExitRunning : kControlExitStopped;
}

int Watch(ControlClient& client, std::ostream& out, std::ostream& err) {
  std::string reply;
  Status asked = client.Ask(ControlRequest::kWatch, reply);
  if (asked.ok()) asked = ParseOkReply(reply);
  if (!asked.ok()) return Failed(asked.message(), err);
  std::string line;
  for (;;) {
    // Rows come when the server has traffic: the wait is long, but each is bounded.
    switch (client.ReadLine(line, kControlWatchRead)) {
      case ControlClient::Read::kTimeout: continue;
      case ControlClient::Read::kClosed:
        err << "paxelle: the server closed the connection\n";
        return kControlExitNoServer;
      case ControlClient::Read::kLine: break;
    }
    std::string row;
    if (ParseRowLine(line, row)) out << row << std::endl;
  }
}

int Restart(ControlClient& client, std::ostream& out, std::ostream& err) {
  std::string reply;
  Status asked = client.Ask(ControlRequest::kRestart, reply);
  if (asked.ok()) asked = ParseOkReply(reply);
  if (!asked.ok()) return Failed(asked.message(), err);
  out << "Restart of the interfaces requested; `paxelle status` shows how it goes.\n";
  return kControlExitRunning;
}

}  // namespace

bool IsControlCommand(const std::string& word) { return word == "status" || word == "watch" || word == "restart"; }

std::vector<std::string> ControlSynopses() {
  return {"paxelle status|watch|restart [--workdir DIR | --control PATH]"};
}

std::string StatusScreen(const ControlStatus& status, const std::string& socketPath) {
  const BoardStatus& board = status.board;
  std::string screen;
  const auto row = [&screen](const std::string& name, const std::string& value) {
    screen += name + std::string(name.size() < 21 ? 21 - name.size() : 1, ' ') + value + "\n";
  };
  row("Server:", status.version + " in " + status.workdir);
  row("Control socket:", socketPath);
  std::string interfaces = InterfacesStateName(board.state);
  if (board.state != InterfacesState::kRunning && !board.reason.empty()) interfaces += ": " + board.reason;
  if (!board.activity.empty()) interfaces += " (" + board.activity + ")";
  row("Interfaces:", interfaces);
  row("Title:", board.title);
  row("Requests in process:", std::to_string(board.requests));
  row("Connected lanes:", std::to_string(board.lanes));
  row("Host:", HostLine(status));
  row("Transport:", DialLine(status));
  row("Last refresh:", board.refreshed.empty() ? "-" : board.refreshed);
  screen += "Operator messages:\n";
  if (board.messages.empty()) screen += "  (none)\n";
  for (const BoardMessage& message : board.messages) screen += "  " + message.time + "  " + message.text + "\n";
  return screen;
}

int RunControlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CommandLine line;
  std::string error;
  if (args.empty() || !IsControlCommand(args[0]) || !Parse(args, line, error)) {
    err << "paxelle: " << (error.empty() ? "expected status, watch or restart" : error) << "\n"
        << "Usage: " << ControlSynopses().front() << "\n";
    return kControlExitUsage;
  }
  ControlClient client;
  if (const std::optional<int> failed = ConnectTo(client, line.socket, err)) return *failed;
  if (line.command == "status") return ShowStatus(client, line, out, err);
  if (line.command == "watch") return Watch(client, out, err);
  return Restart(client, out, err);
}

}  // namespace paxelle
