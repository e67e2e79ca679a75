// A fixture for the host message tests: number files in a temporary
// directory, a fixed clock (14 March 2025, 09:26:53 local time) and a
// merchant parameter set, handed to the builders as their sources.
#pragma once

#include "config/MerchantParams.h"
#include "host/HostMessageSources.h"
#include "tests/host/StateTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace paxelle::testing {

// Field separator, for writing expected messages as adjacent literals.
#define HOST_FS "\x1c"

// Positions 0-31 of every message built with the fixture's parameters.
inline constexpr char kHeadPrefix[] = "LG08A411" "123456789012345" "12345678" "7";

inline std::time_t FixedNow() {
  std::tm local{};
  local.tm_year = 2025 - 1900;
  local.tm_mon = 2;
  local.tm_mday = 14;
  local.tm_hour = 9;
  local.tm_min = 26;
  local.tm_sec = 53;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

// The pieces of a message cut at every field separator.
inline std::vector<std::string> Pieces(std::string_view message) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (auto at = message.find('\x1c'); at != std::string_view::npos; at = message.find('\x1c', start)) {
    pieces.emplace_back(message.substr(start, at - start));
    start = at + 1;
  }
  pieces.emplace_back(message.substr(start));
  return pieces;
}

class HostMessageTest : public ::testing::Test {
 protected:
  HostMessageTest() {
    params_.SetValue(kParamMerchantId, "123456789012345");
    params_.SetValue(kParamTerminalId, "12345678");
    params_.SetValue(kParamCheckDigit, "7");
  }

  HostMessageSources Sources() { return HostMessageSources{counters_, batch_, params_, clock_}; }

  void SetParam(int number, const std::string& value) {
    ASSERT_TRUE(params_.SetValue(number, value)) << number << "=" << value;
  }

  // A swiped Visa sale of 12.50 from lane "0107".
  static CRequest SwipedSale() {
    CRequest record;
    record.TranCodeId = kCreditSale;
    record.CardType = "VISA";
    record.Swiped = true;
    record.Track2 = "4000000000000002=2612101";
    record.AcctNo = "4000000000000002";
    record.ExpDate = "1226";
    record.Authorize = "1250";
    record.LaneTag = "0107";
    record.InvoiceNo = "INV1";
    return record;
  }

  static CRequest KeyedSale() {
    CRequest record = SwipedSale();
    record.Swiped = false;
    record.Track2.clear();
    return record;
  }

  TempDir dir_;
  WallClock clock_ = [] { return FixedNow(); };
  ScratchLog log_;
  CSequenceCounters counters_{dir_.Path(), log_.Log()};
  CBatchState batch_{dir_.Path(), log_.Log(), clock_};
  CMerchantParams params_;
};

}  // namespace paxelle::testing
