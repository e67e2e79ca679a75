#include "client/LoginExchange.h"

#include "client/HexText.h"
#include "core/MessageFrame.h"

#include <algorithm>

namespace paxelle {
namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::size_t kMaxResponseChars = 256;
constexpr std::size_t kMaxClientChallengeChars = 511;

}  // namespace

LoginMessageBuffer::State LoginMessageBuffer::Append(std::string_view bytes) {
  if (state_ != State::kIncomplete) return state_;
  const auto etx = bytes.find(kEtx);
  const std::size_t before = etx == npos ? bytes.size() : etx;
  if (message_.size() + before > kMaxClientMessageBytes) {
    // Nothing of an overlong message is kept: the login has failed.
    message_.clear();
    message_.shrink_to_fit();
    state_ = State::kOverflow;
    return state_;
  }
  if (etx == npos) {
    message_.append(bytes);
    return state_;
  }
  message_.append(bytes.substr(0, etx + 1));
  rest_.assign(bytes.substr(etx + 1));
  state_ = State::kComplete;
  return state_;
}

bool FindChallengeResponse(std::string_view message, std::string_view& response) {
  const auto rs = message.find(kRs);
  if (rs == npos) return false;
  const auto us = message.find(kUs, rs + 1);
  if (us == npos) return false;
  response = message.substr(rs + 1, us - rs - 1);
  return true;
}

bool SelectsAlternateKey(std::string_view message) {
  const auto fs = message.find(kFs);
  if (fs == npos) return false;
  const auto rs = message.find(kRs);
  if (rs == npos || fs > rs) return false;
  return message.substr(fs + 1, rs - fs - 1) == "M";
}

bool ResponseMatches(std::string_view response, std::span<const unsigned char> expected) {
  if (response.size() > kMaxResponseChars || response.size() % 2 != 0) return false;
  std::vector<unsigned char> decoded;
  if (!HexToBytes(response, decoded)) return false;
  return decoded.size() == expected.size() && std::equal(decoded.begin(), decoded.end(), expected.begin());
}

bool FindClientChallenge(std::string_view message, std::string_view& block) {
  const auto dc1 = message.find(kDc1);
  if (dc1 == npos) return false;
  const auto dc2 = message.find(kDc2, dc1 + 1);
  if (dc2 == npos) return false;
  block = message.substr(dc1 + 1, dc2 - dc1 - 1);
  return true;
}

bool PasswordMatches(std::string_view message, std::string_view password) {
  const auto etx = message.find(kEtx);
  if (etx == npos || etx < password.size() + 1) return false;
  return message.substr(etx - password.size(), password.size()) == password;
}

LoginVerdict CheckLoginMessage(std::string_view message, std::span<const unsigned char> challenge,
                               const LoginPolicy& policy, const ChallengeCipher& cipher) {
  LoginVerdict verdict;
  std::string_view response;
  if (!FindChallengeResponse(message, response)) return verdict;

  const bool alternate = SelectsAlternateKey(message);
  std::vector<unsigned char> expected(challenge.begin(), challenge.end());
  if (!cipher || !cipher(expected, alternate)) {
    verdict.encryptionFailed = true;
    return verdict;
  }
  if (!ResponseMatches(response, expected)) return verdict;

  std::string_view block;
  const bool blockPresent = FindClientChallenge(message, block);
  std::string replyValue;
  if (blockPresent && block.size() <= kMaxClientChallengeChars && block.size() % 2 == 0) {
    std::vector<unsigned char> bytes;
    HexToBytes(block, bytes);
    // On a cipher failure the client gets its bytes back as decoded and will
    // find them wrong; the failure is logged by the caller.
    std::vector<unsigned char> encrypted = bytes;
    if (!bytes.empty() && !cipher(encrypted, alternate)) {
      verdict.encryptionFailed = true;
      encrypted = bytes;
    }
    replyValue = BytesToHex(encrypted);
  }

  if (policy.passwordRequired && !PasswordMatches(message, policy.password)) {
    verdict.outcome = LoginOutcome::kPasswordMismatch;
    return verdict;
  }
  if (!blockPresent) {
    verdict.outcome = LoginOutcome::kUpgradeRequired;
    return verdict;
  }
  verdict.outcome = LoginOutcome::kVerified;
  verdict.replyValue = std::move(replyValue);
  return verdict;
}

}  // namespace paxelle
