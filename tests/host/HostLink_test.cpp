#include "host/HostLink.h"

#include "config/ParamStore.h"
#include "tests/core/ParserTestSupport.h"
#include "tests/config/TempDir.h"
#include "tests/host/LoopbackSockets.h"
#include "tests/host/StateTestSupport.h"
#include "tests/host/StopLater.h"
#include "tests/hostsim/SimTestSupport.h"
#include "tests/support/WaitFor.h"
#include "tools/hostsim/StopSignal.h"
#include "tools/hostsim/TlsStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace paxelle {
namespace {

namespace fs = std::filesystem;
using testing::LoopbackListener;
using testing::StopLater;
using hostsim::IoResult;
using hostsim::TlsStream;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr milliseconds kConnectTimeout{3000};
// Far longer than an exchange takes when it works; a case that runs into it has waited
// for a time-out it should not have waited for.
constexpr milliseconds kLongTimeout{60000};
constexpr auto kWellBeforeTheTimeout = std::chrono::seconds(30);
constexpr auto kHostPatience = std::chrono::seconds(20);

// ---------------------------------------------------------------------------------------
// Certificates, made with the openssl command once for all cases.

struct LinkPki {
  fs::path caCert;        // trusted through the extra CA file
  fs::path key;           // the key of every host certificate below
  fs::path localhost;     // "localhost" and 127.0.0.1, server use, from the trusted CA
  fs::path otherName;     // "other.example" from the trusted CA
  fs::path expired;       // "localhost", valid only on 1 January 2020
  fs::path clientOnly;    // "localhost", client use only
  fs::path selfSigned;    // "localhost", its own issuer
  fs::path foreignLeaf;   // "localhost" from a CA nobody trusts, sent alone
  fs::path foreignChain;  // the same with that CA's certificate behind it
};

bool RunOpenSsl(const std::vector<std::string>& args, const fs::path& log) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("openssl"));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, "openssl", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  if (!testing::WaitFor("openssl to end", [&] { return ::waitpid(pid, &status, WNOHANG) != 0; },
                        std::chrono::seconds(60))) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WriteText(const fs::path& path, const std::string& text) { std::ofstream(path) << text; }

bool MakeLinkPki(const fs::path& dir, LinkPki& pki, std::string& error) {
  hostsim::simtest::TestPki base;
  if (!hostsim::simtest::MakeTestPki(dir, base, error)) return false;
  const auto in = [&](const char* name) { return (dir / name).string(); };
  const fs::path log = dir / "link-openssl.log";
  WriteText(dir / "other.ext", "subjectAltName=DNS:other.example\nextendedKeyUsage=serverAuth\n");
  WriteText(dir / "client.ext", "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=clientAuth\n");
  // "openssl x509" of this OpenSSL cannot back-date a certificate; "openssl ca" can.
  fs::create_directory(dir / "issued");
  WriteText(dir / "index.txt", "");
  WriteText(dir / "serial", "01\n");
  WriteText(dir / "ca.cnf", "[ ca ]\ndefault_ca = test_ca\n[ test_ca ]\ndatabase = " + in("index.txt") +
                                "\nnew_certs_dir = " + in("issued") + "\nserial = " + in("serial") +
                                "\ndefault_md = sha256\npolicy = any_name\nunique_subject = no\n"
                                "[ any_name ]\ncommonName = supplied\n");
  const std::vector<std::string> sign = {"x509", "-req", "-days", "2", "-CAcreateserial"};
  const auto signedBy = [&](const char* csr, const char* ca, const char* caKey, const char* ext, const char* out) {
    std::vector<std::string> args = sign;
    args.insert(args.end(), {"-in", in(csr), "-CA", in(ca), "-CAkey", in(caKey), "-extfile", in(ext), "-out", in(out)});
    return RunOpenSsl(args, log);
  };
  const bool made =
      RunOpenSsl({"req", "-new", "-key", base.serverKey.string(), "-subj", "/CN=localhost", "-out", in("host.csr")},
                 log) &&
      RunOpenSsl({"req", "-new", "-key", base.serverKey.string(), "-subj", "/CN=other.example", "-out",
                  in("other.csr")},
                 log) &&
      signedBy("other.csr", "ca.pem", "ca.key", "other.ext", "other.pem") &&
      signedBy("host.csr", "ca.pem", "ca.key", "client.ext", "client-only.pem") &&
      RunOpenSsl({"ca", "-batch", "-config", in("ca.cnf"), "-cert", in("ca.pem"), "-keyfile", in("ca.key"), "-in",
                  in("host.csr"), "-out", in("expired.pem"), "-startdate", "20200101000000Z", "-enddate",
                  "20200102000000Z", "-extfile", in("server.ext"), "-notext"},
                 log) &&
      RunOpenSsl({"req", "-x509", "-key", base.serverKey.string(), "-subj", "/CN=localhost", "-days", "2",
                  "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-addext",
                  "extendedKeyUsage=serverAuth", "-out", in("self-signed.pem")},
                 log) &&
      RunOpenSsl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                  in("foreign-ca.key"), "-out", in("foreign-ca.pem"), "-days", "2", "-subj", "/CN=Foreign Test CA",
                  "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
                 log) &&
      signedBy("host.csr", "foreign-ca.pem", "foreign-ca.key", "server.ext", "foreign-leaf.pem");
  if (!made) {
    std::ifstream text(log);
    error = "openssl failed: " + std::string(std::istreambuf_iterator<char>(text), {});
    return false;
  }
  WriteText(dir / "foreign-chain.pem",
            testing::ReadBytes(dir / "foreign-leaf.pem") + testing::ReadBytes(dir / "foreign-ca.pem"));
  pki = {base.caCert,        base.serverKey,         base.serverCert,      in("other.pem"),
         in("expired.pem"),  in("client-only.pem"),  in("self-signed.pem"), in("foreign-leaf.pem"),
         in("foreign-chain.pem")};
  return true;
}

