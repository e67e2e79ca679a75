// The host link's framing, both directions: two bytes holding the message length, high
// byte first, then the message. Knows nothing of sockets or layouts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle::hostsim {

inline constexpr std::size_t kFrameHeaderSize = 2;
inline constexpr std::size_t kMaxFramedMessage = 65535;

// Writes the length bytes and `message` into `framed`. False (and `framed` untouched) when
// the message is longer than the length bytes can say.
bool FrameHostMessage(std::string_view message, std::string& framed);

// The message length announced by the first two bytes of `header` (which must hold two).
std::size_t FramedLength(std::string_view header);

}  // namespace paxelle::hostsim
