#include "host/HostRequestBuilder.h"

#include "common/TextHelpers.h"
#include "host/HostContext.h"
#include "host/HostLayouts.h"

#include <cstdio>

namespace paxelle {

HostMessageSources HostMessageSourcesOf(CHostContext& host) {
  return HostMessageSources{host.counters, host.batch, host.server.params.GetParams(), SystemNow};
}

int HostLaneNumber(const CRequest& record) {
  const std::int64_t lane = LeadingInteger(LastChars(record.LaneTag, 2));
  return lane < 1 || lane > 99 ? 1 : static_cast<int>(lane);
}

std::string ZeroFill(std::string_view value, std::size_t width) {
  std::string text = LeadingInteger(value) == 0 ? std::string("0") : std::string(value);
  text.insert(0, width, '0');
  return text.substr(text.size() - width);
}

std::string SpaceFill(std::string_view value, std::size_t width) {
  std::string text(value);
  text.append(width, ' ');
  text.resize(width);
  return text;
}

namespace hostlayout {

std::string HeadPrefix(const CMerchantParams& params) {
  const std::string category = params.GetNumber(kParamMerchantCategory) == 4 ? "LE" : "LG";
  return category + "08A" + "4" + "11" + params.GetValue(kParamMerchantId) +
         params.GetValue(kParamTerminalId) + params.GetValue(kParamCheckDigit);
}

std::string OrderChannel(const CMerchantParams& params) {
  switch (params.GetNumber(kParamMerchantCategory)) {
    case 3: return "1";
    case 4: return "7";
    default: return "0";
  }
}

std::string TerminalCapability(const CMerchantParams& params, int tranCodeId) {
  const int category = params.GetNumber(kParamMerchantCategory);
  if (category == 3 || category == 4) return "4";
  if (params.GetValue(kParamCustomerActivated) == "Y") return "3";
  const HostLayout layout = TranCodeInfoOf(tranCodeId).layout;
  return layout == HostLayout::kDebit || layout == HostLayout::kEbt ? "2" : "1";
}

std::string CardCode(const CRequest& record) {
  const std::string& type = record.CardType;
  if (type == "VISA") return "01";
  if (type == "M/C") return "02";
  if (type == "AMEX") return "03";
  if (type == "DCVR") return record.AcctNo.starts_with("601104") ? "12" : "04";
  if (type == "DCLB") return "05";
  if (type == "JCB") return "07";
  return "01";
}

std::string SwipeEntryMode(const CRequest& record) {
  if (!record.Swiped) return "0";
  return record.Contactless ? "3" : "2";
}

std::string KeyedAccountField(const CRequest& record) {
  const std::string_view expDate = record.ExpDate;
  return record.AcctNo + "=" + std::string(LastChars(expDate, 2)) +
         std::string(FirstChars(expDate, 2));
}

std::string AccountField(const CRequest& record) {
  return record.Swiped ? record.Track2 : KeyedAccountField(record);
}

std::string LaneNumber(const CRequest& record) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", HostLaneNumber(record));
  return text;
}

bool HasCashBack(const CRequest& record) { return LeadingInteger(record.CashBack) > 0; }

std::string CashBackField(const CRequest& record) {
  return HasCashBack(record) ? ZeroFill(record.CashBack, 8) : std::string();
}

std::string PartialAuthFlag(const CRequest& record) {
  return record.PartialAuthAllowed ? "1" : "0";
}

std::string FirstPipePiece(std::string_view text) {
  return std::string(text.substr(0, text.find('|')));
}

std::string AddressBlock(CRequest& record) {
  if (record.Zip.size() == 5) record.Zip += "9999";
  const bool cvvUsable = record.HasCVV && (record.CVVData.size() == 3 || record.CVVData.size() == 4) &&
                         AllDigits(record.CVVData);
  return "A" + SpaceFill(record.Address, 20) + SpaceFill(record.Zip, 9) +
         SpaceFill(cvvUsable ? std::string_view(record.CVVData) : std::string_view(), 4);
}

std::string PinData(CRequest& record) {
  if (record.DervdKey.size() < 20) record.DervdKey.insert(0, 20 - record.DervdKey.size(), 'F');
  return record.DervdKey + record.PINBlock;
}

void TranslateVoid(CRequest& record, HeadCodes& codes) {
  const std::string_view acqRefData = record.AcqRefData;
  const auto bar = acqRefData.find('|');
  std::string_view voidedCode;
  if (bar != std::string_view::npos) {
    voidedCode = acqRefData.substr(bar + 1);
    voidedCode = voidedCode.substr(0, voidedCode.find('|'));
  }
  if (voidedCode.size() != 2) voidedCode = "01";

  codes.isVoid = true;
  if (voidedCode == "01") {
    codes.tranCode = "05";
  } else if (voidedCode == "04") {
    codes.tranCode = "06";
  } else if (voidedCode == "02") {
    codes.tranCode = "08";
  } else if (voidedCode == "03") {
    // A captured force cannot be voided at the host; it is returned instead.
    codes.tranCode = "04";
    codes.isVoid = false;
    record.ForceCompletion = true;
  } else {
    codes.tranCode = "05";
  }
}

Status TakeMessageNumbers(const HostMessageSources& sources, int& stan, int* item, bool resetItems) {
  NumberClaim own;
  NumberClaim& claim = sources.claim != nullptr ? *sources.claim : own;
  const Status taken = sources.counters.TakeNumbers(claim, stan, item, resetItems);
  if (sources.claim != nullptr) return taken;
  const Status saved = sources.counters.Commit(own);
  if (!saved.ok()) {
    stan = 0;
    if (item != nullptr) *item = 0;
  }
  return JoinedFailures(taken, saved);
}

std::string TransactionHead(CRequest& record, const HeadCodes& codes,
                            const HostMessageSources& sources) {
  // The number objects log their own failures; a counter that could not save
  // its number reads 0, and the message is marked not to be sent.
  bool changed = false;
  std::string batchNo;
  static_cast<void>(sources.batch.GetBatchNo(false, false, changed, batchNo));
  int stan = 0;
  int item = 0;
  Status refusal = Status::Ok();
  if (batchNo.empty()) {
    // Not sent: no numbers are spent on it.
    refusal = Status::Failure(kBatchNotSavedText, kRefusedBatchNotSaved);
  } else {
    // A new batch's item numbers start again at 1, saved with them.
    // Judged by the numbers: a void carries the lane's reference instead of an item number.
    static_cast<void>(TakeMessageNumbers(sources, stan, &item, changed));
    const bool saved = stan != 0 && (item != 0 || codes.isVoid);
    if (!saved) refusal = Status::Failure(kNumbersNotSavedText, kRefusedNumbersNotSaved);
  }
  if (!refusal.ok()) record.HostErrorText = refusal.message();
  if (!refusal.ok() && sources.refusal != nullptr) *sources.refusal = refusal;
  const std::time_t now = sources.clock();

  std::string dateTime;
  if (codes.isVoid) {
    // The lane may send a longer RefNo or a short AcqRefData: both are cut or
    // filled to their widths so the fields after them keep their positions.
    record.ItemSeqNo = ZeroFill(record.RefNo, 4);
    const std::string reference = FirstPipePiece(record.AcqRefData);
    dateTime = SpaceFill(reference.size() > 12 ? std::string_view(reference).substr(12, 12)
                                               : std::string_view(),
                         12);
  } else {
    record.ItemSeqNo = ZeroFill(std::to_string(item), 4);
    dateTime = FormatLocalTime("%y%m%d", now) + FormatLocalTime("%H%M%S", now);
  }

  std::string head = HeadPrefix(sources.params);
  head += LaneNumber(record);
  head += ZeroFill(std::to_string(stan), 4);
  head += codes.tranCode;
  head += codes.cardCode;
  head += codes.entryMode;
  head += codes.messageClass;
  head += OrderChannel(sources.params);
  head += TerminalCapability(sources.params, record.TranCodeId);
  head += "N0000";
  head += SpaceFill(batchNo, 9);
  head += record.ItemSeqNo;
  head += dateTime;
  head += ZeroFill(record.Authorize, 8);
  return head;
}

void AppendFields(std::string& message, std::initializer_list<std::string_view> fields) {
  for (const std::string_view field : fields) {
    message += kFs;
    message += field;
  }
}

}  // namespace hostlayout

bool BuildHostRequest(CRequest& record, const HostMessageSources& sources) {
  using namespace hostlayout;
  switch (TranCodeInfoOf(record.TranCodeId).layout) {
    case HostLayout::kCredit:
      return BuildCreditLayout(record, sources);
    case HostLayout::kFsa:
      BuildFsaLayout(record, sources);
      return true;
    case HostLayout::kVoiceAuth:
      BuildVoiceAuthLayout(record, sources);
      return true;
    case HostLayout::kDebit:
      BuildDebitLayout(record, sources);
      return true;
    case HostLayout::kEbt:
      BuildEbtLayout(record, sources);
      return true;
    case HostLayout::kEmv:
      BuildEmvLayout(record, sources);
      return true;
    case HostLayout::kBatch:
      BuildBatchLayout(record, sources);
      return true;
    case HostLayout::kNoMessage:
      return true;
    case HostLayout::kBuiltIn:
      record.HostMsgKind = HostMessageKind::kEmvParams;
      return true;
    case HostLayout::kNone:
      return false;
  }
  return false;
}

}  // namespace paxelle
