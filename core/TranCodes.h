// Transaction codes, processing states and dispositions of the transaction record.
#pragma once

#include <string>

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

// Processing states of a record (`State`).
enum RequestState : int {
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

// What the session does with a parsed record (`Disposition`).
enum RequestDisposition : int {
  kDispositionProcess = 0,
  kDispositionAbort = 1,
  kDispositionError = 2,
  kDispositionBatchClose = 3,
};

// The TranCode word answered for an id; "INVALID" for ids without one.
const char* TranCodeWord(int tranCodeId);

// The financial ids that count as traffic for the queue's idle clock.
bool IsFinancialTraffic(int tranCodeId);

}  // namespace paxelle
