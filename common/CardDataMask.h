// The one mask for card data in text the server writes out (every traffic-log
// entry): account numbers, tracks, CVVs, PIN blocks and chip data become "X",
// whichever line holds them: requests, replies, echoed frames, host texts.
#pragma once

#include <string>
#include <string_view>

namespace paxelle {

// A copy of `text` of the same length with its card data masked.
// Tagged values (a value runs from the end of its tag to the next FS or other
// control character, "<" (a control character shown as text), "]" (the end of
// a logged request) or the end of the text; every occurrence of each tag):
// - "Track2=": the four characters right before the value's first "=" (the
//   last four when it has none) and every "=" stay, the rest is masked;
// - "AcctNo=": all but the last four characters; "ExpDate=": whole;
// - "CVVData=", "PINBlock=": whole;
// - "EMVData=" ("tag:value" pairs separated by "|"): only the values of tags
//   known to hold no cardholder data (amounts, transaction date and type,
//   terminal and application data) stay; every other value is masked whole,
//   and so is a pair that has no tag name before a ":".
// Untagged account numbers: every run of 13 to 19 digits between non-digits
// that passes the Luhn check keeps only its last four digits; when "=" or "D"
// follows it (a track 2), the digits after that are masked too, and when "^"
// follows it (a track 1), everything up to its end sentinel "?".
// Key serial numbers ("DervdKey=") and ciphertext ("EncryptedBlock=") are not
// card data and stay.
std::string MaskCardData(std::string_view text);

// The logged copy of a request payload ("KEY=VALUE" fields ended by FS), of the
// same length: the values of the fields known to hold no cardholder data
// (amounts, invoice, reference, codes, operator, memo, lane, merchant and
// terminal identifiers, key serial numbers, ciphertext and the like) stay; AcctNo,
// Track2 and EMVData are masked as MaskCardData masks them; every other value,
// of any field nobody listed, is masked whole. A piece without "=" is left to
// MaskCardData, which runs over the whole result as a second net.
std::string MaskRequestFields(std::string_view payload);

}  // namespace paxelle
