// The header checks every request passes, then the route to its field parser.
#include "core/Request.h"

#include "common/TextHelpers.h"
#include "core/ParseSupport.h"
#include "core/RequestCrypto.h"
#include "core/ReturnCodes.h"
#include "core/ServerContext.h"

#include <algorithm>

namespace paxelle {

using parse::Refuse;
using parse::Value;

namespace {

constexpr int kTerminalIdCategory = 5;

bool IsEncryptedFormat(const std::string& format) {
  return format == "UniMagIIOpx" || format == "UniMagSecureMagOpx" || format == "InfiniteOpx";
}

bool AllAlphanumeric(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return IsAsciiLetter(c) || IsDigit(c); });
}

// The track 2 data of a decrypted reader block: between the first ";" and the
// first "?" after it, sentinels removed. Empty when either is missing.
bool TrackFromReaderText(const std::string& clear, std::string& track) {
  const auto start = clear.find(';');
  if (start == std::string::npos) return false;
  const auto end = clear.find('?', start + 1);
  if (end == std::string::npos) return false;
  track.clear();
  for (char c : clear.substr(start, end - start)) {
    if (c != ';' && c != '?') track.push_back(c);
  }
  return true;
}

}  // namespace

void CRequest::ParseFields(const CServerContext& context) {
  const CMerchantParams params = context.params.GetParams();
  ReturnCode = kRcInvalidCommand;
  RequestFields fields = RequestFields::FromPayload(RawRequest);

  std::string stream;
  if (!fields.Lookup("TStream", stream)) {
    Refuse(*this, kRcTStreamMissing);
    return;
  }
  if (stream != "Transaction" && stream != "Admin") {
    Refuse(*this, kRcFieldTStream);
    return;
  }
  StreamType = stream;

  std::string value;
  if (fields.Lookup("Name", value)) Name = std::string(FirstChars(value, 30));
  if (!fields.Has("MerchantID")) {
    Refuse(*this, kRcMerchantIdMissing);
    return;
  }
  if (fields.Lookup("OperatorID", value)) OperatorID = std::string(FirstChars(value, 20));
  if (fields.Lookup("Memo", value)) Memo = std::string(FirstChars(value, 40));

  Contactless = Value(fields, "AccountSource") == "Contactless";
  PartialAuthAllowed = Value(fields, "PartialAuth") == "Allow";
  if (fields.Lookup("VSPActivation", value)) VSPActivation = LeadingInt(value);

  if (!fields.Lookup("ClientID", value)) {
    ClientID.clear();
    Refuse(*this, kRcUpgradeRequired);
    return;
  }
  if (AllDigits(value)) {
    ClientID = value;
    LaneTag = std::string(LastChars(value, 4));
  } else {
    ClientID.clear();
  }
  if (fields.Lookup("LaneID", value)) {
    if (!AllAlphanumeric(value)) {
      Refuse(*this, kRcFieldLaneId);
      return;
    }
    LaneTag = std::string(LastChars(value, 4));
  }
  if (StreamType != "Admin" && !fields.Has("TranType")) {
    Refuse(*this, kRcFieldTranType);
    return;
  }
  if (fields.Lookup("TerminalID", value)) {
    const bool checked =
        SkipTerminalCheck ||
        params.GetNumber(kParamMerchantCategory) == kTerminalIdCategory;
    if (checked) {
      if (value.size() != 3) {
        Refuse(*this, kRcFieldTerminalId);
        return;
      }
      TerminalID = value;
    }
  }

  if (StreamType == "Admin") {
    ParseAdmin(fields, params);
    return;
  }

  if (!fields.Lookup("InvoiceNo", value)) {
    Refuse(*this, kRcInvoiceMissing);
    return;
  }
  InvoiceNo = std::string(LastChars(value, 25));
  if (!fields.Lookup("RefNo", value)) {
    Refuse(*this, kRcRefNoMissing);
    return;
  }
  RefNo = ReplaceAll(FirstChars(value, 16), '_', ' ');

  std::string format;
  if (fields.Lookup("EncryptedFormat", format)) {
    if (!IsEncryptedFormat(format)) {
      Refuse(*this, kRcFieldEncryptedFormat);
      return;
    }
    std::string block;
    if (!fields.Lookup("EncryptedBlock", block)) {
      Refuse(*this, kRcFieldEncryptedBlock);
      return;
    }
    std::string keySerial;
    if (!fields.Lookup("EncryptedKey", keySerial)) {
      Refuse(*this, kRcFieldEncryptedKey);
      return;
    }
    // The reader's block replaces whatever card data the lane also sent.
    fields.Remove("AcctNo");
    fields.Remove("ExpDate");
    fields.Remove("Track2");
    IRequestCrypto* crypto = context.requestCrypto;
    if (crypto == nullptr) {
      Refuse(*this, kRcGeneralFailure);
      return;
    }
    std::string clear;
    if (const Status decrypted = crypto->DecryptCardData(format, block, keySerial, clear); !decrypted.ok()) {
      Refuse(*this, decrypted.code());
      return;
    }
    std::string track;
    if (TrackFromReaderText(clear, track)) fields.Set("Track2", track);
  }

  const std::string tranType = Value(fields, "TranType");
  if (tranType == "Credit") {
    ParseCredit(fields);
  } else if (tranType == "EMVCredit") {
    if (params.GetNumber(kParamEmvSupport) == 0) {
      Refuse(*this, kRcEmvNotEnabled);
      return;
    }
    if (ParseEmvCommon(fields)) ParseEmvCredit(fields);
  } else if (tranType == "Debit") {
    ParseDebit(fields);
  } else if (tranType == "CheckAuth") {
    ParseCheck(fields);
  } else if (tranType == "EBT") {
    ParseEbt(fields);
  } else {
    Refuse(*this, kRcFieldTranType);
  }
}

}  // namespace paxelle
