// The lane's envelope and challenge answers against the server's own crypto
// object: each side opens what the other sealed.
#include <gtest/gtest.h>

#include "client/HexText.h"
#include "client/MessageCrypto.h"
#include "core/Request.h"
#include "core/RequestCrypto.h"
#include "core/TranCodes.h"
#include "tests/lane/LaneTestSupport.h"
#include "tools/lane/LaneChallenge.h"
#include "tools/lane/LaneEnvelope.h"
#include "tools/lane/LaneHex.h"

namespace paxelle::lane {
namespace {

const std::string kPayload = "TranType=Credit\x1CTranCode=BatchSummary\x1CMemo=cross check";

class ServerCryptoTest : public testing::ServerCryptoSuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(started_) << "the server's crypto did not start";
    const std::string text = server_->PublicKeyText();
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text.front(), '\x11');
    ASSERT_EQ(text.back(), '\x12');
    std::string blob;
    ASSERT_TRUE(HexToBytes(text.substr(1, text.size() - 2), blob)) << "public key text is not upper-case hex";
    ASSERT_TRUE(serverKey_.Import(crypto_, blob)) << serverKey_.LastError();
  }

  // The key block and ciphertext texts of a sealed request frame.
  static void SplitFrame(const std::string& frame, std::string& keyBlobHex, std::string& cipherHex) {
    const std::size_t dc1 = frame.find('\x11');
    const std::size_t dc2 = frame.find('\x12');
    keyBlobHex = frame.substr(dc1 + 1, dc2 - dc1 - 1);
    cipherHex = frame.substr(dc2 + 1, frame.size() - dc2 - 2);
  }

  LaneCrypto crypto_;
  LaneServerKey serverKey_;
};

TEST_F(ServerCryptoTest, ServerDecryptsTheLanesRequestToThePayload) {
  SealedRequest sealed;
  ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "", '2', sealed).ok());
  std::string keyBlobHex;
  std::string cipherHex;
  SplitFrame(sealed.frame, keyBlobHex, cipherHex);
  std::string clear;
  ASSERT_TRUE(server_->DecryptWithSessionKey(keyBlobHex, cipherHex, clear));
  EXPECT_EQ(clear, kPayload);
}

TEST_F(ServerCryptoTest, ServerUnwrapsTheLanesFrameIntoTheRecord) {
  for (const char type : {'2', 'M'}) {
    SealedRequest sealed;
    ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "Lane7-0042", type, sealed).ok());
    CRequest record;
    record.RawRequest = sealed.frame.substr(0, sealed.frame.size() - 1);  // the session drops the ETX
    record.UnwrapFrame(server_.get());
    EXPECT_EQ(record.Disposition, kDispositionProcess) << record.ReturnCode;
    EXPECT_EQ(record.RawRequest, kPayload);
    EXPECT_EQ(record.UserTraceData, "Lane7-0042");
  }
}

TEST_F(ServerCryptoTest, LaneOpensTheServersEncryptedResponse) {
  SealedRequest sealed;
  ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "", '2', sealed).ok());
  std::string keyBlobHex;
  std::string cipherHex;
  SplitFrame(sealed.frame, keyBlobHex, cipherHex);
  const std::string document = "<?xml version=\"1.0\"?>\r\n<RStream>\r\n</RStream>\r\n";
  std::string responseHex;
  ASSERT_TRUE(server_->EncryptWithSessionKey(keyBlobHex, document, responseHex));
  SessionKeyRing ring;
  ring.Add(std::string(16, '\x01'));  // an older request still outstanding
  ring.Add(sealed.sessionKey);
  std::string opened;
  std::string error;
  ASSERT_TRUE(ring.Open(crypto_, responseHex, opened, error)) << error;
  EXPECT_EQ(opened, document);
  EXPECT_EQ(ring.Size(), 1u);
}

TEST_F(ServerCryptoTest, ChallengeAnswersAgreeForBothMaterials) {
  const std::string challenge("\x10\x32\x54\x76\x98\xBA\xDC\xFE\x00\x23\x45\x67\x89\xAB\xCD\xEF", 16);
  for (const bool alternate : {false, true}) {
    std::string laneAnswer;
    ASSERT_TRUE(EncryptChallenge(crypto_, alternate ? ChallengeMaterial::kAlternate : ChallengeMaterial::kStandard,
                                 challenge, laneAnswer));
    std::string serverAnswer = challenge;
    ASSERT_TRUE(server_->EncryptChallenge(reinterpret_cast<unsigned char*>(serverAnswer.data()),
                                          serverAnswer.size(), alternate));
    EXPECT_EQ(BytesToHex(laneAnswer), BytesToHex(serverAnswer)) << (alternate ? "alternate" : "standard");
  }
}

TEST_F(ServerCryptoTest, BothSidesPrepareMaterialsAlike) {
  for (std::string material : {std::string("OPXIP-Std-7d1f4c9a2b6e8035"), std::string("\xFE\xFF\xFF\xFE\x00", 5)}) {
    const std::string lane = PrepareMaterial(material);
    PrepareChallengeMaterial(material);
    EXPECT_EQ(lane, material);
  }
}

}  // namespace
}  // namespace paxelle::lane
