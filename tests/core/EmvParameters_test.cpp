// The built-in EMV parameters, the EMVParamDownload answer and its report file.
#include "core/EmvParameters.h"

#include "common/SystemErrorText.h"
#include "common/TrafficLog.h"
#include "core/Request.h"
#include "core/ResponseBodies.h"
#include "tests/config/TempDir.h"
#include "tests/core/ParserTestSupport.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace paxelle {
namespace {

using testing::ContextFixture;
using testing::ReadBytes;
using testing::TempDir;

constexpr std::chrono::milliseconds kLogPatience{60000};

std::string Sha1OfHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) != 1) return {};
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    text += digits[digest[i] >> 4];
    text += digits[digest[i] & 0x0f];
  }
  return text;
}

bool IsUpperHex(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Every line ends with CR LF and no CR stands alone.
bool AllLinesEndCrLf(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) return false;
    if (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) return false;
  }
  return text.size() >= 2 && text.substr(text.size() - 2) == "\r\n";
}

// ---- the built-in tables ----

struct PublishedKey {
  const char* rid;
  const char* index;
  std::size_t modulusDigits;
  const char* expiry;
  const char* check;
};

// The check values below are the literals the schemes publish with their
// production CA public keys: the Visa, Mastercard, American Express and
// Discover production CA public key lists, as carried with their check values
// in the public EMV terminal CA-key tables that kernels load. They are written
// here, not computed.
constexpr PublishedKey kPublishedKeys[] = {
    {"A000000003", "07", 288, "311217", "B4BC56CC4E88324932CBC643D6898F6FE593B172"},
    {"A000000003", "08", 352, "311224", "20D213126955DE205ADC2FD2822BD22DE21CF9A8"},
    {"A000000003", "09", 496, "311224", "1FF80A40173F52D7D27E0F26A146A1C8CCB29046"},
    {"A000000004", "04", 288, "311217", "381A035DA58B482EE2AF75F4C3F2CA469BA4AA6C"},
    {"A000000004", "05", 352, "311224", "EBFA0D5D06D8CE702DA3EAE890701D45E274C845"},
    {"A000000004", "06", 496, "311224", "F910A1504D5FFB793D94F3B500765E1ABCAD72D9"},
    {"A000000025", "0E", 288, "311217", "A7266ABAE64B42A3668851191D49856E17F8FBCD"},
    {"A000000025", "0F", 352, "311224", "A73472B3AB557493A9BC2179CC8014053B12BAB4"},
    {"A000000025", "10", 496, "311224", "C729CF2FD262394ABC4CC173506502446AA9B9FD"},
    {"A000000152", "03", 288, "311217", "CA1E9099327F0B786D8583EC2F27E57189503A57"},
    {"A000000152", "04", 352, "311224", "17F971CAF6B708E5B9165331FBA91593D0C0BF66"},
    {"A000000152", "05", 496, "311224", "12BCD407B6E627A750FDF629EE8C2C9CC7BA636A"},
};

TEST(EmvCaKeysTest, TwelveKeysInListOrderWithTheirSizesAndExpiries) {
  const std::vector<CaPublicKey> keys = BuiltInCaPublicKeys();
  ASSERT_EQ(keys.size(), std::size(kPublishedKeys));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const PublishedKey& published = kPublishedKeys[i];
    SCOPED_TRACE(std::string(published.rid) + " " + published.index);
    EXPECT_EQ(keys[i].RID, published.rid);
    EXPECT_EQ(keys[i].Index, published.index);
    EXPECT_EQ(keys[i].Exponent, "03");
    EXPECT_EQ(keys[i].Expiry, published.expiry);
    EXPECT_EQ(keys[i].Modulus.size(), published.modulusDigits);
    EXPECT_TRUE(IsUpperHex(keys[i].Modulus));
  }
}

// The proof that no modulus was mistyped: the check value is the SHA-1 of RID,
// index, modulus and exponent as bytes, and equals the one the scheme publishes.
TEST(EmvCaKeysTest, EveryCheckValueIsTheSha1OfTheKeyAndTheOnePublished) {
  const std::vector<CaPublicKey> keys = BuiltInCaPublicKeys();
  ASSERT_EQ(keys.size(), std::size(kPublishedKeys));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const CaPublicKey& key = keys[i];
    SCOPED_TRACE(key.RID + " " + key.Index);
    const std::string computed = Sha1OfHex(key.RID + key.Index + key.Modulus + key.Exponent);
    EXPECT_EQ(computed, kPublishedKeys[i].check);
    EXPECT_EQ(key.Check, kPublishedKeys[i].check);
  }
}

