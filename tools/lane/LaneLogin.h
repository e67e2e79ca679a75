// The lane's side of the login exchange: reading the server's greeting,
// composing the login message, and checking the server's "Login Verified."
// answer to the lane's own challenge.
#pragma once

#include <string>
#include <string_view>

#include "tools/lane/LaneChallenge.h"
#include "tools/lane/LaneCrypto.h"

namespace paxelle::lane {

inline constexpr std::string_view kGreetingText = "CONNECTED to OPX_IP! -- Password ?";
inline constexpr std::string_view kLoginVerifiedText = "Login Verified.";

// Reply codes of the login exchange.
inline constexpr int kReplyGreeting = 0;
inline constexpr int kReplyLoginVerified = 2000;

// What the greeting's text carries.
struct Greeting {
  std::string publicKeyBlob;  // the server's PUBLICKEYBLOB, decoded
  std::string challenge;      // the server's 16-byte challenge, decoded
};

// Reads the TextResponse of the greeting: kGreetingText, DC1, the public key
// blob in hexadecimal, DC2, RS, the challenge as 32 hexadecimal characters, US,
// and nothing else. Anything else: false with `error` set, `greeting` unchanged.
bool ParseGreeting(std::string_view text, Greeting& greeting, std::string& error);

// The login message, ETX included: [FS "M" when `alternate`] RS,
// hex(challengeAnswer), US, DC1, hex(clientChallenge), DC2, password, ETX.
std::string BuildLoginMessage(std::string_view challengeAnswer, std::string_view clientChallenge,
                              std::string_view password, bool alternate);

// Checks the TextResponse of reply 2000: kLoginVerifiedText, RS, the
// hexadecimal text of `expectedAnswer`, US. False with `error` set when the
// text has another form or the value differs (the server does not hold the
// challenge key, or did not take the lane's challenge).
bool CheckLoginVerified(std::string_view text, std::string_view expectedAnswer, std::string& error);

// One login attempt worked out in advance.
struct LoginPlan {
  std::string message;         // to send, ETX included
  std::string expectedAnswer;  // the server's correct answer to clientChallenge (bytes)
  std::string clientChallenge;
};

// Answers the greeting's challenge and makes a fresh 16-byte client challenge,
// with the standard material or (`alternate`) the alternate one. A password
// holding an ETX would cut the message short and is refused.
bool PlanLogin(LaneCrypto& crypto, const Greeting& greeting, std::string_view password, bool alternate,
               LoginPlan& plan, std::string& error);

}  // namespace paxelle::lane
