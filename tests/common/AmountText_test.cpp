#include "common/AmountText.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace paxelle {
namespace {

struct ValidityCase {
  const char* text;
  bool valid;
};

TEST(AmountTextTest, IsValidAmountChecksShapeLengthAndSign) {
  const ValidityCase cases[] = {
      {"1.00", true},       {"123456.78", true},  {".00", true},        {"-1234.56", true},
      {"1.0", false},       {"12345678.90", false}, {"1.2.3", false},   {"-12345.67", false},
      {"1a.00", false},     {"12.3x", false},     {"A.00", false},      {"", false},
      {"12", false},        {"100", false},       {"1,00", false},      {"+1.00", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidAmount(c.text), c.valid) << c.text;
}

TEST(AmountTextTest, IsValidUnsignedAmountRefusesEverySign) {
  const ValidityCase cases[] = {
      {"10.00", true}, {"-10.00", false}, {"10.-0", false}, {"-1.00", false}, {"1.0", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidUnsignedAmount(c.text), c.valid) << c.text;
}

TEST(AmountTextTest, IsValidAmount3WantsThreeDecimals) {
  const ValidityCase cases[] = {
      {"1.000", true}, {"12.345", true}, {"-1.000", true}, {"1.00", false},
      {"1234.567", false}, {"1.2.34", false}, {"1.00a", false}, {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidAmount3(c.text), c.valid) << c.text;
}

struct TextCase {
  const char* in;
  const char* out;
};

TEST(AmountTextTest, AmountToCentsTextDropsSeparatorsAndSigns) {
  const TextCase cases[] = {
      {"", "00"}, {"-1.50", "150"}, {"12.34", "1234"}, {"0.05", "005"}, {"+1.00", "100"},
  };
  for (const auto& c : cases) EXPECT_EQ(AmountToCentsText(c.in), c.out) << c.in;
}

TEST(AmountTextTest, AmountToMillsTextDropsSeparatorsAndSigns) {
  const TextCase cases[] = {{"", "000"}, {"1.234", "1234"}, {"-0.005", "0005"}};
  for (const auto& c : cases) EXPECT_EQ(AmountToMillsText(c.in), c.out) << c.in;
}

TEST(AmountTextTest, AmountTextToCentsReadsSignAndDecimals) {
  const struct {
    const char* in;
    std::int64_t cents;
  } cases[] = {
      {"C12.3", -1230}, {"7", 7},     {"12.34", 1234}, {"-1.5", -150}, {"1.234", 123},
      {" 1.00 ", 100},  {"", 0},      {"+2.00", 200},  {"0.05", 5},    {"12.", 1200},
  };
  for (const auto& c : cases) EXPECT_EQ(AmountTextToCents(c.in), c.cents) << c.in;
}

TEST(AmountTextTest, CentsToAmountTextInsertsTheDecimalPoint) {
  const TextCase cases[] = {
      {"-5", "-0.05"}, {"5", "0.05"}, {"1234", "12.34"}, {"C5", "-0.05"},
      {"", "0.00"},    {"100", "1.00"}, {" 12 ", "0.12"}, {"+7", "0.07"},
  };
  for (const auto& c : cases) EXPECT_EQ(CentsToAmountText(c.in), c.out) << c.in;
}

TEST(AmountTextTest, FormatCentsRoundTripsThroughAmountText) {
  EXPECT_EQ(FormatCents(0), "0.00");
  EXPECT_EQ(FormatCents(5), "0.05");
  EXPECT_EQ(FormatCents(-1234), "-12.34");
  for (std::int64_t cents : {0, 1, 99, 100, 123456, -5, -99999}) {
    EXPECT_EQ(AmountTextToCents(FormatCents(cents)), cents) << cents;
  }
}

}  // namespace
}  // namespace paxelle