TEST(EmvAidParamsTest, FourSchemesInOrderSharingTheCommonValues) {
  const std::vector<AidParams> all = BuiltInAidParams();
  ASSERT_EQ(all.size(), 4u);
  const char* order[] = {"A000000003", "A000000004", "A000000025", "A000000152"};
  for (std::size_t i = 0; i < all.size(); ++i) {
    const AidParams& params = all[i];
    SCOPED_TRACE(order[i]);
    EXPECT_EQ(params.RID, order[i]);
    EXPECT_EQ(params.FloorLimit, "0");
    EXPECT_EQ(params.RSThreshold, "0");
    EXPECT_EQ(params.TargetRSPercent, "20");
    EXPECT_EQ(params.MaxTargetRSPercent, "60");
    EXPECT_EQ(params.FallBackIndicator, "Y");
    EXPECT_EQ(params.DefaultDDOL, "9F3704");
    EXPECT_EQ(params.AdditionalCapabilities, "F000F0A001");
    EXPECT_EQ(params.CtlsAdditionalCapabilities, "F000F0A001");
    EXPECT_EQ(params.MerchantType, "Merchant");
    EXPECT_EQ(params.CtlsFloorLimit, "000");
    EXPECT_EQ(params.CtlsCVMLimit, "2500");
    EXPECT_EQ(params, EmvAidParamsFor(order[i]));
  }
  EXPECT_EQ(all[0].DefaultTDOL, "NotUsed");
  EXPECT_EQ(all[0].CtlsTranLimit, "99999998");
  EXPECT_EQ(all[0].AidList, "A0000000031010.2.008C.0096.VISA,A0000000032010.2.008C.0096.VISA ELECTRON");
  EXPECT_EQ(all[2].CtlsTACOnline, "C400000000");
  EXPECT_EQ(all[2].DefaultTDOL, "9F02065F2A029A039C0195059F3704");
  EXPECT_EQ(all[3].TerminalCapabilities, "E0B0C8");
  EXPECT_EQ(all[3].CtlsAidList, "A0000001523010.13.128,A0000003241010.13.128");
  EXPECT_EQ(all[3].TACOnline, "FCE09CF800");
}

TEST(EmvAidParamsTest, UnknownRidGivesEmptyTexts) {
  EXPECT_EQ(EmvAidParamsFor("A000000065"), AidParams{});
  EXPECT_EQ(EmvAidParamsFor(""), AidParams{});
  EXPECT_EQ(EmvAidParamsFor("A0000000041010"), AidParams{});  // an AID, not a RID
  EXPECT_EQ(EmvAidParamsFor("a000000004"), AidParams{});
}

TEST(EmvAidParamsTest, LoadReplacesWhateverTheListsHeld) {
  CRequest record;
  record.CaPublicKeys.push_back(CaPublicKey{"X", "Y", "Z", "01", "C", "010100"});
  record.EmvAidParams.push_back(EmvAidParamsFor("A000000004"));
  record.LoadEmvParameters();
  EXPECT_EQ(record.CaPublicKeys, BuiltInCaPublicKeys());
  EXPECT_EQ(record.EmvAidParams, BuiltInAidParams());

  const CRequest copy = record;
  EXPECT_EQ(copy.CaPublicKeys, record.CaPublicKeys);
  EXPECT_EQ(copy.EmvAidParams, record.EmvAidParams);
}

// ---- the download answer and its report ----

// Runs each test on a server context with a fresh working directory (where the
// report and the traffic log land) and a configured merchant (123456789012345 / 12345678).
class EmvParamDownloadTest : public ::testing::Test {
 protected:
  EmvParamDownloadTest() { std::filesystem::create_directory(dir_ / "KELVARA_LOGS"); }

  static CRequest DownloadRecord() {
    CRequest record;
    record.TranCodeId = kEmvParamDownload;
    record.TranCode = "EMVParamDownload";
    record.StreamType = "Admin";
    record.HostMsgKind = HostMessageKind::kEmvParams;
    record.State = kStateParsed;
    record.AdminSuccess = true;
    record.AdminText = "SUCCESS";
    record.TerminalID = "LANE07";
    record.OperatorID = "op1";
    record.UserTraceData = "trace";
    return record;
  }

  std::string Logged() {
    server_.context().log.WaitUntilWritten(kLogPatience);
    std::string text;
    for (const auto& file : std::filesystem::directory_iterator(dir_ / "KELVARA_LOGS")) text += ReadBytes(file.path());
    return text;
  }

