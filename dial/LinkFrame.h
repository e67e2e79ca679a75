// The dial link's framing, known to both ends: control characters, the LRC
// check character, and the frame the dial link sends a host request in.
#pragma once

#include <string>
#include <string_view>

namespace paxelle {

inline constexpr char kLinkStx = '\x02';  // starts a frame
inline constexpr char kLinkEtx = '\x03';  // ends a frame's data; the LRC follows
inline constexpr char kLinkEot = '\x04';  // the host ends the exchange
inline constexpr char kLinkEnq = '\x05';  // the host invites the first frame of a call
inline constexpr char kLinkAck = '\x06';  // frame received with a correct LRC
inline constexpr char kLinkNak = '\x15';  // frame received with a wrong LRC: send again

// Where a host request carries its link indicator, and the dial link's value
// ("4" is the network's).
inline constexpr std::size_t kLinkIndicatorPos = 5;
inline constexpr char kDialLinkIndicator = '1';

// The exclusive-or of `bytes`.
char LinkLrc(std::string_view bytes);

// STX, `data`, ETX, and the LRC of everything after the STX up to the ETX.
std::string BuildLinkFrame(std::string_view data);

// The frame of a host request on the dial link: its link indicator set to "1"
// (when the message is long enough to have one), then framed.
std::string BuildDialRequestFrame(std::string_view hostRequest);

}  // namespace paxelle
