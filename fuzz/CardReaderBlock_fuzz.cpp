// Feeds arbitrary encrypted card-reader blocks and key serial numbers to the
// DUKPT decryption of every reader family; the first byte picks the family and
// where the input splits into serial number and block.
#include "client/CardDataDecryptor.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const char* const kFormats[] = {"UniMagIIOpx", "UniMagSecureMagOpx", "InfiniteOpx", "Unknown"};
  const std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t split = std::min<std::size_t>(data[0] >> 2, input.size());
  std::string clear;
  const paxelle::Status result =
      paxelle::DecryptReaderBlock(kFormats[data[0] % 4], input.substr(split), input.substr(0, split), clear, nullptr);
  if (!result.ok() && !clear.empty()) std::abort();
  return 0;
}
