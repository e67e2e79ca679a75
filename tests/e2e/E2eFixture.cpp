#include "tests/e2e/E2eFixture.h"

#include "tools/lane/LaneFrames.h"

#include <algorithm>
#include <functional>
#include <iostream>
#include <memory>

namespace paxelle::e2e {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr auto kHostStartLimit = seconds(10);
constexpr auto kServerStartLimit = seconds(30);
constexpr int kServerStartAttempts = 3;

const std::string kBin = PAXELLE_BIN_DIR;

struct SuiteCerts {
  testing::TempDir dir;
  hostsim::simtest::TestPki pki;
  std::unique_ptr<ExtraCerts> extra;
};

// Made once per process and kept until it ends; every test only reads it.
SuiteCerts& Certs() {
  static SuiteCerts certs;
  return certs;
}

std::uintmax_t SizeOf(const std::filesystem::path& path) {
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(path, ignored);
  return size == static_cast<std::uintmax_t>(-1) ? 0 : size;
}

std::string Tail(const std::string& text, std::size_t length) {
  return text.size() <= length ? text : "..." + text.substr(text.size() - length);
}

}  // namespace

void E2eTest::SetUpTestSuite() {
  SuiteCerts& certs = Certs();
  if (!certs.pki.caCert.empty()) return;
  std::string error;
  if (!hostsim::simtest::MakeTestPki(certs.dir.Path(), certs.pki, error)) certs.pki = {};
  ASSERT_FALSE(certs.pki.caCert.empty()) << error;
}

const hostsim::simtest::TestPki& E2eTest::Pki() { return Certs().pki; }

const ExtraCerts& E2eTest::Extra() {
  SuiteCerts& certs = Certs();
  if (!certs.extra) {
    auto extra = std::make_unique<ExtraCerts>();
    std::string error;
    const std::filesystem::path directory = certs.dir.Path() / "extra";
    std::filesystem::create_directories(directory);
    if (MakeExtraCerts(directory, certs.pki, *extra, error)) {
      certs.extra = std::move(extra);
    } else {
      ADD_FAILURE() << error;
      static const ExtraCerts none;
      return none;
    }
  }
  return *certs.extra;
}

void E2eTest::SetUp() {
  ASSERT_FALSE(Pki().caCert.empty()) << "no test certificates";
  ASSERT_FALSE(Dir().empty()) << "no temporary directory";
  std::filesystem::create_directories(WorkDir());
  sent_.Add(kTestPan);
}

void E2eTest::TearDown() {
  if (HasFailure()) {
    // What the processes said helps more than the assertion alone; card data scrubbed.
    std::cerr << "---- paxelle standard error:\n" << Scrubbed(Tail(ServerErr(), 3000)) << "\n"
              << "---- paxelle standard output:\n" << Scrubbed(Tail(ServerOut(), 2000)) << "\n"
              << "---- paxelle-hostsim standard error:\n"
              << Scrubbed(Tail(ReadText(Dir() / "hostsim.err"), 2000)) << "\n";
  }
  server_.Stop(SIGKILL, seconds(10));
  host_.Stop(SIGKILL, seconds(10));
  // Every test ends with the card-data check over all that the server, the
  // simulator and the lanes wrote: logs, state files, reports, journal, output.
  ExpectNoFullAccountAnywhere("");
}

void E2eTest::Provision(const std::vector<std::string>& values) {
  std::vector<std::string> argv = {kBin + "/paxelle", "params", "set"};
  // The test's own values take the place of the defaults for the same entries.
  for (const std::string base : {"1=123456789012345", "2=12345678", "9=N", "10=Y"}) {
    const std::string entry = base.substr(0, base.find('=') + 1);
    const bool replaced = std::any_of(values.begin(), values.end(),
                                      [&](const std::string& value) { return value.starts_with(entry); });
    if (!replaced) argv.push_back(base);
  }
  argv.insert(argv.end(), values.begin(), values.end());
  argv.insert(argv.end(), {"--params", (Dir() / "params").string()});
  const ToolResult result = RunToEnd(argv, Dir(), seconds(30));
  ASSERT_EQ(result.exitCode, 0) << result.err;
}

