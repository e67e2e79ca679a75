// The control characters of the client wire protocol and the host messages.
#pragma once

namespace paxelle {

inline constexpr char kStx = 2;   // start of a frame's payload
inline constexpr char kEtx = 3;   // end of a frame, the only delimiter between messages
inline constexpr char kDc1 = 17;  // opens a key or challenge block
inline constexpr char kDc2 = 18;  // closes a key or challenge block
// Frame start on the client wire; separates the request's key/value pairs and
// the fields of every host message.
inline constexpr char kFs = 28;
inline constexpr char kRs = 30;   // opens the challenge value of a login message
inline constexpr char kUs = 31;   // closes the challenge value of a login message

}  // namespace paxelle
