// Feeds arbitrary persisted parameter lines to the loader: a line it takes
// must serialize to a line that loads to the same set.
#include "config/MerchantParams.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace paxelle;
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  (void)SplitParamLine(line);
  CMerchantParams params;
  if (!params.Deserialize(line)) return 0;
  CMerchantParams again;
  if (!again.Deserialize(params.Serialize()) || !(again == params)) std::abort();
  return 0;
}