// ---------------------------------------------------------------------------------------
// A TLS host on 127.0.0.1 that serves each connection with a script.

// What the host saw of one connection.
struct Visit {
  bool handshook = false;
  std::string version;      // the protocol agreed on
  std::string received;     // what the link sent, framing included
  IoResult leaving = IoResult::kFailed;  // how the link ended the connection
  std::string leavingText;
};

// One connection as a script sees it, after the handshake.
class HostSession {
 public:
  HostSession(TlsStream& stream, int fd, Visit& visit) : stream_(stream), fd_(fd), visit_(visit) {}

  // Reads one request (length bytes and message) into the visit; false when none came.
  bool ReadRequest() {
    std::string header;
    if (stream_.ReadExact(2, header, kHostPatience) != IoResult::kOk) return false;
    const std::size_t length = static_cast<unsigned char>(header[0]) * 256u + static_cast<unsigned char>(header[1]);
    std::string message;
    const IoResult result = stream_.ReadExact(length, message, kHostPatience);
    visit_.received += header + message;
    return result == IoResult::kOk;
  }
  bool Write(const std::string& bytes) { return stream_.WriteAll(bytes, kHostPatience) == IoResult::kOk; }
  // Bytes straight onto the connection, past the TLS layer.
  bool WriteRaw(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Waits until the link leaves and notes how it did.
  void AwaitLeaving() {
    std::string ignored;
    visit_.leaving = stream_.ReadExact(1, ignored, kHostPatience);
    visit_.leavingText = stream_.LastError();
  }
  // Sends the close notice and closes the connection.
  void EndSession() { stream_.Close(); }
  // Drops the connection with a reset, without a close notice.
  void Reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    // Swapping in a fresh socket closes the connection now and leaves the stream a
    // descriptor of its own to close later.
    const int spare = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::dup2(spare, fd_);
    ::close(spare);
  }

 private:
  TlsStream& stream_;
  int fd_;
  Visit& visit_;
};

using HostScript = std::function<void(HostSession&)>;

struct HostSettings {
  fs::path chain;
  fs::path key;
  int onlyVersion = 0;  // a single protocol version to offer; 0: TLS 1.2 and later
};

class TestHost {
 public:
  TestHost() = default;
  ~TestHost() {
    stop_.Raise();
    if (thread_.joinable()) thread_.join();
    SSL_CTX_free(context_);
  }
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  bool Start(const HostSettings& settings, HostScript script, std::string& error) {
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr || SSL_CTX_use_certificate_chain_file(context_, settings.chain.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, settings.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      error = "cannot load the host certificate " + settings.chain.string();
      return false;
    }
    SSL_CTX_set_num_tickets(context_, 0);  // nothing unasked for travels after the handshake
    if (settings.onlyVersion != 0) {
      SSL_CTX_set_security_level(context_, 0);
      SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0");
      SSL_CTX_set_min_proto_version(context_, settings.onlyVersion);
      SSL_CTX_set_max_proto_version(context_, settings.onlyVersion);
    } else {
      SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    }
    if (!listener_.Valid()) {
      error = "cannot listen on 127.0.0.1";
      return false;
    }
    thread_ = std::thread([this, script = std::move(script)] { Serve(script); });
    return true;
  }

  int Port() const { return listener_.Port(); }

  // The visits of the first `count` connections, once they are over (fewer when they do
  // not end within the host's patience).
  std::vector<Visit> Visits(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kHostPatience, [&] { return visits_.size() >= count; });
    return visits_;
  }

 private:
  void Serve(const HostScript& script) {
    for (;;) {
      pollfd watch[2] = {{listener_.Fd(), POLLIN, 0}, {stop_.Fd(), POLLIN, 0}};
      if (::poll(watch, 2, -1) < 0 || watch[1].revents != 0) return;
      const int fd = ::accept4(listener_.Fd(), nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Visit visit;
      {
        TlsStream stream(context_, fd, TlsStream::Side::kServer, stop_.Fd());
        visit.handshook = stream.Handshake(kHostPatience) == IoResult::kOk;
        if (visit.handshook) {
          visit.version = SSL_get_version(stream.Native());
          HostSession session(stream, fd, visit);
          script(session);
        }
      }
      std::lock_guard<std::mutex> lock(mutex_);
      visits_.push_back(std::move(visit));
      changed_.notify_all();
    }
  }

  SSL_CTX* context_ = nullptr;
  LoopbackListener listener_;
  hostsim::StopSignal stop_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Visit> visits_;
};

