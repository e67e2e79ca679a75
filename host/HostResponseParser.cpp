#include "host/HostResponseParser.h"

#include "common/AmountText.h"
#include "common/ControlCharacters.h"
#include "common/TextHelpers.h"
#include "core/ReturnCodes.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {
namespace {

constexpr char kEndOfText = '\x03';
// "Unable to parse response ... (Tran Type not distinguishable)."

// The answer cut at every FS and ETX; pieces are numbered from 1 and an
// absent piece reads empty.
class HostPieces {
 public:
  explicit HostPieces(std::string_view answer) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < answer.size(); ++i) {
      if (answer[i] == kFs || answer[i] == kEndOfText) {
        pieces_.emplace_back(answer.substr(start, i - start));
        start = i + 1;
      }
    }
    pieces_.emplace_back(answer.substr(start));
  }

  std::string_view Piece(std::size_t number) const {
    return number >= 1 && number <= pieces_.size() ? pieces_[number - 1] : std::string_view();
  }

  // Piece 1 read by position: what exists of it.
  std::string Head(std::size_t position, std::size_t length) const {
    return Read(Piece(1), position, length);
  }

  static std::string Read(std::string_view piece, std::size_t position, std::size_t length) {
    if (position >= piece.size()) return {};
    return std::string(piece.substr(position, length));
  }

 private:
  std::vector<std::string_view> pieces_;
};

std::string WithoutLeadingZeros(std::string_view text) {
  const auto first = text.find_first_not_of('0');
  return first == std::string_view::npos ? std::string() : std::string(text.substr(first));
}

bool Contains(std::string_view text, std::string_view word) {
  return text.find(word) != std::string_view::npos;
}

std::string AmountText(std::string_view zeroFilledCents) {
  return CentsToAmountText(WithoutLeadingZeros(zeroFilledCents));
}

// The reference block a later void hands back: at least 24 characters, then
// the transaction code the request carried.
std::string ReferenceBlock(std::string_view block, const std::string& tranCode) {
  std::string text = block.size() < 24 ? std::string(24, ' ') : std::string(block);
  return text + "|" + tranCode;
}

void ParseCreditAnswer(CRequest& record, const HostPieces& pieces) {
  const std::string code = pieces.Head(84, 4);
  const bool partial = code == "0010" && record.PartialAuthAllowed;
  const bool approved = code == "0000" || code == "0011" || partial;
  if (approved) {
    record.Approved = true;
    record.Captured = record.TranCodeId != kCreditAuthOnly;
    record.HostAuthCode = std::string(pieces.Piece(3));
    record.HostAcqRefData = ReferenceBlock(pieces.Piece(2), record.HostTranCode);
    if (partial) record.Authorize = WithoutLeadingZeros(pieces.Head(76, 8));
    record.HostRefNo = record.ItemSeqNo;
    if (record.TranCodeId == kCreditBalance) {
      const std::string balance = HostPieces::Read(pieces.Piece(5), 13, 8);
      if (!balance.empty()) record.Balance = AmountText(balance);
    }
  }
  record.HostText = pieces.Head(88, 16);
  if (record.HasZip) record.AVSResult = HostPieces::Read(pieces.Piece(5), 1, 1);
  if (record.HasCVV) record.CVVResult = HostPieces::Read(pieces.Piece(5), 2, 1);

  record.EMVResult.clear();
  const std::pair<std::size_t, const char*> issuerData[] = {{9, "91"}, {10, "71"}, {11, "72"}};
  for (const auto& [number, tag] : issuerData) {
    const std::string_view piece = pieces.Piece(number);
    if (piece.empty()) continue;
    char length[16];
    std::snprintf(length, sizeof length, "%02x", static_cast<unsigned>(piece.size() / 2));
    record.EMVResult += tag;
    record.EMVResult += length;
    record.EMVResult += piece;
  }
}

void ParseForceAnswer(CRequest& record, const HostPieces& pieces) {
  record.HostText = pieces.Head(60, 16);
  if (record.HostText.starts_with("UPLOADED")) {
    record.Approved = true;
    record.Captured = true;
    record.HostText = "APPROVED";
  } else {
    record.HostText = pieces.Head(88, 16);
  }
  record.HostAcqRefData = ReferenceBlock(record.HostAcqRefData, record.HostTranCode);
}

