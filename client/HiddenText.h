// Secrets kept out of plain sight in the program: a stored text mixed with
// decoy characters and a keep mask that says which characters are real.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace paxelle {

// Puts the hidden text together in `out` (replacing what it held): the
// characters of `stored` at the positions whose `keepMask` entry is not 1, in
// order. Positions beyond the shorter of the two are not looked at. `out` is
// sized once up front, so no copy of the secret is left behind by a regrowth;
// the caller wipes it after use.
void AssembleHiddenText(std::string_view stored, std::span<const unsigned char> keepMask,
                        std::string& out);

}  // namespace paxelle