std::string Framed(const std::string& message) {
  return std::string{static_cast<char>(message.size() >> 8), static_cast<char>(message.size() & 0xFF)} + message;
}

CRequest RequestOf(const std::string& hostRequest) {
  CRequest record;
  record.HostRequest = hostRequest;
  return record;
}

bool LeftCleanly(const Visit& visit) {
  return visit.leaving == IoResult::kClosed && visit.leavingText.find("closed the connection") != std::string::npos;
}

// ---------------------------------------------------------------------------------------

class HostLinkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::signal(SIGPIPE, SIG_IGN);  // as the server does; the test host writes through OpenSSL
    pkiDir_ = std::make_unique<testing::TempDir>();
    pkiReady_ = MakeLinkPki(pkiDir_->Path(), pki_, pkiError_);
  }
  static void TearDownTestSuite() { pkiDir_.reset(); }

  void SetUp() override {
    ASSERT_TRUE(pkiReady_) << pkiError_;
    SetVerifyCertificate(true);
    ASSERT_TRUE(security_.Load(pki_.caCert.string())) << security_.LastErrorText();
  }

  void SetVerifyCertificate(bool verify) {
    CMerchantParams params;
    ASSERT_TRUE(params.SetValue(kParamVerifyCertificate, verify ? "Y" : "N"));
    ASSERT_TRUE(server_.context().params.Save(params));
  }

  void StartHost(TestHost& host, HostScript script, const fs::path& chain = pki_.localhost) {
    std::string error;
    ASSERT_TRUE(host.Start({chain, pki_.key}, std::move(script), error)) << error;
  }

  // A host that answers one request with `raw` bytes and then waits for the link to leave.
  void StartAnsweringHost(TestHost& host, const std::string& raw) {
    StartHost(host, [raw](HostSession& session) {
      if (session.ReadRequest()) session.Write(raw);
      session.AwaitLeaving();
    });
  }

  void ConnectAndSend(CHostLink& link, const TestHost& host, const std::string& request) {
    ASSERT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << link.LastErrorText();
    ASSERT_TRUE(link.SetRequest(RequestOf(request)));
  }

  static LinkPki pki_;
  static bool pkiReady_;
  static std::string pkiError_;
  static std::unique_ptr<testing::TempDir> pkiDir_;

  testing::ContextFixture server_;
  CSecurityInterface security_;
};

LinkPki HostLinkTest::pki_;
bool HostLinkTest::pkiReady_ = false;
std::string HostLinkTest::pkiError_;
std::unique_ptr<testing::TempDir> HostLinkTest::pkiDir_;

// --- the exchange --------------------------------------------------------------------------

TEST_F(HostLinkTest, ACreditSaleIsApprovedByTheRealSimulator) {
  hostsim::simtest::SimProcess simulator;
  std::string error;
  ASSERT_TRUE(simulator.Start({"--port", "0", "--cert", pki_.localhost.string(), "--key", pki_.key.string()},
                              server_.directory() / "sim.err", error))
      << error;
  const std::uint16_t port = simulator.ReadListeningPort(std::chrono::seconds(10));
  ASSERT_NE(port, 0);
  CHostLink link(security_, server_.context());
  ASSERT_TRUE(link.Connect("localhost", port, kConnectTimeout)) << link.LastErrorText();
  ASSERT_TRUE(link.SetRequest(RequestOf(hostsim::simtest::CreditSale(hostsim::simtest::Head{}))));
  ASSERT_TRUE(link.Exchange()) << link.LastErrorText();
  EXPECT_FALSE(link.TimedOut());
  EXPECT_EQ(link.Response().substr(76, 28), "000012500000APPROVED        ");
  link.Close();
}

TEST_F(HostLinkTest, TheRequestGoesOutFramedAndTheAnswerComesBackWithoutItsLengthBytes) {
  TestHost host;
  StartAnsweringHost(host, Framed("APPROVED ANSWER"));
  const std::string request(300, 'R');
  {
    CHostLink link(security_, server_.context());
    ConnectAndSend(link, host, request);
    ASSERT_TRUE(link.Exchange()) << link.LastErrorText();
    EXPECT_FALSE(link.TimedOut());
    EXPECT_EQ(link.Response(), "APPROVED ANSWER");
  }  // leaving scope closes the link
  const auto visits = host.Visits(1);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0].received.substr(0, 2), std::string("\x01\x2C", 2));
  EXPECT_EQ(visits[0].received.substr(2), request);
  EXPECT_EQ(visits[0].version, "TLSv1.3") << "the highest version is offered";
  EXPECT_TRUE(LeftCleanly(visits[0])) << visits[0].leavingText;
}

