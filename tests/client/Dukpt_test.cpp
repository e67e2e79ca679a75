#include "client/Dukpt.h"

#include "CryptoTestSupport.h"
#include "client/HexText.h"

#include <gtest/gtest.h>

#include <vector>

namespace paxelle {
namespace {

using testing::TempDir;

// The test key and serial numbers of ANSI X9.24-1 with their published keys.
constexpr char kTestBaseKey[] = "0123456789ABCDEFFEDCBA9876543210";
constexpr char kTestInitialKey[] = "6AC292FAA1315B4D858AB3A3D7D5933A";

DukptKey KeyOf(const std::string& hex) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(HexToBytes(hex, bytes));
  DukptKey key{};
  EXPECT_EQ(bytes.size(), key.size()) << hex;
  std::copy_n(bytes.begin(), std::min(bytes.size(), key.size()), key.begin());
  return key;
}

KeySerialNumber SerialOf(const std::string& hex) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(HexToBytes(hex, bytes));
  KeySerialNumber ksn{};
  EXPECT_EQ(bytes.size(), ksn.size()) << hex;
  std::copy_n(bytes.begin(), std::min(bytes.size(), ksn.size()), ksn.begin());
  return ksn;
}

std::string HexOf(const DukptKey& key) { return BytesToHex(key); }

TEST(Dukpt, TransactionCounterIsTheLowTwentyOneBits) {
  EXPECT_EQ(TransactionCounter(SerialOf("FFFF9876543210E00000")), 0u);
  EXPECT_EQ(TransactionCounter(SerialOf("FFFF9876543210E00001")), 1u);
  EXPECT_EQ(TransactionCounter(SerialOf("FFFF9876543210EFF800")), 0x0FF800u);
  EXPECT_EQ(TransactionCounter(SerialOf("FFFFFFFFFFFFFFFFFFFF")), 0x1FFFFFu);
}

TEST(Dukpt, InitialKeyIgnoresTheCounterBits) {
  DukptKey initialKey{};
  for (const char* ksn : {"FFFF9876543210E00000", "FFFF9876543210E00001", "FFFF9876543210FFFFFF"}) {
    ASSERT_TRUE(DeriveInitialKey(KeyOf(kTestBaseKey), SerialOf(ksn), initialKey));
    EXPECT_EQ(HexOf(initialKey), kTestInitialKey) << ksn;
  }
}

struct PublishedKeys {
  const char* ksn;
  const char* currentKey;
  const char* dataKey;  // empty: not published, checked with the openssl command instead
};

const PublishedKeys kPublished[] = {
    {"FFFF9876543210E00001", "042666B49184CFA368DE9628D0397BC9", "448D3F076D8304036A55A3D7E0055A78"},
    {"FFFF9876543210E00002", "C46551CEF9FD24B0AA9AD834130D3BC7", "F1BE73B36135C5C26CF937D50ABBE5AF"},
    {"FFFF9876543210E00003", "0DF3D9422ACA56E547676D07AD6BADFA", "EEEEF522C67239E4A2A65FEBF4C511F4"},
    {"FFFF9876543210E00004", "279C0F6AEED0BE652B2C733E1383AE91", "BCF2610997C3AC3C5F13AE965A1B773B"},
    {"FFFF9876543210E00005", "5F8DC6D2C845C125508DDC048093B83F", "F3054D8B7471284BDB4EE18AFC3B091B"},
    {"FFFF9876543210E00008", "", "C39B2778B058AC376FB18DC906F75CBA"},
    {"FFFF9876543210E00015", "", "D9AE3E62F5E3CA2C357E37F500D9F314"},
    {"FFFF9876543210EFF800", "F9CDFEBF4F5B1D9EB3EC12454527E176", ""},
};

TEST(Dukpt, ReproducesThePublishedCurrentAndDataKeys) {
  const DukptKey initialKey = KeyOf(kTestInitialKey);
  for (const PublishedKeys& vector : kPublished) {
    DukptKey currentKey{};
    ASSERT_TRUE(DeriveCurrentKey(initialKey, SerialOf(vector.ksn), currentKey)) << vector.ksn;
    if (*vector.currentKey != '\0') {
      EXPECT_EQ(HexOf(currentKey), vector.currentKey) << vector.ksn;
    }
    DukptKey dataKey{};
    ASSERT_TRUE(DeriveDataKey(currentKey, dataKey)) << vector.ksn;
    if (*vector.dataKey != '\0') {
      EXPECT_EQ(HexOf(dataKey), vector.dataKey) << vector.ksn;
    }
  }
}

TEST(Dukpt, DataKeyIsTheVariantKeyEncryptingItsOwnHalves) {
  TempDir dir;
  const std::string currentKey = "F9CDFEBF4F5B1D9EB3EC12454527E176";
  const std::string variant = testing::XorHex(currentKey, "0000000000FF00000000000000FF0000");
  bool ok = false;
  const std::string expected =
      testing::RunOpenssl(dir.Path(), "enc -des-ede-ecb -nopad -K " + variant, testing::Unhex(variant), ok);
  ASSERT_TRUE(ok);
  DukptKey dataKey{};
  ASSERT_TRUE(DeriveDataKey(KeyOf(currentKey), dataKey));
  EXPECT_EQ(HexOf(dataKey), testing::Hex(expected));
}

TEST(Dukpt, DecryptsWholeBlocksInCbcAndLeavesATrailingPartialBlock) {
  TempDir dir;
  const std::string dataKey = "448D3F076D8304036A55A3D7E0055A78";
  const std::string clear = "reader block of 24 bytes";
  bool ok = false;
  const std::string cipher = testing::RunOpenssl(
      dir.Path(), "enc -des-ede-cbc -nopad -iv 0000000000000000 -K " + dataKey, clear, ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(cipher.size(), 24u);

  std::vector<unsigned char> data(cipher.begin(), cipher.end());
  const std::string tail = "\x01\x02\x03\x04\x05";
  data.insert(data.end(), tail.begin(), tail.end());
  ASSERT_TRUE(DecryptDataBlocks(KeyOf(dataKey), data));
  EXPECT_EQ(std::string(data.begin(), data.end()), clear + tail);

  std::vector<unsigned char> shortData = {1, 2, 3, 4, 5, 6, 7};
  ASSERT_TRUE(DecryptDataBlocks(KeyOf(dataKey), shortData));
  EXPECT_EQ(shortData, (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7}));
}

}  // namespace
}  // namespace paxelle
