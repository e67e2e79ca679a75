#include "tools/hostsim/ModemFrame.h"

namespace paxelle::hostsim {

char FrameCheckCharacter(std::string_view frame) {
  unsigned check = 0;
  for (std::size_t i = 1; i < frame.size(); ++i) check ^= static_cast<unsigned char>(frame[i]);
  return static_cast<char>(check);
}

std::string HostFrame(std::string_view text) {
  std::string frame(1, kModemStx);
  frame.append(text);
  frame.push_back(kModemEtx);
  frame.push_back(FrameCheckCharacter(frame));
  return frame;
}

}  // namespace paxelle::hostsim
