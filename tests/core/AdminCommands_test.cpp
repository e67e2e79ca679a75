// The locally answered commands: server version, payment types and the
// offline-declined chip sale, encrypted on success and 4020 in clear otherwise.
#include "core/AdminCommands.h"

#include "core/Request.h"
#include "core/RequestCrypto.h"
#include "core/Version.h"
#include "tests/core/FrameText.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/core/ReversingCrypto.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace paxelle {
namespace {

using namespace testing::frame_text;
using testing::HexOfReversed;
using testing::kSessionKeyHex;
using testing::ContextFixture;
using testing::ReversingCrypto;

std::string Encrypted(const std::string& document) { return FS + "200" + STX + HexOfReversed(document) + ETX; }

// A whole local answer: Server, the code, Success, the text, the trace, the body.
std::string Answer(const std::string& code, const std::string& text, const std::string& body) {
  return "<?xml version=\"1.0\"?>\r\n"
         "<RStream>\r\n"
         "\t<CmdResponse>\r\n"
         "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
         "\t\t<OPXXReturnCode>" + code + "</OPXXReturnCode>\r\n"
         "\t\t<CmdStatus>Success</CmdStatus>\r\n"
         "\t\t<TextResponse>" + text + "</TextResponse>\r\n"
         "\t\t<UserTraceData>lane 3</UserTraceData>\r\n"
         "\t</CmdResponse>\r\n" +
         body +
         "</RStream>\r\n";
}

const std::string kEncryptFailedAnswer = Clear(
    "<?xml version=\"1.0\"?>\r\n"
    "<RStream>\r\n"
    "\t<CmdResponse>\r\n"
    "\t\t<ResponseOrigin>Server</ResponseOrigin>\r\n"
    "\t\t<OPXXReturnCode>004020</OPXXReturnCode>\r\n"
    "\t\t<CmdStatus>Error</CmdStatus>\r\n"
    "\t\t<TextResponse>Internal Server Error! Could Not Encrypt Response CALL PROVIDER.</TextResponse>\r\n"
    "\t\t<UserTraceData>lane 3</UserTraceData>\r\n"
    "\t</CmdResponse>\r\n"
    "</RStream>\r\n");

CRequest Record(int tranCodeId) {
  CRequest record;
  record.TranCodeId = tranCodeId;
  record.StreamType = "Admin";
  record.Disposition = kDispositionProcess;
  record.ClientKeyBlob = kSessionKeyHex;
  record.UserTraceData = "lane 3";
  return record;
}

class AdminCommandsTest : public ::testing::Test {
 protected:
  ContextFixture server_;  // merchant 123456789012345, terminal 12345678
  ReversingCrypto crypto_{server_.context()};
};

TEST_F(AdminCommandsTest, ServerVersionDocument) {
  CRequest record = Record(kServerVersion);
  const std::string answer = BuildServerVersion(record, &crypto_);
  EXPECT_EQ(answer, Encrypted(Answer("500000", "Paxelle XML Version WH 5.10",
                                     "\t<ServerVersion>\r\n"
                                     "\t\t<ProductName>Paxelle</ProductName>\r\n"
                                     "\t\t<ProductClass>Host Based</ProductClass>\r\n"
                                     "\t\t<Provider>WorldPay</Provider>\r\n"
                                     "\t\t<ProductVersion>WH 5.10</ProductVersion>\r\n"
                                     "\t</ServerVersion>\r\n")));
  EXPECT_EQ(record.WireResponse, answer);
  EXPECT_EQ(record.Disposition, kDispositionProcess);
  EXPECT_EQ(kServerVersionText, "Paxelle XML Version WH 5.10");
}

TEST_F(AdminCommandsTest, PaymentTypesFollowEmvSupport) {
  struct Case {
    const char* emvSupport;
    const char* types;
  };
  const Case cases[] = {{"2", "Credit,Debit"}, {"1", "Credit"}, {"0", "None"}, {"7", "None"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.emvSupport);
    server_.Configure({{kParamEmvSupport, c.emvSupport}});
    CRequest record = Record(kGetPaxelleParms);
    EXPECT_EQ(BuildPaymentTypes(record, server_.context()),
              Encrypted(Answer("500001", "Success",
                               "\t<GetPaxelleParams>\r\n"
                               "\t<PaymentTypes>" + std::string(c.types) + "</PaymentTypes>\r\n"
                               "\t</GetPaxelleParams>\r\n")));
  }
}

TEST_F(AdminCommandsTest, OfflineDeclineAnswersTheCardsSchemeParameters) {
  CRequest record = Record(kEmvOfflineDeclinedSale);
  record.EMVAppID = "A0000000041010";
  record.State = kStateCreated;
  EXPECT_EQ(BuildOfflineDecline(record, &crypto_),
            Encrypted(Answer("500000", "Paxelle XML Version WH 5.10",
                             "\t<OfflineDecline>\r\n"
                             "\t\t<EMVParamsRid1>A000000004</EMVParamsRid1>\r\n"
                             "\t\t<AidList1>A0000000041010.2.0002.0002.MASTERCARD</AidList1>\r\n"
                             "\t\t<FloorLimit1>0</FloorLimit1>\r\n"
                             "\t\t<RSThreshold1>0</RSThreshold1>\r\n"
                             "\t\t<TargetRSPercent1>20</TargetRSPercent1>\r\n"
                             "\t\t<MaxTargetRSPercent1>60</MaxTargetRSPercent1>\r\n"
                             "\t\t<FallBackIndicator1>Y</FallBackIndicator1>\r\n"
                             "\t\t<TACDefault1>FC50B8A000</TACDefault1>\r\n"
                             "\t\t<TACDenial1>0000000000</TACDenial1>\r\n"
                             "\t\t<TACOnline1>FC50B8F800</TACOnline1>\r\n"
                             "\t\t<DefaultDDOL1>9F3704</DefaultDDOL1>\r\n"
                             "\t\t<DefaultTDOL1>9F02065F2A029A039C0195059F3704</DefaultTDOL1>\r\n"
                             "\t\t<TerminalCapabilities1>E0F0C8</TerminalCapabilities1>\r\n"
                             "\t\t<AdditionalCapabilities1>F000F0A001</AdditionalCapabilities1>\r\n"
                             "\t\t<CtlsAidList1>A0000000041010.1.193</CtlsAidList1>\r\n"
                             "\t\t<CtlsFloorLimit1>000</CtlsFloorLimit1>\r\n"
                             "\t\t<CtlsTranLimit1>000</CtlsTranLimit1>\r\n"
                             "\t\t<CtlsCVMLimit1>2500</CtlsCVMLimit1>\r\n"
                             "\t\t<CtlsTACDefault1>FC509C8800</CtlsTACDefault1>\r\n"
                             "\t\t<CtlsTACDenial1>0000000000</CtlsTACDenial1>\r\n"
                             "\t\t<CtlsTACOnline1>FC509C8800</CtlsTACOnline1>\r\n"
                             "\t\t<CtlsTerminalCapabilities1>E02888</CtlsTerminalCapabilities1>\r\n"
                             "\t\t<CtlsAdditionalCapabilities1>F000F0A001</CtlsAdditionalCapabilities1>\r\n"
                             "\t</OfflineDecline>\r\n")));
  // Answered here: nothing about the record suggests a host exchange.
  EXPECT_EQ(record.State, kStateCreated);
  EXPECT_EQ(record.HostRequest, "");
}

TEST_F(AdminCommandsTest, OfflineDeclineForAnUnknownSchemeHasNoElementLines) {
  const std::string emptyBody = "\t<OfflineDecline>\r\n\t</OfflineDecline>\r\n";
  for (const char* appId : {"A0000000651010", "A00000000", "", "a0000000041010"}) {
    SCOPED_TRACE(appId);
    CRequest record = Record(kEmvOfflineDeclinedSale);
    record.EMVAppID = appId;
    EXPECT_EQ(BuildOfflineDecline(record, &crypto_), Encrypted(Answer("500000", "Paxelle XML Version WH 5.10", emptyBody)));
  }
}

TEST_F(AdminCommandsTest, VisaAndDiscoverUseTheirOwnRecords) {
  CRequest visa = Record(kEmvOfflineDeclinedSale);
  visa.EMVAppID = "A0000000032010";
  const std::string visaAnswer = BuildOfflineDecline(visa, &crypto_);
  EXPECT_NE(visaAnswer.find(HexOfReversed("\t\t<DefaultTDOL1>NotUsed</DefaultTDOL1>\r\n")), std::string::npos);

  CRequest discover = Record(kEmvOfflineDeclinedSale);
  discover.EMVAppID = "A0000001523010";
  const std::string discoverAnswer = BuildOfflineDecline(discover, &crypto_);
  EXPECT_NE(discoverAnswer.find(HexOfReversed("\t\t<EMVParamsRid1>A000000152</EMVParamsRid1>\r\n")),
            std::string::npos);
  EXPECT_NE(discoverAnswer.find(HexOfReversed("\t\t<TACOnline1>FCE09CF800</TACOnline1>\r\n")), std::string::npos);
}

using Builder = std::string (*)(CRequest&, CServerContext&);

struct NamedBuilder {
  const char* name;
  int tranCodeId;
  Builder build;
};

const NamedBuilder kBuilders[] = {
    {"ServerVersion", kServerVersion,
     [](CRequest& record, CServerContext& context) { return BuildServerVersion(record, context.requestCrypto); }},
    {"GetPaxelleParms", kGetPaxelleParms,
     [](CRequest& record, CServerContext& context) { return BuildPaymentTypes(record, context); }},
    {"EMVOfflineDeclinedSale", kEmvOfflineDeclinedSale,
     [](CRequest& record, CServerContext& context) { return BuildOfflineDecline(record, context.requestCrypto); }},
};

TEST_F(AdminCommandsTest, EncryptionFailureAnswers4020InClear) {
  crypto_.failEncryption = true;
  for (const NamedBuilder& builder : kBuilders) {
    SCOPED_TRACE(builder.name);
    CRequest record = Record(builder.tranCodeId);
    record.EMVAppID = "A0000000041010";
    EXPECT_EQ(builder.build(record, server_.context()), kEncryptFailedAnswer);
    EXPECT_EQ(record.Disposition, kDispositionError);
    EXPECT_EQ(record.ReturnCode, 4020);
    EXPECT_EQ(record.WireResponse, kEncryptFailedAnswer);
  }
}

TEST_F(AdminCommandsTest, UnknownSessionKeyIsAnEncryptionFailure) {
  CRequest record = Record(kServerVersion);
  record.ClientKeyBlob = "FFFF";
  EXPECT_EQ(BuildServerVersion(record, &crypto_), kEncryptFailedAnswer);
  EXPECT_EQ(record.Disposition, kDispositionError);
}

TEST(AdminCommandsWithoutCryptoTest, NoCryptoInstalledAnswers4020InClear) {
  ContextFixture server;
  ASSERT_EQ(server.context().requestCrypto, nullptr);
  for (const NamedBuilder& builder : kBuilders) {
    SCOPED_TRACE(builder.name);
    CRequest record = Record(builder.tranCodeId);
    EXPECT_EQ(builder.build(record, server.context()), kEncryptFailedAnswer);
    EXPECT_EQ(record.Disposition, kDispositionError);
  }
}

}  // namespace
}  // namespace paxelle