  std::filesystem::path ReportPath() const { return dir_ / "PARAM_LOADS/EMVParam_123456789012345_12345678.log"; }

  ContextFixture server_;
  const std::filesystem::path dir_ = server_.directory();
};

TEST_F(EmvParamDownloadTest, BodyOpensWithIdentityAndTheFirstKey) {
  CRequest record = DownloadRecord();
  const std::string body = BuildAdminResponseBody(record, server_.context());
  EXPECT_EQ(body.substr(0, 1000).find(
                "\t<EMVParamDownload>\r\n"
                "\t\t<MerchantID>123456789012345</MerchantID>\r\n"
                "\t\t<TerminalID>LANE07</TerminalID>\r\n"
                "\t\t<OperatorID>op1</OperatorID>\r\n"
                "\t\t<PKeyRID1>A000000003</PKeyRID1>\r\n"
                "\t\t<PKeyINDEX1>07</PKeyINDEX1>\r\n"
                "\t\t<PKeyEXPONENT1>03</PKeyEXPONENT1>\r\n"
                "\t\t<PKeyCHECK1>B4BC56CC4E88324932CBC643D6898F6FE593B172</PKeyCHECK1>\r\n"
                "\t\t<PKeyEXPDATE1>311217</PKeyEXPDATE1>\r\n"
                "\t\t<PKeyMOD1>A89F25A56FA6DA25"),
            0u);
  EXPECT_TRUE(AllLinesEndCrLf(body));
}

TEST_F(EmvParamDownloadTest, TwelveKeyGroupsAndFourApplicationGroupsNumberedInOrder) {
  CRequest record = DownloadRecord();
  const std::string body = BuildAdminResponseBody(record, server_.context());

  const char* keyNames[] = {"PKeyRID", "PKeyINDEX", "PKeyEXPONENT", "PKeyCHECK", "PKeyEXPDATE", "PKeyMOD"};
  const std::vector<CaPublicKey> keys = BuiltInCaPublicKeys();
  std::size_t last = 0;
  for (int n = 1; n <= 12; ++n) {
    const CaPublicKey& key = keys[static_cast<std::size_t>(n - 1)];
    const std::string values[] = {key.RID, key.Index, key.Exponent, key.Check, key.Expiry, key.Modulus};
    for (std::size_t f = 0; f < std::size(keyNames); ++f) {
      const std::string name = keyNames[f] + std::to_string(n);
      const std::string line = "\t\t<" + name + ">" + values[f] + "</" + name + ">\r\n";
      SCOPED_TRACE(name);
      const std::size_t at = body.find(line);
      ASSERT_NE(at, std::string::npos);
      EXPECT_GT(at, last);
      EXPECT_EQ(Count(body, "<" + name + ">"), 1u);
      last = at;
    }
  }
  EXPECT_EQ(body.find("PKeyRID13"), std::string::npos);

  const char* aidNames[] = {"EMVParamsRid", "AidList", "FloorLimit", "RSThreshold", "TargetRSPercent",
                            "MaxTargetRSPercent", "FallBackIndicator", "TACDefault", "TACDenial", "TACOnline",
                            "DefaultDDOL", "DefaultTDOL", "TerminalCapabilities", "AdditionalCapabilities",
                            "CtlsAidList", "CtlsFloorLimit", "CtlsTranLimit", "CtlsCVMLimit", "CtlsTACDefault",
                            "CtlsTACDenial", "CtlsTACOnline", "CtlsTerminalCapabilities",
                            "CtlsAdditionalCapabilities"};
  const char* rids[] = {"A000000003", "A000000004", "A000000025", "A000000152"};
  for (int m = 1; m <= 4; ++m) {
    EXPECT_NE(body.find("\t\t<EMVParamsRid" + std::to_string(m) + ">" + rids[m - 1] + "</EMVParamsRid"),
              std::string::npos);
    for (const char* field : aidNames) {
      const std::string name = field + std::to_string(m);
      SCOPED_TRACE(name);
      const std::size_t at = body.find("\t\t<" + name + ">");
      ASSERT_NE(at, std::string::npos);
      EXPECT_GT(at, last);
      last = at;
    }
  }
  EXPECT_EQ(body.find("EMVParamsRid5"), std::string::npos);
  // The merchant type is carried but never sent.
  EXPECT_EQ(body.find(">Merchant<"), std::string::npos);
  EXPECT_EQ(body.find("MerchantType"), std::string::npos);
}

