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
// - "EMVData=" ("tag:value" pairs separated by "|"): the values of tags 5A
//   and 57 all but their last four characters, of tag 5F24 whole.
// Key serial numbers ("DervdKey=") and ciphertext ("EncryptedBlock=") are not
// card data and stay. The result has the length of `request`.
std::string MaskLoggedRequest(std::string_view request);

}  // namespace paxelle
