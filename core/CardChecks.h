// Card brand detection and the account check digit.
#pragma once

#include <string>
#include <string_view>

namespace paxelle {

// "VISA", "M/C", "AMEX", "DCVR" or "OTHER", by first digit, length and prefix.
std::string DetectCardType(std::string_view account);

// The mod-10 check of an account number; empty or non-digit accounts fail.
bool LuhnValid(std::string_view account);

}  // namespace paxelle
