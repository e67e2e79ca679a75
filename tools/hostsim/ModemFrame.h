// The dial link's frames as the host end sees them: the control characters, the
// check character that closes a frame and the link field of a request. Kept apart
// from the server's own framing code so that each side checks the other.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

inline constexpr char kModemStx = 0x02;  // a frame begins
inline constexpr char kModemEtx = 0x03;  // the frame's text ends; its check character follows
inline constexpr char kModemEot = 0x04;  // the host ends an exchange
inline constexpr char kModemEnq = 0x05;  // the host invites the first frame of a call
inline constexpr char kModemAck = 0x06;  // a frame arrived whole
inline constexpr char kModemNak = 0x15;  // a frame arrived spoilt: send it again

// Where a request frame (STX first) carries its link field, and what a request
// that came over the telephone line holds there.
inline constexpr std::size_t kLinkFieldFrameIndex = 6;
inline constexpr char kTelephoneLinkField = '1';

// The check character of `frame`, which begins with STX and ends with ETX:
// every byte after the STX, the ETX among them, combined by exclusive-or.
char FrameCheckCharacter(std::string_view frame);

// `text` as the host sends it: STX, the text, ETX and the check character.
std::string HostFrame(std::string_view text);

}  // namespace paxelle::hostsim
