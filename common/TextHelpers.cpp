#include "common/TextHelpers.h"

#include <algorithm>
#include <climits>

namespace paxelle {

std::int64_t LeadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  constexpr std::int64_t kLimit = INT64_MAX / 10 - 9;
  std::int64_t value = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) {
    if (value >= kLimit) break;  // saturate: such a number is refused anyway
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

int LeadingInt(std::string_view text) {
  return static_cast<int>(std::clamp<std::int64_t>(LeadingInteger(text), INT_MIN, INT_MAX));
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsDigit);
}

std::string_view FirstChars(std::string_view text, std::size_t count) {
  return text.substr(0, std::min(count, text.size()));
}

std::string_view LastChars(std::string_view text, std::size_t count) {
  return count >= text.size() ? text : text.substr(text.size() - count);
}

std::string_view TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string ReplaceAll(std::string_view text, char from, char to) {
  std::string out(text);
  std::replace(out.begin(), out.end(), from, to);
  return out;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t start = 0;
  for (auto at = text.find(from); at != std::string_view::npos; at = text.find(from, start)) {
    out.append(text.substr(start, at - start)).append(to);
    start = at + from.size();
  }
  out.append(text.substr(start));
  return out;
}

bool LuhnValid(std::string_view account) {
  if (account.empty() || !AllDigits(account)) return false;
  int total = 0;
  bool doubled = false;
  for (auto it = account.rbegin(); it != account.rend(); ++it) {
    int digit = *it - '0';
    if (doubled) {
      digit *= 2;
      if (digit >= 10) digit -= 9;
    }
    total += digit;
    doubled = !doubled;
  }
  return total % 10 == 0;
}

}  // namespace paxelle
