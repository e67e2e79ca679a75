// Feeds arbitrary host answers to the answer parser for every message kind;
// the first byte picks the kind and the transaction. Whatever the host sends,
// the record ends with a response for the lane.
#include "core/Request.h"
#include "core/ServerContext.h"
#include "core/TranCodes.h"
#include "host/BatchState.h"
#include "host/HostResponseParser.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

namespace {

std::unique_ptr<paxelle::CServerContext> context;
std::unique_ptr<paxelle::CBatchState> batch;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/paxelle-fuzz-host-XXXXXX";
  const char* directory = mkdtemp(pattern);
  if (directory == nullptr) std::abort();
  // No log folder is made: the response log lines are dropped, not written.
  context = std::make_unique<paxelle::CServerContext>(directory);
  batch = std::make_unique<paxelle::CBatchState>(directory, context->log);
  bool changed = false;
  std::string errors;
  batch->GetBatchNo(false, false, changed, errors);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace paxelle;
  if (size == 0) return 0;
  static const int kTranCodes[] = {kCreditSale, kBatchClose, kEmvSale, kDebitSale, kEbtFoodSale, kCreditVoiceAuth};
  CRequest record;
  record.StreamType = (data[0] & 0x40) != 0 ? "Admin" : "Transaction";
  record.Disposition = (data[0] & 0x80) != 0 ? kDispositionBatchClose : kDispositionProcess;
  record.TranCodeId = kTranCodes[(data[0] >> 3) % std::size(kTranCodes)];
  record.TranCode = TranCodeWord(record.TranCodeId);
  record.HostMsgKind = static_cast<HostMessageKind>(data[0] % 8);
  record.HostTranCode = "01";
  record.ItemSeqNo = "0001";
  record.Authorize = "1250";
  record.HostResponse.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  ParseHostResponse(record, *batch, *context);
  if (record.WireResponse.empty()) std::abort();
  return 0;
}
