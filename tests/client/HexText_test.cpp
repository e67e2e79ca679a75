#include "client/HexText.h"

#include <gtest/gtest.h>

#include <vector>

namespace paxelle {
namespace {

using Bytes = std::vector<unsigned char>;

TEST(BytesToHex, WritesTwoUpperCaseDigitsPerByteHighNibbleFirst) {
  EXPECT_EQ(BytesToHex(Bytes{0x00, 0xAB}), "00AB");
  EXPECT_EQ(BytesToHex(Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0xF0}), "0123456789ABCDEFF0");
  EXPECT_EQ(BytesToHex(Bytes{}), "");
  EXPECT_EQ(BytesToHex(std::string_view("\xFF\x10", 2)), "FF10");
}

TEST(HexPairToByte, CountsOnlyDigitsAndUpperCaseLettersEverythingElseIsZero) {
  struct Case {
    char high, low;
    unsigned char byte;
  } cases[] = {
      {'0', '0', 0x00}, {'F', 'F', 0xFF}, {'9', 'A', 0x9A}, {'a', 'b', 0x00},
      {'a', '5', 0x05}, {'5', 'f', 0x50}, {'G', '1', 0x01}, {' ', '\0', 0x00},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexPairToByte(c.high, c.low), c.byte) << c.high << c.low;
  }
}

TEST(HexToBytes, DecodesEachPairAndRefusesOddLengthsWithoutTouchingTheOutput) {
  Bytes bytes{0x42};
  EXPECT_FALSE(HexToBytes("0A1", bytes));
  EXPECT_EQ(bytes, Bytes{0x42});

  ASSERT_TRUE(HexToBytes("0a", bytes));
  EXPECT_EQ(bytes, Bytes{0x00});
  ASSERT_TRUE(HexToBytes("FF", bytes));
  EXPECT_EQ(bytes, Bytes{0xFF});
  ASSERT_TRUE(HexToBytes("00AB7f", bytes));
  EXPECT_EQ(bytes, (Bytes{0x00, 0xAB, 0x70}));
  ASSERT_TRUE(HexToBytes("", bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(HexToBytes, RoundTripsEveryByteValue) {
  Bytes all;
  for (int value = 0; value < 256; ++value) all.push_back(static_cast<unsigned char>(value));
  Bytes decoded;
  ASSERT_TRUE(HexToBytes(BytesToHex(all), decoded));
  EXPECT_EQ(decoded, all);
}

}  // namespace
}  // namespace paxelle
