// Requests sealed by the lane, opened again by the openssl command with the
// server's private key; responses opened with the right outstanding key.
#include "tools/lane/LaneEnvelope.h"

#include <gtest/gtest.h>

#include "tests/lane/LaneTestSupport.h"
#include "tools/lane/LaneHex.h"

namespace paxelle::lane {
namespace {

const std::string kPayload = "TranType=Credit\x1CTranCode=BatchSummary\x1CMemo=lane test";

class LaneEnvelopeTest : public testing::TestRsaKeySuite {
 protected:
  void SetUp() override {
    ASSERT_TRUE(key_->made) << "the openssl command could not make a test key";
    ASSERT_TRUE(serverKey_.Import(crypto_, key_->publicKeyBlob)) << serverKey_.LastError();
  }

  // What the server does with a request frame, done here independently: cut
  // the frame at its control characters, unwrap the SIMPLEBLOB with the
  // openssl command, RC4-decrypt the payload.
  void OpenLikeTheServer(const std::string& frame, std::string& userTrace, char& type, std::string& sessionKey,
                         std::string& payload) {
    ASSERT_EQ(frame.back(), '\x03');
    const std::size_t fs = frame.find('\x1C');
    const std::size_t stx = frame.find('\x02');
    const std::size_t dc1 = frame.find('\x11');
    const std::size_t dc2 = frame.find('\x12');
    ASSERT_NE(fs, std::string::npos);
    ASSERT_EQ(stx, fs + 4);
    ASSERT_EQ(frame.substr(fs + 2, 2), "00");
    ASSERT_EQ(dc1, stx + 1);
    ASSERT_NE(dc2, std::string::npos);
    userTrace = frame.substr(0, fs);
    type = frame[fs + 1];
    std::string blob;
    std::string ciphertext;
    ASSERT_TRUE(HexToBytes(frame.substr(dc1 + 1, dc2 - dc1 - 1), blob));
    ASSERT_TRUE(HexToBytes(frame.substr(dc2 + 1, frame.size() - dc2 - 2), ciphertext));
    ASSERT_EQ(blob.substr(0, 12), std::string("\x01\x02\x00\x00\x01\x68\x00\x00\x00\xA4\x00\x00", 12));
    ASSERT_TRUE(OpenSslUnwrap(blob, sessionKey));
    ASSERT_TRUE(crypto_.Rc4(sessionKey, ciphertext, payload));
  }

  // The server's encrypted answer to a request sealed with `sessionKey`.
  std::string EncryptedAnswer(const std::string& sessionKey, const std::string& document) {
    std::string ciphertext;
    EXPECT_TRUE(crypto_.Rc4(sessionKey, document, ciphertext));
    return BytesToHex(ciphertext);
  }

  LaneCrypto crypto_;
  LaneServerKey serverKey_;
};

TEST_F(LaneEnvelopeTest, SealedRequestOpensToThePayloadUnderItsOwnSessionKey) {
  for (const char type : {'2', 'M'}) {
    SealedRequest sealed;
    ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "Lane7-0042", type, sealed).ok());
    std::string userTrace;
    char sentType = 0;
    std::string sessionKey;
    std::string payload;
    OpenLikeTheServer(sealed.frame, userTrace, sentType, sessionKey, payload);
    EXPECT_EQ(userTrace, "Lane7-0042");
    EXPECT_EQ(sentType, type);
    EXPECT_EQ(sessionKey, sealed.sessionKey);
    EXPECT_EQ(payload, kPayload);
    EXPECT_EQ(sealed.frame.find_first_of("abcdef", userTrace.size()), std::string::npos) << "upper-case hex";
  }
}

TEST_F(LaneEnvelopeTest, EveryRequestGetsAFreshSessionKey) {
  SealedRequest first;
  SealedRequest second;
  ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "", '2', first).ok());
  ASSERT_TRUE(SealRequest(crypto_, serverKey_, kPayload, "", '2', second).ok());
  EXPECT_EQ(first.sessionKey.size(), 16u);
  EXPECT_NE(first.sessionKey, second.sessionKey);
  EXPECT_NE(first.frame, second.frame);
}

