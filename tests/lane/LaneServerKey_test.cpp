// The server's PUBLICKEYBLOB as the openssl command exports it, and the
// SIMPLEBLOB the lane wraps a session key in, opened again by the openssl
// command with the private key.
#include "tools/lane/LaneServerKey.h"

#include <gtest/gtest.h>

#include "tests/lane/LaneTestSupport.h"

namespace paxelle::lane {
namespace {

using testing::ReadBytes;

class LaneServerKeyTest : public testing::TestRsaKeySuite {
 protected:
  void SetUp() override { ASSERT_TRUE(key_->made) << "the openssl command could not make a test key"; }

  // The SIMPLEBLOB's wrapped key as the openssl command unwraps it.
  std::string OpenSslUnwrap(const std::string& blob) {
    std::string key;
    EXPECT_TRUE(TestRsaKeySuite::OpenSslUnwrap(blob, key)) << ReadBytes(PkeyutlLog());
    return key;
  }

  LaneCrypto crypto_;
  LaneServerKey serverKey_;
};

TEST_F(LaneServerKeyTest, ImportsTheBlobOpenSslExports) {
  ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob)) << serverKey_.LastError();
  EXPECT_TRUE(serverKey_.IsLoaded());
  EXPECT_EQ(serverKey_.ModulusBytes(), 128u);
}

TEST_F(LaneServerKeyTest, SimpleBlobHasTheCryptoApiHeaderAndUnwrapsToTheSessionKey) {
  ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob));
  const std::string sessionKey("\x00\x01\x02\x03\xFC\xFD\xFE\xFF\x10\x20\x30\x40\x50\x60\x70\x80", 16);
  std::string blob;
  ASSERT_TRUE(serverKey_.WrapSessionKey(crypto_, sessionKey, blob)) << serverKey_.LastError();
  ASSERT_EQ(blob.size(), 12u + 128u);
  EXPECT_EQ(blob.substr(0, 12), std::string("\x01\x02\x00\x00\x01\x68\x00\x00\x00\xA4\x00\x00", 12));
  EXPECT_EQ(OpenSslUnwrap(blob), sessionKey);
}

TEST_F(LaneServerKeyTest, EveryWrapUsesFreshPadding) {
  ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob));
  const std::string sessionKey(16, '\x42');
  std::string first;
  std::string second;
  ASSERT_TRUE(serverKey_.WrapSessionKey(crypto_, sessionKey, first));
  ASSERT_TRUE(serverKey_.WrapSessionKey(crypto_, sessionKey, second));
  EXPECT_NE(first, second);
  EXPECT_EQ(OpenSslUnwrap(second), sessionKey);
}

TEST_F(LaneServerKeyTest, MalformedBlobsAreRefusedAndTheEarlierKeyStays) {
  ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob));
  const std::string good = key_->publicKeyBlob;
  const auto with = [&good](std::size_t at, char value) {
    std::string blob = good;
    blob[at] = value;
    return blob;
  };
  std::string evenModulus = good;
  evenModulus[20] = static_cast<char>(evenModulus[20] & ~1);
  const struct {
    const char* what;
    std::string blob;
  } cases[] = {
      {"empty", ""},
      {"header only", good.substr(0, 19)},
      {"simple blob type", with(0, '\x01')},
      {"version 3", with(1, '\x03')},
      {"signature key", with(5, '\x24')},
      {"RSA2 magic", with(11, '2')},
      {"bit length not a byte multiple", with(12, '\x04')},
      {"bit length too small", with(13, '\x01')},
      {"modulus cut short", good.substr(0, good.size() - 1)},
      {"trailing byte", good + '\x00'},
      {"even exponent", with(16, '\x02')},
      {"top modulus byte zero", with(good.size() - 1, '\x00')},
      {"even modulus", evenModulus},
  };
  for (const auto& c : cases) {
    LaneServerKey fresh;
    EXPECT_FALSE(fresh.Import(crypto_, c.blob)) << c.what;
    EXPECT_FALSE(fresh.IsLoaded()) << c.what;
    EXPECT_FALSE(fresh.LastError().empty()) << c.what;
    EXPECT_FALSE(serverKey_.Import(crypto_, c.blob)) << c.what;
  }
  // The key imported first is still the one in use.
  std::string blob;
  ASSERT_TRUE(serverKey_.WrapSessionKey(crypto_, std::string(16, '\x07'), blob));
  EXPECT_EQ(OpenSslUnwrap(blob), std::string(16, '\x07'));
}

TEST_F(LaneServerKeyTest, WrapNeedsAKeyAndASixteenByteSessionKey) {
  std::string blob = "unchanged";
  EXPECT_FALSE(serverKey_.WrapSessionKey(crypto_, std::string(16, 'k'), blob));
  EXPECT_FALSE(serverKey_.LastError().empty());
  ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob));
  EXPECT_FALSE(serverKey_.WrapSessionKey(crypto_, std::string(15, 'k'), blob));
  EXPECT_FALSE(serverKey_.WrapSessionKey(crypto_, std::string(17, 'k'), blob));
  EXPECT_EQ(blob, "unchanged");
}

}  // namespace
}  // namespace paxelle::lane
