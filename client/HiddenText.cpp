#include "client/HiddenText.h"

#include <algorithm>

namespace paxelle {

void AssembleHiddenText(std::string_view stored, std::span<const unsigned char> keepMask,
                        std::string& out) {
  const std::size_t positions = std::min(stored.size(), keepMask.size());
  out.clear();
  out.reserve(positions);
  for (std::size_t i = 0; i < positions; ++i) {
    if (keepMask[i] != 1) out += stored[i];
  }
}

}  // namespace paxelle
