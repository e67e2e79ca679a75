#include "client/MessageCrypto.h"

#include "CryptoTestSupport.h"
#include "core/ReturnCodes.h"

#include <gtest/gtest.h>

#include <chrono>

namespace paxelle {
namespace {

using testing::Hex;
using testing::RunOpenssl;
using testing::TempDir;
using testing::Unhex;
using testing::XorHex;

// The base keys the readers are injected with (kept whole only here).
constexpr char kUniMagBaseKey[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kInfiniteBaseKey[] = "89ABCDEF0123456776543210FEDCBA98";
// The UniMag base key is the standard's test key, whose data key for this
// serial number is published.
constexpr char kPublishedSerial[] = "FFFF9876543210E00001";
constexpr char kPublishedDataKey[] = "448D3F076D8304036A55A3D7E0055A78";
constexpr char kKeyMask[] = "C0C0C0C000000000C0C0C0C000000000";
// Not card data: the decryptor never looks inside the block.
const std::string kClear = "reader text, 24 bytes ok";

class CardDataTest : public ::testing::Test {
 protected:
  CardDataTest() : log_((dir_.Path() / "logs").string(), SystemNow, std::chrono::seconds(5)), crypto_(log_) {}

  // TDEA (or, with a 16-digit key, single DES) of one block, by the openssl command.
  std::string EncryptBlock(const std::string& keyHex, const std::string& blockHex) {
    const std::string cipher =
        keyHex.size() == 16 ? "-des-ecb -provider legacy -provider default" : "-des-ede-ecb";
    bool ok = false;
    const std::string out = RunOpenssl(dir_.Path(), "enc " + cipher + " -nopad -K " + keyHex, Unhex(blockHex), ok);
    EXPECT_TRUE(ok);
    return Hex(out);
  }

  // The data key of a serial number whose counter has exactly one bit set, the
  // standard's steps done one by one with the openssl command.
  std::string ReferenceDataKey(const std::string& baseKey, const std::string& serial) {
    std::string counterByte = Unhex(serial.substr(14, 2));
    counterByte[0] = static_cast<char>(counterByte[0] & 0xE0);
    const std::string initialSerial = serial.substr(0, 14) + Hex(counterByte);
    const std::string initialKey =
        EncryptBlock(baseKey, initialSerial) + EncryptBlock(XorHex(baseKey, kKeyMask), initialSerial);
    const std::string reg = serial.substr(4);  // the counter's only bit is already in place
    auto half = [&](const std::string& key) {
      const std::string right = key.substr(16);
      return XorHex(EncryptBlock(key.substr(0, 16), XorHex(reg, right)), right);
    };
    const std::string currentKey = half(XorHex(initialKey, kKeyMask)) + half(initialKey);
    const std::string variant = XorHex(currentKey, "0000000000FF00000000000000FF0000");
    return EncryptBlock(variant, variant.substr(0, 16)) + EncryptBlock(variant, variant.substr(16));
  }

  std::string EncryptCbc(const std::string& dataKey, const std::string& clear) {
    bool ok = false;
    const std::string out =
        RunOpenssl(dir_.Path(), "enc -des-ede-cbc -nopad -iv 0000000000000000 -K " + dataKey, clear, ok);
    EXPECT_TRUE(ok);
    return Hex(out);
  }

  TempDir dir_;
  CTrafficLog log_;
  CMessageCrypto crypto_;
};

TEST_F(CardDataTest, UniMagFormatsUseThePublishedTestBaseKey) {
  const std::string block = EncryptCbc(kPublishedDataKey, kClear);
  for (const char* format : {"UniMagIIOpx", "UniMagSecureMagOpx"}) {
    std::string clear;
    ASSERT_EQ(crypto_.DecryptCardData(format, block, kPublishedSerial, clear).code(), 0) << format;
    EXPECT_EQ(clear, kClear) << format;
  }
  std::string other;
  ASSERT_EQ(crypto_.DecryptCardData("InfiniteOpx", block, kPublishedSerial, other).code(), 0);
  EXPECT_NE(other, kClear);
}

TEST_F(CardDataTest, InfiniteFormatUsesItsOwnBaseKey) {
  const std::string serial = "A1B2C3D4E5F607A00004";
  const std::string reference = ReferenceDataKey(kUniMagBaseKey, kPublishedSerial);
  ASSERT_EQ(reference, kPublishedDataKey);  // the reference steps themselves are right

  const std::string block = EncryptCbc(ReferenceDataKey(kInfiniteBaseKey, serial), kClear);
  std::string clear;
  ASSERT_EQ(crypto_.DecryptCardData("InfiniteOpx", block, serial, clear).code(), 0);
  EXPECT_EQ(clear, kClear);
  ASSERT_EQ(crypto_.DecryptCardData("UniMagIIOpx", block, serial, clear).code(), 0);
  EXPECT_NE(clear, kClear);
}

TEST_F(CardDataTest, AnyOtherFormatFallsBackToTheUniMagKey) {
  const std::string block = EncryptCbc(kPublishedDataKey, kClear);
  std::string clear;
  ASSERT_EQ(crypto_.DecryptCardData("infiniteopx", block, kPublishedSerial, clear).code(), 0);
  EXPECT_EQ(clear, kClear);
}

TEST_F(CardDataTest, TrailingPartialBlockAndPaddingAreReturnedAsTheyCame) {
  const std::string whole = EncryptCbc(kPublishedDataKey, "8 bytes!");
  std::string clear;
  ASSERT_EQ(crypto_.DecryptCardData("UniMagIIOpx", whole + "A1B2C3D4", kPublishedSerial, clear).code(), 0);
  EXPECT_EQ(clear, std::string("8 bytes!") + "\xA1\xB2\xC3\xD4");

  ASSERT_EQ(crypto_.DecryptCardData("UniMagIIOpx", "", kPublishedSerial, clear).code(), 0);
  EXPECT_EQ(clear, "");
}

TEST_F(CardDataTest, RefusesBadSerialNumbersAndBlocksAndLeavesTheOutputAlone) {
  const std::string goodBlock = "0011223344556677";
  const struct {
    const char* what;
    std::string block;
    std::string serial;
    int code;
  } cases[] = {
      {"19-character serial", goodBlock, "FFFF9876543210E0001", kRcFieldEncryptedKey},
      {"21-character serial", goodBlock, "FFFF9876543210E000010", kRcFieldEncryptedKey},
      {"counter 0", goodBlock, "FFFF9876543210E00000", kRcFieldEncryptedKey},
      {"counter bits 0, others set", goodBlock, "FFFFFFFFFFFFFFE00000", kRcFieldEncryptedKey},
      {"201-character block", std::string(201, '0'), kPublishedSerial, kRcFieldEncryptedBlock},
      {"15-character block", std::string(15, '0'), kPublishedSerial, kRcFieldEncryptedBlock},
      {"202-character block", std::string(202, '0'), kPublishedSerial, kRcFieldEncryptedBlock},
      // The serial number is checked before the block, the counter after it.
      {"bad serial and block", std::string(15, '0'), "FFFF", kRcFieldEncryptedKey},
      {"counter 0 and bad block", std::string(15, '0'), "FFFF9876543210E00000", kRcFieldEncryptedBlock},
  };
  for (const auto& c : cases) {
    std::string clear = "untouched";
    EXPECT_EQ(crypto_.DecryptCardData("UniMagIIOpx", c.block, c.serial, clear).code(), c.code) << c.what;
    EXPECT_EQ(clear, "untouched") << c.what;
  }
  std::string clear;
  EXPECT_EQ(crypto_.DecryptCardData("UniMagIIOpx", std::string(200, '0'), kPublishedSerial, clear).code(), 0);
  EXPECT_EQ(clear.size(), 100u);
}

TEST_F(CardDataTest, StartedObjectGivesTheSameClearText) {
  ASSERT_TRUE(crypto_.Startup(dir_.Path() / "store"));
  const std::string block = EncryptCbc(kPublishedDataKey, kClear);
  std::string clear;
  ASSERT_EQ(crypto_.DecryptCardData("UniMagSecureMagOpx", block, kPublishedSerial, clear).code(), 0);
  EXPECT_EQ(clear, kClear);
}

}  // namespace
}  // namespace paxelle
