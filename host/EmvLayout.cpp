// The EMV chip credit layout and its fixed-width chip data block.
#include "common/TextHelpers.h"
#include "host/HostLayouts.h"
#include "host/HostRequestBuilder.h"

#include <array>
#include <map>

namespace paxelle::hostlayout {
namespace {

enum class SlotKind { Numeric, Text, Track2, Blanks };

struct EmvSlot {
  const char* tag;
  SlotKind kind;
  std::size_t width;
};

// The order and widths the host reads the block by.
constexpr std::array<EmvSlot, 34> kEmvSlots{{
    {"5F34", SlotKind::Numeric, 2},  {"", SlotKind::Track2, 38},     {"9F03", SlotKind::Numeric, 12},
    {"84", SlotKind::Text, 32},      {"9F09", SlotKind::Text, 4},     {"9F34", SlotKind::Text, 6},
    {"9F1E", SlotKind::Text, 16},    {"9F33", SlotKind::Text, 6},     {"9F35", SlotKind::Numeric, 2},
    {"9F41", SlotKind::Numeric, 8},  {"9F26", SlotKind::Text, 16},    {"82", SlotKind::Text, 4},
    {"9F36", SlotKind::Numeric, 4},  {"9F27", SlotKind::Text, 2},     {"9F10", SlotKind::Text, 64},
    {"9F02", SlotKind::Numeric, 12}, {"9F1A", SlotKind::Numeric, 3},  {"95", SlotKind::Text, 10},
    {"5F2A", SlotKind::Numeric, 3},  {"9A", SlotKind::Numeric, 6},    {"9F3C", SlotKind::Numeric, 3},
    {"9C", SlotKind::Numeric, 2},    {"9F37", SlotKind::Numeric, 8},  {"9F07", SlotKind::Text, 3},
    {"8A", SlotKind::Text, 3},       {"9F06", SlotKind::Text, 32},    {"91", SlotKind::Text, 32},
    {"9F5B", SlotKind::Text, 10},    {"", SlotKind::Blanks, 74},      {"9F6E", SlotKind::Text, 8},
    {"9F7C", SlotKind::Text, 20},    {"9F53", SlotKind::Text, 1},     {"5F24", SlotKind::Numeric, 6},
    {"", SlotKind::Blanks, 94},
}};

// Zeros in front up to the width, then the rightmost `width` characters.
std::string NumericSlot(std::string_view value, std::size_t width) {
  std::string text(value);
  if (text.size() < width) text.insert(0, width - text.size(), '0');
  return text.substr(text.size() - width);
}

std::map<std::string, std::string, std::less<>> ReadEmvTags(std::string_view emvData) {
  std::map<std::string, std::string, std::less<>> tags;
  std::size_t start = 0;
  while (start <= emvData.size()) {
    const auto bar = emvData.find('|', start);
    const std::string_view pair =
        emvData.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start);
    const auto colon = pair.find(':');
    if (colon != std::string_view::npos) {
      tags[std::string(pair.substr(0, colon))] = std::string(pair.substr(colon + 1));
    }
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  return tags;
}

}  // namespace

std::string EmvDataBlock(const CRequest& record) {
  if (record.EMVData.empty()) return {};
  const auto tags = ReadEmvTags(record.EMVData);
  std::string block;
  for (const EmvSlot& slot : kEmvSlots) {
    const auto found = tags.find(std::string_view(slot.tag));
    const std::string_view value = found == tags.end() ? std::string_view() : found->second;
    switch (slot.kind) {
      case SlotKind::Numeric: {
        const std::string_view tag = slot.tag;
        if (tag == "5F34" && found == tags.end()) {
          block += SpaceFill("", slot.width);
          break;
        }
        std::string filled = NumericSlot(value, slot.width);
        if (tag == "9F03" && filled == "000000000000" && HasCashBack(record)) {
          filled = ZeroFill(record.CashBack, slot.width);
        }
        block += filled;
        break;
      }
      case SlotKind::Text:
        block += SpaceFill(value, slot.width);
        break;
      case SlotKind::Track2:
        block += SpaceFill(record.Track2, slot.width);
        break;
      case SlotKind::Blanks:
        block += std::string(slot.width, ' ');
        break;
    }
  }
  return block;
}

void BuildEmvLayout(CRequest& record, const HostMessageSources& sources) {
  HeadCodes codes;
  codes.cardCode = CardCode(record);
  bool force = false;
  bool addressAllowed = false;
  switch (record.TranCodeId) {
    case kEmvSale:
      codes.tranCode = "01";
      addressAllowed = true;
      break;
    case kEmvZeroAuth:
      codes.tranCode = "02";
      addressAllowed = true;
      break;
    case kEmvReturn:
      codes.tranCode = "04";
      break;
    case kEmvVoiceAuth:
      codes.tranCode = "03";
      force = true;
      break;
    default:  // EMVVoidSale, EMVVoidReturn, EMVChipOverrideSale
      TranslateVoid(record, codes);
      break;
  }
  if (force) codes.messageClass = '4';

  const std::string& source = record.EMVEntrySource;
  const bool contactless = record.Contactless;
  if (source == "ChipRead") {
    codes.entryMode = contactless ? "7" : "4";
  } else if (source == "ChipFallBackMag") {
    codes.entryMode = contactless ? "3" : "5";
  } else if (source == "MagStripe") {
    codes.entryMode = contactless ? "3" : "2";
  } else {
    codes.entryMode = "0";
  }

  std::string message = TransactionHead(record, codes, sources) + AccountField(record);
  record.HostTranCode = codes.tranCode;

  const std::string f1 = codes.isVoid ? FirstPipePiece(record.AcqRefData) : std::string();
  const std::string f2 = codes.isVoid || force ? record.AuthCode : std::string();
  std::string f5 = addressAllowed && (record.HasZip || record.HasCVV) ? AddressBlock(record)
                                                                      : std::string();
  if (!record.PINBlock.empty()) f5 += "D";
  const std::string f12 = record.PINBlock.empty() ? std::string() : PinData(record);
  AppendFields(message, {f1, f2, CashBackField(record), "", f5, "", PartialAuthFlag(record),
                         record.InvoiceNo, "", "9", EmvDataBlock(record), f12});
  message += kFs;
  record.HostRequest = std::move(message);
  record.HostMsgKind = force ? HostMessageKind::kForce : HostMessageKind::kCredit;
}

}  // namespace paxelle::hostlayout
