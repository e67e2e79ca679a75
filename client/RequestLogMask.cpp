#include "client/RequestLogMask.h"

#include "core/MessageFrame.h"

#include <cctype>
#include <span>

namespace paxelle {
namespace {

constexpr auto npos = std::string_view::npos;
constexpr std::size_t kVisibleTail = 4;

void MaskWhole(std::span<char> value) {
  for (char& c : value) c = 'X';
}

void MaskAllButLastFour(std::span<char> value) {
  if (value.size() <= kVisibleTail) return;
  MaskWhole(value.first(value.size() - kVisibleTail));
}

// The four characters before the separator identify the card to an operator;
// the separators show the layout; everything else is card data.
void MaskTrack2(std::span<char> value) {
  const std::string_view text(value.data(), value.size());
  const auto separator = text.find('=');
  if (separator == npos) {
    MaskAllButLastFour(value);
    return;
  }
  const std::size_t keepFrom = separator >= kVisibleTail ? separator - kVisibleTail : 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '=' || (i >= keepFrom && i < separator)) continue;
    value[i] = 'X';
  }
}

bool TagIs(std::string_view tag, std::string_view wanted) {
  if (tag.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < tag.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(tag[i])) != wanted[i]) return false;
  }
  return true;
}

// Chip data as "tag:value" pairs separated by "|": the account number (5A),
// the track 2 equivalent (57) and the expiry date (5F24) are card data.
void MaskEmvData(std::span<char> value) {
  const std::string_view text(value.data(), value.size());
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('|', start);
    if (end == npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    const auto colon = pair.find(':');
    if (colon != npos) {
      const std::string_view tag = pair.substr(0, colon);
      const std::span<char> tagValue = value.subspan(start + colon + 1, pair.size() - colon - 1);
      if (TagIs(tag, "5A") || TagIs(tag, "57")) {
        MaskAllButLastFour(tagValue);
      } else if (TagIs(tag, "5F24")) {
        MaskWhole(tagValue);
      }
    }
    start = end + 1;
  }
}

struct MaskRule {
  std::string_view tag;
  void (*mask)(std::span<char>);
};

constexpr MaskRule kRules[] = {
    {"Track2=", MaskTrack2},     {"AcctNo=", MaskAllButLastFour}, {"ExpDate=", MaskWhole},
    {"CVVData=", MaskWhole},     {"PINBlock=", MaskWhole},        {"EMVData=", MaskEmvData},
};

}  // namespace

std::string MaskLoggedRequest(std::string_view request) {
  std::string copy(request);
  for (const MaskRule& rule : kRules) {
    std::size_t position = 0;
    while ((position = copy.find(rule.tag, position)) != std::string::npos) {
      const std::size_t start = position + rule.tag.size();
      std::size_t end = copy.find(kFs, start);
      if (end == std::string::npos) end = copy.size();
      rule.mask(std::span<char>(copy.data() + start, end - start));
      position = start;
    }
  }
  return copy;
}

}  // namespace paxelle
