// The client frame: framing of replies, taking a request frame apart (type
// characters, trace data, key block, decryption) and Parse on top of it.
#include "core/MessageFrame.h"

#include "core/Request.h"
#include "core/ReturnCodes.h"
#include "tests/core/FrameText.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/core/ReversingCrypto.h"

#include <gtest/gtest.h>

#include <vector>

namespace paxelle {
namespace {

using namespace testing::frame_text;
using testing::HexOfReversed;
using testing::kSessionKeyHex;
using testing::ContextFixture;
using testing::Payload;
using testing::ReversingCrypto;

const Payload kSale = {{"TStream", "Transaction"}, {"MerchantID", "1"},       {"ClientID", "1"},
                       {"InvoiceNo", "1001"},      {"RefNo", "1001"},         {"TranType", "Credit"},
                       {"TranCode", "Sale"},       {"AcctNo", "4111111111111111"}, {"ExpDate", "1228"},
                       {"Purchase", "10.00"}};

std::string EncryptedFrame(const std::string& trace, char type, const std::string& payload) {
  return trace + FS + type + "00" + STX + DC1 + kSessionKeyHex + DC2 + HexOfReversed(payload);
}

CRequest Unwrapped(const std::string& text, IRequestCrypto* crypto) {
  CRequest record;
  record.RawRequest = text;
  record.UnwrapFrame(crypto);
  return record;
}

TEST(FrameMessageTest, FramesWithTypeHeaderAndEtxButNoLength) {
  EXPECT_EQ(FrameMessage("<?xml version=\"1.0\"?>\r\n", false),
            FS + "000" + STX + "<?xml version=\"1.0\"?>\r\n" + ETX);
  EXPECT_EQ(FrameMessage("0A1B", true), FS + "200" + STX + "0A1B" + ETX);
  EXPECT_EQ(FrameMessage("", false), FS + "000" + STX + ETX);
}

TEST(FrameMessageTest, ControlCharactersHaveTheirWireValues) {
  EXPECT_EQ(kStx, 2);
  EXPECT_EQ(kEtx, 3);
  EXPECT_EQ(kDc1, 17);
  EXPECT_EQ(kDc2, 18);
  EXPECT_EQ(kFs, 28);
  EXPECT_EQ(kRs, 30);
  EXPECT_EQ(kUs, 31);
}

struct FrameCase {
  const char* name;
  std::string text;
  RequestDisposition disposition;
  int returnCode;
  std::string userTraceData;
};

// Frames that are refused (or aborted) before any decryption: the crypto is never asked.
TEST(UnwrapFrameTest, TypeCharactersAndMalformedFramesNeedNoDecryption) {
  const std::vector<FrameCase> cases = {
      {"clear text", "lane7" + FS + "000" + STX + "TStream=Admin", kDispositionError, kRcClearText, "lane7"},
      {"old client", "lane7" + FS + "100" + STX + "x", kDispositionError, kRcOldClient, "lane7"},
      {"weak encryption", FS + "E00" + STX + "x", kDispositionError, kRcWeakEncryption, ""},
      {"unknown type", "t" + FS + "X00" + STX + "x", kDispositionError, kRcUnrecognizedFormat, "t"},
      {"lower-case m", FS + "m00" + STX + DC1 + kSessionKeyHex + DC2 + "41", kDispositionError,
       kRcUnrecognizedFormat, ""},
      {"abort", "lane7" + FS + "A00" + STX + DC1 + kSessionKeyHex + DC2 + "41", kDispositionAbort,
       kRcUnrecognizedFormat, "lane7"},
      {"no FS", "no separator" + STX + "at all", kDispositionError, kRcUnrecognizedFormat,
       "no separator" + STX + "at all"},
      {"no STX", "ref" + FS + "200" + DC1 + "K" + DC2 + "AB", kDispositionError, kRcUnrecognizedFormat,
       "ref" + FS + "200" + DC1 + "K" + DC2 + "AB"},
      {"empty", "", kDispositionError, kRcUnrecognizedFormat, ""},
      {"shorter than FS plus three", "ab" + FS + STX, kDispositionError, kRcUnrecognizedFormat, "ab"},
      {"type right before STX", FS + "2" + STX, kDispositionError, kRcDecryptFailed, ""},
  };
  for (const auto& c : cases) {
    ReversingCrypto crypto;
    const CRequest record = Unwrapped(c.text, &crypto);
    EXPECT_EQ(record.Disposition, c.disposition) << c.name;
    EXPECT_EQ(record.ReturnCode, c.returnCode) << c.name;
    EXPECT_EQ(record.UserTraceData, c.userTraceData) << c.name;
    EXPECT_EQ(crypto.decryptCalls, 0) << c.name;
    EXPECT_EQ(record.RawRequest, c.text) << c.name << ": nothing is cut from a refused frame";
    EXPECT_EQ(record.TranCodeId, kTranNone) << c.name;
  }
}

TEST(UnwrapFrameTest, EncryptedFrameIsDecryptedWithItsKeyBlock) {
  for (char type : {'2', 'M'}) {
    ReversingCrypto crypto;
    const CRequest record = Unwrapped(EncryptedFrame("lane 7 ref", type, "TStream=Admin"), &crypto);
    EXPECT_EQ(record.Disposition, kDispositionProcess) << type;
    EXPECT_EQ(record.ClientKeyBlob, kSessionKeyHex) << type;
    EXPECT_EQ(record.RawRequest, "TStream=Admin") << type;
    EXPECT_EQ(record.UserTraceData, "lane 7 ref") << type;
    EXPECT_EQ(crypto.seenCipher, HexOfReversed("TStream=Admin")) << type;
  }
}

TEST(UnwrapFrameTest, KeyBlockIsCutWhereverItLiesAfterStx) {
  ReversingCrypto crypto;
  const std::string cipher = HexOfReversed("TStream=Admin");
  const std::string text =
      FS + "200" + STX + cipher.substr(0, 6) + DC1 + kSessionKeyHex + DC2 + cipher.substr(6);
  const CRequest record = Unwrapped(text, &crypto);
  EXPECT_EQ(record.Disposition, kDispositionProcess);
  EXPECT_EQ(crypto.seenCipher, cipher);
  EXPECT_EQ(record.RawRequest, "TStream=Admin");
}

TEST(UnwrapFrameTest, MissingKeyBlockOrFailedDecryptionIs4011) {
  const std::vector<FrameCase> cases = {
      {"no DC1", FS + "200" + STX + kSessionKeyHex + DC2 + "41", kDispositionError, kRcDecryptFailed, ""},
      {"no DC2", FS + "M00" + STX + DC1 + kSessionKeyHex + "41", kDispositionError, kRcDecryptFailed, ""},
      {"DC2 only before DC1", FS + "200" + STX + DC2 + "41" + DC1 + kSessionKeyHex, kDispositionError,
       kRcDecryptFailed, ""},
  };
  for (const auto& c : cases) {
    ReversingCrypto crypto;
    const CRequest record = Unwrapped(c.text, &crypto);
    EXPECT_EQ(record.Disposition, c.disposition) << c.name;
    EXPECT_EQ(record.ReturnCode, c.returnCode) << c.name;
    EXPECT_EQ(record.ClientKeyBlob, "") << c.name;
    EXPECT_EQ(crypto.decryptCalls, 0) << c.name;
  }

  ReversingCrypto crypto;
  const CRequest wrongKey = Unwrapped(FS + "200" + STX + DC1 + "FFFF" + DC2 + HexOfReversed("TStream=Admin"), &crypto);
  EXPECT_EQ(wrongKey.Disposition, kDispositionError);
  EXPECT_EQ(wrongKey.ReturnCode, kRcDecryptFailed);
  EXPECT_EQ(wrongKey.ClientKeyBlob, "FFFF");
  EXPECT_EQ(wrongKey.RawRequest, FS + "200" + STX + HexOfReversed("TStream=Admin"))
      << "the key block is cut out even when decryption fails";
  EXPECT_EQ(crypto.decryptCalls, 1);
}

TEST(UnwrapFrameTest, WithoutInstalledCryptoEncryptedFrameIs4011) {
  const CRequest record = Unwrapped(EncryptedFrame("", '2', "TStream=Admin"), nullptr);
  EXPECT_EQ(record.Disposition, kDispositionError);
  EXPECT_EQ(record.ReturnCode, kRcDecryptFailed);
}

// The ciphertext is what follows STX once the key block is cut, so the block
// must lie wholly after STX; one that starts before it is refused, never
// decrypted from a shifted position.
TEST(UnwrapFrameTest, KeyBlockNotAfterStxIs4011) {
  const std::string cipher = HexOfReversed("TStream=Admin");
  const std::vector<FrameCase> cases = {
      {"block in the header", FS + "2" + DC1 + kSessionKeyHex + DC2 + STX + cipher, kDispositionError,
       kRcDecryptFailed, ""},
      {"block across STX", FS + "200" + DC1 + kSessionKeyHex + STX + DC2 + cipher, kDispositionError,
       kRcDecryptFailed, ""},
      {"DC1 in the trace data", "a" + DC1 + "b" + FS + "200" + STX + DC1 + kSessionKeyHex + DC2 + cipher,
       kDispositionError, kRcDecryptFailed, "a" + DC1 + "b"},
      {"block at the end of a long header", FS + "2000000000" + DC1 + "K" + DC2 + STX, kDispositionError,
       kRcDecryptFailed, ""},
  };
  for (const auto& c : cases) {
    ReversingCrypto crypto;
    const CRequest record = Unwrapped(c.text, &crypto);
    EXPECT_EQ(record.Disposition, c.disposition) << c.name;
    EXPECT_EQ(record.ReturnCode, c.returnCode) << c.name;
    EXPECT_EQ(record.UserTraceData, c.userTraceData) << c.name;
    EXPECT_EQ(crypto.decryptCalls, 0) << c.name;
  }
}

// Every short arrangement of the frame's characters: the unwrap stays inside
// the text (the sanitizer builds prove it) and only hands a frame to the
// crypto when it ends as "to be processed".
TEST(UnwrapFrameTest, NoArrangementOfControlCharactersEscapesTheText) {
  const std::string alphabet = FS + STX + DC1 + DC2 + "2A0";
  std::vector<std::string> texts = {""};
  for (int length = 1; length <= 5; ++length) {
    std::vector<std::string> longer;
    for (const auto& text : texts) {
      if (static_cast<int>(text.size()) != length - 1) continue;
      for (char c : alphabet) longer.push_back(text + c);
    }
    texts.insert(texts.end(), longer.begin(), longer.end());
  }
  ReversingCrypto crypto;
  for (const auto& text : texts) {
    const int callsBefore = crypto.decryptCalls;
    const CRequest record = Unwrapped(text, &crypto);
    EXPECT_TRUE(record.Disposition == kDispositionProcess || record.Disposition == kDispositionAbort ||
                record.Disposition == kDispositionError);
    EXPECT_LE(record.RawRequest.size(), text.size());
    if (record.Disposition == kDispositionProcess) {
      EXPECT_EQ(crypto.decryptCalls, callsBefore + 1);
    }
  }
}

class ParseTest : public ::testing::Test {
 protected:
  ContextFixture server_;
  ReversingCrypto crypto_{server_.context()};
};

TEST_F(ParseTest, EncryptedRequestIsUnwrappedAndParsed) {
  CRequest record;
  record.Parse(EncryptedFrame("lane7", '2', kSale.Text()), server_.context());
  EXPECT_EQ(record.Disposition, kDispositionProcess);
  EXPECT_EQ(record.TranCodeId, kCreditSale);
  EXPECT_EQ(record.AcctNo, "4111111111111111");
  EXPECT_EQ(record.Purchase, "1000");
  EXPECT_EQ(record.UserTraceData, "lane7");
  EXPECT_EQ(record.ClientKeyBlob, kSessionKeyHex);
}

TEST_F(ParseTest, PayloadThatFailsItsChecksEndsAsError) {
  CRequest record;
  record.Parse(EncryptedFrame("", 'M', kSale.Without("TStream").Text()), server_.context());
  EXPECT_EQ(record.Disposition, kDispositionError);
  EXPECT_EQ(record.ReturnCode, kRcTStreamMissing);
  EXPECT_EQ(record.TranCodeId, kTranNone);
}

TEST_F(ParseTest, AbortFrameIsNeitherDecryptedNorParsed) {
  CRequest record;
  const std::string text = "lane7" + FS + "A00" + STX + DC1 + kSessionKeyHex + DC2 + HexOfReversed(kSale.Text());
  record.Parse(text, server_.context());
  EXPECT_EQ(record.Disposition, kDispositionAbort);
  EXPECT_EQ(record.TranCodeId, kTranNone);
  EXPECT_EQ(record.RawRequest, text);
  EXPECT_EQ(crypto_.decryptCalls, 0);
}

TEST_F(ParseTest, AcceptedBatchCloseKeepsItsDisposition) {
  const Payload close = {{"TStream", "Admin"}, {"MerchantID", "1"}, {"ClientID", "1"}, {"TranCode", "BatchClose"}};
  CRequest record;
  record.Parse(EncryptedFrame("", '2', close.Text()), server_.context());
  EXPECT_EQ(record.Disposition, kDispositionBatchClose);
  EXPECT_EQ(record.TranCodeId, kBatchClose);
}

TEST_F(ParseTest, RefusedFrameIsNotParsed) {
  CRequest record;
  record.Parse("lane7" + FS + "000" + STX + kSale.Text(), server_.context());
  EXPECT_EQ(record.Disposition, kDispositionError);
  EXPECT_EQ(record.ReturnCode, kRcClearText);
  EXPECT_EQ(record.TranCodeId, kTranNone);
  EXPECT_EQ(record.AcctNo, "");
}

}  // namespace
}  // namespace paxelle
