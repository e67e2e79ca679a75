// The client wire frame: its control characters and the framing of the
// server's replies (a received frame is taken apart by CRequest::UnwrapFrame).
#pragma once

#include <string>

namespace paxelle {

// Control characters of the client wire protocol.
inline constexpr char kStx = 2;   // start of the frame payload
inline constexpr char kEtx = 3;   // end of a frame, the only delimiter between messages
inline constexpr char kDc1 = 17;  // opens a key or challenge block
inline constexpr char kDc2 = 18;  // closes a key or challenge block
inline constexpr char kFs = 28;   // frame start; also the request field separator
inline constexpr char kRs = 30;   // opens the challenge value of a login message
inline constexpr char kUs = 31;   // closes the challenge value of a login message

// Type characters of the frames the server sends.
inline constexpr char kFrameTypeClear = '0';
inline constexpr char kFrameTypeEncrypted = '2';

// FS, "2" (encrypted payload, hexadecimal text) or "0" (clear), "00", STX, the
// payload, ETX. No length field; the payload is not inspected.
std::string FrameMessage(const std::string& payload, bool encrypted);

}  // namespace paxelle
