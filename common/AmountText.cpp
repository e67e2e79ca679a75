#include "common/AmountText.h"

#include "common/TextHelpers.h"

#include <algorithm>

namespace paxelle {
namespace {

bool OnlyAmountCharacters(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsDigit(c) || c == '.' || c == '-'; });
}

bool AtMostOneDot(std::string_view text) {
  return std::count(text.begin(), text.end(), '.') <= 1;
}

std::string Without(std::string_view text, std::string_view drop) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (drop.find(c) == std::string_view::npos) out.push_back(c);
  }
  return out;
}

// Pads or cuts the digits after the first "." to exactly two.
std::string TwoDecimals(std::string text) {
  const auto dot = text.find('.');
  if (dot == std::string::npos) return text;
  std::string decimals = text.substr(dot + 1);
  decimals.resize(2, '0');
  return text.substr(0, dot + 1) + decimals;
}

}  // namespace

bool IsValidAmount(std::string_view text) {
  const std::size_t length = text.size();
  if (length < 3 || length > 9) return false;
  if (text.find('-') != std::string_view::npos && length > 8) return false;
  if (text[length - 3] != '.') return false;
  return OnlyAmountCharacters(text) && AtMostOneDot(text);
}

bool IsValidUnsignedAmount(std::string_view text) {
  return IsValidAmount(text) && text.find('-') == std::string_view::npos;
}

bool IsValidAmount3(std::string_view text) {
  const std::size_t length = text.size();
  if (length < 4 || length > 7) return false;
  if (text[length - 4] != '.') return false;
  return OnlyAmountCharacters(text) && AtMostOneDot(text);
}

std::string AmountToCentsText(std::string_view text) {
  return Without(text.empty() ? std::string_view(".00") : text, ".-+");
}

std::string AmountToMillsText(std::string_view text) {
  return Without(text.empty() ? std::string_view(".000") : text, ".-+");
}

std::int64_t AmountTextToCents(std::string_view text) {
  std::string work = Without(text, " ");
  bool negative = false;
  if (work.find('C') != std::string::npos) {
    work = Without(work, "C");
    negative = true;
  }
  if (work.find('-') != std::string::npos) {
    work = Without(work, "-");
    negative = true;
  }
  work = Without(work, "+");
  if (work.empty()) work = ".00";
  work = Without(TwoDecimals(work), ".");
  const std::int64_t cents = LeadingInteger(work);
  return negative ? -cents : cents;
}

std::string CentsToAmountText(std::string_view cents) {
  std::string work = Without(cents, " ");
  bool negative = false;
  if (work.find_first_of("C-") != std::string::npos) {
    work = Without(work, "C-");
    negative = true;
  }
  work = Without(TwoDecimals(Without(work, "+")), ".");
  if (work.size() < 3) work.insert(0, 3 - work.size(), '0');
  work.insert(work.size() - 2, 1, '.');
  return negative ? "-" + work : work;
}

std::string FormatCents(std::int64_t cents) {
  return CentsToAmountText(std::to_string(cents));
}

}  // namespace paxelle
