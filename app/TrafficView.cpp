#include "app/TrafficView.h"

#include "config/ParamStore.h"
#include "core/PendingQueue.h"
#include "host/BatchState.h"
#include "host/SequenceCounters.h"

#include <cstdio>
#include <thread>

namespace paxelle {
namespace {

using std::chrono::milliseconds;

constexpr char kConfigNotSetText[] = "Configuration not Set! - Use Setup | Merchant Parameters";
constexpr char kConfigUnreadableText[] = "Problem reading Configuration File - Use Setup | Merchant Parameters";
constexpr char kConfigInvalidText[] = "Configuration not Set! - ";
constexpr char kConnectingHostText[] = "Attempting to Connect to WorldPay  ...";
constexpr char kStartingWorkerText[] = "Attempting to Start Main Worker...";
constexpr char kRetrySuffix[] = "\r\n   Retry?";
constexpr char kStartingDialText[] = "Starting Dial Backup Support...";
constexpr char kStartingListenerText[] = "Initializing Client TCP/IP Interface....";
constexpr char kListenerFailedText[] = "Failed to start TCP/IP Server!";
constexpr char kListenerFailedLog[] = "Failed to initialize TCP/IP Server interface return code: %d.";
constexpr char kListenerStartedLog[] = "TCP/IP Server initialized successfully.";
constexpr char kNumbersNotSavedOperatorText[] =
    "Sequence numbers can NOT be saved - transactions are NOT being sent to WorldPay! Check the disk.";
constexpr char kInterfacesStartedLog[] = "Interfaces initialized successfully.";
constexpr char kStoppingListenerText[] = "Stopping New Client Connections ...";
constexpr char kAcceptStopFailedText[] = "Error Stopping TCP/IP Accept thread!";
constexpr char kStoppingHostText[] = "Shutting down WORLDPAY Interface ...";
constexpr char kStoppingDialText[] = "Shutting down Dial Backup...";
constexpr char kStoppingClientsText[] = "Shutting down Clients...";
constexpr char kInterfacesStoppedLog[] = "Interfaces Stopped.";
constexpr char kClientsConnectedQuestion[] =
    "There are Client connections in Process.\rAre you SURE you want to do this?\r\r";

}  // namespace

std::string TrafficRowText(std::time_t when, std::string_view message) {
  std::string row = FormatLocalTime("[%m/%d/%y %H:%M:%S] ", when);
  row += message;
  return row;
}

std::string RunningTitle(int requests, int sockets, std::time_t when) {
  const std::string time = FormatLocalTime("%H:%M:%S", when);
  char title[160];
  std::snprintf(title, sizeof title,
                "  Paxelle XML 5.0 RBS WorldPay-Lynk #Requests-> %d    #Sockets-> %d     %s%s", requests,
                sockets, time.c_str(), "");
  return title;
}

const char* TrafficRowMessage(HostTrafficEvent event) {
  switch (event) {
    case HostTrafficEvent::kSendingIp: return "Sending Auth Request (IP) to WorldPay.";
    case HostTrafficEvent::kReceivedIp: return "Auth Response Received (IP) from WorldPay.";
    case HostTrafficEvent::kSendingDial: return "Sending Auth Request (Dial) to WorldPay.";
    case HostTrafficEvent::kReceivedDial: return "Auth Response Received (Dial) from WorldPay.";
    case HostTrafficEvent::kNumbersNotSaved: return kNumbersNotSavedOperatorText;
  }
  return "";
}

void TrafficRows::Add(std::string row) {
  rows_.push_front(std::move(row));
  if (rows_.size() > kTrafficRowLimit) rows_.resize(kTrafficRowsKept);
}

COpxView::COpxView(IOperatorInterface& operatorInterface, ViewServices services, ViewInterfaces interfaces)
    : operator_(operatorInterface),
      services_(std::move(services)),
      createListener_(std::move(interfaces.createListener)),
      host_(std::move(interfaces.host)),
      dial_(std::move(interfaces.dial)) {}

COpxView::~COpxView() = default;

void COpxView::StartInterfaces() {
  operator_.ShowOfflineTitle();
  operator_.ShowWait();
  services_.sleep(kInterfaceStartPause);
  RunStartSteps();
  operator_.CloseWait();
}

void COpxView::RunStartSteps() {
  switch (services_.params.GetConfigurationState()) {
    case ConfigurationState::ParamsNotSet:
      operator_.ShowMessage(kConfigNotSetText);
      return;
    case ConfigurationState::ParamsUnreadable: {
      // A file that is there but cannot be read must not pass for one never set.
      const std::string failure = services_.params.ReadFailure();
      operator_.ShowMessage(failure.empty() ? std::string(kConfigUnreadableText)
                                            : std::string(kConfigUnreadableText) + "\r\n(" + failure + ")");
      return;
    }
    case ConfigurationState::ParamsInvalid:
      // Never under a merchant or a password the file did not really name.
      operator_.ShowMessage(std::string(kConfigInvalidText) + RefusedIdentityText(services_.params.GetParams()) +
                            " is invalid");
      return;
    case ConfigurationState::ParamsReady:
      break;
  }

  const CMerchantParams params = services_.params.GetParams();
  bool changed = false;
  std::string batchNo;  // only opened here; the batch state logs its own failures
  // Damaged number files are logged and mended here; only a file of which
  // neither copy reads needs the operator.
  if (const std::string alarms = services_.counters.CheckFiles(); !alarms.empty()) operator_.ShowMessage(alarms);
  static_cast<void>(services_.batch.GetBatchNo(false, true, changed, batchNo));
  // A batch opened here starts its items at 1, as one opened by a sale does.
  if (changed) static_cast<void>(services_.counters.ResetItems());
  services_.batch.SetSchedule(params.GetValue(kParamBatchCloseOption), params.GetValue(kParamHostCloseTime));

  services_.pending.Clear();
  services_.sleep(kInterfaceStartPause);

  operator_.SetWaitText(params.GetNumber(kParamTransportMethod) == kTransportDialOnly ? kStartingWorkerText
                                                                                      : kConnectingHostText);
  const auto hostStarted = [this] {
    bool started = false;
    Blocking([&] { started = host_->Start(); });
    return started;
  };
  while (!hostStarted()) {
    if (!operator_.AskYesNo(OperatorQuestion::kRetryHostStart, host_->LastErrorText() + kRetrySuffix)) {
      StopInterfaces();
      return;
    }
  }

  const CMerchantParams current = services_.params.GetParams();
  const int transport = current.GetNumber(kParamTransportMethod);
  if (transport == kTransportIpWithDialBackup || transport == kTransportDialOnly) {
    operator_.SetWaitText(kStartingDialText);
    bool dialStarted = false;
    Blocking([&] { dialStarted = dial_->Start(current.GetNumber(kParamModemComPort)); });
    if (!dialStarted) {
      operator_.ShowMessage(dial_->LastError());
      StopInterfaces();
      return;
    }
  }

  operator_.SetWaitText(kStartingListenerText);
  if (!listener_) listener_ = createListener_();
  int code = -1;
  if (listener_) {
    listener_->SetConnectionLimit(kClientConnectionLimit);
    Blocking([&] { code = listener_->StartOnClientPort(); });
  }
  if (code != 0) {
    operator_.ShowMessage(kListenerFailedText);
    char line[96];
    std::snprintf(line, sizeof line, kListenerFailedLog, code);
    services_.log(line);
    listener_.reset();
    StopInterfaces();
    return;
  }
  services_.log(kListenerStartedLog);
  statusTimerOn_ = true;
  services_.log(kInterfacesStartedLog);
}

void COpxView::StopInterfaces() {
  statusTimerOn_ = false;
  operator_.ShowWait();

  operator_.SetWaitText(kStoppingListenerText);
  int acceptStop = 0;
  if (listener_) Blocking([&] { acceptStop = listener_->Stop(); });
  if (acceptStop == 1) operator_.ShowMessage(kAcceptStopFailedText);

  operator_.SetWaitText(kStoppingHostText);
  Blocking([this] { host_->Stop(); });

  operator_.SetWaitText(kStoppingDialText);
  Blocking([this] { dial_->Stop(); });

  operator_.SetWaitText(kStoppingClientsText);
  if (listener_) DrainClients();
  listener_.reset();

  services_.log(kInterfacesStoppedLog);
  operator_.NoteInterfacesStopped();
  operator_.CloseWait();
}

void COpxView::DrainClients() {
  listener_->SetGoingOffline(true);
  const auto limit = services_.now() + kClientDrainLimit;
  const auto waitWhileConnected = [&] {
    while (listener_->ConnectionCount() != 0 && services_.now() < limit) services_.sleep(kClientDrainStep);
  };
  waitWhileConnected();
  // Keep the listener a while longer: a session may still be finishing its
  // last send after the count first reached zero.
  const auto settled = services_.now() + kClientDrainSettle;
  while (services_.now() < settled && services_.now() < limit) {
    services_.sleep(kClientDrainStep);
    waitWhileConnected();
  }
  if (const int left = listener_->ConnectionCount(); left != 0) {
    char line[128];
    std::snprintf(line, sizeof line, "%d Client connection(s) still open after %d s - closing them.", left,
                  static_cast<int>(kClientDrainLimit.count()));
    services_.log(line);
  }
}

void COpxView::Blocking(const std::function<void()>& step) {
  if (services_.runBlocking) {
    services_.runBlocking(step);
  } else {
    step();
  }
}

bool COpxView::RequestStop() {
  if (!ConfirmStop()) return false;
  StopInterfaces();
  return true;
}

bool COpxView::ConfirmStop() {
  return !listener_ || listener_->ConnectionCount() < 1 ||
         operator_.AskYesNo(OperatorQuestion::kStopWithClients, kClientsConnectedQuestion);
}

void COpxView::OnStatusTimer() {
  if (statusTimerOn_) RefreshStatus();
}

void COpxView::RefreshStatus() {
  const std::time_t now = services_.clock();
  if (!listener_) return;
  const int requests = services_.pending.ActiveCount();
  const int sockets = listener_->ConnectionCount();
  operator_.SetStatusTitle(RunningTitle(requests, sockets, now), requests, sockets);
}

void COpxView::AddTrafficRow(std::string_view message) {
  std::string row = TrafficRowText(services_.clock(), message);
  rows_.Add(row);
  operator_.AddTrafficRow(row);
}

void COpxView::OnHostTraffic(HostTrafficEvent event) { AddTrafficRow(TrafficRowMessage(event)); }

}  // namespace paxelle
