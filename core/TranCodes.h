// Transaction codes, processing states and dispositions of the transaction record.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace paxelle {

enum TranCodeIdValue : int {
  kTranNone = 0,
  kCreditSale = 1,
  kCreditReturn = 2,
  kCreditVoidSale = 3,
  kCreditVoidReturn = 4,
  kCreditVoiceAuth = 5,
  kCreditPreAuth = 6,
  kCreditAuthOnly = 7,
  kCreditZeroAuth = 8,
  kCreditPreAuthCapture = 9,
  kCreditFsaSale = 10,
  kCreditReverseFsaSale = 11,
  kCreditBalance = 12,
  kDebitSale = 14,
  kDebitReturn = 15,
  kDebitPreAuth = 16,
  kDebitPreAuthCapture = 17,
  kBatchSummary = 18,
  kBatchClose = 19,
  kEbtFoodSale = 30,
  kEbtFoodReturn = 31,
  kEbtCashSale = 32,
  kEbtVoucher = 34,
  kEbtBalance = 36,
  kCheckPersonal = 40,
  kCheckCompany = 41,
  kEmvParamDownload = 54,
  kEmvSale = 56,
  kEmvReturn = 57,
  kEmvVoidSale = 58,
  kEmvVoidReturn = 59,
  kEmvVoiceAuth = 60,
  kEmvAdjust = 61,
  kEmvZeroAuth = 62,
  kEmvOfflineApprovedSale = 63,
  kEmvOfflineDeclinedSale = 64,
  kEmvChipOverrideSale = 65,
  kEmvTimeoutReversal = 66,
  kServerVersion = 900,
  kGetPaxelleParms = 901,
};

// Where a record is in its life (`State`); who sets each and who reads it next:
//   0 Created           session: built from the lane's bytes, not queued yet
//   1 WaitingForHost    session queues it; host thread dispatches it (or an abort cancels it)
//   2 Sending           host thread hands it to a worker; the worker owns the exchange
//   3 Aborted           host thread, for a lane's abort; session answers 004006
//   4 TimedOut          worker: the host never answered; session answers 004001
//   5 HostFailed        worker or dial hand-over: nothing usable came back; session answers 004003
//   6 FinishedLocally   host thread, answered without the host (ReturnCode set); session answers it
//   7 Delivered         session: the answer went to the lane; the session removes it
//   8 Parsed            worker: the host's answer is parsed and WireResponse built; session sends it
//   9 DialHandOver      worker hands it to the dial link; dial link takes it
//  10 ReceivedUnparsed  worker, after a dial answer (12): the session parses HostResponse
//  11 DialFailed        dial link: no answer over the line; the worker retries once when the line
//                       was already up, else makes it 5
//  12 DialAnswered      dial link: HostResponse holds the answer; the worker makes it 10
//  13 DialWorking       reserved for the dial link's own use while it works on the record
enum class RequestState : int {
  kStateCreated = 0,
  kStateWaitingForHost = 1,
  kStateSending = 2,
  kStateAborted = 3,
  kStateTimedOut = 4,
  kStateHostFailed = 5,
  kStateFinishedLocally = 6,
  kStateDelivered = 7,
  kStateParsed = 8,
  kStateDialHandOver = 9,
  kStateReceivedUnparsed = 10,
  kStateDialFailed = 11,
  kStateDialAnswered = 12,
  kStateDialWorking = 13,
};
using enum RequestState;

// What the session does with a parsed record (`Disposition`): process it (queue it for
// the host, or answer an administrative command itself), treat it as the lane's abort,
// answer its ReturnCode as an error, or queue it as the batch close that holds the
// queue for itself.
enum class RequestDisposition : int {
  kDispositionProcess = 0,
  kDispositionAbort = 1,
  kDispositionError = 2,
  kDispositionBatchClose = 3,
};
using enum RequestDisposition;

// The family of host message a record's request went out as, which tells the answer
// parser how to read the host's answer (`HostMsgKind`).
enum class HostMessageKind : int {
  kCredit = 0,     // a card authorization, sale, return or void (credit, healthcare, chip)
  kForce = 1,      // a force: a captured pre-authorization or a voice authorization
  kDebit = 2,      // a debit PIN transaction
  kEbt = 4,        // an EBT transaction, whose answer carries the balances
  kBatch = 5,      // batch summary or batch close
  kEmvParams = 8,  // the EMV parameter download, answered from the server's own tables
};

// Their numbers (the values the log, the state table and operators use), for logs and test messages.
inline std::ostream& operator<<(std::ostream& out, RequestState state) { return out << static_cast<int>(state); }
inline std::ostream& operator<<(std::ostream& out, RequestDisposition disposition) {
  return out << static_cast<int>(disposition);
}
inline std::ostream& operator<<(std::ostream& out, HostMessageKind kind) { return out << static_cast<int>(kind); }

// The host message layout an id is built with.
enum class HostLayout {
  kNone,       // nothing the host could read: the id is refused if it ever reaches the host thread
  kCredit,
  kFsa,
  kVoiceAuth,
  kDebit,
  kEbt,
  kEmv,
  kBatch,
  kBuiltIn,    // answered from the server's own tables (EMV parameters) through the host thread
  kNoMessage,  // the check family: built without a message; the host thread answers it locally
};

class CRequest;
class CServerContext;

// How the lane's own session answers an id without queueing it: the finished wire
// answer, and the outcome counted for it.
struct SessionAnswer {
  std::string (*build)(CRequest& record, const CServerContext& context);
  const char* outcome;
};

// Everything the server decides by transaction code, in one row per id.
struct TranCodeInfo {
  int id;
  const char* word;          // the TranCode word answered for it
  const char* laneWord;      // the TranCode word the credit parser takes for it; empty: not a credit id
  HostLayout layout;
  const char* hostTranCode;  // the credit, healthcare and voice layouts' host transaction code;
                             // empty: none (a credit void takes the voided transaction's)
  bool needsCompletion;      // the host expects a completion after the answer
  int localAnswerCode;       // the host thread answers it with this code before any build; 0: none
  const SessionAnswer* sessionAnswer;  // answered by the lane's own session, never queued; null: queued
  bool reversible;           // a chip transaction whose timeout tells the lane not to reverse
  bool echoesRequestAuthCode;  // the result shows the request's AuthCode when the host gave none
  bool reportsCapture;       // an approval carries a capture status
};

// The row of `tranCodeId`; a row with word "INVALID" and layout kNone for ids
// without one.
const TranCodeInfo& TranCodeInfoOf(int tranCodeId);

// The TranCode word answered for an id; "INVALID" for ids without one.
inline const char* TranCodeWord(int tranCodeId) { return TranCodeInfoOf(tranCodeId).word; }
// The credit id whose lane word is `laneWord`; kTranNone for a word no credit row has.
int CreditTranCodeOf(std::string_view laneWord);

}  // namespace paxelle
