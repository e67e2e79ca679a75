// The one table of what the server does per transaction code.
#include "core/TranCodes.h"

#include "core/ReturnCodes.h"

#include <algorithm>
#include <array>

namespace paxelle {
namespace {

using enum HostLayout;

// Columns: id, word, layout, completion, local answer, session answers, reversible,
// financial traffic, echoes the request's AuthCode, reports capture. Sorted by id.
constexpr TranCodeInfo kTranCodes[] = {
    {kCreditSale, "Sale", kCredit, true, 0, false, false, true, false, true},
    {kCreditReturn, "Return", kCredit, true, 0, false, false, false, false, true},
    {kCreditVoidSale, "VoidSale", kCredit, false, 0, false, false, false, false, true},
    {kCreditVoidReturn, "VoidReturn", kCredit, false, 0, false, false, false, false, true},
    {kCreditVoiceAuth, "VoiceAuth", kVoiceAuth, true, 0, false, false, false, true, true},
    {kCreditPreAuth, "PreAuth", kCredit, true, 0, false, false, true, false, false},
    {kCreditAuthOnly, "AuthOnly", kCredit, true, 0, false, false, true, false, false},
    {kCreditZeroAuth, "ZeroAuth", kCredit, false, 0, false, false, true, false, false},
    {kCreditPreAuthCapture, "PreAuthCapture", kCredit, true, 0, false, false, false, true, true},
    {kCreditFsaSale, "FSASale", kFsa, true, 0, false, false, true, false, true},
    {kCreditReverseFsaSale, "ReverseFSASale", kCredit, false, 0, false, false, false, false, true},
    {kCreditBalance, "Balance", kCredit, false, 0, false, false, false, false, true},
    {kDebitSale, "Sale", kDebit, true, 0, false, false, true, false, true},
    {kDebitReturn, "Return", kDebit, true, 0, false, false, false, false, true},
    {kDebitPreAuth, "PreAuth", kNone, true, 0, false, false, true, false, true},
    {kDebitPreAuthCapture, "PreAuthCapture", kNone, true, 0, false, false, false, true, true},
    {kBatchSummary, "BatchSummary", kBatch, false, 0, false, false, false, false, true},
    {kBatchClose, "BatchClose", kBatch, false, 0, false, false, false, false, true},
    {kEbtFoodSale, "Sale", kEbt, true, 0, false, false, true, false, true},
    {kEbtFoodReturn, "Return", kEbt, true, 0, false, false, false, false, true},
    {kEbtCashSale, "Sale", kEbt, true, 0, false, false, true, false, true},
    {kEbtVoucher, "Voucher", kEbt, true, 0, false, false, true, true, true},
    {kEbtBalance, "Balance", kEbt, false, 0, false, false, false, false, true},
    {kCheckPersonal, "Sale", kNoMessage, false, kRcCardTypeNotAccepted, false, false, false, false, true},
    {kCheckCompany, "Sale", kNoMessage, false, kRcCardTypeNotAccepted, false, false, false, false, true},
    {kEmvParamDownload, "EMVParamDownload", kBuiltIn, false, 0, false, false, false, false, true},
    {kEmvSale, "EMVSale", kEmv, true, 0, false, true, true, false, true},
    {kEmvReturn, "EMVReturn", kEmv, true, 0, false, true, false, false, true},
    {kEmvVoidSale, "EMVVoidSale", kEmv, false, 0, false, true, false, false, true},
    {kEmvVoidReturn, "EMVVoidReturn", kEmv, false, 0, false, true, false, false, true},
    {kEmvVoiceAuth, "EMVVoiceAuth", kEmv, true, 0, false, true, false, true, true},
    {kEmvAdjust, "INVALID", kNone, false, kRcTimeout, false, false, false, false, true},
    {kEmvZeroAuth, "EMVZeroAuth", kEmv, false, 0, false, true, true, false, true},
    {kEmvOfflineApprovedSale, "INVALID", kNone, false, 0, false, false, false, false, true},
    {kEmvOfflineDeclinedSale, "INVALID", kNone, false, 0, true, false, false, false, true},
    {kEmvChipOverrideSale, "EMVChipOverrideSale", kEmv, false, 0, false, true, false, false, true},
    {kEmvTimeoutReversal, "EMVTimeoutReversal", kNone, false, kRcTimeout, false, true, false, false, true},
    {kServerVersion, "ServerVersion", kNone, false, 0, true, false, false, false, true},
    {kGetPaxelleParms, "GetPaxelleParms", kNone, false, 0, true, false, false, false, true},
};

constexpr TranCodeInfo kUnknown = {kTranNone, "INVALID", kNone, false, 0, false, false, false, false, true};

static_assert(std::is_sorted(std::begin(kTranCodes), std::end(kTranCodes),
                             [](const TranCodeInfo& a, const TranCodeInfo& b) { return a.id < b.id; }));

}  // namespace

const TranCodeInfo& TranCodeInfoOf(int tranCodeId) {
  const auto found = std::lower_bound(std::begin(kTranCodes), std::end(kTranCodes), tranCodeId,
                                      [](const TranCodeInfo& row, int id) { return row.id < id; });
  return found != std::end(kTranCodes) && found->id == tranCodeId ? *found : kUnknown;
}

}  // namespace paxelle
