// The server's side of the client login, as pure functions: assembling the
// login message from what arrives, and judging it (challenge response, the
// client's own challenge, the shared password).
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {

// The longest message, without its ETX, the server takes from a client.
inline constexpr std::size_t kMaxClientMessageBytes = 32767;
// Length of the challenge the server sends and of its encrypted answer.
inline constexpr std::size_t kChallengeBytes = 16;

enum class LoginOutcome {
  kVerified,
  kFailed,             // no complete login message (time, overflow, lost connection)
  kPasswordMismatch,   // the shared password is wrong or missing
  kChallengeMismatch,  // the challenge response is wrong or malformed
  kUpgradeRequired,    // no client challenge block: a client too old
  kGoingOffline,       // the listener went offline during the login
};

// Collects received bytes until the login message's ETX. Holds at most
// kMaxClientMessageBytes bytes before the ETX; bytes after it are kept apart
// as the start of what follows.
class LoginMessageBuffer {
 public:
  enum class State { kIncomplete, kComplete, kOverflow };

  // Adds received bytes. Once complete or overflowed, further bytes are
  // refused and the state stays.
  State Append(std::string_view bytes);
  State Current() const { return state_; }
  // The login message up to and including its ETX (complete state only).
  const std::string& Message() const { return message_; }
  // The bytes that followed the ETX; moved out, so the buffer no longer holds them.
  std::string TakeRest() { return std::move(rest_); }

 private:
  State state_ = State::kIncomplete;
  std::string message_;
  std::string rest_;
};

// The text between the first RS and the first US after it; false when either
// is missing.
bool FindChallengeResponse(std::string_view message, std::string_view& response);

// True when the selector (between the first FS and the first RS, empty when
// that FS comes after the RS) is exactly "M": the alternate challenge key.
bool SelectsAlternateKey(std::string_view message);

// The response must be at most 256 characters of even length whose decoded
// bytes equal `expected` in number and value.
bool ResponseMatches(std::string_view response, std::span<const unsigned char> expected);

// The text between the first DC1 and the first DC2 after it; false when the
// block is absent.
bool FindClientChallenge(std::string_view message, std::string_view& block);

// With E the position of the first ETX and n the password's length: E >= n + 1
// and the n characters right before the ETX are the password.
bool PasswordMatches(std::string_view message, std::string_view password);

// Encrypts the bytes in place with the standard (or alternate) challenge key;
// false when it cannot.
using ChallengeCipher = std::function<bool(std::vector<unsigned char>& bytes, bool alternate)>;

struct LoginPolicy {
  bool passwordRequired = false;  // merchant parameter 7
  std::string password;           // merchant parameter 8
};

struct LoginVerdict {
  LoginOutcome outcome = LoginOutcome::kChallengeMismatch;
  // Upper-case hexadecimal of the encrypted client challenge (verified logins
  // only; empty when the block was too long or of odd length).
  std::string replyValue;
  // The cipher failed on the challenge or the client challenge (to be logged).
  bool encryptionFailed = false;
};

// Judges a complete login message (ETX included) against the 16-byte
// `challenge` sent in the greeting: the challenge response decides first, then
// the password, then whether the client challenge block is there.
LoginVerdict CheckLoginMessage(std::string_view message, std::span<const unsigned char> challenge,
                               const LoginPolicy& policy, const ChallengeCipher& cipher);

}  // namespace paxelle
