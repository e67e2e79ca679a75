// Framing of replies and the unwrapping of a received request frame.
#include "core/MessageFrame.h"

#include "core/Request.h"
#include "core/RequestCrypto.h"
#include "core/ServerContext.h"
#include "core/ReturnCodes.h"

namespace paxelle {
namespace {

constexpr auto npos = std::string::npos;

// The key block and decryption of an encrypted frame whose first STX is at
// `stx`. The key block has to lie wholly after the STX: the ciphertext is what
// follows the STX once the block is cut out, so a block elsewhere would shift
// the payload under the STX and could never be a frame a client sent.
void UnwrapEncrypted(CRequest& record, std::string::size_type stx, IRequestCrypto* crypto) {
  record.Disposition = kDispositionProcess;
  record.ClientKeyBlob.clear();

  std::string& raw = record.RawRequest;
  const auto dc1 = raw.find(kDc1);
  const auto dc2 = dc1 == npos ? npos : raw.find(kDc2, dc1 + 1);
  if (dc1 == npos || dc2 == npos || dc1 < stx) {
    record.Disposition = kDispositionError;
    record.ReturnCode = kRcDecryptFailed;
    return;
  }
  record.ClientKeyBlob = raw.substr(dc1 + 1, dc2 - dc1 - 1);
  raw.erase(dc1, dc2 - dc1 + 1);

  // stx < dc1, so the cut left the STX in place and raw.size() > stx.
  const std::string cipher = raw.substr(stx + 1);
  std::string clear;
  if (crypto == nullptr || !crypto->DecryptWithSessionKey(record.ClientKeyBlob, cipher, clear)) {
    record.Disposition = kDispositionError;
    record.ReturnCode = kRcDecryptFailed;
    return;
  }
  raw = std::move(clear);
}

}  // namespace

std::string FrameMessage(const std::string& payload, bool encrypted) {
  std::string frame;
  frame.reserve(payload.size() + 5);
  frame += kFs;
  frame += encrypted ? kFrameTypeEncrypted : kFrameTypeClear;
  frame += "00";
  frame += kStx;
  frame += payload;
  frame += kEtx;
  return frame;
}

void CRequest::UnwrapFrame(IRequestCrypto* crypto) {
  ReturnCode = kRcUnrecognizedFormat;
  const auto fs = RawRequest.find(kFs);
  if (fs == npos) {
    UserTraceData = RawRequest;
    return;
  }
  UserTraceData = RawRequest.substr(0, fs);
  const auto stx = RawRequest.find(kStx);
  if (stx == npos) {
    UserTraceData = RawRequest;
    return;
  }
  if (RawRequest.size() < fs + 3) return;

  switch (RawRequest[fs + 1]) {
    case '2':
    case 'M':
      UnwrapEncrypted(*this, stx, crypto);
      break;
    case 'A':
      Disposition = kDispositionAbort;
      break;
    case '0':
      Disposition = kDispositionError;
      ReturnCode = kRcClearText;
      break;
    case '1':
      Disposition = kDispositionError;
      ReturnCode = kRcOldClient;
      break;
    case 'E':
      Disposition = kDispositionError;
      ReturnCode = kRcWeakEncryption;
      break;
    default:
      Disposition = kDispositionError;
      break;
  }
}

void CRequest::Parse(const std::string& text, const CServerContext& context) {
  RawRequest = text;
  UnwrapFrame(context.requestCrypto);
  if (Disposition != kDispositionProcess) return;
  ParseFields(context);
  if (TranCodeId == kTranNone) Disposition = kDispositionError;
}

}  // namespace paxelle
