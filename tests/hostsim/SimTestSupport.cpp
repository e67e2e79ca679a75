#include "tests/hostsim/SimTestSupport.h"

#include "tests/config/TempDir.h"
#include "tests/support/WaitFor.h"
#include "tools/hostsim/HostFraming.h"
#include "tools/hostsim/SimText.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>

namespace paxelle::hostsim::simtest {
namespace {

constexpr auto kHandshakeLimit = std::chrono::seconds(10);
constexpr auto kWriteLimit = std::chrono::seconds(10);

std::string Address() { return "A" + SpaceFill("1 MAIN ST", 20) + "123459999" + SpaceFill(kCvv, 4); }

// Starts `args[0]` with standard output and error on the given descriptors.
pid_t Spawn(const std::vector<std::string>& args, int outFd, int errFd) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Waits at most `limit` for `pid`; exit code, or -1 when it was killed or had to be.
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  int status = 0;
  pid_t done = 0;
  const auto ended = [&] {
    done = ::waitpid(pid, &status, WNOHANG);
    return done == pid || (done < 0 && errno != EINTR);
  };
  if (paxelle::testing::WaitFor("the process to end", ended, limit)) {
    return done == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

bool RunQuietly(const std::vector<std::string>& args, const std::filesystem::path& log) {
  const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (logFd < 0) return false;
  const pid_t pid = Spawn(args, logFd, logFd);
  ::close(logFd);
  return pid > 0 && WaitForExit(pid, std::chrono::seconds(60)) == 0;
}

}  // namespace

std::string Head::Text() const {
  return prefix + "08A" + "4" + "11" + merchant + terminal + "7" + "01" + stan + tranCode + cardCode + entry +
         messageClass + "0" + "1" + "N0000" + batch + item + dateTime + ZeroFill(cents, 8);
}

std::string WithFields(std::string start, const std::vector<std::string>& fields, bool closingFs) {
  for (const std::string& field : fields) start += kFsChar + field;
  if (closingFs) start += kFsChar;
  return start;
}

std::string CreditSale(Head head, bool partialAllowed) {
  return WithFields(head.Text() + kKeyedAccount,
                    {"", "", "", "", Address(), "", partialAllowed ? "1" : "0", "INV001", "", "7"});
}

std::string DebitSale(Head head) {
  head.tranCode = "11";
  head.cardCode = "00";
  return WithFields(head.Text() + kTrack2,
                    {"", "", "", "", "D", "", "0", "INV002", "", "7", "", kDerivedKey + kPinBlock}, true);
}

std::string EbtBalance(Head head) {
  head.tranCode = "27";
  head.cardCode = "01";
  head.cents = 0;
  return WithFields(head.Text() + kTrack2,
                    {"", "", "", "", "D", "", "0", "INV003", "", "7", "", kDerivedKey + kPinBlock}, true);
}

std::string VoiceAuth(Head head, const std::string& authCode) {
  head.tranCode = "03";
  head.messageClass = '4';
  return WithFields(head.Text() + std::string(16, '0') + kKeyedAccount,
                    {"", authCode, "00000000", "OPER0001", "INV004", "", "", "", "", "3"});
}

std::string EmvSale(Head head) {
  head.entry = '4';
  // Slot 33 (at 446) holds the card's expiry date.
  const std::string block = "01" + SpaceFill(kTrack2, 38) + std::string(406, ' ') + "281231" + std::string(94, ' ');
  return WithFields(head.Text() + kTrack2, {"", "", "", "", "", "", "0", "INV005", "", "9", block, ""}, true);
}

namespace {
std::string BatchHead(const Head& head, const char* operation) {
  return head.prefix + "08A411" + head.merchant + head.terminal + "7" + "01" + head.stan + operation + "200" +
         "N0000" + head.batch;
}
const char* const kBatchTrailer = "PXLLHOST0001KELVARA1";
}  // namespace

std::string BatchInquiry(const Head& head) { return BatchHead(head, "61000") + kBatchTrailer; }

std::string BatchClose(const Head& head, const std::string& totals) {
  return BatchHead(head, "64000") + totals + "000" + std::string(40, '0') + "000" + std::string(32, '0') +
         kBatchTrailer;
}

std::string Completion(const std::string& sent, const Head& head, const std::string& status,
                       const std::string& account) {
  return sent.substr(0, 43) + "6" + sent.substr(44, 2) + "N0000" + head.batch + head.item + SpaceFill(status, 16) +
         kFsChar + account + kFsChar + "004200070001240501101112";
}

::testing::AssertionResult MasksAs(std::string_view actual, std::string_view expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "masked text differs from \"" << expected << "\" at position " << at
                                       << " (lengths " << actual.size() << " and " << expected.size() << ")";
}

std::string Piece(std::string_view answer, std::size_t number) {
  const auto pieces = SplitAtFs(answer);
  return number >= 1 && number <= pieces.size() ? std::string(pieces[number - 1]) : std::string();
}

bool MakeTestPki(const std::filesystem::path& directory, TestPki& pki, std::string& error) {
  const auto in = [&](const char* name) { return (directory / name).string(); };
  const std::filesystem::path log = directory / "openssl.log";
  {
    std::ofstream extensions(in("server.ext"));
    extensions << "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                  "extendedKeyUsage=serverAuth\n"
                  "basicConstraints=CA:FALSE\n";
  }
  const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  std::vector<std::string> ca = {"openssl", "req", "-x509"};
  ca.insert(ca.end(), newKey.begin(), newKey.end());
  ca.insert(ca.end(), {"-keyout", in("ca.key"), "-out", in("ca.pem"), "-days", "2", "-subj", "/CN=Paxelle Test CA",
                       "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                       "keyUsage=critical,keyCertSign,cRLSign"});
  std::vector<std::string> request = {"openssl", "req"};
  request.insert(request.end(), newKey.begin(), newKey.end());
  request.insert(request.end(),
                 {"-keyout", in("server.key"), "-out", in("server.csr"), "-subj", "/CN=localhost"});
  const std::vector<std::string> sign = {"openssl", "x509", "-req", "-in", in("server.csr"), "-CA", in("ca.pem"),
                                         "-CAkey", in("ca.key"), "-CAcreateserial", "-out", in("server.pem"),
                                         "-days", "2", "-extfile", in("server.ext")};
  if (!RunQuietly(ca, log) || !RunQuietly(request, log) || !RunQuietly(sign, log)) {
    error = "openssl failed: " + testing::ReadBytes(log);
    return false;
  }
  pki = {in("ca.pem"), in("server.pem"), in("server.key")};
  return true;
}

void TestPkiSuite::SetUpTestSuite() {
  pkiDir_ = std::make_unique<paxelle::testing::TempDir>();
  pkiError_.clear();
  pkiReady_ = MakeTestPki(pkiDir_->Path(), pki_, pkiError_);
}

void TestPkiSuite::TearDownTestSuite() { pkiDir_.reset(); }

SimProcess::~SimProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (out_ >= 0) ::close(out_);
}

bool SimProcess::Start(const std::vector<std::string>& args, const std::filesystem::path& errorFile,
                       std::string& error) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    error = "pipe failed";
    return false;
  }
  const int errFd = ::open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::vector<std::string> argv = {PAXELLE_BIN_DIR "/paxelle-hostsim"};
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = errFd >= 0 ? Spawn(argv, pipeFds[1], errFd) : -1;
  ::close(pipeFds[1]);
  if (errFd >= 0) ::close(errFd);
  out_ = pipeFds[0];
  if (pid_ <= 0) {
    error = "cannot start " + argv[0];
    return false;
  }
  return true;
}

bool SimProcess::ReadLine(std::string& line, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (const std::size_t end = buffered_.find('\n'); end != std::string::npos) {
      line = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || out_ < 0) return false;
    pollfd watch{out_, POLLIN, 0};
    if (::poll(&watch, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[512];
    const ssize_t got = ::read(out_, chunk, sizeof chunk);
    if (got <= 0) return false;
    buffered_.append(chunk, static_cast<std::size_t>(got));
  }
}

std::uint16_t SimProcess::ReadListeningPort(std::chrono::milliseconds limit) {
  const std::string prefix = "paxelle-hostsim listening on 127.0.0.1:";
  std::string line;
  if (!ReadLine(line, limit) || !line.starts_with(prefix)) return 0;
  const std::string digits = line.substr(prefix.size());
  if (!IsNumber(digits) || digits.size() > 5) return 0;
  const unsigned long port = std::stoul(digits);
  return port <= 65535 ? static_cast<std::uint16_t>(port) : 0;
}

int SimProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  const int code = WaitForExit(pid_, limit);
  pid_ = -1;
  return code;
}

int SimProcess::Stop(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  ::kill(pid_, signal);
  return Wait(limit);
}

std::string SimProcess::RemainingOutput() {
  std::string rest = std::move(buffered_);
  buffered_.clear();
  while (out_ >= 0) {
    pollfd watch{out_, POLLIN, 0};
    if (::poll(&watch, 1, pid_ > 0 ? 0 : 1000) <= 0) break;
    char chunk[4096];
    const ssize_t got = ::read(out_, chunk, sizeof chunk);
    if (got <= 0) break;
    rest.append(chunk, static_cast<std::size_t>(got));
  }
  return rest;
}

RunResult RunSimToEnd(const std::vector<std::string>& args, const std::filesystem::path& scratch) {
  RunResult result;
  SimProcess process;
  std::string error;
  const std::filesystem::path errorFile = scratch / "run.err";
  if (!process.Start(args, errorFile, error)) {
    result.err = error;
    return result;
  }
  result.exitCode = process.Wait(std::chrono::seconds(10));
  result.out = process.RemainingOutput();
  result.err = testing::ReadBytes(errorFile);
  return result;
}

TestClient::~TestClient() {
  stream_.reset();
}

bool TestClient::Connect(std::uint16_t port, const std::filesystem::path& caCert, std::string& error) {
  std::signal(SIGPIPE, SIG_IGN);  // a write to a connection the simulator dropped must not end the test
  context_.reset(SSL_CTX_new(TLS_client_method()));
  if (!context_ || SSL_CTX_load_verify_locations(context_.get(), caCert.c_str(), nullptr) != 1) {
    error = "cannot set up the client TLS context";
    return false;
  }
  SSL_CTX_set_min_proto_version(context_.get(), TLS1_2_VERSION);
  SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
  SSL_CTX_set_options(context_.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    error = "cannot connect to 127.0.0.1:" + std::to_string(port);
    if (fd >= 0) ::close(fd);
    return false;
  }
  stream_ = std::make_unique<TlsStream>(context_.get(), fd, TlsStream::Side::kClient, -1);
  if (stream_->Native() == nullptr || SSL_set1_host(stream_->Native(), "localhost") != 1 ||
      SSL_set_tlsext_host_name(stream_->Native(), "localhost") != 1) {
    error = "cannot set up the client TLS connection";
    return false;
  }
  if (stream_->Handshake(kHandshakeLimit) != IoResult::kOk) {
    error = stream_->LastError();
    return false;
  }
  return true;
}

bool TestClient::Send(std::string_view message) {
  std::string framed;
  return stream_ && FrameHostMessage(message, framed) && stream_->WriteAll(framed, kWriteLimit) == IoResult::kOk;
}

IoResult TestClient::Receive(std::string& answer, std::chrono::milliseconds limit) {
  if (!stream_) return IoResult::kFailed;
  std::string header;
  const IoResult result = stream_->ReadExact(kFrameHeaderSize, header, limit);
  if (result != IoResult::kOk) return result;
  return stream_->ReadExact(FramedLength(header), answer, limit);
}

const std::string& TestClient::LastError() const { return stream_ ? stream_->LastError() : lastError_; }

}  // namespace paxelle::hostsim::simtest
