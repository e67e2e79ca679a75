// Masking of card data in received messages before they are written anywhere: account
// numbers and track data keep only the last four digits of the account, PIN data and CVV
// are masked whole. Masked characters become "X".
#pragma once

#include "tools/hostsim/SimMessage.h"

#include <string>
#include <string_view>

namespace paxelle::hostsim {

// An account field or track: the four characters before the first "=" (the last four when
// there is none) and every "=" stay, everything else is masked; blanks padding the end stay.
std::string MaskAccountField(std::string_view field);

// A copy of `message` (read by ReadSimMessage as `read`) with its card data masked:
// requests: the account field (from `accountPos` to the first FS; for a voice authorization
// this includes the zero amounts before the account), the CVV slot of an address block
// (f5 at 30-33), the track and expiry slots of the EMV data block (f11 at 2-39 and 446-451)
// and the PIN data (f12);
// completions: the account field (piece 2); batch messages carry no card data;
// anything unknown: every run of twelve or more digits but its last four, and every digit
// right after an "=".
std::string MaskMessage(const SimMessage& read, std::string_view message);

// `text` with FS written as "<FS>" and every other byte outside printable ASCII as "<hh>",
// so a message always fits on one journal line.
std::string PrintableText(std::string_view text);

}  // namespace paxelle::hostsim
