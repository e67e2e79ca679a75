#include "core/CardChecks.h"

#include "common/TextHelpers.h"

namespace paxelle {
namespace {

bool InRange(long long value, long long low, long long high) { return value >= low && value <= high; }

}  // namespace

std::string DetectCardType(std::string_view account) {
  if (account.empty()) return "OTHER";
  const std::size_t length = account.size();
  const long long prefix6 = LeadingInteger(FirstChars(account, 6));
  const long long prefix4 = LeadingInteger(FirstChars(account, 4));
  const long long prefix2 = LeadingInteger(FirstChars(account, 2));
  switch (account[0]) {
    case '2':
      if (length == 16 && InRange(prefix6, 222100, 272099)) return "M/C";
      break;
    case '3':
      if (length == 15 && (prefix2 == 34 || prefix2 == 37)) return "AMEX";
      if (length == 14 && prefix2 == 36) return "DCVR";
      if (length == 16 && (InRange(prefix4, 3000, 3099) || InRange(prefix4, 3528, 3589) ||
                           InRange(prefix4, 3800, 3999))) {
        return "DCVR";
      }
      break;
    case '4':
      if (length == 13 || length == 16 || length == 19) return "VISA";
      break;
    case '5':
      if (length == 16) return "M/C";
      break;
    case '6':
      if (length >= 16 && length <= 19 &&
          (InRange(prefix6, 601100, 601199) || InRange(prefix6, 640000, 659999) ||
           InRange(prefix6, 622126, 622925) || InRange(prefix6, 624000, 626999) ||
           InRange(prefix6, 628200, 628899))) {
        return "DCVR";
      }
      break;
    default:
      break;
  }
  return "OTHER";
}

}  // namespace paxelle
