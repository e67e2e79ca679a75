// Feeds arbitrary EMVData text (and a track and cash back from the first
// bytes) to the reader of "tag:value" pairs and the fixed-width block builder:
// the block is always its fixed width when there is chip data at all.
#include "core/Request.h"
#include "host/HostLayouts.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
constexpr std::size_t kEmvBlockWidth = 546;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace paxelle;
  if (size < 2) return 0;
  const std::string input(reinterpret_cast<const char*>(data) + 2, size - 2);
  CRequest record;
  const std::size_t split = std::min<std::size_t>(data[0] % 48, input.size());
  record.Track2 = input.substr(0, split);
  record.EMVData = input.substr(split);
  record.CashBack = std::to_string(data[1]);
  const std::string block = hostlayout::EmvDataBlock(record);
  if (record.EMVData.empty() ? !block.empty() : block.size() != kEmvBlockWidth) std::abort();
  return 0;
}
