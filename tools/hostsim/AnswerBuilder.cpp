#include "tools/hostsim/AnswerBuilder.h"

#include "tools/hostsim/SimText.h"

#include <algorithm>
#include <vector>

namespace paxelle::hostsim {
namespace {

constexpr std::size_t kEchoLength = 76;
constexpr std::size_t kForceTextPos = 60;
constexpr char kEtx = 3;

// The first 76 characters of a message with nothing in them a parser would split at.
std::string SafeEcho(std::string_view message, std::size_t length) {
  std::string echo = SpaceFill(message, length);
  std::replace_if(echo.begin(), echo.end(), [](char c) { return c == kFs || c == kEtx; }, ' ');
  return echo;
}

std::string ReferenceBlock(const SimMessage& request, const AnswerContext& context) {
  const bool dated = request.dateTime.size() == 12 && IsNumber(request.dateTime);
  return SpaceFill(request.stan, 4) + SpaceFill(request.item, 4) + ZeroFill(context.hostReference, 4) +
         SpaceFill(dated ? request.dateTime : context.fallbackDateTime, 12);
}

std::string AuthCode(const SimMessage& request) {
  if (request.force && request.fields.size() >= 2 && !request.fields[1].empty()) return request.fields[1];
  return "PX" + SpaceFill(request.stan, 4);
}

}  // namespace

std::uint64_t ApprovedCents(const SimMessage& request, Outcome outcome) {
  std::uint64_t requested = 0;
  for (const char digit : request.amount) {
    if (digit < '0' || digit > '9') break;
    requested = requested * 10 + static_cast<std::uint64_t>(digit - '0');
  }
  switch (outcome) {
    case Outcome::kApproved: return requested;
    case Outcome::kPartiallyApproved: return requested / 2;
    case Outcome::kDeclined: break;
  }
  return 0;
}

std::string BuildTransactionAnswer(const SimMessage& request, Outcome outcome, const AnswerContext& context) {
  const bool declined = outcome == Outcome::kDeclined;
  const bool ebtBalance = request.family == CardFamily::kEbt && request.tranCode == "27";
  std::string code = "0000";
  std::string text = "APPROVED";
  if (declined) {
    code = "0005";
    text = "DECLINED";
  } else if (outcome == Outcome::kPartiallyApproved) {
    code = "0010";
    text = "PARTIAL APPROVAL";
  } else if (ebtBalance) {
    code = "0100";
  }

  const std::string head = request.force && !declined ? request.head + SpaceFill("UPLOADED", 16)
                                                      : request.head + SpaceFill(request.item, 4) +
                                                            SpaceFill(request.dateTime, 12);
  std::vector<std::string> pieces;
  pieces.push_back(head + ZeroFill(ApprovedCents(request, outcome), 8) + code + SpaceFill(text, 16));
  pieces.push_back(ReferenceBlock(request, context));
  pieces.push_back(declined ? std::string() : AuthCode(request));
  pieces.emplace_back();
  std::string results = "AYM";
  if (request.family == CardFamily::kEbt) {
    results = SpaceFill(results, 13) + ZeroFill(kFoodBalanceCents, 8) + ZeroFill(kCashBalanceCents, 8);
  }
  pieces.push_back(results);
  if (request.emv) {
    pieces.resize(8);
    const std::string stan = IsNumber(request.stan) ? request.stan : "0000";
    pieces.push_back("1A2B3C4D" + SpaceFill(stan, 4) + (declined ? "3035" : "3030"));
  }
  return JoinWithFs(pieces);
}

std::string BuildCompletionAck(std::string_view completion) {
  return SafeEcho(completion, kEchoLength) + ZeroFill(0, 8) + "0000" + SpaceFill("ACKNOWLEDGED", 16);
}

std::string BuildFormatErrorAnswer(std::string_view message) {
  return SafeEcho(message, kEchoLength) + ZeroFill(0, 8) + "0030" + SpaceFill("FORMAT ERROR", 16);
}

std::string BuildInquiryAnswer(std::string_view request, const BatchTotals& totals) {
  std::string answer = SafeEcho(request.substr(0, std::min<std::size_t>(64, request.size())), 64);
  answer += SpaceFill("HOST TOTALS", 16);
  answer.resize(115, ' ');
  return answer + totals.Format();
}

std::string BuildCloseAnswer(std::string_view request, const BatchTotals& totals) {
  std::string answer = SafeEcho(request.substr(0, std::min<std::size_t>(kForceTextPos, request.size())), kForceTextPos);
  return answer + SpaceFill("BATCH CLOSED", 16) + totals.Format();
}

}  // namespace paxelle::hostsim
