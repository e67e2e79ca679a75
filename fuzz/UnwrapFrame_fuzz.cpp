// Feeds arbitrary frames through the whole request chain (unwrap, decrypt,
// parse, answer) with a fixed server key. The first byte picks the shape:
//   0: the input is a raw frame as a lane would send it;
//   1: the input is a payload, sealed with a valid session key, so the parser
//      behind a successful decryption is reached;
//   2: a valid key block and ciphertext with the input spliced into the frame
//      around them (trace text, type character, key block position).
#include "client/MessageCrypto.h"
#include "core/ServerContext.h"
#include "core/MessageFrame.h"
#include "core/Request.h"
#include "core/RequestCrypto.h"
#include "tools/lane/LaneCrypto.h"
#include "tools/lane/LaneFrames.h"
#include "tools/lane/LaneHex.h"
#include "tools/lane/LaneServerKey.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using namespace paxelle;

struct FixedLane {
  lane::LaneCrypto crypto;
  std::string keyBlobHex;
  std::string sessionKey = std::string(16, '\x5a');
};

FixedLane* fixedLane = nullptr;

std::string Seal(const std::string& payload) {
  std::string cipher;
  if (!fixedLane->crypto.Rc4(fixedLane->sessionKey, payload, cipher)) std::abort();
  return lane::BytesToHex(cipher);
}

CServerContext* serverContext = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/paxelle-fuzz-frame-XXXXXX";
  const char* directory = mkdtemp(pattern);
  if (directory == nullptr) std::abort();
  const std::filesystem::path store = std::filesystem::path(directory) / "keys";
  std::filesystem::create_directories(store);
  std::filesystem::copy_file(PAXELLE_SOURCE_DIR "/tests/client/fixtures/TestExchangeKey.pem",
                             CMessageCrypto::KeyFilePath(store));
  // No log folder is made: the log drops what it is given.
  static CServerContext context(directory);
  serverContext = &context;
  context.params.SetPath(std::filesystem::path(directory) / "params");
  CMerchantParams params;
  params.SetValue(kParamMerchantId, "123456789012345");
  params.SetValue(kParamEmvSupport, "2");
  if (!context.params.Save(params)) std::abort();

  static CMessageCrypto crypto(context.log);
  if (!crypto.Startup(store)) std::abort();
  context.requestCrypto = &crypto;

  static FixedLane lane;
  fixedLane = &lane;
  const std::string publicKeyText = crypto.PublicKeyText();
  std::string blob;
  lane::LaneServerKey serverKey;
  if (!lane::HexToBytes(publicKeyText.substr(1, publicKeyText.size() - 2), blob) ||
      !serverKey.Import(lane.crypto, blob) ||
      !serverKey.WrapSessionKey(lane.crypto, lane.sessionKey, lane.keyBlobHex)) {
    std::abort();
  }
  lane.keyBlobHex = lane::BytesToHex(lane.keyBlobHex);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::string frame;
  switch (data[0] % 3) {
    case 0:
      frame = input;
      break;
    case 1:
      frame = lane::BuildRequestFrame("trace", '2', fixedLane->keyBlobHex, Seal(input));
      frame.pop_back();  // the session cuts the ETX off before parsing
      break;
    default: {
      const std::size_t cut = input.size() / 2;
      frame = input.substr(0, cut) + kFs + "2" + std::string(1, kDc1) + fixedLane->keyBlobHex + kDc2 +
              input.substr(cut) + kStx + Seal("TStream=Admin");
      break;
    }
  }
  CRequest record;
  record.Parse(frame, *serverContext);
  if (record.Disposition == kDispositionError) {
    record.BuildErrorResponse(*serverContext);
  } else if (record.Disposition == kDispositionProcess || record.Disposition == kDispositionBatchClose) {
    record.FinishResponse({}, *serverContext);
  }
  return 0;
}
