// The client wire frame: its control characters and the framing of the
// server's replies (a received frame is taken apart by CRequest::UnwrapFrame).
#pragma once

#include "common/ControlCharacters.h"

#include <string>

namespace paxelle {

// Type characters of the frames the server sends.
inline constexpr char kFrameTypeClear = '0';
inline constexpr char kFrameTypeEncrypted = '2';

// FS, "2" (encrypted payload, hexadecimal text) or "0" (clear), "00", STX, the
// payload, ETX. No length field; the payload is not inspected.
std::string FrameMessage(const std::string& payload, bool encrypted);

}  // namespace paxelle