TEST_F(LaneEnvelopeTest, BadRequestsAreRefusedWithAReason) {
  SealedRequest sealed;
  sealed.frame = "unchanged";
  const struct {
    const char* what;
    std::string payload;
    std::string userTrace;
    char type;
  } cases[] = {
      {"empty payload", "", "", '2'},
      {"clear type", kPayload, "", '0'},
      {"abort type", kPayload, "", 'A'},
      {"FS in the user trace", kPayload, "a\x1C" "b", '2'},
      {"ETX in the user trace", kPayload, "a\x03", '2'},
      // FS, type, "00", STX, DC1, 280 key block characters, DC2: 287 bytes
      // besides the ciphertext, so 16241 payload bytes make 32769 bytes.
      {"frame over the server's limit", std::string(16241, 'x'), "", '2'},
  };
  for (const auto& c : cases) {
    const Status made = SealRequest(crypto_, serverKey_, c.payload, c.userTrace, c.type, sealed);
    EXPECT_FALSE(made.ok()) << c.what;
    EXPECT_FALSE(made.message().empty()) << c.what;
    EXPECT_EQ(sealed.frame, "unchanged") << c.what;
  }
  ASSERT_TRUE(SealRequest(crypto_, serverKey_, std::string(16240, 'x'), "", '2', sealed).ok());
  EXPECT_EQ(sealed.frame.size(), 32767u + 1);
  LaneServerKey noKey;
  EXPECT_FALSE(SealRequest(crypto_, noKey, kPayload, "", '2', sealed).ok());
}

TEST_F(LaneEnvelopeTest, ResponsesOpenWithTheKeyOfTheirRequestInAnyOrder) {
  SessionKeyRing ring;
  const std::string keys[] = {std::string(16, '\x01'), std::string(16, '\x02'), std::string(16, '\x03')};
  for (const auto& key : keys) ring.Add(key);
  std::string document;
  std::string error;
  ASSERT_TRUE(ring.Open(crypto_, EncryptedAnswer(keys[1], "<?xml second"), document, error)) << error;
  EXPECT_EQ(document, "<?xml second");
  ASSERT_TRUE(ring.Open(crypto_, EncryptedAnswer(keys[2], "<?xml third"), document, error)) << error;
  EXPECT_EQ(document, "<?xml third");
  EXPECT_EQ(ring.Size(), 1u);
  // The key of an answered request is gone.
  EXPECT_FALSE(ring.Open(crypto_, EncryptedAnswer(keys[1], "<?xml again"), document, error));
  ASSERT_TRUE(ring.Open(crypto_, EncryptedAnswer(keys[0], "<?xml first"), document, error));
  EXPECT_EQ(document, "<?xml first");
  EXPECT_EQ(ring.Size(), 0u);
}

TEST_F(LaneEnvelopeTest, UnopenableResponsesKeepEveryKey) {
  SessionKeyRing ring;
  ring.Add(std::string(16, '\x01'));
  std::string document = "unchanged";
  std::string error;
  const std::string cases[] = {
      EncryptedAnswer(std::string(16, '\x09'), "<?xml other key"),
      EncryptedAnswer(std::string(16, '\x01'), "not a document"),
      "3C3F786D6",   // odd length
      "3c3f786d6c",  // lower case
      "3C3F",        // shorter than "<?xml"
  };
  for (const auto& cipherHex : cases) {
    EXPECT_FALSE(ring.Open(crypto_, cipherHex, document, error)) << cipherHex;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(document, "unchanged");
  EXPECT_EQ(ring.Size(), 1u);
}

TEST_F(LaneEnvelopeTest, RingDropsItsOldestKeysBeyondCapacity) {
  SessionKeyRing ring(2);
  for (char k = 1; k <= 3; ++k) ring.Add(std::string(16, k));
  EXPECT_EQ(ring.Size(), 2u);
  std::string document;
  std::string error;
  EXPECT_FALSE(ring.Open(crypto_, EncryptedAnswer(std::string(16, '\x01'), "<?xml"), document, error));
  EXPECT_TRUE(ring.Open(crypto_, EncryptedAnswer(std::string(16, '\x03'), "<?xml"), document, error));
}

TEST_F(LaneEnvelopeTest, ClearFramesPassThroughAndEncryptedOnesAreOpened) {
  SessionKeyRing ring;
  ring.Add(std::string(16, '\x05'));
  std::string document;
  std::string error;
  ASSERT_TRUE(OpenServerFrame(crypto_, ring, ServerFrame{'0', "<?xml clear"}, document, error));
  EXPECT_EQ(document, "<?xml clear");
  EXPECT_EQ(ring.Size(), 1u);
  ASSERT_TRUE(OpenServerFrame(crypto_, ring,
                              ServerFrame{'2', EncryptedAnswer(std::string(16, '\x05'), "<?xml sealed")}, document,
                              error));
  EXPECT_EQ(document, "<?xml sealed");
  EXPECT_FALSE(OpenServerFrame(crypto_, ring, ServerFrame{'1', "<?xml"}, document, error));
}

}  // namespace
}  // namespace paxelle::lane
