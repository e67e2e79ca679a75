#include "tools/lane/LaneEnvelope.h"

#include "tools/lane/LaneHex.h"

namespace paxelle::lane {

namespace {

constexpr std::string_view kDocumentStart = "<?xml";

}  // namespace

Status SealRequest(LaneCrypto& crypto, LaneServerKey& serverKey, std::string_view payload,
                   std::string_view userTrace, char type, SealedRequest& sealed) {
  if (type != kTypeEncrypted && type != kTypeEncryptedAlternate) {
    return Status::Failure(std::string("an encrypted request has type \"2\" or \"M\", not \"") + type + "\"");
  }
  if (payload.empty()) return Status::Failure("request payload is empty");
  if (!IsValidUserTrace(userTrace)) return Status::Failure("user trace text must not contain FS, STX or ETX");
  SealedRequest made;
  std::string blob;
  std::string ciphertext;
  if (!crypto.Random(kSessionKeyBytes, made.sessionKey) || !crypto.Rc4(made.sessionKey, payload, ciphertext)) {
    return Status::Failure(crypto.LastError());
  }
  if (!serverKey.WrapSessionKey(crypto, made.sessionKey, blob)) return Status::Failure(serverKey.LastError());
  made.frame = BuildRequestFrame(userTrace, type, BytesToHex(blob), BytesToHex(ciphertext));
  if (made.frame.size() - 1 > kMaxRequestFrameBytes) {
    return Status::Failure("request frame of " + std::to_string(made.frame.size() - 1) +
                           " bytes exceeds the server's limit of " + std::to_string(kMaxRequestFrameBytes));
  }
  sealed = std::move(made);
  return Status::Ok();
}

bool DecryptResponse(LaneCrypto& crypto, std::string_view sessionKey, std::string_view cipherHex,
                     std::string& document, std::string& error) {
  std::string ciphertext;
  if (!HexToBytes(cipherHex, ciphertext)) {
    error = "encrypted response is not upper-case hexadecimal";
    return false;
  }
  if (!crypto.Rc4(sessionKey, ciphertext, document)) {
    error = crypto.LastError();
    return false;
  }
  return true;
}

void SessionKeyRing::Add(std::string sessionKey) {
  keys_.push_back(std::move(sessionKey));
  while (keys_.size() > capacity_) keys_.pop_front();
}

bool SessionKeyRing::Open(LaneCrypto& crypto, std::string_view cipherHex, std::string& document,
                          std::string& error) {
  std::string ciphertext;
  if (!HexToBytes(cipherHex, ciphertext)) {
    error = "encrypted response is not upper-case hexadecimal";
    return false;
  }
  if (ciphertext.size() < kDocumentStart.size()) {
    error = "encrypted response is too short to be a document";
    return false;
  }
  const std::string_view head = std::string_view(ciphertext).substr(0, kDocumentStart.size());
  for (auto key = keys_.begin(); key != keys_.end(); ++key) {
    std::string clearHead;
    if (!crypto.Rc4(*key, head, clearHead)) {
      error = crypto.LastError();
      return false;
    }
    if (clearHead != kDocumentStart) continue;
    if (!crypto.Rc4(*key, ciphertext, document)) {
      error = crypto.LastError();
      return false;
    }
    keys_.erase(key);
    return true;
  }
  error = keys_.empty() ? "encrypted response arrived with no request outstanding"
                        : "no outstanding session key opens the encrypted response";
  return false;
}

bool OpenServerFrame(LaneCrypto& crypto, SessionKeyRing& keys, const ServerFrame& frame, std::string& document,
                     std::string& error) {
  if (frame.type == kTypeClear) {
    document = frame.payload;
    return true;
  }
  if (frame.type == kTypeEncrypted) return keys.Open(crypto, frame.payload, document, error);
  error = std::string("server frame has unknown type \"") + frame.type + "\"";
  return false;
}

}  // namespace paxelle::lane
