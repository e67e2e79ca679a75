// The control socket's lines, the board the operator interface keeps for it,
// and the metrics' address: each as a table.
#include "app/OperatorInterface.h"
#include "app/TrafficView.h"
#include "app/control/ControlCommands.h"
#include "app/control/ControlProtocol.h"
#include "app/control/ViewOperator.h"
#include "app/metrics/MetricsExporter.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(ControlProtocolTest, EveryRequestReadsBackAsItself) {
  for (const ControlRequest request :
       {ControlRequest::kStatus, ControlRequest::kWatch, ControlRequest::kParams, ControlRequest::kRestart}) {
    const std::string line = RequestLine(request);
    ASSERT_EQ(line.back(), '\n');
    ControlRequest back = request == ControlRequest::kStatus ? ControlRequest::kWatch : ControlRequest::kStatus;
    const Status parsed = ParseRequestLine(line.substr(0, line.size() - 1), back);
    EXPECT_TRUE(parsed.ok()) << line << parsed.message();
    EXPECT_EQ(back, request) << line;
  }
}

TEST(ControlProtocolTest, AStatusReadsBackWhole) {
  ControlStatus status;
  status.board.state = InterfacesState::kStopped;
  status.board.title = kOfflineTitle;
  status.board.reason = "Configuration not Set! - Use Setup | Merchant Parameters";
  status.board.requests = 3;
  status.board.lanes = 4;
  status.board.hostReached = false;
  status.board.lastDialCall = "busy";
  status.board.messages = {{"10:00:00", "first"}, {"10:00:01", "second"}};
  status.hostPrimary = "auth.example.net:6661";
  status.transport = "IP with DIAL Backup";
  status.dialLineUp = true;
  ControlStatus back;
  const Status parsed = ParseStatusReply(StatusReply(status), back);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(back.board.state, InterfacesState::kStopped);
  EXPECT_EQ(back.board.title, kOfflineTitle);
  EXPECT_EQ(back.board.reason, status.board.reason);
  EXPECT_EQ(back.board.requests, 3);
  EXPECT_EQ(back.board.lanes, 4);
  EXPECT_EQ(back.board.hostReached, std::optional<bool>(false));
  EXPECT_EQ(back.board.lastDialCall, "busy");
  ASSERT_EQ(back.board.messages.size(), 2u);
  EXPECT_EQ(back.board.messages[1].text, "second");
  EXPECT_EQ(back.hostPrimary, "auth.example.net:6661");
  EXPECT_TRUE(back.dialLineUp);
  const std::string screen = StatusScreen(back, "/run/paxelle/control");
  EXPECT_NE(screen.find("Interfaces:          stopped: Configuration not Set!"), std::string::npos) << screen;
  EXPECT_NE(screen.find("Host:                auth.example.net:6661; last connection FAILED"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("IP with DIAL Backup; line up; last call: busy"), std::string::npos) << screen;
}

TEST(ControlProtocolTest, ThePasswordIsShownAsTheDialogShowsIt) {
  struct Case {
    const char* usePassword;
    const char* password;
    const char* shown;
  };
  for (const Case& c : {Case{"Y", "secret12", "********"}, Case{"N", "secret12", ""}, Case{"Y", "", ""}}) {
    CMerchantParams params;
    params.SetValue(kParamUsePassword, c.usePassword);
    params.SetValue(kParamPassword, c.password);
    const std::string line = ParamsReply(params, "/etc/paxelle/params");
    EXPECT_EQ(line.find("secret12"), std::string::npos) << line;
    ControlParams back;
    const Status parsed = ParseParamsReply(line, back);
    ASSERT_TRUE(parsed.ok()) << parsed.message();
    EXPECT_EQ(back.params.GetValue(kParamPassword), c.shown) << c.usePassword << " " << c.password;
    EXPECT_EQ(back.paramsFile, "/etc/paxelle/params");
  }
}

TEST(ControlProtocolTest, RowsAndRefusalsReadBack) {
  std::string row;
  ASSERT_TRUE(ParseRowLine(RowLine("[01/02/24 10:00:00] Sending Auth Request (IP) to WorldPay."), row));
  EXPECT_EQ(row, "[01/02/24 10:00:00] Sending Auth Request (IP) to WorldPay.");
  EXPECT_FALSE(ParseRowLine(WatchReply(), row));
  const Status refused = ParseOkReply(ErrorReply("permission denied: no"));
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.message(), "permission denied: no");
  EXPECT_TRUE(ParseOkReply(RestartReply()).ok());
}

