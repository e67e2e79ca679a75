// Feeds arbitrary decrypted payloads to the request parser. The first byte picks
// the merchant setting and whether a card-reader block decrypts to the rest of
// the input, so every family and the reader path are reachable.
#include "core/ServerContext.h"
#include "core/Request.h"
#include "core/RequestCrypto.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace paxelle;

class EchoReaderCrypto : public IRequestCrypto {
 public:
  std::string clear;
  bool DecryptWithSessionKey(const std::string&, const std::string&, std::string&) override { return false; }
  bool EncryptWithSessionKey(const std::string&, const std::string&, std::string&) override { return false; }
  Status DecryptCardData(const std::string&, const std::string& block, const std::string&,
                         std::string& clearText) override {
    clearText = clear;
    return block.size() % 7 == 0 ? Status::Failure("", 100254) : Status::Ok();
  }
};

EchoReaderCrypto readerCrypto;
CServerContext* serverContext = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/paxelle-fuzz-XXXXXX";
  const char* directory = mkdtemp(pattern);
  if (directory == nullptr) std::abort();
  static CServerContext context(directory);
  serverContext = &context;
  context.params.SetPath(std::string(directory) + "/params");
  CMerchantParams params;
  params.SetValue(kParamMerchantCategory, "5");
  params.SetValue(kParamEmvSupport, "1");
  if (!context.params.Save(params)) std::abort();
  context.requestCrypto = &readerCrypto;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  readerCrypto.clear = input.substr(input.size() / 2);
  CRequest record;
  record.SkipTerminalCheck = (data[0] & 1) != 0;
  record.Disposition = kDispositionProcess;
  record.RawRequest = input;
  record.ParseFields(*serverContext);
  if (record.TranCodeId == kTranNone && record.ReturnCode == 1000) std::abort();
  CRequest copy = record;
  (void)copy;
  return 0;
}
