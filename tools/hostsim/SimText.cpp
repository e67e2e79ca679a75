#include "tools/hostsim/SimText.h"

#include <algorithm>

namespace paxelle::hostsim {

std::string ZeroFill(std::uint64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() >= width) return digits.substr(digits.size() - width);
  return std::string(width - digits.size(), '0') + digits;
}

std::string SpaceFill(std::string_view value, std::size_t width) {
  std::string filled(value.substr(0, std::min(width, value.size())));
  filled.resize(width, ' ');
  return filled;
}

std::string_view Slice(std::string_view text, std::size_t pos, std::size_t length) {
  if (pos >= text.size()) return {};
  return text.substr(pos, length);
}

std::vector<std::string_view> SplitAtFs(std::string_view text) {
  std::vector<std::string_view> pieces;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(kFs, start);
    if (end == std::string_view::npos) {
      pieces.push_back(text.substr(start));
      return pieces;
    }
    pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::string JoinWithFs(const std::vector<std::string>& pieces) {
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined += kFs;
    joined += pieces[i];
  }
  return joined;
}

bool IsNumber(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace paxelle::hostsim
