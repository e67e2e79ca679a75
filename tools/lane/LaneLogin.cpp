#include "tools/lane/LaneLogin.h"

#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneHex.h"
#include "tools/lane/LaneServerKey.h"

namespace paxelle::lane {

namespace {

// The hexadecimal text between `open` and `close` that starts at `position`;
// moves `position` past `close`.
bool TakeBlock(std::string_view text, std::size_t& position, char open, char close, std::string& hex) {
  if (position >= text.size() || text[position] != open) return false;
  const std::size_t end = text.find(close, position + 1);
  if (end == std::string_view::npos) return false;
  hex.assign(text.substr(position + 1, end - position - 1));
  position = end + 1;
  return true;
}

}  // namespace

bool ParseGreeting(std::string_view text, Greeting& greeting, std::string& error) {
  if (text.substr(0, kGreetingText.size()) != kGreetingText) {
    error = "greeting does not start with \"" + std::string(kGreetingText) + "\"";
    return false;
  }
  std::size_t position = kGreetingText.size();
  std::string keyHex;
  std::string challengeHex;
  if (!TakeBlock(text, position, kDc1, kDc2, keyHex)) {
    error = "greeting lacks the DC1 ... DC2 public key block";
    return false;
  }
  if (!TakeBlock(text, position, kRs, kUs, challengeHex)) {
    error = "greeting lacks the RS ... US challenge";
    return false;
  }
  if (position != text.size()) {
    error = "greeting has text after its challenge";
    return false;
  }
  Greeting parsed;
  if (keyHex.empty() || !HexToBytes(keyHex, parsed.publicKeyBlob)) {
    error = "greeting's public key is not upper-case hexadecimal";
    return false;
  }
  if (challengeHex.size() != 2 * kSessionKeyBytes || !HexToBytes(challengeHex, parsed.challenge)) {
    error = "greeting's challenge is not 32 upper-case hexadecimal characters";
    return false;
  }
  greeting = std::move(parsed);
  return true;
}

std::string BuildLoginMessage(std::string_view challengeAnswer, std::string_view clientChallenge,
                              std::string_view password, bool alternate) {
  std::string message;
  if (alternate) {
    message += kFs;
    message += kTypeEncryptedAlternate;
  }
  message += kRs;
  message += BytesToHex(challengeAnswer);
  message += kUs;
  message += kDc1;
  message += BytesToHex(clientChallenge);
  message += kDc2;
  message += password;
  message += kEtx;
  return message;
}

bool CheckLoginVerified(std::string_view text, std::string_view expectedAnswer, std::string& error) {
  std::string expected(kLoginVerifiedText);
  expected += kRs;
  expected += BytesToHex(expectedAnswer);
  expected += kUs;
  if (text == expected) return true;
  std::size_t position = kLoginVerifiedText.size();
  std::string answerHex;
  if (text.substr(0, position) != kLoginVerifiedText || !TakeBlock(text, position, kRs, kUs, answerHex) ||
      position != text.size()) {
    error = "login reply is not \"Login Verified.\", RS, answer, US";
  } else {
    error = "server's answer to the lane's challenge is wrong (\"" + answerHex + "\")";
  }
  return false;
}

bool PlanLogin(LaneCrypto& crypto, const Greeting& greeting, std::string_view password, bool alternate,
               LoginPlan& plan, std::string& error) {
  if (password.find(kEtx) != std::string_view::npos) {
    error = "password must not contain ETX";
    return false;
  }
  const ChallengeMaterial material = alternate ? ChallengeMaterial::kAlternate : ChallengeMaterial::kStandard;
  LoginPlan made;
  std::string answer;
  if (!EncryptChallenge(crypto, material, greeting.challenge, answer) ||
      !crypto.Random(kSessionKeyBytes, made.clientChallenge) ||
      !EncryptChallenge(crypto, material, made.clientChallenge, made.expectedAnswer)) {
    error = crypto.LastError();
    return false;
  }
  made.message = BuildLoginMessage(answer, made.clientChallenge, password, alternate);
  plan = std::move(made);
  return true;
}

}  // namespace paxelle::lane