TEST(MetricsAddressTest, AnAddressIsLoopbackUnlessItSaysOtherwise) {
  struct Case {
    const char* text;
    const char* address;  // nullptr: refused
  };
  for (const Case& c : {Case{"9464", "127.0.0.1:9464"}, Case{"127.0.0.2:9464", "127.0.0.2:9464"},
                        Case{"0.0.0.0:9464", "0.0.0.0:9464"}, Case{"[::1]:9464", "[::1]:9464"},
                        Case{"0", "127.0.0.1:0"}, Case{"localhost:9464", nullptr}, Case{"70000", nullptr},
                        Case{"127.0.0.1:", nullptr}, Case{"::1:9464", nullptr}}) {
    std::string address;
    const Status parsed = ParseMetricsAddress(c.text, address);
    EXPECT_EQ(parsed.ok(), c.address != nullptr) << c.text << " " << parsed.message();
    if (c.address != nullptr) {
      EXPECT_EQ(address, c.address) << c.text;
    }
  }
}

// An operator that only remembers whether it was called.
class SilentOperator final : public IOperatorInterface {
 public:
  void ShowMessage(const std::string&) override {}
  void ShowNotice(const std::string&) override {}
  bool AskYesNo(OperatorQuestion, const std::string&) override { return false; }
  void ShowWait() override {}
  void SetWaitText(const std::string&) override {}
  void CloseWait() override {}
  void ShowOfflineTitle() override {}
  void SetStatusTitle(const std::string&, int, int) override {}
  void NoteInterfacesStopped() override {}
  void AddTrafficRow(const std::string&) override {}
};

TEST(ViewOperatorTest, TheBoardFollowsTheSequences) {
  ViewBoard board;
  ViewOperator view(std::make_unique<SilentOperator>(), board, [] { return std::time_t{0}; });
  using State = InterfacesState;
  struct Step {
    const char* what;
    std::function<void()> call;
    State state;
    const char* reason;
  };
  const std::vector<Step> steps = {
      {"start begins", [&] { view.ShowOfflineTitle(); view.ShowWait(); }, State::kStarting, ""},
      {"start ends", [&] { view.CloseWait(); }, State::kRunning, ""},
      {"refresh", [&] { view.SetStatusTitle("title", 1, 2); }, State::kRunning, ""},
      {"stop begins", [&] { view.ShowWait(); view.SetWaitText("Shutting down Clients..."); }, State::kStopping, ""},
      {"stop ends", [&] { view.NoteInterfacesStopped(); view.CloseWait(); }, State::kStopped, ""},
      {"start refused by the configuration", [&] {
         view.ShowOfflineTitle();
         view.ShowWait();
         view.ShowMessage("Configuration not Set! - Use Setup | Merchant Parameters");
         view.CloseWait();
       }, State::kStopped, "Configuration not Set! - Use Setup | Merchant Parameters"},
      {"failed start", [&] {
         view.ShowOfflineTitle();
         view.ShowWait();
         view.AskYesNo(OperatorQuestion::kRetryHostStart, "Failed to Connect to WorldPay.\r\n   Retry?");
         view.ShowWait();
         view.NoteInterfacesStopped();
         view.CloseWait();
         view.CloseWait();
       }, State::kStopped, "Failed to Connect to WorldPay."},
  };
  for (const Step& step : steps) {
    step.call();
    const BoardStatus status = board.Status();
    EXPECT_EQ(status.state, step.state) << step.what;
    EXPECT_EQ(status.reason, step.reason) << step.what;
    EXPECT_TRUE(status.activity.empty() || std::string(step.what) == "stop begins") << step.what;
  }
  EXPECT_EQ(board.Status().title, kOfflineTitle);
  ASSERT_EQ(board.Status().messages.size(), 2u);
}

TEST(ViewOperatorTest, MessagesAndRowsAreKeptBoundedAndMasked) {
  ViewBoard board;
  ViewOperator view(std::make_unique<SilentOperator>(), board, [] { return std::time_t{0}; });
  for (int i = 0; i < 60; ++i) view.AddTrafficRow("row " + std::to_string(i));
  for (int i = 0; i < 12; ++i) view.ShowNotice("notice " + std::to_string(i));
  view.ShowMessage("Host said 4111111111111111 is bad");
  const std::vector<BoardRow> rows = board.RowsAfter(0);
  ASSERT_EQ(rows.size(), ViewBoard::kRowsKept);
  EXPECT_EQ(rows.front().text, "row 10");
  EXPECT_EQ(rows.back().sequence, 60u);
  EXPECT_EQ(board.RowsAfter(59).size(), 1u);
  const BoardStatus status = board.Status();
  ASSERT_EQ(status.messages.size(), ViewBoard::kMessagesKept);
  EXPECT_EQ(status.messages.back().text.find("4111111111111111"), std::string::npos) << status.messages.back().text;
  EXPECT_NE(status.messages.back().text.find("1111"), std::string::npos);
}

}  // namespace
}  // namespace paxelle