TEST_F(HostLinkTest, OnlyMessagesOfTwoCharactersOrMoreAreFramed) {
  TestHost host;
  StartAnsweringHost(host, Framed("OK"));
  CHostLink link(security_, server_.context());
  ASSERT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << link.LastErrorText();
  EXPECT_TRUE(link.SetRequest(RequestOf("AB")));
  EXPECT_FALSE(link.SetRequest(RequestOf("")));
  EXPECT_FALSE(link.SetRequest(RequestOf("Z")));
  ASSERT_TRUE(link.Exchange()) << link.LastErrorText();
  link.Close();
  const auto visits = host.Visits(1);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0].received, std::string("\x00\x02" "AB", 4)) << "a refused message leaves the request as it was";
}

TEST_F(HostLinkTest, AnUnframedRequestSendsNothingAndFindsNoAnswer) {
  TestHost host;
  StartAnsweringHost(host, Framed("NEVER"));
  CHostLink link(security_, server_.context());
  ASSERT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << link.LastErrorText();
  EXPECT_FALSE(link.SetRequest(RequestOf("")));
  EXPECT_FALSE(link.Exchange(milliseconds(200)));
  EXPECT_TRUE(link.TimedOut());
  link.Close();
  const auto visits = host.Visits(1);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0].received, "");
}

TEST_F(HostLinkTest, AnAnswerOfTwoLengthBytesAnnouncingZeroIsAnEmptyResponse) {
  TestHost host;
  StartAnsweringHost(host, std::string(2, '\0'));
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  ASSERT_TRUE(link.Exchange(kLongTimeout)) << link.LastErrorText();
  EXPECT_EQ(link.Response(), "");
  EXPECT_FALSE(link.TimedOut());
}

TEST_F(HostLinkTest, AnAnswerInSeveralRecordsIsAssembled) {
  TestHost host;
  StartHost(host, [](HostSession& session) {
    if (session.ReadRequest()) {
      for (const std::string& piece : {std::string(1, '\0'), std::string("\x08" "ABC"), std::string("DEFGH")}) {
        session.Write(piece);
        // A pause, not a wait: each piece should arrive as a record of its own.
        std::this_thread::sleep_for(milliseconds(30));
      }
    }
    session.AwaitLeaving();
  });
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  ASSERT_TRUE(link.Exchange(kLongTimeout)) << link.LastErrorText();
  EXPECT_EQ(link.Response(), "ABCDEFGH");
}

