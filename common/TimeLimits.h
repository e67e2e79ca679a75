// Every time limit of the server in one place, each with what it bounds; the
// settings structures and the command line take their defaults from here.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>

namespace paxelle {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::minutes;

// The POS client listener's default port (--client-port replaces it).
inline constexpr int kDefaultClientPort = 9000;

// Host link.
inline constexpr milliseconds kHostExchangeLimit{35000};   // the host's answer to a request or completion
inline constexpr seconds kHostConnectDefault{3};           // a connect when entry 18 reads 0
inline constexpr milliseconds kHostHandshakeReadLimit{10000};  // each read of the TLS handshake
inline constexpr seconds kHostSendStallLimit{10};          // a send that makes no progress
inline constexpr milliseconds kHostStopLook{1};            // how often a wait looks at a stop it cannot poll
inline constexpr milliseconds kHostQueuePoll{50};          // longest sleep between the host thread's queue passes
inline constexpr seconds kHostStopWait{20};                // the host interface's stop, for its workers
inline constexpr milliseconds kHostStartWaitSlice{250};    // the host thread's start, between looks at a stop
inline constexpr milliseconds kHostStopPoll{500};          // the host interface's stop, between looks at its workers
inline constexpr milliseconds kDialHandOverPoll{250};      // a worker's look at its record on the dial link
inline constexpr milliseconds kDialRetryPause{1000};       // a worker's pause before a dial record's second try

// Dial link.
inline constexpr milliseconds kDialQueuePoll{50};          // between the dial link's passes over the queue
inline constexpr milliseconds kModemInitAnswer{5000};      // the modem's answer to the init command
inline constexpr milliseconds kModemDialAnswer{30000};     // the modem's answer to the dial
inline constexpr milliseconds kCarrierAfterConnect{100};   // carrier detect after the modem's CONNECT
inline constexpr milliseconds kHostEnqWait{3000};          // the host's ENQ on a fresh call
inline constexpr milliseconds kDialStopHangUp{4000};       // a stop's hang-up of a call left up, in all
inline constexpr milliseconds kPortReopenPause{250};       // between attempts to open a lost port again
inline constexpr milliseconds kLinkTransmitLimit{5000};    // each frame or control byte sent on the line
inline constexpr milliseconds kBadLrcPause{50};            // before the NAK of a frame whose check failed

// Serial port.
inline constexpr milliseconds kModemCommandLimit{5000};    // each modem command sent
inline constexpr milliseconds kModemEchoWait{40};          // between a command and its carriage return
inline constexpr milliseconds kModemOkLimit{2000};         // the modem's OK
inline constexpr milliseconds kCarrierPoll{5};             // between looks at carrier detect
inline constexpr milliseconds kDtrDropWatch{300};          // carrier going after DTR is dropped
inline constexpr milliseconds kHangUpGuard{1500};          // silence on either side of "+++"

// Client sessions and listener.
inline constexpr seconds kLoginLimit{30};                  // a whole login message after the greeting
inline constexpr seconds kRefusedLoginLimit{5};            // the same on a connection over the limit
inline constexpr seconds kSessionIdleLimit{3600};          // a logged-in client that sends nothing
inline constexpr seconds kSessionPoll{1};                  // client bytes, before a look at the queue
inline constexpr seconds kSessionDrainLimit{300};          // results of a client that has gone
inline constexpr milliseconds kSessionDrainStep{100};      // between looks at the queue while draining
inline constexpr milliseconds kSessionErrorPause{1};       // after a failed read, before the next
inline constexpr milliseconds kClientSocketLimit{30000};   // each send or receive on a lane's socket
inline constexpr seconds kAcceptWake{1};                   // accept, before finished sessions are joined
inline constexpr milliseconds kDescriptorShortagePause{100};  // accept, when descriptors have run out
inline constexpr seconds kSingleSlotPause{1};              // accept, when one slot is left for refusals
inline constexpr seconds kSessionEndWait{60};              // the listener's stop, for its sessions
inline constexpr seconds kConnectionTableRecheck{1};       // the listener's stop, between looks at its table
inline constexpr seconds kLoginFailureWindow{60};          // login failures older than this no longer count
inline constexpr seconds kFirstLoginDelay{1};              // a slowed address, doubled at each failure
inline constexpr seconds kLongestLoginDelay{30};           // a slowed address, at most
inline constexpr minutes kReplayWindow{30};                // a request frame taken is refused again
inline constexpr minutes kLaneLogBudgetPeriod{1};          // a lane's logged text budget

// Control socket.
inline constexpr milliseconds kControlAnswerWait{5000};    // the client, for the server's answer
inline constexpr milliseconds kControlAnswerLimit{2000};   // a reply not taken drops its client
inline constexpr seconds kControlRequestWait{10};          // a client that asks nothing is closed
inline constexpr milliseconds kControlBusyRequestWait{50};  // a refused client's request, read before "busy"
inline constexpr seconds kControlBusyLogInterval{60};      // between two logged refusals
inline constexpr minutes kControlWatchRead{1};             // `paxelle watch`, each read for a row (then it reads again)

// Stops, drains and the status tick.
inline constexpr milliseconds kStatusRefreshPeriod{500};   // the status title's tick
inline constexpr milliseconds kInterfaceStartPause{50};    // between two starts of the interfaces
inline constexpr seconds kClientDrainLimit{60};            // a stop, for the lanes' sessions to end
inline constexpr milliseconds kClientDrainStep{500};       // between looks at the sessions while draining
inline constexpr milliseconds kClientDrainSettle{5000};    // a stop, for the last sessions' threads
inline constexpr seconds kLogShutdownWait{10};             // the traffic log's writer, for its queue
inline constexpr seconds kLogWriterWait{1};                // the log writer's look at its stop
inline constexpr milliseconds kLogGatherTime{5};           // the log writer, gathering a burst
inline constexpr minutes kLogAgerRecheck{10};              // between the log ager's passes
inline constexpr seconds kMetricsRequestLimit{10};         // one scrape of the metrics

// The window front end.
inline constexpr milliseconds kWindowMapLimit{1000};       // the window manager's mapping of a box
inline constexpr milliseconds kDispatchSlice{100};         // between looks at a blocking step run on a helper
inline constexpr seconds kAttachReconnectPeriod{2};        // an attached window's next try to reach the server

// Retries.
inline constexpr seconds kOperatorRetryInterval{10};       // the headless front end, before each "Yes" to Retry?
inline constexpr seconds kNumberCommitRecheck{1};          // the number files' commit thread, without numbers

// `wait` as poll() takes it: whole milliseconds, rounded up so that a wait never
// ends before its deadline, never negative.
constexpr int PollTimeout(std::chrono::nanoseconds wait) {
  return static_cast<int>(std::clamp<long long>(std::chrono::ceil<milliseconds>(wait).count(), 0, INT_MAX));
}

}  // namespace paxelle
