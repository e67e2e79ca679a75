// CRequest, the transaction record: one value that carries a lane's request from
// its arrival to its delivered answer, copied whole at every hand-over.
#pragma once

#include "common/RequestFields.h"
#include "core/EmvTypes.h"
#include "core/TranCodes.h"

#include <string>
#include <vector>

namespace paxelle {

class CMerchantParams;
class CServerContext;
class IRequestCrypto;

// What the host interface writes into the record and the response documents read.
struct CHostResult {
  bool Approved = false;
  bool Captured = false;
  bool AdminSuccess = false;

  std::string HostAuthCode;
  std::string HostRefNo;
  std::string HostErrorText;  // why the exchange failed, or a local refusal (code 4003)
  std::string HostText;       // the processor's response text
  std::string CVVResult;
  std::string AVSResult;
  std::string EMVResult;
  std::string Balance;
  std::string SecondBalance;
  std::string HostAcqRefData;
  std::string FoodBalance;
  std::string CashBalance;
  std::string AdminText;
  std::string TranDate;
  std::string TranTime;
  std::string BatchNo;
  std::string BatchItemCount;
  std::string HostNetBatchTotal;
  std::string HostCreditCount;
  std::string HostCreditPurchaseAmount;
  std::string HostCreditReturnAmount;
  std::string HostNetCreditAmount;
  std::string HostDebitCount;
  std::string HostDebitPurchaseAmount;
  std::string HostDebitReturnAmount;
  std::string HostNetDebitAmount;
  std::string HostEBTCount;
  std::string HostEBTPurchaseAmount;
  std::string HostEBTReturnAmount;
  std::string HostNetEBTAmount;
  std::string ControlNo;
  std::string HostRequest;   // the host request message as built
  std::string HostResponse;  // the host's answer as received

  std::vector<CaPublicKey> CaPublicKeys;
  std::vector<AidParams> EmvAidParams;
};

// The totals a lane counted, sent with its batch close (amounts in cents).
struct CBatchTotals {
  std::string NetBatchTotal;
  std::string CreditCount;
  std::string CreditPurchaseAmount;
  std::string CreditReturnAmount;
  std::string NetCreditAmount;
  std::string DebitCount;
  std::string DebitPurchaseAmount;
  std::string DebitReturnAmount;
  std::string NetDebitAmount;
  std::string EBTCount;
  std::string EBTPurchaseAmount;
  std::string EBTReturnAmount;
  std::string NetEBTAmount;
};

class CRequest : public CHostResult, public CBatchTotals {
 public:
  // Identity and control.
  std::string StreamType;
  std::string UserTraceData;
  std::string RawRequest;
  std::string ClientKeyBlob;
  std::string WireResponse;
  int ReturnCode = 1000;
  std::string TextResponse;
  int TranCodeId = kTranNone;
  int OriginalTranCodeId = kTranNone;
  std::string TranCode = "INVALID";
  HostMessageKind HostMsgKind = HostMessageKind::kCredit;
  RequestState State = kStateCreated;
  RequestDisposition Disposition = kDispositionError;

  // Request fields, named after the request keys they come from.
  std::string AuthCode;
  std::string RefNo;
  std::string InvoiceNo;
  std::string VoucherNo;
  std::string ClientAddress;
  std::string Track2;
  std::string AcctNo;
  std::string ExpDate;
  std::string CardType;
  std::string StateCode;
  std::string RoutingNo;
  std::string SequenceNo;
  std::string PINBlock;
  std::string DervdKey;
  std::string Name;
  std::string Address;
  std::string Zip;
  std::string CustomerCode;
  std::string AcqRefData;
  std::string CVVData;
  std::string EMVAppID;
  std::string Authorize;  // amounts: whole cents as decimal text
  std::string CashBack;
  std::string Gratuity;
  std::string Purchase;
  std::string Tax;
  std::string FSAPrescription;
  std::string FSAVision;
  std::string FSADental;
  std::string FSAClinical;
  bool Swiped = false;
  bool HasZip = false;
  bool HasCVV = false;
  bool Contactless = false;
  bool SkipTerminalCheck = false;
  bool PartialAuthAllowed = false;
  std::string EMVData;
  std::string EMVEntrySource;
  int VSPActivation = 0;
  std::string OperatorID;
  std::string Memo;
  std::string TerminalID;
  std::string LaneTag;
  std::string ClientID;

  // What the host request builders set for the message and its completion.
  std::string ItemSeqNo;
  std::string HostTranCode;
  bool ForceCompletion = false;

  // Queue and host bookkeeping.
  int QueueId = -1;

  // Stores `text` in RawRequest, unwraps and decrypts the frame and, when the
  // frame asks for processing, parses the payload. A record whose TranCodeId is
  // still 0 afterwards has Disposition 2 and its ReturnCode set.
  // `context` gives the merchant parameters and the request cryptography.
  void Parse(const std::string& text, const CServerContext& context);
  // Takes the received frame apart (without its ETX): user trace data, type,
  // key block, decryption of the payload into RawRequest.
  void UnwrapFrame(IRequestCrypto* crypto);
  // Splits and validates the decrypted payload in RawRequest. On failure
  // ReturnCode is set and TranCodeId stays 0; never throws, never logs.
  void ParseFields(const CServerContext& context);

  // Field parsers: each sets ReturnCode on failure, or TranCodeId, TranCode and
  // its fields on success.
  bool ParseCredit(const RequestFields& fields);
  bool ParseEmvCommon(const RequestFields& fields);
  bool ParseEmvCredit(const RequestFields& fields);
  bool ParseDebit(const RequestFields& fields);
  bool ParseEbt(const RequestFields& fields);
  bool ParseCheck(const RequestFields& fields);
  bool ParseAdmin(const RequestFields& fields, const CMerchantParams& params);
  bool ParseBatchClose(const RequestFields& fields, const CMerchantParams& params);

  // Response documents: the error answer of ReturnCode (returns WireResponse),
  // the result document, and the wire form chosen by Disposition.
  // `context` gives the merchant parameters, the session-key cryptography, the
  // log (the built document) and the working directory (the EMV report).
  std::string BuildErrorResponse(CServerContext& context);
  std::string BuildResponse(CServerContext& context);
  std::string FinishResponse(const std::string& document, CServerContext& context);

  // EMV parameters: fill both lists from the built-in tables; write the report.
  void LoadEmvParameters();
  void WriteEmvReport(CServerContext& context);

  // Empties the host result block (flags, texts, EMV lists) but keeps HostRequest.
  void ClearHostResult();
};

}  // namespace paxelle