TEST_F(HostLinkTest, AnAnswerLongerThanItsLengthBytesSayIsRefusedAtOnce) {
  struct Case {
    const char* name;
    HostScript script;
  };
  const Case cases[] = {
      {"a few bytes too many", [](HostSession& session) {
         if (session.ReadRequest()) session.Write(std::string("\x00\x03" "ABCDEF", 8));
         session.AwaitLeaving();
       }},
      {"a host that streams without end", [](HostSession& session) {
         if (!session.ReadRequest() || !session.Write(std::string("\x00\x10", 2))) return;
         const std::string block(16 * 1024, 'Z');
         while (session.Write(block)) {
         }
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    StartHost(host, c.script);
    CHostLink link(security_, server_.context());
    ConnectAndSend(link, host, "REQUEST");
    const auto start = Clock::now();
    EXPECT_FALSE(link.Exchange(kLongTimeout));
    EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout) << "nothing past the announced length is waited for";
    EXPECT_TRUE(link.TimedOut()) << "the request went out: it is completed as not received";
    EXPECT_EQ(link.LastErrorCode(), kHostLinkReadFailed);
    EXPECT_NE(link.LastErrorText().find("answer refused"), std::string::npos) << link.LastErrorText();
    EXPECT_EQ(link.Response(), "");
    link.Close();
  }
}

TEST_F(HostLinkTest, AnAnswerShorterThanAnnouncedIsHandedOnWhenTheTimeIsUp) {
  TestHost host;
  StartAnsweringHost(host, std::string("\x00\x0A" "ABCD", 6));
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  ASSERT_TRUE(link.Exchange(milliseconds(300))) << link.LastErrorText();
  EXPECT_EQ(link.Response(), "ABCD");
}

TEST_F(HostLinkTest, AHostThatEndsTheSessionAfterPartOfTheAnswerGivesWhatCame) {
  TestHost host;
  StartHost(host, [](HostSession& session) {
    if (session.ReadRequest()) session.Write(std::string("\x00\x10" "ABC", 5));
    session.EndSession();
  });
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  const auto start = Clock::now();
  ASSERT_TRUE(link.Exchange(kLongTimeout)) << link.LastErrorText();
  EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
  EXPECT_EQ(link.Response(), "ABC");
}

// --- exchanges that end without an answer ----------------------------------------------------

TEST_F(HostLinkTest, AnExchangeWithoutAnAnswerTimesOut) {
  struct Case {
    const char* name;
    HostScript script;
    milliseconds timeout;
    int code;
    std::string text;
  };
  const Case cases[] = {
      {"silent host",
       [](HostSession& session) {
         session.ReadRequest();
         session.AwaitLeaving();
       },
       milliseconds(300), 3010, "Timeout Waiting for Verifiable Packet from Host (ReceiveAndDecrypt)"},
      {"host ends the session",
       [](HostSession& session) {
         session.ReadRequest();
         session.EndSession();
       },
       kLongTimeout, 3007, "Host Signaled End of Session. (ReceiveAndDecrypt)"},
      {"host drops inside a record",
       [](HostSession& session) {
         // The head of an application-data record announcing 64 bytes, then only 10.
         if (session.ReadRequest()) session.WriteRaw(std::string("\x17\x03\x03\x00\x40" "0123456789", 15));
         session.Reset();
       },
       kLongTimeout, 3007, "Host unexpectedly disconnected.(ReceiveAndDecrypt)"},
      {"host drops the connection",
       [](HostSession& session) {
         session.ReadRequest();
         session.Reset();
       },
       kLongTimeout, 3010, "Timeout Waiting for Verifiable Packet from Host (ReceiveAndDecrypt)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    StartHost(host, c.script);
    CHostLink link(security_, server_.context());
    ConnectAndSend(link, host, "REQUEST");
    const auto start = Clock::now();
    EXPECT_FALSE(link.Exchange(c.timeout));
    EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
    EXPECT_TRUE(link.TimedOut()) << "the request went out, so this is a time-out";
    EXPECT_EQ(link.LastErrorCode(), c.code);
    EXPECT_EQ(link.LastErrorText(), c.text);
    EXPECT_EQ(link.Response(), "");
  }
}

TEST_F(HostLinkTest, ARecordThatDoesNotDecryptIsAFailedReceive) {
  TestHost host;
  StartHost(host, [](HostSession& session) {
    if (session.ReadRequest()) session.WriteRaw(std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'x'));
    session.AwaitLeaving();
  });
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  EXPECT_FALSE(link.Exchange(kLongTimeout));
  EXPECT_TRUE(link.TimedOut());
  EXPECT_EQ(link.LastErrorText().rfind("Error 0x", 0), 0u) << link.LastErrorText();
  EXPECT_NE(link.LastErrorText().find(" returned by DecryptMessage."), std::string::npos) << link.LastErrorText();
}

TEST_F(HostLinkTest, TheInterfacesStoppingEventEndsTheWaitForAnAnswerUnlessTheLinkRunsToItsLimits) {
  struct Case {
    const char* name;
    HostLinkWaits waits;
    bool answered;  // the host's late answer is still read
  };
  const Case cases[] = {
      {"new work ends at the stop", HostLinkWaits::kEndAtInterfacesStop, false},
      {"a completion due runs on", HostLinkWaits::kRunToLimits, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    StartHost(host, [](HostSession& session) {
      if (session.ReadRequest()) {
        // The late answer is the point: it comes after the stop.
        std::this_thread::sleep_for(milliseconds(400));
        session.Write(Framed("LATE"));
      }
      session.AwaitLeaving();
    });
    CHostLink link(security_, server_.context(), nullptr, c.waits);
    ConnectAndSend(link, host, "REQUEST");
    const auto start = Clock::now();
    {
      StopLater stop(server_.context().interfacesStopping, milliseconds(100));
      EXPECT_EQ(link.Exchange(kLongTimeout), c.answered);
    }
    EXPECT_LT(Clock::now() - start, kWellBeforeTheTimeout);
    EXPECT_EQ(link.TimedOut(), !c.answered);
    EXPECT_EQ(link.Response(), c.answered ? "LATE" : "");
    link.Close();
  }
}

// --- requests that cannot go out ------------------------------------------------------------

TEST_F(HostLinkTest, ARequestThatCannotBeSentFailsWithoutTimingOut) {
  TestHost host;
  StartHost(host, [](HostSession& session) { session.Reset(); });
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  host.Visits(1);
  EXPECT_TRUE(testing::WaitFor("the link to see the reset", [&] { return !link.IsAlive(); }, std::chrono::seconds(10),
                               milliseconds(1)));
  EXPECT_FALSE(link.Exchange(kLongTimeout));
  EXPECT_FALSE(link.TimedOut());
  EXPECT_EQ(link.LastErrorCode(), 3003);
  EXPECT_EQ(link.LastErrorText().rfind("Socket Error ", 0), 0u) << link.LastErrorText();
  EXPECT_NE(link.LastErrorText().find(" sending to Host"), std::string::npos) << link.LastErrorText();
}

TEST_F(HostLinkTest, ARequestTooLargeForOneRecordIsRefused) {
  TestHost host;
  StartAnsweringHost(host, Framed("NEVER"));
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, std::string(20000, 'R'));
  EXPECT_FALSE(link.Exchange(kLongTimeout));
  EXPECT_FALSE(link.TimedOut());
  EXPECT_EQ(link.LastErrorCode(), 3107);
  EXPECT_EQ(link.LastErrorText(), "Message too large to Send!.");
  link.Close();
  const auto visits = host.Visits(1);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_EQ(visits[0].received, "") << "nothing of it went out";
}

TEST_F(HostLinkTest, AnExchangeWithoutAConnectionFails) {
  CHostLink link(security_, server_.context());
  ASSERT_TRUE(link.SetRequest(RequestOf("REQUEST")));
  EXPECT_FALSE(link.Exchange(kLongTimeout));
  EXPECT_FALSE(link.TimedOut());
  EXPECT_EQ(link.LastErrorCode(), 3003);
}

// --- connecting ---------------------------------------------------------------------------------

TEST_F(HostLinkTest, AFailedTcpConnectIsLogged) {
  CHostLink link(security_, server_.context());
  int closedPort = 0;
  {
    TestHost host;
    StartHost(host, [](HostSession&) {});
    closedPort = host.Port();
  }
  EXPECT_FALSE(link.Connect("localhost", closedPort, kConnectTimeout));
  EXPECT_EQ(link.LastErrorCode(), 3006);
  EXPECT_NE(server_.Logged().find(
                "ConnectToServerByHostName - Faied - [3006]Socket Error Trying to Connect Error 3006 "),
            std::string::npos);
}

TEST_F(HostLinkTest, AHostOfferingOnlyTls11IsRefused) {
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.Start({pki_.localhost, pki_.key, TLS1_1_VERSION}, [](HostSession&) {}, error)) << error;
  CHostLink link(security_, server_.context());
  EXPECT_FALSE(link.Connect("localhost", host.Port(), kConnectTimeout));
  EXPECT_EQ(link.LastErrorCode(), 3102);
  EXPECT_EQ(link.LastErrorText().rfind("InitializeSecurityContext Failed(B) - Status = ", 0), 0u)
      << link.LastErrorText();
  EXPECT_FALSE(link.IsAlive());
  EXPECT_NE(server_.Logged().find("PerformClientHandshake - Faied - [3102]InitializeSecurityContext Failed(B)"),
            std::string::npos);
  const auto visits = host.Visits(1);
  ASSERT_EQ(visits.size(), 1u);
  EXPECT_FALSE(visits[0].handshook);
}