void E2eTest::StartHost(const std::filesystem::path& cert, const std::filesystem::path& key,
                        const std::vector<std::string>& extra) {
  const std::filesystem::path out = Dir() / ("hostsim" + std::to_string(++hostStarts_) + ".out");
  std::vector<std::string> argv = {kBin + "/paxelle-hostsim", "--port", "0", "--cert", cert.string(), "--key",
                                   key.string(), "--journal", (Dir() / "journal").string()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  std::string error;
  ASSERT_TRUE(host_.Start(argv, out, Dir() / "hostsim.err", error)) << error;
  const std::string prefix = "paxelle-hostsim listening on 127.0.0.1:";
  hostPort_ = 0;
  const auto reportedOrEnded = [&] {
    const std::string text = ReadText(out);
    if (const std::size_t at = text.find(prefix); at != std::string::npos) {
      const std::size_t end = text.find('\n', at);
      if (end != std::string::npos) hostPort_ = static_cast<std::uint16_t>(std::stoi(text.substr(at + prefix.size())));
    }
    return hostPort_ != 0 || !host_.Running();
  };
  ASSERT_TRUE(testing::WaitFor("paxelle-hostsim to report its port", reportedOrEnded, kHostStartLimit, kPollStep));
  ASSERT_NE(hostPort_, 0) << "paxelle-hostsim ended: " << ReadText(Dir() / "hostsim.err");
}

void E2eTest::StartHost(const std::vector<std::string>& extra) {
  StartHost(Pki().serverCert, Pki().serverKey, extra);
}

void E2eTest::StartServer(const std::string& primary, const std::string& secondary) {
  const std::filesystem::path errFile = Dir() / "paxelle.err";
  for (int attempt = 1; attempt <= kServerStartAttempts; ++attempt) {
    clientPort_ = FreeLoopbackPort();
    ASSERT_NE(clientPort_, 0) << "no free loopback port";
    std::vector<std::string> argv = {kBin + "/paxelle",
                                     "--headless",
                                     "--workdir",
                                     WorkDir().string(),
                                     "--params",
                                     (Dir() / "params").string(),
                                     "--keystore",
                                     (Dir() / "keys").string(),
                                     "--client-port",
                                     std::to_string(clientPort_),
                                     "--host",
                                     primary.empty() ? "localhost:" + std::to_string(hostPort_) : primary,
                                     "--host-ca",
                                     Pki().caCert.string()};
    if (!secondary.empty()) argv.insert(argv.end(), {"--secondary-host", secondary});
    argv.insert(argv.end(), serverArgs_.begin(), serverArgs_.end());
    const std::uintmax_t errorsBefore = SizeOf(errFile);
    std::string error;
    ASSERT_TRUE(server_.Start(argv, Dir() / "paxelle.out", errFile, error)) << error;
    bool accepted = false;
    const auto settled = [&] {
      accepted = PortAccepts(clientPort_);
      // Another process took the port meanwhile: the server stays up with its
      // interfaces stopped; try another port.
      return accepted || !server_.Running() ||
             ReadText(errFile).substr(errorsBefore).find("Failed to start TCP/IP Server!") != std::string::npos;
    };
    ASSERT_TRUE(testing::WaitFor("paxelle to accept lanes", settled, kServerStartLimit, kPollStep));
    if (accepted) return;
    ASSERT_TRUE(server_.Running()) << "paxelle ended at start-up";
    server_.Stop(SIGKILL, seconds(10));
  }
  FAIL() << "paxelle found no free client port";
}

int E2eTest::StopServer(int signal, milliseconds limit) { return server_.Stop(signal, limit); }

LaneReply E2eTest::Request(const std::vector<std::string>& pairs, int timeoutSeconds) {
  std::vector<std::string> argv = {kBin + "/opx-lane",
                                   "--server",
                                   "127.0.0.1:" + std::to_string(clientPort_),
                                   "--timeout",
                                   std::to_string(timeoutSeconds),
                                   "request"};
  argv.insert(argv.end(), pairs.begin(), pairs.end());
  sent_.AddRequestPairs(pairs);
  const ToolResult result = RunToEnd(argv, Dir(), seconds(timeoutSeconds + 20));
  LaneReply reply;
  reply.exitCode = result.exitCode;
  reply.output = result.out;
  reply.error = result.err;
  reply.documents = SplitDocuments(result.out);
  if (!reply.documents.empty()) {
    reply.finalDocument = reply.documents.back();
    static_cast<void>(lane::ParseCommandResponse(reply.finalDocument, reply.final));
    lane::CommandResponse first;
    reply.queued = reply.documents.size() > 1 && lane::ParseCommandResponse(reply.documents.front(), first).ok() &&
                   lane::IsQueuedReply(first);
  }
  return reply;
}

void E2eTest::LogIn(lane::LaneConnection& lane) {
  ASSERT_TRUE(lane.Connect("127.0.0.1", clientPort_, seconds(5))) << lane.LastError();
  lane::LoginResult result;
  ASSERT_TRUE(lane.Login("", false, result)) << lane.LastError();
  ASSERT_TRUE(result.verified) << result.code << " " << result.text;
}

bool E2eTest::ReadFinal(lane::LaneConnection& lane, milliseconds limit, std::string& document,
                        lane::CommandResponse& response, bool* queued) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left <= milliseconds(0)) return false;
    lane::LaneResponse frame;
    if (lane.ReadResponse(left, frame) != lane::ReadStatus::kOk) return false;
    if (!lane::ParseCommandResponse(frame.document, response).ok()) return false;
    if (lane::IsQueuedReply(response)) {
      if (queued != nullptr) *queued = true;
      continue;
    }
    document = SplitDocuments(frame.document).empty() ? frame.document : SplitDocuments(frame.document).front();
    return true;
  }
}

