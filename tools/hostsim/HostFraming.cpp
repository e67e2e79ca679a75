#include "tools/hostsim/HostFraming.h"

namespace paxelle::hostsim {

bool FrameHostMessage(std::string_view message, std::string& framed) {
  if (message.size() > kMaxFramedMessage) return false;
  framed.clear();
  framed.reserve(kFrameHeaderSize + message.size());
  framed += static_cast<char>((message.size() >> 8) & 0xFF);
  framed += static_cast<char>(message.size() & 0xFF);
  framed += message;
  return true;
}

std::size_t FramedLength(std::string_view header) {
  return (static_cast<std::size_t>(static_cast<unsigned char>(header[0])) << 8) |
         static_cast<unsigned char>(header[1]);
}

}  // namespace paxelle::hostsim