TEST_F(HostLinkTest, AHostThatHangsUpDuringTheHandshakeDisconnectedUnexpectedly) {
  const LoopbackListener listener(1);
  ASSERT_TRUE(listener.Valid());
  std::thread hangUp([&listener] { UniqueFd accepted(listener.Accept(milliseconds(20000))); });
  CHostLink link(security_, server_.context());
  EXPECT_FALSE(link.Connect("localhost", listener.Port(), kConnectTimeout));
  hangUp.join();
  EXPECT_EQ(link.LastErrorCode(), 3103);
  EXPECT_EQ(link.LastErrorText(), "Server disconnected unexpectedly.");
}

TEST_F(HostLinkTest, TheInterfacesStoppingEventEndsAHandshake) {
  // The kernel completes the connection, but nobody ever answers the client's greeting.
  const LoopbackListener listener(1);
  ASSERT_TRUE(listener.Valid());
  CHostLink link(security_, server_.context());
  const auto start = Clock::now();
  {
    StopLater stop(server_.context().interfacesStopping, milliseconds(100));
    EXPECT_FALSE(link.Connect("localhost", listener.Port(), kConnectTimeout));
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(9)) << "ended by the stop, not by the 10 s read limit";
  EXPECT_EQ(link.LastErrorText(), "Server disconnected unexpectedly.");
}

TEST_F(HostLinkTest, AnUnloadedInterfaceCannotShakeHands) {
  TestHost host;
  StartHost(host, [](HostSession&) {});
  CSecurityInterface unloaded;
  CHostLink link(unloaded, server_.context());
  EXPECT_FALSE(link.Connect("localhost", host.Port(), kConnectTimeout));
  EXPECT_EQ(link.LastErrorCode(), 3102);
  EXPECT_EQ(link.LastErrorText().rfind("InitializeSecurityContext Failed (A) - Status = ", 0), 0u)
      << link.LastErrorText();
  EXPECT_FALSE(link.IsAlive());
}

TEST_F(HostLinkTest, UnloadingTheInterfaceLeavesAConnectedLinkWorking) {
  TestHost host;
  StartAnsweringHost(host, Framed("STILL HERE"));
  CHostLink link(security_, server_.context());
  ConnectAndSend(link, host, "REQUEST");
  security_.Unload();
  EXPECT_FALSE(security_.IsLoaded());
  ASSERT_TRUE(link.Exchange(kLongTimeout)) << link.LastErrorText();
  EXPECT_EQ(link.Response(), "STILL HERE");
}

TEST_F(HostLinkTest, ALoadThatFailsLeavesTheInterfaceAsItWas) {
  const std::string missing = (server_.directory() / "no-such-ca.pem").string();
  EXPECT_FALSE(security_.Load(missing));
  EXPECT_NE(security_.LastErrorText().find(missing), std::string::npos) << security_.LastErrorText();
  EXPECT_TRUE(security_.IsLoaded());
  TestHost host;
  StartAnsweringHost(host, Framed("OK"));
  CHostLink link(security_, server_.context());
  EXPECT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << "still trusts the test CA";

  CSecurityInterface fresh;
  EXPECT_FALSE(fresh.Load(missing));
  EXPECT_FALSE(fresh.IsLoaded());
}