TEST_F(EmvParamDownloadTest, TrailingLinesFromTheHostResultAndSequenceNoAlways) {
  CRequest record = DownloadRecord();
  record.TranDate = "013125";
  record.HostRefNo = "R12345";
  record.RefNo = "LANEREF";  // the request's own RefNo is not what this answer echoes
  const std::string body = BuildAdminResponseBody(record, server_.context());
  EXPECT_TRUE(EndsWith(body,
                       "\t\t<CtlsAdditionalCapabilities4>F000F0A001</CtlsAdditionalCapabilities4>\r\n"
                       "\t\t<TranDate>013125</TranDate>\r\n"
                       "\t\t<RefNo>R12345</RefNo>\r\n"
                       "\t\t<SequenceNo></SequenceNo>\r\n"
                       "\t</EMVParamDownload>\r\n"));

  CRequest numbered = DownloadRecord();
  numbered.TranTime = "235959";
  numbered.SequenceNo = "000042";
  const std::string other = BuildAdminResponseBody(numbered, server_.context());
  EXPECT_NE(other.find("\t\t<TranTime>235959</TranTime>\r\n\t\t<SequenceNo>000042</SequenceNo>\r\n"
                       "\t</EMVParamDownload>\r\n"),
            std::string::npos);
  EXPECT_EQ(other.find("<TranDate>"), std::string::npos);
  EXPECT_EQ(other.find("<RefNo>"), std::string::npos);
}

TEST_F(EmvParamDownloadTest, ResultDocumentIsASuccess) {
  CRequest record = DownloadRecord();
  const std::string document = record.BuildResponse(server_.context());
  EXPECT_EQ(document.find("<?xml version=\"1.0\"?>\r\n<RStream>\r\n\t<CmdResponse>\r\n"
                          "\t\t<ResponseOrigin>Processor</ResponseOrigin>\r\n"
                          "\t\t<OPXXReturnCode>000000</OPXXReturnCode>\r\n"
                          "\t\t<CmdStatus>Success</CmdStatus>\r\n"
                          "\t\t<TextResponse>SUCCESS</TextResponse>\r\n"
                          "\t\t<UserTraceData>trace</UserTraceData>\r\n"
                          "\t</CmdResponse>\r\n"
                          "\t<EMVParamDownload>\r\n"),
            0u);
  EXPECT_NE(document.find("<PKeyMOD12>"), std::string::npos);
  EXPECT_NE(document.find("<EMVParamsRid4>A000000152</EMVParamsRid4>"), std::string::npos);
  EXPECT_TRUE(EndsWith(document, "\t</EMVParamDownload>\r\n</RStream>\r\n"));
}

