// The one table of what the server does per transaction code.
#include "core/TranCodes.h"

#include "core/AdminCommands.h"
#include "core/ReturnCodes.h"
#include "core/ServerContext.h"

#include <algorithm>
#include <array>

namespace paxelle {
namespace {

using enum HostLayout;

std::string AnswerServerVersion(CRequest& record, const CServerContext& context) {
  return BuildServerVersion(record, context.requestCrypto);
}
std::string AnswerOfflineDecline(CRequest& record, const CServerContext& context) {
  return BuildOfflineDecline(record, context.requestCrypto);
}
constexpr SessionAnswer kVersionAnswer{AnswerServerVersion, "success"};
constexpr SessionAnswer kPaymentTypesAnswer{BuildPaymentTypes, "success"};
constexpr SessionAnswer kDeclineAnswer{AnswerOfflineDecline, "declined"};

// Columns: id, word, credit lane word, layout, credit host code, completion, local answer,
// session answer, reversible, echoes the request's AuthCode, reports capture. Sorted by id.
constexpr TranCodeInfo kTranCodes[] = {
    {kCreditSale, "Sale", "Sale", kCredit, "01", true, 0, nullptr, false, false, true},
    {kCreditReturn, "Return", "Return", kCredit, "04", true, 0, nullptr, false, false, true},
    {kCreditVoidSale, "VoidSale", "VoidSale", kCredit, "", false, 0, nullptr, false, false, true},
    {kCreditVoidReturn, "VoidReturn", "VoidReturn", kCredit, "", false, 0, nullptr, false, false, true},
    {kCreditVoiceAuth, "VoiceAuth", "VoiceAuth", kVoiceAuth, "03", true, 0, nullptr, false, true, true},
    {kCreditPreAuth, "PreAuth", "PreAuth", kCredit, "02", true, 0, nullptr, false, false, false},
    {kCreditAuthOnly, "AuthOnly", "AuthOnly", kCredit, "02", true, 0, nullptr, false, false, false},
    {kCreditZeroAuth, "ZeroAuth", "ZeroAuth", kCredit, "02", false, 0, nullptr, false, false, false},
    {kCreditPreAuthCapture, "PreAuthCapture", "PreAuthCapture", kCredit, "03", true, 0, nullptr, false, true, true},
    {kCreditFsaSale, "FSASale", "FSASale", kFsa, "01", true, 0, nullptr, false, false, true},
    {kCreditReverseFsaSale, "ReverseFSASale", "ReverseFSASale", kCredit, "", false, 0, nullptr, false, false, true},
    {kCreditBalance, "Balance", "Balance", kCredit, "09", false, 0, nullptr, false, false, true},
    {kDebitSale, "Sale", "", kDebit, "", true, 0, nullptr, false, false, true},
    {kDebitReturn, "Return", "", kDebit, "", true, 0, nullptr, false, false, true},
    {kDebitPreAuth, "PreAuth", "", kNone, "", true, 0, nullptr, false, false, true},
    {kDebitPreAuthCapture, "PreAuthCapture", "", kNone, "", true, 0, nullptr, false, true, true},
    {kBatchSummary, "BatchSummary", "", kBatch, "", false, 0, nullptr, false, false, true},
    {kBatchClose, "BatchClose", "", kBatch, "", false, 0, nullptr, false, false, true},
    {kEbtFoodSale, "Sale", "", kEbt, "", true, 0, nullptr, false, false, true},
    {kEbtFoodReturn, "Return", "", kEbt, "", true, 0, nullptr, false, false, true},
    {kEbtCashSale, "Sale", "", kEbt, "", true, 0, nullptr, false, false, true},
    {kEbtVoucher, "Voucher", "", kEbt, "", true, 0, nullptr, false, true, true},
    {kEbtBalance, "Balance", "", kEbt, "", false, 0, nullptr, false, false, true},
    {kCheckPersonal, "Sale", "", kNoMessage, "", false, kRcCardTypeNotAccepted, nullptr, false, false, true},
    {kCheckCompany, "Sale", "", kNoMessage, "", false, kRcCardTypeNotAccepted, nullptr, false, false, true},
    {kEmvParamDownload, "EMVParamDownload", "", kBuiltIn, "", false, 0, nullptr, false, false, true},
    {kEmvSale, "EMVSale", "", kEmv, "", true, 0, nullptr, true, false, true},
    {kEmvReturn, "EMVReturn", "", kEmv, "", true, 0, nullptr, true, false, true},
    {kEmvVoidSale, "EMVVoidSale", "", kEmv, "", false, 0, nullptr, true, false, true},
    {kEmvVoidReturn, "EMVVoidReturn", "", kEmv, "", false, 0, nullptr, true, false, true},
    {kEmvVoiceAuth, "EMVVoiceAuth", "", kEmv, "", true, 0, nullptr, true, true, true},
    {kEmvAdjust, "INVALID", "", kNone, "", false, kRcTimeout, nullptr, false, false, true},
    {kEmvZeroAuth, "EMVZeroAuth", "", kEmv, "", false, 0, nullptr, true, false, true},
    {kEmvOfflineApprovedSale, "INVALID", "", kNone, "", false, 0, nullptr, false, false, true},
    {kEmvOfflineDeclinedSale, "INVALID", "", kNone, "", false, 0, &kDeclineAnswer, false, false, true},
    {kEmvChipOverrideSale, "EMVChipOverrideSale", "", kEmv, "", false, 0, nullptr, true, false, true},
    {kEmvTimeoutReversal, "EMVTimeoutReversal", "", kNone, "", false, kRcTimeout, nullptr, true, false, true},
    {kServerVersion, "ServerVersion", "", kNone, "", false, 0, &kVersionAnswer, false, false, true},
    {kGetPaxelleParms, "GetPaxelleParms", "", kNone, "", false, 0, &kPaymentTypesAnswer, false, false, true},
};

constexpr TranCodeInfo kUnknown = {kTranNone, "INVALID", "", kNone, "", false, 0, nullptr, false, false, true};

static_assert(std::is_sorted(std::begin(kTranCodes), std::end(kTranCodes),
                             [](const TranCodeInfo& a, const TranCodeInfo& b) { return a.id < b.id; }));

}  // namespace

const TranCodeInfo& TranCodeInfoOf(int tranCodeId) {
  const auto found = std::lower_bound(std::begin(kTranCodes), std::end(kTranCodes), tranCodeId,
                                      [](const TranCodeInfo& row, int id) { return row.id < id; });
  return found != std::end(kTranCodes) && found->id == tranCodeId ? *found : kUnknown;
}

int CreditTranCodeOf(std::string_view laneWord) {
  const auto found = std::find_if(std::begin(kTranCodes), std::end(kTranCodes),
                                  [laneWord](const TranCodeInfo& row) { return row.laneWord == laneWord; });
  // The other families' rows have no lane word: an empty word names no credit id.
  return laneWord.empty() || found == std::end(kTranCodes) ? kTranNone : found->id;
}

}  // namespace paxelle
