// Feeds arbitrary text to the log's card-data masks, the one for every line and
// the one for a logged request. Properties, for both: the length is kept and a
// character either stays or becomes "X"; no account number of the input (an
// "AcctNo=" value, a Luhn-valid run of 13 to 19 digits between non-digits)
// survives but its last four digits (and a value's "=").
#include "common/CardDataMask.h"
#include "common/TextHelpers.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Positions [from, to) of `masked` must all be "X"; with `separatorsMayStay`,
// a "=" or "|" may stay too (a track's and a chip data block's separators do,
// and such a value may run over an "AcctNo=" tag and take it apart).
void ExpectMasked(const std::string& masked, std::size_t from, std::size_t to, bool separatorsMayStay = false) {
  for (std::size_t i = from; i < to; ++i) {
    if (masked[i] != 'X' && !(separatorsMayStay && (masked[i] == '=' || masked[i] == '|'))) std::abort();
  }
}

// `fieldsOnly`: the request mask, which knows "AcctNo=" as a field (at the start of
// the text or after an FS); one inside another field's value (a chip data block,
// say) is the line mask's, run over what the field's own mask left.
void Check(const std::string& input, const std::string& masked, bool fieldsOnly) {
  using paxelle::IsDigit;
  using paxelle::LuhnValid;
  if (masked.size() != input.size()) std::abort();
  for (std::size_t i = 0; i < input.size(); ++i) {
    if (masked[i] != input[i] && masked[i] != 'X') std::abort();
  }
  for (std::size_t i = 0; i < input.size();) {
    if (!IsDigit(input[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < input.size() && IsDigit(input[end])) ++end;
    if (end - i >= 13 && end - i <= 19 && LuhnValid(std::string_view(input).substr(i, end - i))) {
      ExpectMasked(masked, i, end - 4);
    }
    i = end;
  }
  for (auto at = input.find("AcctNo="); at != std::string::npos; at = input.find("AcctNo=", at + 1)) {
    if (fieldsOnly && at != 0 && input[at - 1] != '\x1c') continue;
    const std::size_t from = at + 7;
    // A value ends at a control character, at "<" or "]" (the end of a logged
    // request, or a control character shown as text) or at "\x".
    std::size_t to = from;
    while (to < input.size() && static_cast<unsigned char>(input[to]) >= 0x20 && input[to] != 0x7f &&
           input[to] != '<' && input[to] != ']' && input.compare(to, 2, "\\x") != 0) {
      ++to;
    }
    if (to - from > 4) ExpectMasked(masked, from, to - 4, true);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Check(input, paxelle::MaskCardData(input), false);
  Check(input, paxelle::MaskRequestFields(input), true);
  return 0;
}
