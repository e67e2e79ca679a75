// Feeds arbitrary bytes to the login's accumulation and judgement as a client
// would send them: the first byte splits the input into reads and picks the
// password policy; the buffer must never hold more than its limit, and a
// complete message is judged without failing.
#include "client/LoginExchange.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace paxelle;
  if (size == 0) return 0;
  const std::size_t step = 1 + data[0] % 64;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);

  LoginMessageBuffer buffer;
  for (std::size_t at = 0; at < input.size(); at += step) {
    const auto state = buffer.Append(input.substr(at, step));
    if (state != LoginMessageBuffer::State::kIncomplete) break;
  }
  if (buffer.Message().size() > kMaxClientMessageBytes + 1) std::abort();
  if (buffer.Current() != LoginMessageBuffer::State::kComplete) return 0;
  if (buffer.Message().empty() || buffer.Message().back() != '\x03') std::abort();

  const std::array<unsigned char, kChallengeBytes> challenge{};
  LoginPolicy policy;
  policy.passwordRequired = (data[0] & 0x80) != 0;
  policy.password = "Till42";
  // A stand-in cipher: the judgement, not the cryptography, is under test.
  const ChallengeCipher cipher = [](std::vector<unsigned char>& bytes, bool alternate) {
    for (unsigned char& byte : bytes) byte ^= alternate ? 0x5a : 0xa5;
    return true;
  };
  const LoginVerdict verdict = CheckLoginMessage(buffer.Message(), challenge, policy, cipher);
  if (verdict.outcome != LoginOutcome::kVerified && !verdict.replyValue.empty()) std::abort();
  return 0;
}
