#include "config/MerchantParams.h"

#include "common/TextHelpers.h"

#include <algorithm>

namespace paxelle {

CParamSpec::CParamSpec(std::string type, int minLength, int maxLength)
    : type_(std::move(type)), minLength_(minLength), maxLength_(maxLength) {
  // "YN1" values are exactly one of two letters, so their limits carry no meaning.
  lengthChecked_ = type_ == "NS1" || type_ == "AN1" || type_ == "AN2";
}

bool CParamSpec::Validate(std::string_view text) const {
  const auto length = static_cast<long long>(text.size());
  const bool lengthFits = !lengthChecked_ || (length >= minLength_ && length <= maxLength_);
  if (type_ == "NS1") return lengthFits && AllDigits(text);
  if (type_ == "YN1") return text == "Y" || text == "N";
  if (type_ == "AN1") {
    return lengthFits && std::all_of(text.begin(), text.end(),
                                     [](char c) { return IsAsciiLetter(c) || IsDigit(c); });
  }
  if (type_ == "AN2") {
    return lengthFits && std::all_of(text.begin(), text.end(), [](char c) {
             const auto byte = static_cast<unsigned char>(c);
             return byte >= 0x20 && byte <= 0x7F;
           });
  }
  return false;
}

std::string CParamSpec::DefaultValue() const {
  if (type_ == "NS1" || type_ == "AN1") {
    return std::string(static_cast<std::size_t>(std::max(minLength_, 1)), '0');
  }
  if (type_ == "AN2") return std::string(static_cast<std::size_t>(std::max(minLength_, 0)), '0');
  if (type_ == "YN1") return "N";
  return {};
}

}  // namespace paxelle
