// The login message checks on their own: assembling the message, each field
// check, and the verdict's order of precedence.
#include "client/LoginExchange.h"

#include "client/HexText.h"

#include <gtest/gtest.h>

#include <array>

namespace paxelle {
namespace {

const std::string kRs(1, '\x1e');
const std::string kUs(1, '\x1f');
const std::string kDc1(1, '\x11');
const std::string kDc2(1, '\x12');
const std::string kFs(1, '\x1c');
const std::string kEtx(1, '\x03');

const std::array<unsigned char, 16> kChallenge = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// A stand-in for the challenge keys: XOR with one byte per key.
bool XorCipher(std::vector<unsigned char>& bytes, bool alternate) {
  for (unsigned char& byte : bytes) byte ^= alternate ? 0xA5 : 0x5A;
  return true;
}

std::string Encrypted(std::span<const unsigned char> bytes, bool alternate) {
  std::vector<unsigned char> copy(bytes.begin(), bytes.end());
  XorCipher(copy, alternate);
  return BytesToHex(copy);
}

std::string ClientChallengeHex() {
  return BytesToHex(std::string_view("client-challenge"));
}

// [FS selector] RS answer US [DC1 client DC2] password ETX
std::string Message(const std::string& answer, const std::string& block, const std::string& password = "",
                    const std::string& selector = "", bool withBlock = true) {
  std::string text;
  if (!selector.empty()) text += kFs + selector;
  text += kRs + answer + kUs;
  if (withBlock) text += kDc1 + block + kDc2;
  return text + password + kEtx;
}

LoginVerdict Check(const std::string& message, const LoginPolicy& policy = {}) {
  return CheckLoginMessage(message, kChallenge, policy, XorCipher);
}

// ---- Assembling ------------------------------------------------------------

TEST(LoginMessageBuffer, AssemblesAcrossReadsAndKeepsWhatFollows) {
  LoginMessageBuffer buffer;
  EXPECT_EQ(buffer.Append("\x1e" "AB"), LoginMessageBuffer::State::kIncomplete);
  EXPECT_EQ(buffer.Append("CD\x1f\x03" "next request\x03"), LoginMessageBuffer::State::kComplete);
  EXPECT_EQ(buffer.Message(), "\x1e" "ABCD\x1f\x03");
  EXPECT_EQ(buffer.TakeRest(), "next request\x03");
  EXPECT_EQ(buffer.Append("more"), LoginMessageBuffer::State::kComplete);
  EXPECT_EQ(buffer.Message(), "\x1e" "ABCD\x1f\x03");
}

TEST(LoginMessageBuffer, TakesAMessageOfTheLimitExactly) {
  LoginMessageBuffer buffer;
  EXPECT_EQ(buffer.Append(std::string(kMaxClientMessageBytes, 'a')), LoginMessageBuffer::State::kIncomplete);
  EXPECT_EQ(buffer.Append(kEtx), LoginMessageBuffer::State::kComplete);
  EXPECT_EQ(buffer.Message().size(), kMaxClientMessageBytes + 1);
}

TEST(LoginMessageBuffer, OverflowFailsAndKeepsNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> reads;
  };
  for (const Case& c : {Case{"one byte too many", {std::string(kMaxClientMessageBytes, 'a'), "b"}},
                        Case{"ETX beyond the limit", {std::string(kMaxClientMessageBytes + 1, 'a') + kEtx}},
                        Case{"many small reads", std::vector<std::string>(40, std::string(1000, 'a'))}}) {
    LoginMessageBuffer buffer;
    LoginMessageBuffer::State state = LoginMessageBuffer::State::kIncomplete;
    for (const std::string& read : c.reads) state = buffer.Append(read);
    EXPECT_EQ(state, LoginMessageBuffer::State::kOverflow) << c.name;
    EXPECT_TRUE(buffer.Message().empty()) << c.name;
    EXPECT_EQ(buffer.Append(kEtx), LoginMessageBuffer::State::kOverflow) << c.name;
  }
}

// ---- Field checks -----------------------------------------------------------

TEST(LoginExchange, FindsTheChallengeResponseBetweenRsAndUs) {
  std::string_view response;
  const std::string message = "x" + kRs + "ABCD" + kUs + "y";
  EXPECT_TRUE(FindChallengeResponse(message, response));
  EXPECT_EQ(response, "ABCD");
  EXPECT_FALSE(FindChallengeResponse("ABCD" + kUs, response));
  EXPECT_FALSE(FindChallengeResponse(kRs + "ABCD", response));
  EXPECT_FALSE(FindChallengeResponse(kUs + "AB" + kRs + "CD", response));
}

TEST(LoginExchange, SelectorChoosesTheAlternateKeyOnlyForExactlyM) {
  struct Case {
    std::string message;
    bool alternate;
  };
  for (const Case& c : {Case{kFs + "M" + kRs + "AB" + kUs, true}, Case{kFs + "MM" + kRs + "AB" + kUs, false},
                        Case{kFs + "m" + kRs + "AB" + kUs, false}, Case{kRs + "AB" + kUs, false},
                        Case{kRs + "AB" + kUs + kFs + "M", false}, Case{kFs + "M", false}}) {
    EXPECT_EQ(SelectsAlternateKey(c.message), c.alternate) << c.message;
  }
}

TEST(LoginExchange, ResponseMustDecodeToTheExpectedBytes) {
  const std::array<unsigned char, 2> expected = {0xAB, 0x01};
  EXPECT_TRUE(ResponseMatches("AB01", expected));
  EXPECT_FALSE(ResponseMatches("AB0", expected));
  EXPECT_FALSE(ResponseMatches("AB02", expected));
  EXPECT_FALSE(ResponseMatches("AB0100", expected));
  EXPECT_FALSE(ResponseMatches("ab01", expected));  // lower case reads as 0
  EXPECT_FALSE(ResponseMatches(std::string(258, '0'), std::vector<unsigned char>(129, 0)));
  EXPECT_TRUE(ResponseMatches(std::string(256, '0'), std::vector<unsigned char>(128, 0)));
}

TEST(LoginExchange, PasswordMustStandRightBeforeTheEtx) {
  struct Case {
    std::string message;
    std::string password;
    bool matches;
  };
  for (const Case& c : {Case{"abcTill42" + kEtx, "Till42", true}, Case{"Till42" + kEtx, "Till42", false},
                        Case{"abcTill41" + kEtx, "Till42", false}, Case{"abcTill42", "Till42", false},
                        Case{"a" + kEtx, "", true}, Case{kEtx + "abc", "", false},
                        Case{"xTill42" + kEtx + "Till42" + kEtx, "Till42", true}}) {
    EXPECT_EQ(PasswordMatches(c.message, c.password), c.matches) << c.message << " / " << c.password;
  }
}

// ---- The verdict ------------------------------------------------------------

TEST(LoginExchange, CorrectLoginIsVerifiedWithTheAnsweredClientChallenge) {
  const std::string client = ClientChallengeHex();
  const LoginVerdict verdict = Check(Message(Encrypted(kChallenge, false), client));
  EXPECT_EQ(verdict.outcome, LoginOutcome::kVerified);
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(HexToBytes(client, bytes));
  EXPECT_EQ(verdict.replyValue, Encrypted(bytes, false));
  EXPECT_FALSE(verdict.encryptionFailed);
}

TEST(LoginExchange, AlternateSelectorUsesTheAlternateKeyThroughout) {
  const std::string client = ClientChallengeHex();
  const LoginVerdict verdict = Check(Message(Encrypted(kChallenge, true), client, "", "M"));
  EXPECT_EQ(verdict.outcome, LoginOutcome::kVerified);
  std::vector<unsigned char> bytes;
  ASSERT_TRUE(HexToBytes(client, bytes));
  EXPECT_EQ(verdict.replyValue, Encrypted(bytes, true));
  // The standard answer under the alternate selector is wrong.
  EXPECT_EQ(Check(Message(Encrypted(kChallenge, false), client, "", "M")).outcome, LoginOutcome::kChallengeMismatch);
}

TEST(LoginExchange, OutcomesInOrderOfPrecedence) {
  const std::string right = Encrypted(kChallenge, false);
  const std::string client = ClientChallengeHex();
  const LoginPolicy password{true, "Till42"};
  struct Case {
    const char* name;
    std::string message;
    LoginPolicy policy;
    LoginOutcome outcome;
  };
  for (const Case& c : {
           Case{"no RS", "AB" + kUs + kEtx, {}, LoginOutcome::kChallengeMismatch},
           Case{"wrong answer", Message(Encrypted(kChallenge, true), client), {}, LoginOutcome::kChallengeMismatch},
           Case{"wrong answer and wrong password", Message("00", client, "x"), password,
                LoginOutcome::kChallengeMismatch},
           Case{"password missing", Message(right, client), password, LoginOutcome::kPasswordMismatch},
           Case{"password missing and no block", Message(right, "", "", "", false), password,
                LoginOutcome::kPasswordMismatch},
           Case{"no block", Message(right, "", "", "", false), {}, LoginOutcome::kUpgradeRequired},
           Case{"no block, right password", Message(right, "", "Till42", "", false), password,
                LoginOutcome::kUpgradeRequired},
           Case{"right password", Message(right, client, "Till42"), password, LoginOutcome::kVerified},
       }) {
    EXPECT_EQ(Check(c.message, c.policy).outcome, c.outcome) << c.name;
  }
}

TEST(LoginExchange, UnanswerableClientChallengeStillVerifiesWithAnEmptyValue) {
  const std::string right = Encrypted(kChallenge, false);
  for (const std::string& block : {std::string(512, 'A'), std::string("ABC"), std::string()}) {
    const LoginVerdict verdict = Check(Message(right, block));
    EXPECT_EQ(verdict.outcome, LoginOutcome::kVerified) << block.size();
    EXPECT_EQ(verdict.replyValue, "") << block.size();
  }
  EXPECT_EQ(Check(Message(right, std::string(510, 'A'))).replyValue.size(), 510u);
}

TEST(LoginExchange, CipherFailureIsReported) {
  const ChallengeCipher broken = [](std::vector<unsigned char>&, bool) { return false; };
  const LoginVerdict verdict =
      CheckLoginMessage(Message(Encrypted(kChallenge, false), ClientChallengeHex()), kChallenge, {}, broken);
  EXPECT_EQ(verdict.outcome, LoginOutcome::kChallengeMismatch);
  EXPECT_TRUE(verdict.encryptionFailed);

  // Failing only on the client's challenge: verified, its bytes returned as decoded.
  int calls = 0;
  const ChallengeCipher second = [&calls](std::vector<unsigned char>& bytes, bool alternate) {
    return ++calls == 1 && XorCipher(bytes, alternate);
  };
  const std::string client = ClientChallengeHex();
  const LoginVerdict partly = CheckLoginMessage(Message(Encrypted(kChallenge, false), client), kChallenge, {}, second);
  EXPECT_EQ(partly.outcome, LoginOutcome::kVerified);
  EXPECT_TRUE(partly.encryptionFailed);
  EXPECT_EQ(partly.replyValue, client);
}

}  // namespace
}  // namespace paxelle
