// Builds the simulator's answers in the host answer layout, at the positions the server's
// response parser reads them.
//
// Transaction answer, pieces separated by FS:
//   piece 1  0-75 the request's first 76 characters (so 51-59 carry its batch number back;
//                 a force that is approved has "UPLOADED" and blanks at 60-75 instead),
//            76-83 approved amount (cents, zero filled), 84-87 response code, 88-103 text;
//   piece 2  reference block of 24: STAN, item, the host's running number (4 each), then the
//            transaction's date and time "%y%m%d%H%M%S" at 12-23, which a later void repeats;
//   piece 3  authorization code (empty when declined);  piece 4 empty;
//   piece 5  "A", AVS result "Y", CVV result "M"; for EBT the food balance at 13-20 and the
//            cash balance at 21-28;
//   pieces 6-9 only for EMV requests: three empty pieces, then issuer authentication data.
#pragma once

#include "tools/hostsim/BatchTotals.h"
#include "tools/hostsim/SimMessage.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

enum class Outcome { kApproved, kDeclined, kPartiallyApproved };

// What the builder takes from the simulator rather than from the request.
struct AnswerContext {
  std::uint32_t hostReference = 0;  // the host's running number; only its last four digits are used
  std::string fallbackDateTime;     // "%y%m%d%H%M%S" for a request whose date and time are not digits
};

// The EBT balances every EBT answer reports, in cents.
inline constexpr std::uint64_t kFoodBalanceCents = 50000;
inline constexpr std::uint64_t kCashBalanceCents = 25000;

// What an answer of `outcome` to `request` (a kRequest) reads as approved: the requested
// amount, half of it (rounded down) for a partial approval, 0 when declined.
std::uint64_t ApprovedCents(const SimMessage& request, Outcome outcome);

// The answer to a transaction request (see the layout above). Response codes: "0000"
// approved ("0100" for an approved EBT balance inquiry), "0005" declined, "0010" partial.
std::string BuildTransactionAnswer(const SimMessage& request, Outcome outcome, const AnswerContext& context);

// The acknowledgement of a completion: its first 76 characters, zero amount, "0000",
// "ACKNOWLEDGED". The server does not read it.
std::string BuildCompletionAck(std::string_view completion);

// The answer to a message of no known layout: its first 76 characters (separators blanked),
// zero amount, response code "0030", text "FORMAT ERROR", so a server reads it as declined.
std::string BuildFormatErrorAnswer(std::string_view message);

// Batch inquiry answer: the request's first 64 characters, "HOST TOTALS" at 64-79, blanks
// to 114, the 81 characters of `totals` from 115.
std::string BuildInquiryAnswer(std::string_view request, const BatchTotals& totals);

// Batch close answer: the request's first 60 characters, "BATCH CLOSED" at 60-75, the 81
// characters of `totals` from 76. The control number a server reads at 92-101 lies inside
// the totals: the last three digits of the credit return amount and the first seven of the
// net credit amount.
std::string BuildCloseAnswer(std::string_view request, const BatchTotals& totals);

// The deliberately unreadable answer of the ".05" behaviour.
inline constexpr std::string_view kGarbageAnswer = "GARBAGE";

}  // namespace paxelle::hostsim
