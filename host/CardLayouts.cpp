// The card layouts: credit, healthcare sale, voice authorization, debit, EBT.
#include "common/TextHelpers.h"
#include "host/HostLayouts.h"
#include "host/HostRequestBuilder.h"

#include <utility>

namespace paxelle::hostlayout {
namespace {

std::string EmvCapableFlag(const CMerchantParams& params) {
  return params.GetNumber(kParamEmvSupport) != 0 ? "9" : "7";
}

bool WantsAddressBlock(const CRequest& record) { return record.HasZip || record.HasCVV; }

std::string FsaAmounts(const CRequest& record) {
  std::string amounts = "S" + ZeroFill(record.Authorize, 12);
  const std::pair<const char*, const std::string*> parts[] = {
      {":U", &record.FSAPrescription},
      {":V", &record.FSAVision},
      {":W", &record.FSAClinical},
      {":X", &record.FSADental},
  };
  for (const auto& [tag, amount] : parts) {
    if (!amount->empty()) amounts += tag + ZeroFill(*amount, 12);
  }
  return amounts;
}

}  // namespace

bool BuildCreditLayout(CRequest& record, const HostMessageSources& sources) {
  HeadCodes codes;
  codes.cardCode = CardCode(record);
  codes.entryMode = SwipeEntryMode(record);
  switch (record.TranCodeId) {
    case kCreditVoidSale:
    case kCreditVoidReturn:
    case kCreditReverseFsaSale:
      TranslateVoid(record, codes);
      break;
    default:
      codes.tranCode = TranCodeInfoOf(record.TranCodeId).hostTranCode;
      if (codes.tranCode.empty()) {
        record.HostErrorText = kNoCreditCodeText;
        return false;
      }
      break;
  }
  // A force completes an earlier authorization; a sale or an authorization may be
  // verified by address and card code.
  const bool force = !codes.isVoid && codes.tranCode == "03";
  const bool addressAllowed = !codes.isVoid && (codes.tranCode == "01" || codes.tranCode == "02");
  if (force) codes.messageClass = '4';

  std::string message = TransactionHead(record, codes, sources) + AccountField(record);
  record.HostTranCode = codes.tranCode;

  std::string f1;
  std::string f2;
  if (record.VSPActivation > 1) {
    f1 = "Denied Transaction" + std::string(12, ' ');
    if (record.VSPActivation == 2) f2 = "0941  ";
    if (record.VSPActivation == 3) f2 = "0942  ";
  } else {
    if (codes.isVoid) f1 = FirstPipePiece(record.AcqRefData);
    if (codes.isVoid || force) f2 = record.AuthCode;
  }
  const std::string f5 =
      addressAllowed && WantsAddressBlock(record) ? AddressBlock(record) : std::string();
  AppendFields(message, {f1, f2, CashBackField(record), "", f5, "", PartialAuthFlag(record),
                         record.InvoiceNo, "", EmvCapableFlag(sources.params)});
  record.HostRequest = std::move(message);
  record.HostMsgKind = force ? HostMessageKind::kForce : HostMessageKind::kCredit;
  return true;
}

void BuildFsaLayout(CRequest& record, const HostMessageSources& sources) {
  HeadCodes codes;
  codes.tranCode = TranCodeInfoOf(record.TranCodeId).hostTranCode;
  codes.cardCode = CardCode(record);
  codes.entryMode = SwipeEntryMode(record);

  std::string message = TransactionHead(record, codes, sources) + AccountField(record);
  record.HostTranCode = codes.tranCode;
  const std::string f5 = WantsAddressBlock(record) ? AddressBlock(record) : std::string();
  AppendFields(message, {"", "", "", "", f5, FsaAmounts(record), PartialAuthFlag(record),
                         record.InvoiceNo, "", "7"});
  record.HostRequest = std::move(message);
  record.HostMsgKind = HostMessageKind::kCredit;
}

void BuildVoiceAuthLayout(CRequest& record, const HostMessageSources& sources) {
  HeadCodes codes;
  codes.tranCode = TranCodeInfoOf(record.TranCodeId).hostTranCode;
  codes.cardCode = CardCode(record);
  codes.entryMode = SwipeEntryMode(record);
  codes.messageClass = '4';

  std::string message = TransactionHead(record, codes, sources) + "00000000" + "00000000" +
                        KeyedAccountField(record);
  record.HostTranCode = codes.tranCode;
  AppendFields(message, {"", record.AuthCode, ZeroFill(record.Gratuity, 8),
                         LastChars(record.OperatorID, 8), record.InvoiceNo, "", "", "", "", "3"});
  record.HostRequest = std::move(message);
  record.HostMsgKind = HostMessageKind::kForce;
}

void BuildDebitLayout(CRequest& record, const HostMessageSources& sources) {
  HeadCodes codes;
  if (record.TranCodeId == kDebitReturn) {
    codes.tranCode = "17";
  } else {
    codes.tranCode = HasCashBack(record) ? "12" : "11";
  }
  codes.cardCode = "00";
  codes.entryMode = record.Contactless ? "3" : "2";

  std::string message = TransactionHead(record, codes, sources) + record.Track2;
  AppendFields(message, {"", "", CashBackField(record), "", "D", "", PartialAuthFlag(record),
                         record.InvoiceNo, "", EmvCapableFlag(sources.params), "",
                         PinData(record)});
  message += kFs;
  record.HostRequest = std::move(message);
  record.HostMsgKind = HostMessageKind::kDebit;
}

void BuildEbtLayout(CRequest& record, const HostMessageSources& sources) {
  const bool voucher = record.TranCodeId == kEbtVoucher;
  const bool cashBack = record.TranCodeId == kEbtCashSale && HasCashBack(record);
  HeadCodes codes;
  switch (record.TranCodeId) {
    case kEbtFoodReturn: codes.tranCode = "26"; break;
    case kEbtBalance: codes.tranCode = "27"; break;
    default: codes.tranCode = cashBack ? "22" : "21"; break;
  }
  codes.cardCode = record.CardType == "Cash" ? "02" : "01";
  codes.entryMode = SwipeEntryMode(record);

  std::string message = TransactionHead(record, codes, sources) + AccountField(record);
  const std::string f3 = cashBack ? ZeroFill(record.CashBack, 8) : std::string();
  const std::string f5 =
      voucher ? "E" + SpaceFill(record.VoucherNo, 15) + SpaceFill(record.AuthCode, 6) : "D";
  const std::string f12 = voucher ? std::string() : PinData(record);
  AppendFields(message, {"", "", f3, "", f5, "", "0", record.InvoiceNo, "", "7", "", f12});
  if (!voucher) message += kFs;
  record.HostRequest = std::move(message);
  record.HostMsgKind = HostMessageKind::kEbt;
}

}  // namespace paxelle::hostlayout
