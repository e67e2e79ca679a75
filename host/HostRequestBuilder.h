// Turns a transaction record into the request message for the authorization
// host, and builds the completion message that follows some exchanges.
#pragma once

#include "common/ControlCharacters.h"
#include "core/Request.h"
#include "host/HostMessageSources.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace paxelle {

// The refusal of a message whose STAN or item number could not be saved.
inline constexpr char kNumbersNotSavedText[] = "Sequence number could not be saved - transaction not sent.";
// The refusal of a message that would have opened a batch the batch file could not take.
inline constexpr char kBatchNotSavedText[] = "Batch number could not be saved - transaction not sent.";
// The refusal of an id the credit layout has no host transaction code for.
inline constexpr char kNoCreditCodeText[] = "Transaction code has no credit host message - transaction not sent.";
// The codes of those refusals in HostMessageSources::refusal.
enum HostRequestRefusal : int { kRefusedNumbersNotSaved = 1, kRefusedBatchNotSaved = 2 };

// Builds the layout chosen by TranCodeId into HostRequest and sets ItemSeqNo,
// HostTranCode, HostMsgKind and ForceCompletion as the layout asks. Takes the
// numbers it carries from `sources`. False, HostRequest left as it was, for an
// id without a layout, or one its layout refuses (HostErrorText then says why);
// the check ids succeed untouched. When a number the
// message carries could not be saved, HostErrorText is kNumbersNotSavedText
// (kBatchNotSavedText for the batch), the refusal goes to sources.refusal, and
// the message must not be sent: a restart would send that number again.
bool BuildHostRequest(CRequest& record, const HostMessageSources& sources);

// The completion for a record whose request was sent: `replyReceived` tells
// whether the host answered it. Takes no sequence numbers; reads the batch
// number without opening a batch.
std::string BuildCompletionRequest(const CRequest& sent, bool replyReceived,
                                   const HostMessageSources& sources);

// The two-digit lane number the record's host messages carry (1-99): the last two
// characters of its LaneTag read as a number, 1 when that is outside 1-99. The host
// tells the lanes of a merchant and terminal apart by it.
int HostLaneNumber(const CRequest& record);

// The rightmost `width` characters of `value` behind `width` zeros; a value
// that reads as the integer 0 (empty, non-numeric, zero) counts as "0".
std::string ZeroFill(std::string_view value, std::size_t width);
// The leftmost `width` characters of `value` followed by blanks.
std::string SpaceFill(std::string_view value, std::size_t width);

}  // namespace paxelle
