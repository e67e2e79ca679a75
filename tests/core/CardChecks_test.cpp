// Card brand by prefix and length, and the mod-10 check digit.
#include "core/CardChecks.h"

#include <gtest/gtest.h>

namespace paxelle {
namespace {

TEST(DetectCardTypeTest, BrandsByPrefixAndLength) {
  struct Case {
    const char* account;
    const char* brand;
  } cases[] = {
      {"2221000000000009", "M/C"},   {"2720990000000000", "M/C"},   {"2721000000000000", "OTHER"},
      {"222100000000000", "OTHER"},  {"371449635398431", "AMEX"},   {"341111111111111", "AMEX"},
      {"351111111111111", "OTHER"},  {"36111111111111", "DCVR"},    {"3056930009020004", "DCVR"},
      {"3530111333300000", "DCVR"},  {"3590111333300000", "OTHER"}, {"3800000000000000", "DCVR"},
      {"4222222222222", "VISA"},     {"4111111111111111", "VISA"},  {"4111111111111111111", "VISA"},
      {"41111111111111", "OTHER"},   {"5454545454545454", "M/C"},   {"545454545454545", "OTHER"},
      {"6011000000000004", "DCVR"},  {"6500000000000002", "DCVR"},  {"6221260000000000", "DCVR"},
      {"6229260000000000", "OTHER"}, {"6240000000000000000", "DCVR"}, {"6282000000000000", "DCVR"},
      {"6011000000000", "OTHER"},    {"7111111111111111", "OTHER"}, {"", "OTHER"},
  };
  for (const auto& c : cases) EXPECT_EQ(DetectCardType(c.account), c.brand) << c.account;
}

TEST(LuhnValidTest, CheckDigit) {
  EXPECT_TRUE(LuhnValid("4111111111111111"));
  EXPECT_TRUE(LuhnValid("371449635398431"));
  EXPECT_TRUE(LuhnValid("0"));
  EXPECT_FALSE(LuhnValid("5454545454545455"));
  EXPECT_FALSE(LuhnValid(""));
  EXPECT_FALSE(LuhnValid("4111 1111 1111 1111"));
}

}  // namespace
}  // namespace paxelle
