#include "common/CardDataMask.h"
#include "common/TextHelpers.h"

#include <algorithm>
#include <cctype>
#include <span>

namespace paxelle {
namespace {

constexpr auto npos = std::string_view::npos;
constexpr char kFieldEnd = 0x1c;  // FS ends a request field
constexpr std::size_t kVisibleTail = 4;
constexpr std::size_t kMinAccount = 13;
constexpr std::size_t kMaxAccount = 19;
// A track 1 is at most 79 characters; its masked tail never runs further.
constexpr std::size_t kMaxTrackTail = 79;

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

// Chip data tags whose values hold no cardholder data: amounts, the
// transaction's date, type and currency, terminal data, and the application's
// cryptograms, counters and results. Every other tag, including any a lane
// invents, may carry the account, a track or the name and is masked whole.
constexpr std::string_view kClearEmvTags[] = {
    "9F02", "9F03", "9A",   "9C",   "5F2A", "9F1A", "95",   "9F26", "9F27", "9F10", "9F36",
    "9F37", "82",   "84",   "9F06", "9F09", "9F33", "9F34", "9F35", "9F1E", "9F41", "5F34",
    "8A",   "91",   "9F5B", "9F6E", "9F7C", "9F53", "9F3C", "9F07",
};

bool IsClearEmvTag(std::string_view tag) {
  for (const std::string_view clear : kClearEmvTags) {
    if (tag.size() != clear.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < tag.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(tag[i])) == clear[i];
    }
    if (same) return true;
  }
  return false;
}

// A tag is a name of two to six hexadecimal digits; anything else in its
// place is lane text like any value.
bool LooksLikeTag(std::string_view tag) {
  if (tag.size() < 2 || tag.size() > 6) return false;
  for (const char c : tag) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Chip data as "tag:value" pairs separated by "|": the values of the tags known
// to hold no cardholder data stay, every other value is masked whole; a pair
// without ":" or with something other than a tag name before it is masked whole.
void MaskEmvData(std::span<char> value) {
  const std::string_view text(value.data(), value.size());
  std::size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find('|', start);
    if (end == npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    const std::span<char> pairSpan = value.subspan(start, pair.size());
    const auto colon = pair.find(':');
    if (colon == npos || !LooksLikeTag(pair.substr(0, colon))) {
      MaskWhole(pairSpan);
    } else if (!IsClearEmvTag(pair.substr(0, colon))) {
      MaskWhole(pairSpan.subspan(colon + 1));
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

// Where a tagged value starting at `start` ends: at FS or any other control
// character, at a control character already shown as text ("<FS>", "\x1D"),
// or where a logged request's brackets close; no card value holds any of them,
// and what follows them (" from ADDRESS") is no part of the value.
std::size_t ValueEnd(std::string_view text, std::size_t start) {
  for (std::size_t i = start; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F || text[i] == '<' || text[i] == ']' || text.substr(i, 2) == "\\x") return i;
  }
  return text.size();
}

void MaskTaggedValues(std::string& text) {
  for (const MaskRule& rule : kRules) {
    std::size_t position = 0;
    while ((position = text.find(rule.tag, position)) != std::string::npos) {
      const std::size_t start = position + rule.tag.size();
      const std::size_t end = ValueEnd(text, start);
      rule.mask(std::span<char>(text.data() + start, end - start));
      position = start;
    }
  }
}

// Request fields whose values hold no cardholder data; every field not listed
// here or in kRules is masked whole in a logged request.
constexpr std::string_view kClearFields[] = {
    "TStream", "MerchantID", "ClientID", "LaneID", "TranType", "TranCode", "OriginalTranCode",
    "InvoiceNo", "RefNo", "AuthCode", "AcqRefData", "VoucherNo", "SequenceNo", "RoutingNo", "StateCode",
    "Purchase", "Authorize", "CashBack", "Gratuity", "Tax", "FSAPrescription", "FSAVision", "FSADental",
    "FSAClinical", "CreditCount", "CreditPurchaseAmount", "CreditReturnAmount", "NetCreditAmount",
    "DebitCount", "DebitPurchaseAmount", "DebitReturnAmount", "NetDebitAmount", "EBTCount",
    "EBTPurchaseAmount", "EBTReturnAmount", "NetEBTAmount", "NetBatchTotal", "OperatorID", "Memo",
    "TerminalID", "TerminalName", "ShiftID", "PinPadSerialNo", "CustomerCode", "CardType", "AccountSource",
    "PartialAuth", "Duplicate", "EMVEntrySource", "EMVAppID", "EMVPANSeqNo", "EMVTSCounter",
    "VSPActivation", "AVSResult", "CVVResult", "DervdKey", "EncryptedFormat", "EncryptedBlock",
    "EncryptedKey",
};

bool IsClearField(std::string_view key) {
  return std::find(std::begin(kClearFields), std::end(kClearFields), key) != std::end(kClearFields);
}

void MaskRequestField(std::span<char> field) {
  const std::string_view text(field.data(), field.size());
  const auto equals = text.find('=');
  if (equals == npos) return;
  const std::string_view key = text.substr(0, equals);
  const std::span<char> value = field.subspan(equals + 1);
  for (const MaskRule& rule : kRules) {
    if (rule.tag.substr(0, rule.tag.size() - 1) == key) {
      rule.mask(value);
      return;
    }
  }
  if (!IsClearField(key)) MaskWhole(value);
}

// Masks in `text` the rest of a track behind an account number that ends
// before `at` in `original` (the same text before any bare account was masked).
void MaskTrackTail(std::string& text, std::string_view original, std::size_t at) {
  if (at >= original.size()) return;
  const char separator = original[at];
  std::size_t i = at + 1;
  if (separator == '=' || separator == 'D') {
    for (; i < original.size() && IsDigit(original[i]); ++i) text[i] = 'X';
  } else if (separator == '^') {
    const std::size_t limit = std::min(original.size(), i + kMaxTrackTail);
    for (; i < limit && original[i] != '?' && static_cast<unsigned char>(original[i]) >= 0x20; ++i) {
      if (original[i] != '^') text[i] = 'X';
    }
  }
}

// Runs are found in the text as it was, so a track tail masked over the start
// of a later account number cannot hide the rest of it.
void MaskBareAccounts(std::string& text) {
  const std::string original = text;
  std::size_t i = 0;
  while (i < original.size()) {
    if (!IsDigit(original[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < original.size() && IsDigit(original[end])) ++end;
    const std::size_t length = end - i;
    if (length >= kMinAccount && length <= kMaxAccount && LuhnValid(std::string_view(original).substr(i, length))) {
      MaskAllButLastFour(std::span<char>(text.data() + i, length));
      MaskTrackTail(text, original, end);
    }
    i = end;
  }
}

}  // namespace

std::string MaskCardData(std::string_view text) {
  std::string copy(text);
  MaskTaggedValues(copy);
  MaskBareAccounts(copy);
  return copy;
}

std::string MaskRequestFields(std::string_view payload) {
  std::string copy(payload);
  std::size_t start = 0;
  while (start < copy.size()) {
    std::size_t end = copy.find(kFieldEnd, start);
    if (end == std::string::npos) end = copy.size();
    MaskRequestField(std::span<char>(copy.data() + start, end - start));
    start = end + 1;
  }
  return MaskCardData(copy);
}

}  // namespace paxelle
