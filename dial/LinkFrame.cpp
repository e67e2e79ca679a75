#include "dial/LinkFrame.h"

namespace paxelle {

char LinkLrc(std::string_view bytes) {
  unsigned char lrc = 0;
  for (const char byte : bytes) lrc ^= static_cast<unsigned char>(byte);
  return static_cast<char>(lrc);
}

std::string BuildLinkFrame(std::string_view data) {
  std::string frame;
  frame.reserve(data.size() + 3);
  frame += kLinkStx;
  frame += data;
  frame += kLinkEtx;
  frame += LinkLrc(std::string_view(frame).substr(1));
  return frame;
}

std::string BuildDialRequestFrame(std::string_view hostRequest) {
  std::string message(hostRequest);
  if (message.size() > kLinkIndicatorPos) message[kLinkIndicatorPos] = kDialLinkIndicator;
  return BuildLinkFrame(message);
}

}  // namespace paxelle
