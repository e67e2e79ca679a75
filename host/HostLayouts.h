// Pieces the host request layouts share: code tables, the common head and the
// variable field blocks. Internal to the host library.
#pragma once

#include "core/Request.h"
#include "host/HostMessageSources.h"

#include <initializer_list>
#include <string>
#include <string_view>

namespace paxelle::hostlayout {

// Positions 0 to 31 of every message: prefix, link, merchant and terminal.
std::string HeadPrefix(const CMerchantParams& params);
// Code tables of the head: position 44, position 45, positions 40-41.
std::string OrderChannel(const CMerchantParams& params);
std::string TerminalCapability(const CMerchantParams& params, int tranCodeId);
std::string CardCode(const CRequest& record);
// Entry mode of the credit, healthcare, voice and EBT layouts.
std::string SwipeEntryMode(const CRequest& record);
// Track2 when swiped, else AcctNo "=" YYMM.
std::string AccountField(const CRequest& record);
// AcctNo "=" YYMM whether or not the card was swiped.
std::string KeyedAccountField(const CRequest& record);
// "%02d" of HostLaneNumber.
std::string LaneNumber(const CRequest& record);

bool HasCashBack(const CRequest& record);
// ZeroFill(CashBack, 8) when there is cash back, else empty.
std::string CashBackField(const CRequest& record);
// "1" when the lane accepts a partial approval, else "0".
std::string PartialAuthFlag(const CRequest& record);
// The text before the first "|" of `text`.
std::string FirstPipePiece(std::string_view text);

// "A", address, Zip and CVV; a 5-character Zip is extended in the record.
std::string AddressBlock(CRequest& record);
// DervdKey (extended in the record with "F" to 20 characters) and PINBlock.
std::string PinData(CRequest& record);
// The fixed-width chip data block; empty when the record has no EMVData.
std::string EmvDataBlock(const CRequest& record);

// The codes a layout puts into the common head.
struct HeadCodes {
  std::string tranCode;       // positions 38-39
  std::string cardCode;       // 40-41
  std::string entryMode;      // 42
  char messageClass = '3';    // 43: "4" for a force
  bool isVoid = false;        // item, date and time come from the voided transaction
};

// Turns a void's codes into the host's: the transaction code comes from the
// voided transaction's code in AcqRefData; a voided capture goes out as a
// return, no longer a void, with ForceCompletion set.
void TranslateVoid(CRequest& record, HeadCodes& codes);

// The next STAN and, with `item`, item number (reset first when `resetItems`),
// into sources.claim or, without one, saved here; zeros when a number cannot be
// had (read or, here, saved), with the failure's texts (logged where they arose).
Status TakeMessageNumbers(const HostMessageSources& sources, int& stan, int* item, bool resetItems);

// Positions 0 to 83: takes the batch number (opening a batch when needed),
// a STAN and an item number, sets ItemSeqNo.
std::string TransactionHead(CRequest& record, const HeadCodes& codes,
                            const HostMessageSources& sources);

// Appends each field preceded by a field separator.
void AppendFields(std::string& message, std::initializer_list<std::string_view> fields);

// Each layout fills HostRequest and the message fields of the record for
// the ids BuildHostRequest hands it. The credit layout refuses (false, HostErrorText
// kNoCreditCodeText, no number taken) an id that is neither a void nor has a host
// transaction code in its row; the others cannot fail.
bool BuildCreditLayout(CRequest& record, const HostMessageSources& sources);
void BuildFsaLayout(CRequest& record, const HostMessageSources& sources);
void BuildVoiceAuthLayout(CRequest& record, const HostMessageSources& sources);
void BuildDebitLayout(CRequest& record, const HostMessageSources& sources);
void BuildEbtLayout(CRequest& record, const HostMessageSources& sources);
void BuildEmvLayout(CRequest& record, const HostMessageSources& sources);
void BuildBatchLayout(CRequest& record, const HostMessageSources& sources);

}  // namespace paxelle::hostlayout
