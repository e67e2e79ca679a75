// The copy of a received request that may be logged: every card datum in it
// replaced by "X" (the record itself keeps the real text).
#pragma once

#include <string>
#include <string_view>

namespace paxelle {

// Masks every occurrence of each tag below, wherever it appears as text; a
// value runs from the end of its tag to the next FS (or the end):
// - "Track2=": the four characters right before the value's first "=" (the
//   last four when it has none) and every "=" stay, the rest is masked;
// - "AcctNo=": all but the last four characters; "ExpDate=": whole;
// - "CVVData=", "PINBlock=": whole;
// - "EMVData=" ("tag:value" pairs separated by "|"): only the values of tags
//   known to hold no cardholder data (amounts, transaction date and type,
//   terminal and application data) stay; every other value is masked whole,
//   and so is a pair that has no tag name before a ":".
// Key serial numbers ("DervdKey=") and ciphertext ("EncryptedBlock=") are not
// card data and stay. The result has the length of `request`.
std::string MaskLoggedRequest(std::string_view request);

}  // namespace paxelle