std::string E2eTest::GreetingKey() {
  lane::LaneConnection lane;
  if (!lane.Connect("127.0.0.1", clientPort_, seconds(5))) return {};
  lane::LaneResponse greeting;
  if (lane.ReadResponse(seconds(10), greeting) != lane::ReadStatus::kOk) return {};
  const std::size_t start = greeting.document.find(lane::kDc1);
  const std::size_t end = greeting.document.find(lane::kDc2, start == std::string::npos ? 0 : start);
  if (start == std::string::npos || end == std::string::npos) return {};
  return greeting.document.substr(start + 1, end - start - 1);
}

std::vector<JournalEntry> E2eTest::Journal(const std::string& kind) const {
  std::vector<JournalEntry> entries;
  for (const std::string& line : ReadLines(Dir() / "journal")) {
    JournalEntry entry = ParseJournalLine(line);
    if (kind.empty() || entry.kind == kind) entries.push_back(std::move(entry));
  }
  return entries;
}

std::vector<JournalEntry> E2eTest::AwaitJournal(const std::string& kind, std::size_t count,
                                                std::chrono::milliseconds limit) const {
  std::vector<JournalEntry> entries;
  testing::WaitFor(
      "the journal's entries",
      [&] {
        entries = Journal(kind);
        return entries.size() >= count;
      },
      limit, kPollStep);
  return entries;
}

std::string E2eTest::ServerOut() const { return ReadText(Dir() / "paxelle.out"); }
std::string E2eTest::ServerErr() const { return ReadText(Dir() / "paxelle.err"); }

std::string E2eTest::ServerLog() const {
  std::vector<std::filesystem::path> files;
  std::error_code ignored;
  for (const auto& item : std::filesystem::directory_iterator(WorkDir() / "KELVARA_LOGS", ignored)) {
    files.push_back(item.path());
  }
  std::sort(files.begin(), files.end());
  std::string text;
  for (const auto& file : files) text += ReadText(file);
  return text;
}

namespace {

// Polls `read` until what it returns holds `text`, at most `limit`.
::testing::AssertionResult WaitForText(const std::function<std::string()>& read, const std::string& text,
                                       milliseconds limit) {
  return testing::WaitFor(
      "\"" + text + "\"", [&] { return read().find(text) != std::string::npos; }, limit, kPollStep);
}

}  // namespace

::testing::AssertionResult E2eTest::WaitForServerOut(const std::string& text, milliseconds limit) const {
  return WaitForText([this] { return ServerOut(); }, text, limit);
}

::testing::AssertionResult E2eTest::WaitForServerLog(const std::string& text, milliseconds limit) const {
  return WaitForText([this] { return ServerLog(); }, text, limit);
}

void E2eTest::ExpectNoFullAccountAnywhere(const std::string& laneOutput) const {
  const auto inOutput = testing::ScanBytes(laneOutput, sent_);
  EXPECT_EQ(testing::FailingCount(inOutput), 0u) << "the lane's output:\n" << testing::DescribeFindings(inOutput);
  const auto inFiles = testing::ScanFiles(Dir(), sent_);
  const std::size_t failing = testing::FailingCount(inFiles);
  EXPECT_EQ(failing, 0u) << testing::DescribeFindings(inFiles);
  if (failing == 0 && !inFiles.empty()) {
    std::cerr << "card-data check: patterns to judge (not sent by the test):\n" << testing::DescribeFindings(inFiles);
  }
}

std::vector<std::string> E2eTest::SalePairs(const std::string& amount, int number, const std::string& tranCode,
                                            int lane) {
  const std::string text = std::to_string(number);
  return {"TStream=Transaction", "MerchantID=1", "ClientID=" + std::to_string(lane), "TranType=Credit",
          "TranCode=" + tranCode,
          "InvoiceNo=" + text, "RefNo=" + text, "AcctNo=" + kTestPan, "ExpDate=1229", "Purchase=" + amount};
}

}  // namespace paxelle::e2e
