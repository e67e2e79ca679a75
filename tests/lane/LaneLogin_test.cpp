// The greeting the lane reads, the login message it writes and the server's
// "Login Verified." answer it checks, against literal wire texts.
#include "tools/lane/LaneLogin.h"

#include <gtest/gtest.h>

#include "tools/lane/LaneHex.h"

namespace paxelle::lane {
namespace {

const std::string kChallengeHex = "00112233445566778899AABBCCDDEEFF";
const std::string kKeyHex = "0602000000A40000525341310004000001000100C3";

std::string GreetingText(const std::string& keyHex = kKeyHex, const std::string& challengeHex = kChallengeHex) {
  return "CONNECTED to OPX_IP! -- Password ?\x11" + keyHex + "\x12\x1E" + challengeHex + "\x1F";
}

TEST(LaneLoginTest, GreetingGivesTheKeyBlobAndTheChallenge) {
  Greeting greeting;
  std::string error;
  ASSERT_TRUE(ParseGreeting(GreetingText(), greeting, error)) << error;
  EXPECT_EQ(BytesToHex(greeting.publicKeyBlob), kKeyHex);
  EXPECT_EQ(greeting.challenge, std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16));
}

TEST(LaneLoginTest, MalformedGreetingsAreRefusedWithoutTouchingTheResult) {
  const struct {
    const char* what;
    std::string text;
  } cases[] = {
      {"other text", "System going off line - please try again later..."},
      {"no key block", "CONNECTED to OPX_IP! -- Password ?\x1E" + kChallengeHex + "\x1F"},
      {"no challenge", "CONNECTED to OPX_IP! -- Password ?\x11" + kKeyHex + "\x12"},
      {"unclosed challenge", "CONNECTED to OPX_IP! -- Password ?\x11" + kKeyHex + "\x12\x1E" + kChallengeHex},
      {"empty key", GreetingText("")},
      {"odd key", GreetingText(kKeyHex + "0")},
      {"lower-case key", GreetingText("0602000000a4")},
      {"short challenge", GreetingText(kKeyHex, kChallengeHex.substr(2))},
      {"long challenge", GreetingText(kKeyHex, kChallengeHex + "00")},
      {"lower-case challenge", GreetingText(kKeyHex, "00112233445566778899aabbccddeeff")},
      {"text after the challenge", GreetingText() + "x"},
  };
  for (const auto& c : cases) {
    Greeting greeting{"unchanged", "unchanged"};
    std::string error;
    EXPECT_FALSE(ParseGreeting(c.text, greeting, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_EQ(greeting.challenge, "unchanged") << c.what;
  }
}

TEST(LaneLoginTest, LoginMessageLayouts) {
  const std::string answer("\xA0\x0B", 2);
  const std::string mine("\x01\xFE", 2);
  EXPECT_EQ(BuildLoginMessage(answer, mine, "", false), "\x1E" "A00B\x1F\x11" "01FE\x12\x03");
  EXPECT_EQ(BuildLoginMessage(answer, mine, "", true), "\x1C" "M\x1E" "A00B\x1F\x11" "01FE\x12\x03");
  EXPECT_EQ(BuildLoginMessage(answer, mine, "s3cret", false), "\x1E" "A00B\x1F\x11" "01FE\x12s3cret\x03");
  EXPECT_EQ(BuildLoginMessage(answer, mine, "s3cret", true), "\x1C" "M\x1E" "A00B\x1F\x11" "01FE\x12s3cret\x03");
}

TEST(LaneLoginTest, LoginVerifiedMustCarryTheRightAnswer) {
  const std::string expected("\x12\x34\xAB", 3);
  std::string error;
  EXPECT_TRUE(CheckLoginVerified("Login Verified.\x1E" "1234AB\x1F", expected, error)) << error;
  const char* wrong[] = {
      "Login Verified.\x1E" "1234AC\x1F",   // wrong value
      "Login Verified.\x1E\x1F",            // the server took no challenge
      "Login Verified.\x1E" "1234ab\x1F",
      "Login Verified.",
      "Login Verified.\x1E" "1234AB\x1F ",
      "Login Failed! -- Disconnecting.",
  };
  for (const char* text : wrong) {
    error.clear();
    EXPECT_FALSE(CheckLoginVerified(text, expected, error)) << text;
    EXPECT_FALSE(error.empty());
  }
}

TEST(LaneLoginTest, PlanAnswersTheChallengeAndMakesAFreshChallengeOfItsOwn) {
  LaneCrypto crypto;
  Greeting greeting;
  std::string error;
  ASSERT_TRUE(ParseGreeting(GreetingText(), greeting, error));
  for (const bool alternate : {false, true}) {
    const ChallengeMaterial material = alternate ? ChallengeMaterial::kAlternate : ChallengeMaterial::kStandard;
    LoginPlan first;
    LoginPlan second;
    ASSERT_TRUE(PlanLogin(crypto, greeting, "pw", alternate, first, error)) << error;
    ASSERT_TRUE(PlanLogin(crypto, greeting, "pw", alternate, second, error)) << error;
    EXPECT_EQ(first.clientChallenge.size(), 16u);
    EXPECT_NE(first.clientChallenge, second.clientChallenge);
    std::string answer;
    std::string expected;
    ASSERT_TRUE(EncryptChallenge(crypto, material, greeting.challenge, answer));
    ASSERT_TRUE(EncryptChallenge(crypto, material, first.clientChallenge, expected));
    EXPECT_EQ(first.expectedAnswer, expected);
    EXPECT_EQ(first.message, BuildLoginMessage(answer, first.clientChallenge, "pw", alternate));
  }
}

TEST(LaneLoginTest, APasswordHoldingEtxIsRefused) {
  LaneCrypto crypto;
  Greeting greeting{"", std::string(16, '\0')};
  LoginPlan plan;
  plan.message = "unchanged";
  std::string error;
  EXPECT_FALSE(PlanLogin(crypto, greeting, "pass\x03word", false, plan, error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(plan.message, "unchanged");
}

}  // namespace
}  // namespace paxelle::lane
