#include "tools/hostsim/SimMessage.h"

#include "tools/hostsim/SimText.h"

#include <algorithm>
#include <initializer_list>

namespace paxelle::hostsim {
namespace {

constexpr std::size_t kStanPos = 34;
constexpr std::size_t kOperationPos = 38;  // transaction code, or the batch operation
constexpr std::size_t kCardCodePos = 40;
constexpr std::size_t kClassPos = 43;
constexpr std::size_t kBatchNoPos = 51;
constexpr std::size_t kItemPos = 60;
constexpr std::size_t kDateTimePos = 64;
constexpr std::size_t kDateTimeLength = 12;
constexpr std::size_t kStatusLength = 16;
constexpr std::size_t kMaxRefNoLength = 16;

bool OneOf(std::string_view value, std::initializer_list<std::string_view> choices) {
  return std::find(choices.begin(), choices.end(), value) != choices.end();
}

bool HasHostHead(std::string_view message) {
  return message.size() >= kOperationPos && OneOf(message.substr(0, 2), {"LG", "LE"}) &&
         message.substr(2, 3) == "08A" && (message[5] == '4' || message[5] == '1') &&
         message.substr(6, 2) == "11";
}

SimMessage Unknown(SimMessage message, std::string reason) {
  message.kind = MessageKind::kUnknown;
  message.reason = std::move(reason);
  return message;
}

// A void repeats characters 12-23 of the voided transaction's reference block (its f1) as
// its date and time, after a reference number whose length the layout does not fix.
std::size_t DateTimePos(std::string_view head, const SimMessage& message) {
  if (!OneOf(message.tranCode, {"05", "06", "08"}) || message.fields.empty() ||
      message.fields[0].size() < 24) {
    return kDateTimePos;
  }
  const std::string_view repeated = std::string_view(message.fields[0]).substr(12, kDateTimeLength);
  if (Slice(head, kDateTimePos, kDateTimeLength) == repeated) return kDateTimePos;
  for (std::size_t pos = kItemPos; pos <= kItemPos + kMaxRefNoLength; ++pos) {
    if (Slice(head, pos, kDateTimeLength) == repeated) return pos;
  }
  return kDateTimePos;
}

CardFamily FamilyOf(std::string_view tranCode, std::string_view cardCode) {
  if (OneOf(cardCode, {"01", "02"}) && OneOf(tranCode, {"21", "22", "26", "27"})) return CardFamily::kEbt;
  if (cardCode == "00" && OneOf(tranCode, {"11", "12", "17"})) return CardFamily::kDebit;
  return CardFamily::kCredit;
}

SimMessage ReadTransaction(std::string_view text, SimMessage message) {
  const std::vector<std::string_view> pieces = SplitAtFs(text);
  if (pieces.size() < 2) return Unknown(std::move(message), "transaction request without variable fields");
  const std::string_view head = pieces[0];
  if (head.size() <= kClassPos) return Unknown(std::move(message), "transaction head cut short by a field separator");
  message.tranCode = std::string(head.substr(kOperationPos, 2));
  message.cardCode = std::string(head.substr(kCardCodePos, 2));
  message.force = head[kClassPos] == '4';
  message.fields.assign(pieces.begin() + 1, pieces.end());

  const std::size_t dateTimePos = DateTimePos(head, message);
  const std::size_t amountPos = dateTimePos + kDateTimeLength;
  if (head.size() < amountPos + 8) {
    return Unknown(std::move(message), "transaction head shorter than its amount field");
  }
  message.amount = std::string(head.substr(amountPos, 8));
  if (!IsNumber(message.amount)) return Unknown(std::move(message), "amount field is not a number");
  message.head = std::string(head.substr(0, kItemPos));
  message.item = std::string(head.substr(kItemPos, dateTimePos - kItemPos));
  message.dateTime = std::string(head.substr(dateTimePos, kDateTimeLength));
  message.accountPos = amountPos + 8;

  message.family = FamilyOf(message.tranCode, message.cardCode);
  message.emv = message.fields.size() >= 11 && !message.fields[10].empty();
  message.partialAllowed = message.fields.size() >= 7 && message.fields[6] == "1";
  message.kind = MessageKind::kRequest;
  return message;
}

SimMessage ReadCompletion(std::string_view text, SimMessage message) {
  const std::string_view head = SplitAtFs(text)[0];
  if (head.size() < kItemPos + kStatusLength) {
    return Unknown(std::move(message), "completion shorter than its status field");
  }
  std::string_view status = head.substr(head.size() - kStatusLength);
  status = status.substr(0, status.find_last_not_of(' ') + 1);
  if (status != "COMPLETED" && status != "REPLY NOT RECVD") {
    return Unknown(std::move(message), "completion without a known status");
  }
  message.status = std::string(status);
  message.head = std::string(head.substr(0, kItemPos));
  message.item = std::string(head.substr(kItemPos, head.size() - kItemPos - kStatusLength));
  message.kind = MessageKind::kCompletion;
  return message;
}

}  // namespace

const char* KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::kRequest: return "REQUEST";
    case MessageKind::kCompletion: return "COMPLETION";
    case MessageKind::kBatchInquiry: return "BATCH-INQUIRY";
    case MessageKind::kBatchClose: return "BATCH-CLOSE";
    case MessageKind::kUnknown: break;
  }
  return "UNKNOWN";
}

SimMessage ReadSimMessage(std::string_view text) {
  SimMessage message;
  if (!HasHostHead(text)) return Unknown(std::move(message), "no host message head");
  message.terminalKey = std::string(text.substr(8, 23));
  message.stan = std::string(text.substr(kStanPos, 4));
  message.batchNo = std::string(Slice(text, kBatchNoPos, 9));

  const std::string_view operation = Slice(text, kOperationPos, 5);
  if (operation == "61000" || operation == "64000") {
    if (text.size() < kItemPos) return Unknown(std::move(message), "batch message shorter than its batch number");
    message.kind = operation == "61000" ? MessageKind::kBatchInquiry : MessageKind::kBatchClose;
    return message;
  }
  if (text.size() <= kClassPos) return Unknown(std::move(message), "message shorter than its head");
  switch (text[kClassPos]) {
    case '3':
    case '4': return ReadTransaction(text, std::move(message));
    case '6': return ReadCompletion(text, std::move(message));
    default: return Unknown(std::move(message), "unknown message class");
  }
}

}  // namespace paxelle::hostsim