// --- the certificate check ------------------------------------------------------------------

struct CertificateCase {
  const char* name;
  fs::path LinkPki::*chain;
  const char* host;
  int code;          // the chain error value as a signed number; 0: accepted
  const char* text;  // what follows "more: "
};

const CertificateCase kCertificateCases[] = {
    {"trusted, by name", &LinkPki::localhost, "localhost", 0, ""},
    {"trusted, by address", &LinkPki::localhost, "127.0.0.1", 0, ""},
    {"another name", &LinkPki::otherName, "localhost", -2146762481, "SSL Certificate Common Name Does Not Match."},
    {"another address", &LinkPki::otherName, "127.0.0.1", -2146762481, "SSL Certificate Common Name Does Not Match."},
    {"expired", &LinkPki::expired, "localhost", -2146762495, "SSL Certificate is Expired."},
    {"self-signed", &LinkPki::selfSigned, "localhost", -2146762487, "SSL Certificate - Untrusted Root"},
    {"foreign root sent along", &LinkPki::foreignChain, "localhost", -2146762487, "SSL Certificate - Untrusted Root"},
    {"foreign issuer not sent", &LinkPki::foreignLeaf, "localhost", -2146762486, "CERT_E_CHAINING"},
    {"client use only", &LinkPki::clientOnly, "localhost", -2146762480, "CERT_E_WRONG_USAGE"},
};

TEST_F(HostLinkTest, TheCertificateCheckReportsChainErrorValues) {
  for (const CertificateCase& c : kCertificateCases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    StartHost(host, [](HostSession& session) { session.AwaitLeaving(); }, pki_.*c.chain);
    {
      CHostLink link(security_, server_.context());
      const bool connected = link.Connect(c.host, host.Port(), kConnectTimeout);
      if (c.code == 0) {
        EXPECT_TRUE(connected) << link.LastErrorText();
        continue;
      }
      EXPECT_FALSE(connected);
      const std::string text =
          "VerifyCertificateChain Failed (F) - Error = " + std::to_string(c.code) + " more: " + c.text;
      EXPECT_EQ(link.LastErrorCode(), c.code);
      EXPECT_EQ(link.LastErrorText(), text);
      EXPECT_FALSE(link.IsAlive());
      EXPECT_NE(server_.Logged().find("VerifyServerCertificate - Failed - [" + std::to_string(c.code) + "]" + text + " "),
                std::string::npos);
    }
    const auto visits = host.Visits(1);
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_TRUE(LeftCleanly(visits[0])) << "the link says goodbye: " << visits[0].leavingText;
  }
}

TEST_F(HostLinkTest, WithoutTheCheckEveryCertificateIsAccepted) {
  SetVerifyCertificate(false);
  for (const CertificateCase& c : kCertificateCases) {
    SCOPED_TRACE(c.name);
    TestHost host;
    StartHost(host, [](HostSession& session) {
      if (session.ReadRequest()) session.Write(Framed("ACCEPTED"));
      session.AwaitLeaving();
    }, pki_.*c.chain);
    CHostLink link(security_, server_.context());
    ASSERT_TRUE(link.Connect(c.host, host.Port(), kConnectTimeout)) << link.LastErrorText();
    ASSERT_TRUE(link.SetRequest(RequestOf("REQUEST")));
    EXPECT_TRUE(link.Exchange(kLongTimeout)) << link.LastErrorText();
    EXPECT_EQ(link.Response(), "ACCEPTED");
  }
}

TEST_F(HostLinkTest, TheSystemStoreAloneDoesNotTrustTheTestAuthority) {
  CSecurityInterface systemOnly;
  ASSERT_TRUE(systemOnly.Load()) << systemOnly.LastErrorText();
  TestHost host;
  StartHost(host, [](HostSession& session) { session.AwaitLeaving(); });
  CHostLink link(systemOnly, server_.context());
  EXPECT_FALSE(link.Connect("localhost", host.Port(), kConnectTimeout));
  EXPECT_EQ(link.LastErrorCode(), static_cast<int>(0x800B010A)) << link.LastErrorText();
}

// --- session resumption ----------------------------------------------------------------------

class HostSessionResumptionTest : public HostLinkTest {
 protected:
  // Starts the real simulator with `extra` and returns its port.
  std::uint16_t StartSimulator(hostsim::simtest::SimProcess& simulator, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--port", "0", "--cert", pki_.localhost.string(), "--key", pki_.key.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    EXPECT_TRUE(simulator.Start(args, server_.directory() / "sim.err", error)) << error;
    return simulator.ReadListeningPort(std::chrono::seconds(10));
  }

