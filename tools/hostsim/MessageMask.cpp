#include "tools/hostsim/MessageMask.h"

#include "tools/hostsim/SimText.h"

#include <cstdio>
#include <vector>

namespace paxelle::hostsim {
namespace {

constexpr char kMask = 'X';
constexpr std::size_t kCvvSlotPos = 30;
constexpr std::size_t kCvvSlotLength = 4;
constexpr std::size_t kEmvTrackSlotPos = 2;
constexpr std::size_t kEmvTrackSlotLength = 38;
// The card's expiry date (tag 5F24) in the EMV data block.
constexpr std::size_t kEmvExpirySlotPos = 446;
constexpr std::size_t kEmvExpirySlotLength = 6;

bool IsDigitChar(char c) { return c >= '0' && c <= '9'; }

// Masks text[pos, pos + length) in place (the part that exists), blanks left as they are.
void MaskRange(std::string& text, std::size_t pos, std::size_t length) {
  for (std::size_t i = pos; i < text.size() && i - pos < length; ++i) {
    if (text[i] != ' ') text[i] = kMask;
  }
}

std::string MaskUnknown(std::string_view message) {
  std::string masked(message);
  std::size_t i = 0;
  while (i < masked.size()) {
    if (!IsDigitChar(masked[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < masked.size() && IsDigitChar(masked[end])) ++end;
    const bool afterEquals = i > 0 && masked[i - 1] == '=';
    const std::size_t run = end - i;
    if (afterEquals) {
      MaskRange(masked, i, run);
    } else if (run >= 12) {
      MaskRange(masked, i, run - 4);
    }
    i = end;
  }
  return masked;
}

std::string MaskRequest(const SimMessage& read, std::string_view message) {
  std::vector<std::string> pieces;
  for (const std::string_view piece : SplitAtFs(message)) pieces.emplace_back(piece);
  std::string& head = pieces[0];
  if (read.accountPos < head.size()) {
    head = head.substr(0, read.accountPos) + MaskAccountField(std::string_view(head).substr(read.accountPos));
  }
  if (pieces.size() > 5 && pieces[5].starts_with('A')) MaskRange(pieces[5], kCvvSlotPos, kCvvSlotLength);
  if (pieces.size() > 11 && pieces[11].size() > kEmvTrackSlotPos) {
    std::string& block = pieces[11];
    const std::string slot = block.substr(kEmvTrackSlotPos, kEmvTrackSlotLength);
    block.replace(kEmvTrackSlotPos, slot.size(), MaskAccountField(slot));
    MaskRange(block, kEmvExpirySlotPos, kEmvExpirySlotLength);
  }
  if (pieces.size() > 12) pieces[12].assign(pieces[12].size(), kMask);
  return JoinWithFs(pieces);
}

std::string MaskCompletion(std::string_view message) {
  std::vector<std::string> pieces;
  for (const std::string_view piece : SplitAtFs(message)) pieces.emplace_back(piece);
  if (pieces.size() > 1) pieces[1] = MaskAccountField(pieces[1]);
  return JoinWithFs(pieces);
}

}  // namespace

std::string MaskAccountField(std::string_view field) {
  std::string masked(field);
  const std::size_t used = masked.find_last_not_of(' ') + 1;  // npos + 1 == 0 for all blanks
  const std::size_t equals = masked.find('=');
  const std::size_t accountEnd = equals == std::string::npos || equals > used ? used : equals;
  const std::size_t keepFrom = accountEnd >= 4 ? accountEnd - 4 : 0;
  for (std::size_t i = 0; i < used; ++i) {
    if (masked[i] == '=' || (i >= keepFrom && i < accountEnd)) continue;
    masked[i] = kMask;
  }
  return masked;
}

std::string MaskMessage(const SimMessage& read, std::string_view message) {
  switch (read.kind) {
    case MessageKind::kRequest: return MaskRequest(read, message);
    case MessageKind::kCompletion: return MaskCompletion(message);
    case MessageKind::kBatchInquiry:
    case MessageKind::kBatchClose: return std::string(message);
    case MessageKind::kUnknown: break;
  }
  return MaskUnknown(message);
}

std::string PrintableText(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == kFs) {
      printable += "<FS>";
    } else if (byte < 0x20 || byte > 0x7E) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02X>", byte);
      printable += hex;
    } else {
      printable += c;
    }
  }
  return printable;
}

}  // namespace paxelle::hostsim
