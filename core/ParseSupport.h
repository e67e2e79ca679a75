// Steps the field parsers share: refusing with a code, reading amounts into
// cents, choosing the account text and applying the track rule.
#pragma once

#include "common/RequestFields.h"
#include "core/Request.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace paxelle::parse {

// Sets the record's ReturnCode and returns false, so a check reads `return Refuse(...)`.
inline bool Refuse(CRequest& record, int code) {
  record.ReturnCode = code;
  return false;
}

// How an amount key is taken.
enum class AmountRule { kRequired, kOptional };

// Reads amount `key` into `cents`. Absent: fails for kRequired, succeeds for
// kOptional (cents untouched). Present: a signed or otherwise invalid amount
// fails with `code`. Returns whether the parse may go on; on failure the code is set.
bool TakeAmount(CRequest& record, const RequestFields& fields, std::string_view key, int code,
                AmountRule rule, std::string& cents);

// True when `key` is present and its value carries a sign: a sign is refused in
// every request amount field, even where an invalid value is otherwise ignored.
bool HasSignedAmount(const RequestFields& fields, std::string_view key);

// Whole cents of a cents text (empty reads 0).
std::int64_t Cents(const std::string& cents);

// The account text of a card request: "Track2" (at most 37 characters, sets
// Swiped and keeps Track2) or else "AcctNo", trimmed of blanks. Fails with
// 100212 or 100204.
bool TakeAccountText(CRequest& record, const RequestFields& fields, std::string& account);

// Sets AcctNo and ExpDate from the account text: for a swiped card the track
// rule (expiry YYMM after "=", account before it), else the keyed expiry.
void ApplyTrackRule(CRequest& record, const std::string& account, const std::string& keyedExpiry);

// Keeps "Zip" (first 9) and then "Address" (first 20), only when Zip was sent.
void TakeZipAndAddress(CRequest& record, const RequestFields& fields);

// "PINBlock" of 16 characters (100213) and "DervdKey" of 16 to 20 (100214), both kept.
bool TakePinData(CRequest& record, const RequestFields& fields);

// The value of `key`, or empty text when absent.
std::string Value(const RequestFields& fields, std::string_view key);

}  // namespace paxelle::parse
