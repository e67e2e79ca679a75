// The control socket's protocol: one JSON object per line each way. A client
// sends {"request": "status" | "watch" | "params" | "restart"}; the server
// answers each with one object that has "ok" (and "error" when false); a watch
// is answered {"ok": true, "watch": true}, then one {"row": TEXT} per traffic
// row, the newest 50 first, until the client leaves. Both ends use these
// functions, so they cannot disagree; JSON is read and written by the library.
#pragma once

#include "app/control/ViewBoard.h"
#include "common/Status.h"
#include "config/MerchantParams.h"

#include <string>
#include <vector>

namespace paxelle {

enum class ControlRequest { kStatus, kWatch, kParams, kRestart };

// What `status` answers: the board and what the server knows of its set-up.
struct ControlStatus {
  BoardStatus board;
  std::string version;
  std::string workdir;
  std::string hostPrimary;    // NAME:PORT
  std::string hostSecondary;  // NAME:PORT
  std::string transport;      // the setup dialog's name of entry 14
  bool dialLineUp = false;
};

// What `params` answers: the setup dialog's entries, the password as the dialog
// shows it (one '*' per character, and only when entry 7 is "Y").
struct ControlParams {
  CMerchantParams params;
  std::string paramsFile;
};

// The request line of `request` (with its line end).
std::string RequestLine(ControlRequest request);
// The request of one line, left as it was when the line is none.
Status ParseRequestLine(const std::string& line, ControlRequest& request);

// Server side: each reply with its line end.
std::string StatusReply(const ControlStatus& status);
std::string ParamsReply(const CMerchantParams& params, const std::string& paramsFile);
std::string WatchReply();
std::string RestartReply();
std::string RowLine(const std::string& row);
std::string ErrorReply(const std::string& error);

// Client side: a failure says the server's or the parser's text.
Status ParseStatusReply(const std::string& line, ControlStatus& status);
Status ParseParamsReply(const std::string& line, ControlParams& params);
// An {"ok": true} reply (watch, restart).
Status ParseOkReply(const std::string& line);
// A row of a watch; false when the line is no row.
bool ParseRowLine(const std::string& line, std::string& row);

// The entries the setup dialog shows, in its order.
const std::vector<int>& SetupDialogEntries();

}  // namespace paxelle
