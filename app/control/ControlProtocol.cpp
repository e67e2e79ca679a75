#include "app/control/ControlProtocol.h"

#include <nlohmann/json.hpp>

namespace paxelle {
namespace {

using nlohmann::json;

constexpr std::pair<ControlRequest, const char*> kRequestNames[] = {
    {ControlRequest::kStatus, "status"},
    {ControlRequest::kWatch, "watch"},
    {ControlRequest::kParams, "params"},
    {ControlRequest::kRestart, "restart"},
};

constexpr std::pair<InterfacesState, const char*> kStates[] = {
    {InterfacesState::kStarting, "starting"},
    {InterfacesState::kRunning, "running"},
    {InterfacesState::kStopping, "stopping"},
    {InterfacesState::kStopped, "stopped"},
};

// One line of JSON. Text that is not UTF-8 is replaced, never refused: a
// reply must always go out.
std::string Line(const json& value) { return value.dump(-1, ' ', false, json::error_handler_t::replace) + "\n"; }

// The object of `line`.
Status Parse(const std::string& line, json& value) {
  value = json::parse(line, nullptr, false);
  if (value.is_discarded() || !value.is_object()) return Status::Failure("not a JSON object");
  return Status::Ok();
}

// The object of `line` when it says ok; else the server's error text.
Status ParseOk(const std::string& line, json& value) {
  if (Status parsed = Parse(line, value); !parsed.ok()) return parsed;
  if (value.value("ok", false)) return Status::Ok();
  return Status::Failure(value.value("error", std::string("the server refused the request")));
}

}  // namespace

const std::vector<int>& SetupDialogEntries() {
  static const std::vector<int> entries = {1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 19, 15, 16, 17, 7, 8, 14, 18};
  return entries;
}

std::string RequestLine(ControlRequest request) {
  for (const auto& [kind, name] : kRequestNames) {
    if (kind == request) return Line(json{{"request", name}});
  }
  return Line(json{{"request", "status"}});
}

Status ParseRequestLine(const std::string& line, ControlRequest& request) {
  json value;
  if (Status parsed = Parse(line, value); !parsed.ok()) return parsed;
  const auto found = value.find("request");
  if (found == value.end() || !found->is_string()) return Status::Failure("no \"request\"");
  for (const auto& [kind, name] : kRequestNames) {
    if (*found == name) {
      request = kind;
      return Status::Ok();
    }
  }
  return Status::Failure("unknown request: expected status, watch, params or restart");
}

std::string StatusReply(const ControlStatus& status) {
  const BoardStatus& board = status.board;
  json messages = json::array();
  for (const BoardMessage& message : board.messages) messages.push_back({{"time", message.time}, {"text", message.text}});
  json host = {{"primary", status.hostPrimary}, {"secondary", status.hostSecondary}, {"reached", nullptr}};
  if (board.hostReached) host["reached"] = *board.hostReached;
  return Line(json{{"ok", true},
                   {"version", status.version},
                   {"workdir", status.workdir},
                   {"interfaces", InterfacesStateName(board.state)},
                   {"title", board.title},
                   {"reason", board.reason},
                   {"activity", board.activity},
                   {"requests", board.requests},
                   {"lanes", board.lanes},
                   {"refreshed", board.refreshed},
                   {"host", host},
                   {"dial", {{"transport", status.transport}, {"lineUp", status.dialLineUp},
                             {"lastCall", board.lastDialCall}}},
                   {"messages", messages}});
}

std::string ParamsReply(const CMerchantParams& params, const std::string& paramsFile) {
  json entries = json::object();
  for (const int number : SetupDialogEntries()) {
    std::string value = params.GetValue(number);
    // As the dialog's masked field shows it: its length, never its characters.
    if (number == kParamPassword) value = params.IsYes(kParamUsePassword) ? std::string(value.size(), '*') : "";
    entries[std::to_string(number)] = value;
  }
  return Line(json{{"ok", true}, {"paramsFile", paramsFile}, {"entries", entries}});
}

std::string WatchReply() { return Line(json{{"ok", true}, {"watch", true}}); }

std::string RestartReply() { return Line(json{{"ok", true}, {"restart", "requested"}}); }

std::string RowLine(const std::string& row) { return Line(json{{"row", row}}); }

std::string ErrorReply(const std::string& error) { return Line(json{{"ok", false}, {"error", error}}); }

Status ParseStatusReply(const std::string& line, ControlStatus& status) {
  json value;
  if (Status parsed = ParseOk(line, value); !parsed.ok()) return parsed;
  try {
    ControlStatus parsed;
    BoardStatus& board = parsed.board;
    parsed.version = value.value("version", "");
    parsed.workdir = value.value("workdir", "");
    const std::string state = value.value("interfaces", "stopped");
    board.state = InterfacesState::kStopped;
    for (const auto& [kind, name] : kStates) {
      if (state == name) board.state = kind;
    }
    board.title = value.value("title", "");
    board.reason = value.value("reason", "");
    board.activity = value.value("activity", "");
    board.requests = value.value("requests", 0);
    board.lanes = value.value("lanes", 0);
    board.refreshed = value.value("refreshed", "");
    const json host = value.value("host", json::object());
    parsed.hostPrimary = host.value("primary", "");
    parsed.hostSecondary = host.value("secondary", "");
    if (const auto reached = host.find("reached"); reached != host.end() && reached->is_boolean()) {
      board.hostReached = reached->get<bool>();
    }
    const json dial = value.value("dial", json::object());
    parsed.transport = dial.value("transport", "");
    parsed.dialLineUp = dial.value("lineUp", false);
    board.lastDialCall = dial.value("lastCall", "");
    const json messages = value.value("messages", json::array());
    for (const json& message : messages) {
      board.messages.push_back({message.value("time", ""), message.value("text", "")});
    }
    status = std::move(parsed);
    return Status::Ok();
  } catch (const json::exception& failure) {
    return Status::Failure(std::string("unexpected status reply: ") + failure.what());
  }
}

Status ParseParamsReply(const std::string& line, ControlParams& params) {
  json value;
  if (Status parsed = ParseOk(line, value); !parsed.ok()) return parsed;
  try {
    ControlParams parsed;
    parsed.paramsFile = value.value("paramsFile", "");
    const json entries = value.value("entries", json::object());
    for (const auto& [number, text] : entries.items()) {
      parsed.params.SetValue(std::stoi(number), text.get<std::string>());
    }
    params = std::move(parsed);
    return Status::Ok();
  } catch (const std::exception& failure) {
    return Status::Failure(std::string("unexpected params reply: ") + failure.what());
  }
}

Status ParseOkReply(const std::string& line) {
  json value;
  return ParseOk(line, value);
}

bool ParseRowLine(const std::string& line, std::string& row) {
  json value;
  if (!Parse(line, value).ok()) return false;
  const auto found = value.find("row");
  if (found == value.end() || !found->is_string()) return false;
  row = found->get<std::string>();
  return true;
}

}  // namespace paxelle
