// Money amounts as text: two-decimal display amounts ("12.34") in requests and
// responses, whole cents without a separator ("1234") inside the record and in
// host messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paxelle {

// True for a display amount with two decimals: 3 to 9 characters (at most 8 when
// a "-" appears), "." three places from the end, only digits, "." and "-".
// A sign is accepted here; request fields refuse it with IsValidUnsignedAmount.
bool IsValidAmount(std::string_view text);

// IsValidAmount without any sign: what every request amount field must be, so a
// lane can never turn a sale into a credit by sending "-10.00".
bool IsValidUnsignedAmount(std::string_view text);

// True for an amount with three decimals: 4 to 7 characters, "." four from the end.
bool IsValidAmount3(std::string_view text);

// Drops every ".", "-" and "+" (empty input counts as ".00"); no validation, so the
// sign is lost: "-1.50" gives "150", "0.05" gives "005".
std::string AmountToCentsText(std::string_view text);

// The three-decimal twin of AmountToCentsText (empty input counts as ".000").
std::string AmountToMillsText(std::string_view text);

// Signed whole cents of a display amount: "C" or "-" makes it negative, a text
// without "." is taken as cents already ("7" gives 7, "C12.3" gives -1230).
std::int64_t AmountTextToCents(std::string_view text);

// Display amount of a cents text: "5" gives "0.05", "-5" gives "-0.05".
std::string CentsToAmountText(std::string_view cents);

// CentsToAmountText of an integer.
std::string FormatCents(std::int64_t cents);

}  // namespace paxelle
