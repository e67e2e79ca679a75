// The login's challenge keys: the two key materials shared with the server, how
// a material becomes an RC4 key, and the challenge answer computed with it.
#pragma once

#include <string>
#include <string_view>

#include "tools/lane/LaneCrypto.h"

namespace paxelle::lane {

enum class ChallengeMaterial { kStandard, kAlternate };

// The material's text. This reference client keeps both plainly, here only.
std::string_view MaterialText(ChallengeMaterial material);

// The hash input made from a material: byte i plus 2 when i is even, plus 1
// when i is odd (8-bit wrap-around); a resulting 0 becomes 1. Same length.
std::string PrepareMaterial(std::string_view material);

// The 16-byte RC4 challenge key of `material`: MD5 of the prepared material.
bool ChallengeKey(LaneCrypto& crypto, ChallengeMaterial material, std::string& key);

// RC4 of `bytes` under the material's challenge key from its initial state:
// the answer to the server's challenge, and the value the server must return
// for the lane's own challenge. Same length as `bytes`. False with
// crypto.LastError() on failure.
bool EncryptChallenge(LaneCrypto& crypto, ChallengeMaterial material, std::string_view bytes,
                      std::string& encrypted);

}  // namespace paxelle::lane
