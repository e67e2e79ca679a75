// The server's way to the host as a lane sees it: no host, fail-over to the second
// endpoint, a host that never answers or never stops answering, and the host
// certificate check.
#include "tests/e2e/E2eFixture.h"

#include <functional>
#include <ostream>

namespace paxelle::e2e {
namespace {

class E2eHostLinkTest : public E2eTest {
 protected:
  static std::string Localhost(std::uint16_t port) { return "localhost:" + std::to_string(port); }
};

TEST_F(E2eHostLinkTest, NoHostListeningAnswersTheConnectFailure) {
  ASSERT_NO_FATAL_FAILURE(Provision({"9=Y"}));
  const std::uint16_t closed = FreeLoopbackPort();
  ASSERT_NE(closed, 0);
  ASSERT_NO_FATAL_FAILURE(StartServer(Localhost(closed)));
  const LaneReply reply = Request(SalePairs("10.00", 2001));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_TRUE(reply.queued);
  EXPECT_EQ(reply.final.returnCodeText, "004003");
  EXPECT_EQ(reply.final.cmdStatus, "Error");
  EXPECT_NE(reply.final.textResponse.find("Socket Error Trying to Connect Error"), std::string::npos)
      << reply.final.textResponse;
  ExpectNoFullAccountAnywhere(reply.output);
}

TEST_F(E2eHostLinkTest, PrimaryDownFailsOverToTheSecondary) {
  ASSERT_NO_FATAL_FAILURE(Provision({"9=Y"}));
  ASSERT_NO_FATAL_FAILURE(StartHost());
  const std::uint16_t closed = FreeLoopbackPort();
  ASSERT_NE(closed, 0);
  ASSERT_NO_FATAL_FAILURE(StartServer(Localhost(closed), Localhost(HostPort())));
  const LaneReply reply = Request(SalePairs("10.00", 2002));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(reply.finalDocument);
  EXPECT_EQ(Journal("REQUEST").size(), 1u);
}

// The one slow case: the server waits 35 s for the answer that never comes.
TEST_F(E2eHostLinkTest, UnansweredRequestTimesOutAndIsCompletedAsNotReceived) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const LaneReply reply = Request(SalePairs("10.03", 2003), 90);
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.returnCodeText, "001007") << reply.finalDocument;
  EXPECT_EQ(reply.final.textResponse, "Timeout on Response");
  const std::vector<JournalEntry> requests = Journal("REQUEST");
  const std::vector<JournalEntry> completions = AwaitJournal("COMPLETION", 1);
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions.front().status, "REPLY NOT RECVD");
  EXPECT_EQ(StanOf(completions.front().message), StanOf(requests.front().message));
}

// A hostile host: length bytes announcing a short answer, then bytes without end.
TEST_F(E2eHostLinkTest, AnAnswerPastItsAnnouncedLengthEndsTheExchangeAtOnce) {
  ASSERT_NO_FATAL_FAILURE(Provision());
  ASSERT_NO_FATAL_FAILURE(StartHost());
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const auto start = std::chrono::steady_clock::now();
  const LaneReply reply = Request(SalePairs("10.07", 2004), 60);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << "not the 35 s answer wait";
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  EXPECT_EQ(reply.final.returnCodeText, "001007") << reply.finalDocument;
  const std::vector<JournalEntry> completions = AwaitJournal("COMPLETION", 1);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions.front().status, "REPLY NOT RECVD");
  EXPECT_TRUE(WaitForServerLog("answer refused", std::chrono::seconds(10))) << "the log says why";
  EXPECT_EQ(Request(SalePairs("10.00", 2005)).final.cmdStatus, "Approved");
}

// One row per certificate the host presents: "Y" in entry 10 has it checked.
struct CertificateCase {
  const char* name;
  std::function<std::filesystem::path(const ExtraCerts&)> cert;
  std::function<std::filesystem::path(const ExtraCerts&)> key;
  const char* verify;
  const char* textEnding;  // null: the sale is approved
};

// Test names and listings show the row's name, not its bytes.
void PrintTo(const CertificateCase& row, std::ostream* out) { *out << row.name; }

class E2eCertificateTest : public E2eTest, public ::testing::WithParamInterface<CertificateCase> {};

TEST_P(E2eCertificateTest, HostCertificateIsCheckedWhenTheMerchantAsks) {
  const CertificateCase& row = GetParam();
  const ExtraCerts& extra = Extra();
  ASSERT_FALSE(extra.key.empty());
  ASSERT_NO_FATAL_FAILURE(Provision({"9=Y", std::string("10=") + row.verify}));
  ASSERT_NO_FATAL_FAILURE(StartHost(row.cert(extra), row.key(extra)));
  ASSERT_NO_FATAL_FAILURE(StartServer());
  const LaneReply reply = Request(SalePairs("10.00", 2004));
  ASSERT_EQ(reply.exitCode, 0) << reply.error;
  if (row.textEnding == nullptr) {
    EXPECT_EQ(reply.final.cmdStatus, "Approved") << Scrubbed(reply.finalDocument);
    EXPECT_EQ(Journal("REQUEST").size(), 1u);
    return;
  }
  EXPECT_EQ(reply.final.returnCodeText, "004003") << reply.finalDocument;
  EXPECT_TRUE(reply.final.textResponse.ends_with(row.textEnding)) << reply.final.textResponse;
  // Nothing goes over a link whose certificate failed.
  EXPECT_TRUE(Journal().empty());
}

const auto kOtherNameCert = [](const ExtraCerts& extra) { return extra.otherNameCert; };
const auto kExpiredCert = [](const ExtraCerts& extra) { return extra.expiredCert; };
const auto kSharedKey = [](const ExtraCerts& extra) { return extra.key; };
const auto kSelfSignedCert = [](const ExtraCerts& extra) { return extra.selfSignedCert; };
const auto kSelfSignedKey = [](const ExtraCerts& extra) { return extra.selfSignedKey; };

INSTANTIATE_TEST_SUITE_P(
    Certificates, E2eCertificateTest,
    ::testing::Values(
        CertificateCase{"OtherNameChecked", kOtherNameCert, kSharedKey, "Y",
                        "SSL Certificate Common Name Does Not Match."},
        CertificateCase{"OtherNameNotChecked", kOtherNameCert, kSharedKey, "N", nullptr},
        CertificateCase{"Expired", kExpiredCert, kSharedKey, "Y", "SSL Certificate is Expired."},
        CertificateCase{"UntrustedRoot", kSelfSignedCert, kSelfSignedKey, "Y", "SSL Certificate - Untrusted Root"}),
    [](const ::testing::TestParamInfo<CertificateCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace paxelle::e2e
