// Card brand detection and the account check digit.
#pragma once

#include "common/TextHelpers.h"  // LuhnValid

#include <string>
#include <string_view>

namespace paxelle {

// "VISA", "M/C", "AMEX", "DCVR" or "OTHER", by first digit, length and prefix.
std::string DetectCardType(std::string_view account);


}  // namespace paxelle