TEST_F(EmvParamDownloadTest, EmptyTerminalIdDropsItsLineButNotTheReportName) {
  CRequest record = DownloadRecord();
  record.TerminalID.clear();
  const std::string body = BuildAdminResponseBody(record, server_.context());
  EXPECT_EQ(body.find("TerminalID"), std::string::npos);
  EXPECT_NE(body.find("\t\t<MerchantID>123456789012345</MerchantID>\r\n\t\t<OperatorID>op1</OperatorID>\r\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::is_regular_file(ReportPath()));
}

TEST_F(EmvParamDownloadTest, ReportTextLayout) {
  CRequest record = DownloadRecord();
  BuildAdminResponseBody(record, server_.context());
  const std::string report = ReadBytes(ReportPath());
  ASSERT_FALSE(report.empty());
  EXPECT_TRUE(AllLinesEndCrLf(report));

  const std::string head =
      "             EMV PARAMETERS             \r\n"
      "MERCHANT ID: 123456789012345\r\n"
      "TERM ID: 12345678\r\n";
  ASSERT_EQ(report.substr(0, head.size()), head);
  const std::string dateLine = report.substr(head.size(), report.find("\r\n", head.size()) + 2 - head.size());
  EXPECT_TRUE(std::regex_match(dateLine, std::regex("DATE: \\d\\d/\\d\\d/\\d{4}  TIME: \\d\\d:\\d\\d:\\d\\d\r\n")))
      << dateLine;

  // The first scheme's heading and first key follow the date line directly.
  EXPECT_EQ(report.find("         CARD ASSOCIATION: VISA         \r\n"
                        "RID: A000000003\r\n"
                        "KEY INDEX: 07\r\n"
                        "KEY MODULUS\r\n"
                        "A89F25A56FA6DA25\r\n"
                        "8C8CA8B40427D927\r\n"
                        "---\r\n"
                        "783140433D50725F\r\n"
                        "KEY EXPONENT: 03\r\n"
                        "RID: A000000003\r\n"
                        "KEY INDEX: 08\r\n"),
            head.size() + dateLine.size());

  // A whole scheme block: its last key, then its application lines and an empty line.
  EXPECT_NE(report.find("RID: A000000004\r\n"
                        "KEY INDEX: 06\r\n"
                        "KEY MODULUS\r\n"
                        "CB26FC830B43785B\r\n"
                        "2BCE37C81ED33462\r\n"
                        "---\r\n"
                        "74037E3B34AB747F\r\n"
                        "KEY EXPONENT: 03\r\n"
                        "Terminal Capabilities: E0F0C8\r\n"
                        "Additional Capabilities: F000F0A001\r\n"
                        "Threshold Value RS: 0\r\n"
                        "Target Percent RS: 20\r\n"
                        "Maximum Target Percent RS: 60\r\n"
                        "Default DDOL: 9F3704\r\n"
                        "Default TDOL: 9F02065F2A029A039C0195059F3704\r\n"
                        "Application ID: A0000000041010.2.0002.0002.MASTERCARD\r\n"
                        "Chip Offline Floor Limit: 0\r\n"
                        "Fallback Indicator: Y\r\n"
                        "TAC Denial: 0000000000\r\n"
                        "TAC Online: FC50B8F800\r\n"
                        "TAC Default: FC50B8A000\r\n"
                        "Ctls Terminal Capabilities: E02888\r\n"
                        "Ctls Additional Capabilities: F000F0A001\r\n"
                        "Ctls Application ID: A0000000041010.1.193\r\n"
                        "Ctls Chip Offline Floor Limit: 000\r\n"
                        "CtlsTranLimit: 000\r\n"
                        "CtlsCVMLimit: 2500\r\n"
                        "Ctls TAC Denial: 0000000000\r\n"
                        "Ctls TAC Online: FC509C8800\r\n"
                        "Ctls TAC Default: FC509C8800\r\n"
                        "\r\n"
                        "   CARD ASSOCIATION: AMERICAN EXPRESS   \r\n"
                        "RID: A000000025\r\n"),
            std::string::npos);

  EXPECT_EQ(Count(report, "\r\nRID: "), 12u);
  const std::size_t visa = report.find("CARD ASSOCIATION: VISA");
  const std::size_t mastercard = report.find("CARD ASSOCIATION: MASTERCARD");
  const std::size_t amex = report.find("CARD ASSOCIATION: AMERICAN EXPRESS");
  const std::size_t discover = report.find("       CARD ASSOCIATION: DISCOVER       \r\n");
  EXPECT_LT(visa, mastercard);
  EXPECT_LT(mastercard, amex);
  EXPECT_LT(amex, discover);
  ASSERT_NE(discover, std::string::npos);
  EXPECT_TRUE(EndsWith(report, "Ctls TAC Default: 0000000000\r\n\r\n"));
}

TEST_F(EmvParamDownloadTest, ReportReplacesAnEarlierFile) {
  std::filesystem::create_directory(dir_ / "PARAM_LOADS");
  {
    std::ofstream old(ReportPath(), std::ios::binary);
    old << std::string(20000, 'Z');
  }
  CRequest record = DownloadRecord();
  BuildAdminResponseBody(record, server_.context());
  const std::string report = ReadBytes(ReportPath());
  EXPECT_EQ(report.find("             EMV PARAMETERS"), 0u);
  EXPECT_EQ(report.find('Z'), std::string::npos);
  // Nothing but the report is left behind in the directory.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "PARAM_LOADS"),
                          std::filesystem::directory_iterator{}),
            1);
}

TEST_F(EmvParamDownloadTest, BlockedReportDirectoryIsLoggedAndTheAnswerStillBuilt) {
  {
    std::ofstream blocker(dir_ / "PARAM_LOADS", std::ios::binary);
    blocker << "x";
  }
  CRequest record = DownloadRecord();
  const std::string body = BuildAdminResponseBody(record, server_.context());
  EXPECT_NE(body.find("<PKeyMOD12>"), std::string::npos);
  EXPECT_NE(body.find("\t</EMVParamDownload>\r\n"), std::string::npos);

  EXPECT_NE(Logged().find("error at CreateDirectory: " + std::to_string(ENOTDIR) + "(" +
                          SystemErrorText(ENOTDIR) + ")"),
            std::string::npos);
  ASSERT_TRUE(std::filesystem::is_regular_file(dir_ / "PARAM_LOADS"));
  EXPECT_EQ(ReadBytes(dir_ / "PARAM_LOADS"), "x");
}

}  // namespace
}  // namespace paxelle
