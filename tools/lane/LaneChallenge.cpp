#include "tools/lane/LaneChallenge.h"

namespace paxelle::lane {

std::string_view MaterialText(ChallengeMaterial material) {
  return material == ChallengeMaterial::kAlternate ? "OPXIP-Alt-c3e9a15f7b2d4068" : "OPXIP-Std-7d1f4c9a2b6e8035";
}

std::string PrepareMaterial(std::string_view material) {
  std::string prepared(material);
  for (std::size_t i = 0; i < prepared.size(); ++i) {
    auto value = static_cast<unsigned char>(static_cast<unsigned char>(prepared[i]) + (i % 2 == 0 ? 2 : 1));
    if (value == 0) value = 1;
    prepared[i] = static_cast<char>(value);
  }
  return prepared;
}

bool ChallengeKey(LaneCrypto& crypto, ChallengeMaterial material, std::string& key) {
  return crypto.Md5(PrepareMaterial(MaterialText(material)), key);
}

bool EncryptChallenge(LaneCrypto& crypto, ChallengeMaterial material, std::string_view bytes,
                      std::string& encrypted) {
  std::string key;
  return ChallengeKey(crypto, material, key) && crypto.Rc4(key, bytes, encrypted);
}

}  // namespace paxelle::lane
