// The EMV terminal parameters built into the server: the card schemes'
// certification authority public keys and each scheme's application parameters.
#pragma once

#include "core/EmvTypes.h"

#include <string>
#include <vector>

namespace paxelle {

// The twelve CA public keys, three per scheme, in the order the lanes receive them.
std::vector<CaPublicKey> BuiltInCaPublicKeys();

// The application parameters of the four schemes, in the order the lanes receive them.
std::vector<AidParams> BuiltInAidParams();

// The application parameters of the scheme with this RID (10 hex digits, exact
// match); a record of empty texts for a RID the server does not carry.
AidParams EmvAidParamsFor(const std::string& rid);

// Appends the element lines a lane reads one scheme's application parameters
// from, each name followed by `suffix`, two tabs deep, CR LF; empty values drop
// out and the merchant type is never sent.
void AppendAidParamsElements(const AidParams& params, const std::string& suffix, std::string& body);

}  // namespace paxelle