void ParseDebitEbtAnswer(CRequest& record, const HostPieces& pieces) {
  const std::string code = pieces.Head(84, 4);
  const bool balance = record.TranCodeId == kEbtBalance;
  if (code == "0000" || (balance && code == "0100")) {
    record.Approved = true;
    record.Captured = !balance;
    record.HostAuthCode = std::string(pieces.Piece(3));
    record.HostAcqRefData = std::string(pieces.Piece(2));
    if (record.PartialAuthAllowed) record.Authorize = WithoutLeadingZeros(pieces.Head(76, 8));
  }
  if (record.HostMsgKind == HostMessageKind::kEbt) {
    const std::string_view balances = pieces.Piece(5);
    if (!balances.starts_with("E")) {
      record.FoodBalance = AmountText(HostPieces::Read(balances, 13, 8));
      record.CashBalance = AmountText(HostPieces::Read(balances, 21, 8));
      record.Balance = record.CardType == "Foodstamp" ? record.FoodBalance : record.CashBalance;
    }
  }
  record.HostText = pieces.Head(88, 16);
}

void ParseBatchAnswer(CRequest& record, const HostPieces& pieces, CBatchState& batch) {
  const bool close = record.TranCodeId == kBatchClose;
  std::size_t position = close ? 76 : 115;
  record.AdminText = close ? pieces.Head(60, 16) : pieces.Head(64, 16);

  std::string* const totals[] = {
      &record.HostCreditCount, &record.HostCreditPurchaseAmount, &record.HostCreditReturnAmount,
      &record.HostNetCreditAmount, &record.HostDebitCount, &record.HostDebitPurchaseAmount,
      &record.HostDebitReturnAmount, &record.HostNetDebitAmount, &record.HostEBTCount,
      &record.HostEBTPurchaseAmount, &record.HostEBTReturnAmount, &record.HostNetEBTAmount,
  };
  std::int64_t itemCount = 0;
  std::int64_t netCents = 0;
  for (std::size_t i = 0; i < std::size(totals); ++i) {
    const bool isCount = i % 4 == 0;
    const std::string field = pieces.Head(position, isCount ? 3 : 8);
    position += isCount ? 3 : 8;
    if (isCount) {
      const std::int64_t count = LeadingInteger(field);
      itemCount += count;
      *totals[i] = std::to_string(count);
    } else {
      *totals[i] = AmountText(field);
      if (i % 4 == 1) netCents += LeadingInteger(field);  // purchases
      if (i % 4 == 2) netCents -= LeadingInteger(field);  // returns
    }
  }
  record.BatchItemCount = std::to_string(itemCount);
  record.HostNetBatchTotal = FormatCents(netCents);

  const std::string_view closeWords[] = {"BATCH CLOSED", "BTCH PREV CLOSED", "OUT OF BALANCE"};
  const std::string_view inquiryWords[] = {"HOST TOTALS"};
  bool success = false;
  if (close) {
    for (const std::string_view word : closeWords) success |= Contains(record.AdminText, word);
  } else {
    for (const std::string_view word : inquiryWords) success |= Contains(record.AdminText, word);
  }
  if (success) {
    if (close) static_cast<void>(batch.SetClosed());  // the batch state logs its own failures
    record.AdminSuccess = true;
  }

  record.BatchNo = pieces.Head(51, 9);
  if (close) record.ControlNo = pieces.Head(92, 10);
}

}  // namespace

void ParseHostResponse(CRequest& record, CBatchState& batch, CServerContext& context) {
  record.Approved = false;
  record.Captured = false;
  record.AdminSuccess = false;
  const HostPieces pieces(record.HostResponse);

  switch (record.HostMsgKind) {
    case HostMessageKind::kCredit:
      ParseCreditAnswer(record, pieces);
      break;
    case HostMessageKind::kForce:
      ParseForceAnswer(record, pieces);
      break;
    case HostMessageKind::kDebit:
    case HostMessageKind::kEbt:
      ParseDebitEbtAnswer(record, pieces);
      break;
    case HostMessageKind::kBatch:
      ParseBatchAnswer(record, pieces, batch);
      break;
    case HostMessageKind::kEmvParams:
      record.AdminText = "SUCCESS";
      record.AdminSuccess = true;
      break;
    default:
      record.ReturnCode = kRcUnattributableResponse;
      record.BuildErrorResponse(context);
      return;
  }
  record.FinishResponse("", context);
}

}  // namespace paxelle
