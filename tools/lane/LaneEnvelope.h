// The encryption envelope of the lane's requests and the server's responses:
// each request under a fresh RC4 session key wrapped for the server, each
// encrypted response opened with the key of the request it answers.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "common/Status.h"
#include "tools/lane/LaneCrypto.h"
#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneServerKey.h"

namespace paxelle::lane {

struct SealedRequest {
  std::string frame;       // ready to send, ETX included
  std::string sessionKey;  // the 16-byte RC4 key its response will come under
};

// Encrypts `payload` (the key/value request text, not empty) under a fresh
// random session key and frames it with `type` ("2" or "M") behind the clear
// `userTrace`. The frame must fit the server's 32767-byte message limit.
// A failure on any bad input or crypto failure.
Status SealRequest(LaneCrypto& crypto, LaneServerKey& serverKey, std::string_view payload,
                   std::string_view userTrace, char type, SealedRequest& sealed);

// Decrypts the hexadecimal `cipherHex` with `sessionKey`.
bool DecryptResponse(LaneCrypto& crypto, std::string_view sessionKey, std::string_view cipherHex,
                     std::string& document, std::string& error);

// The session keys of requests whose encrypted response may still come, oldest
// first. Responses need not come in request order (the host answers each
// request in its own time) and a request answered in clear (an error, a
// batch-close refusal) never uses its key, so a response is opened by trying
// the keys oldest first and taking the first that yields a document beginning
// "<?xml" (a wrong key does so with odds of 1 in 2^40); that key is then
// dropped. The ring keeps at most `capacity` keys, dropping the oldest.
class SessionKeyRing {
 public:
  explicit SessionKeyRing(std::size_t capacity = 256) : capacity_(capacity == 0 ? 1 : capacity) {}

  void Add(std::string sessionKey);
  // Opens `cipherHex` as described above. False with `error` set, and no key
  // dropped, when the text is not hexadecimal or no key opens it.
  bool Open(LaneCrypto& crypto, std::string_view cipherHex, std::string& document, std::string& error);
  std::size_t Size() const { return keys_.size(); }
  void Clear() { keys_.clear(); }

 private:
  std::size_t capacity_;
  std::deque<std::string> keys_;
};

// The clear document a server frame carries: the payload itself for a clear
// frame, the payload opened with `keys` for an encrypted one.
bool OpenServerFrame(LaneCrypto& crypto, SessionKeyRing& keys, const ServerFrame& frame, std::string& document,
                     std::string& error);

}  // namespace paxelle::lane