  // One connection with one approved sale; whether its handshake resumed a session.
  bool SaleResumed(const std::string& name, std::uint16_t port) {
    CHostLink link(security_, server_.context(), &sessions_);
    EXPECT_TRUE(link.Connect(name, port, kConnectTimeout)) << link.LastErrorText();
    EXPECT_TRUE(link.SetRequest(RequestOf(hostsim::simtest::CreditSale(hostsim::simtest::Head{}))));
    EXPECT_TRUE(link.Exchange()) << link.LastErrorText();
    EXPECT_EQ(link.Response().substr(76, 28), "000012500000APPROVED        ");
    return link.SessionResumed();
  }

  CHostSessionCache sessions_;
};

TEST_F(HostSessionResumptionTest, TheSimulatorsTicketsAreOfferedAgainToTheSameEndpointOnly) {
  hostsim::simtest::SimProcess simulator;
  const std::uint16_t port = StartSimulator(simulator);
  ASSERT_NE(port, 0);
  EXPECT_FALSE(SaleResumed("localhost", port));
  EXPECT_TRUE(SaleResumed("localhost", port));
  EXPECT_TRUE(SaleResumed("localhost", port)) << "a used ticket is replaced by the host's new ones";
  // The same host under another name, or another port, is another endpoint.
  EXPECT_FALSE(SaleResumed("127.0.0.1", port));
  EXPECT_GT(sessions_.Count("localhost:" + std::to_string(port)), 0u);
  sessions_.Clear();
  EXPECT_FALSE(SaleResumed("localhost", port)) << "nothing is offered after the cache is emptied";
}

TEST_F(HostSessionResumptionTest, AHostThatNeverResumesGetsFullHandshakesAndNothingIsKept) {
  hostsim::simtest::SimProcess simulator;
  const std::uint16_t port = StartSimulator(simulator, {"--no-resumption"});
  ASSERT_NE(port, 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(SaleResumed("localhost", port)) << i;
  EXPECT_EQ(sessions_.Count("localhost:" + std::to_string(port)), 0u);
}

TEST_F(HostSessionResumptionTest, ARefusedSessionIsDroppedAndTheFullHandshakeWorks) {
  hostsim::simtest::SimProcess first;
  const std::uint16_t port = StartSimulator(first);
  ASSERT_NE(port, 0);
  EXPECT_FALSE(SaleResumed("localhost", port));
  const std::string key = "localhost:" + std::to_string(port);
  const std::size_t kept = sessions_.Count(key);
  ASSERT_GT(kept, 0u);
  // A simulator started anew does not know the old tickets.
  ASSERT_EQ(first.Stop(SIGTERM, std::chrono::seconds(10)), 0);
  hostsim::simtest::SimProcess second;
  std::vector<std::string> args = {"--port", std::to_string(port), "--cert", pki_.localhost.string(), "--key",
                                   pki_.key.string(), "--no-resumption"};
  std::string error;
  ASSERT_TRUE(second.Start(args, server_.directory() / "sim2.err", error)) << error;
  ASSERT_EQ(second.ReadListeningPort(std::chrono::seconds(10)), port);
  EXPECT_FALSE(SaleResumed("localhost", port));
  EXPECT_EQ(sessions_.Count(key), kept - 1) << "the refused session is not kept again";
}

TEST_F(HostSessionResumptionTest, ATls12SessionIsResumedByItsIdAgainAndAgain) {
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.Start({pki_.localhost, pki_.key, TLS1_2_VERSION}, [](HostSession& session) {
    if (session.ReadRequest()) session.Write(Framed("OK"));
    session.AwaitLeaving();
  }, error)) << error;
  for (int i = 0; i < 3; ++i) {
    CHostLink link(security_, server_.context(), &sessions_);
    ASSERT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << link.LastErrorText();
    EXPECT_EQ(link.SessionResumed(), i > 0) << i;
    ASSERT_TRUE(link.SetRequest(RequestOf("REQUEST")));
    EXPECT_TRUE(link.Exchange()) << link.LastErrorText();
  }
}

TEST_F(HostSessionResumptionTest, AResumedSessionStillFailsTheCertificateCheckItFailedBefore) {
  // Kept while the check was off; the check, turned on, refuses the resumed connection.
  SetVerifyCertificate(false);
  TestHost host;
  std::string error;
  ASSERT_TRUE(host.Start({pki_.selfSigned, pki_.key, TLS1_2_VERSION}, [](HostSession& session) {
    session.AwaitLeaving();
  }, error)) << error;
  {
    CHostLink link(security_, server_.context(), &sessions_);
    ASSERT_TRUE(link.Connect("localhost", host.Port(), kConnectTimeout)) << link.LastErrorText();
  }
  SetVerifyCertificate(true);
  CHostLink link(security_, server_.context(), &sessions_);
  EXPECT_FALSE(link.Connect("localhost", host.Port(), kConnectTimeout));
  EXPECT_TRUE(link.SessionResumed());
  EXPECT_EQ(link.LastErrorCode(), -2146762487) << link.LastErrorText();
}

}  // namespace
}  // namespace paxelle
