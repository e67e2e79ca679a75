// The completion message that follows the exchange of a sent request.
#include "common/TextHelpers.h"
#include "host/HostLayouts.h"
#include "host/HostRequestBuilder.h"

namespace paxelle {

std::string BuildCompletionRequest(const CRequest& sent, bool replyReceived,
                                   const HostMessageSources& sources) {
  using namespace hostlayout;
  bool changed = false;
  std::string batchNo;  // its failures logged by the batch state; the completion still goes out
  static_cast<void>(sources.batch.GetBatchNo(true, false, changed, batchNo));

  std::string message(FirstChars(sent.HostRequest, 43));
  message += "6";
  message += OrderChannel(sources.params);
  message += TerminalCapability(sources.params, sent.TranCodeId);
  message += "N0000";
  message += SpaceFill(batchNo, 9);
  message += sent.ItemSeqNo;
  message += SpaceFill(replyReceived ? "COMPLETED" : "REPLY NOT RECVD", 16);
  AppendFields(message, {AccountField(sent), FirstPipePiece(sent.HostAcqRefData)});
  while (!message.empty() && message.back() == kFs) message.pop_back();
  return message;
}

}  // namespace paxelle
