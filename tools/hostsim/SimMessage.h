// Reads a message received by the simulator: which layout it is (transaction request,
// completion, batch inquiry or close) and the fields the answer and the journal need.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle::hostsim {

enum class MessageKind { kRequest, kCompletion, kBatchInquiry, kBatchClose, kUnknown };

// The journal's word for a kind: "REQUEST", "COMPLETION", "BATCH-INQUIRY", "BATCH-CLOSE", "UNKNOWN".
const char* KindName(MessageKind kind);

// Which totals an approved transaction counts in, told by the card code and the transaction code.
enum class CardFamily { kCredit, kDebit, kEbt };

struct SimMessage {
  MessageKind kind = MessageKind::kUnknown;
  std::string reason;        // why the message is kUnknown
  std::string terminalKey;   // merchant id and terminal id (8-30): whose batch it belongs to
  std::string stan;          // 34-37
  std::string batchNo;       // 51-59
  std::string head;          // 0-59, the part every transaction and completion head shares

  // Transaction requests.
  std::string tranCode;      // 38-39
  std::string cardCode;      // 40-41 (account type for EBT)
  bool force = false;        // message class "4"
  CardFamily family = CardFamily::kCredit;
  bool emv = false;          // f11 (EMV data) present
  bool partialAllowed = false;  // f7 is "1"
  std::string item;          // from 60: four digits, or the reference number a void sends instead
  std::string dateTime;      // the twelve characters of date and time after the item
  std::string amount;        // the eight digits of cents after the date and time
  std::size_t accountPos = 0;  // where the account field starts (it ends at the first FS)
  std::vector<std::string> fields;  // f1, f2, ... (the pieces after the first FS)

  // Completions.
  std::string status;        // "COMPLETED" or "REPLY NOT RECVD"
};

// Recognises `message` by its fixed fields. Anything that is not one of the known layouts,
// or that is too short for the fields its layout needs, is kUnknown with a reason; never throws.
// A void that carries a reference number of other than four characters has its later head
// fields found where they are (by the date and time the void repeats from its reference block).
SimMessage ReadSimMessage(std::string_view message);

}  // namespace paxelle::hostsim
