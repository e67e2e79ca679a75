// Small text functions shared by the request parser, the message builders and
// the response documents.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paxelle {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The plain decimal conversion used for parameters and message fields: leading
// blanks and one sign are skipped, digits are read until the first non-digit,
// empty or non-numeric text reads 0. Saturates instead of overflowing.
std::int64_t LeadingInteger(std::string_view text);

// LeadingInteger clamped to the int range, for fields the record keeps as int.
int LeadingInt(std::string_view text);

bool AllDigits(std::string_view text);

// First / last `count` characters (the whole text when it is shorter).
std::string_view FirstChars(std::string_view text, std::size_t count);
std::string_view LastChars(std::string_view text, std::size_t count);

// Removes blanks (only ' ') at both ends.
std::string_view TrimBlanks(std::string_view text);

// Every occurrence of `from` replaced by `to`.
std::string ReplaceAll(std::string_view text, char from, char to);
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// True for a non-empty run of digits whose Luhn check digit is right (account
// numbers are checked this way, and so is text that might hold one).
bool LuhnValid(std::string_view digits);

}  // namespace paxelle
