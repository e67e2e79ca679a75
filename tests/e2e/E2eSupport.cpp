#include "tests/e2e/E2eSupport.h"

#include "tests/support/WaitFor.h"
#include "tools/lane/LaneFrames.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>

namespace paxelle::e2e {

std::string Payload(const std::vector<std::string>& pairs) {
  std::string payload;
  for (const std::string& pair : pairs) {
    if (!payload.empty()) payload += lane::kFs;
    payload += pair;
  }
  return payload;
}

namespace {

using std::chrono::milliseconds;

int OpenForAppend(const std::filesystem::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

// Loopback connect to `port`; the open socket, or -1.
int ConnectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool RunOpenssl(const std::vector<std::string>& args, const std::filesystem::path& directory, std::string& error) {
  std::vector<std::string> argv = {"openssl"};
  argv.insert(argv.end(), args.begin(), args.end());
  const ToolResult result = RunToEnd(argv, directory, std::chrono::seconds(60));
  if (result.exitCode == 0) return true;
  error = "openssl " + args.front() + " failed: " + result.err;
  return false;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
}

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::filesystem::path& outFile,
                         const std::filesystem::path& errFile, std::string& error) {
  if (pid_ > 0) {
    error = "a process is already running";
    return false;
  }
  const int outFd = OpenForAppend(outFile);
  const int errFd = OpenForAppend(errFile);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t pid = outFd >= 0 && errFd >= 0 ? ::fork() : -1;
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (outFd >= 0) ::close(outFd);
  if (errFd >= 0) ::close(errFd);
  if (pid < 0) {
    error = "cannot start " + argv.front();
    return false;
  }
  pid_ = pid;
  exitCode_ = -1;
  return true;
}

bool ChildProcess::Signal(int signal) { return pid_ > 0 && ::kill(pid_, signal) == 0; }

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  const pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done != pid_) return true;
  exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

int ChildProcess::Wait(milliseconds limit) {
  if (!testing::WaitFor("the process to end", [this] { return !Running(); }, limit, milliseconds(10))) {
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return exitCode_ = -1;
  }
  return exitCode_;
}

int ChildProcess::Stop(int signal, milliseconds limit) {
  if (pid_ <= 0) return exitCode_;
  ::kill(pid_, signal);
  return Wait(limit);
}

ToolResult RunToEnd(const std::vector<std::string>& argv, const std::filesystem::path& scratch, milliseconds limit) {
  static int serial = 0;
  const std::string stem = "run" + std::to_string(++serial);
  const std::filesystem::path outFile = scratch / (stem + ".out");
  const std::filesystem::path errFile = scratch / (stem + ".err");
  ToolResult result;
  ChildProcess process;
  std::string error;
  std::vector<std::string> resolved = argv;
  // Bare names (the openssl command) are looked up where a shell would look.
  if (resolved.front().find('/') == std::string::npos) {
    for (const char* directory : {"/usr/bin", "/bin", "/usr/local/bin"}) {
      const std::filesystem::path candidate = std::filesystem::path(directory) / resolved.front();
      if (::access(candidate.c_str(), X_OK) == 0) {
        resolved.front() = candidate.string();
        break;
      }
    }
  }
  if (!process.Start(resolved, outFile, errFile, error)) {
    result.err = error;
    return result;
  }
  result.exitCode = process.Wait(limit);
  result.out = ReadText(outFile);
  result.err = ReadText(errFile);
  std::error_code ignored;
  std::filesystem::remove(outFile, ignored);
  std::filesystem::remove(errFile, ignored);
  return result;
}

std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(fd);
  return port;
}

bool PortAccepts(std::uint16_t port) {
  const int fd = ConnectLoopback(port);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool MakeExtraCerts(const std::filesystem::path& directory, const hostsim::simtest::TestPki& pki, ExtraCerts& certs,
                    std::string& error) {
  const auto in = [&](const char* name) { return (directory / name).string(); };
  {
    std::ofstream(in("other.ext")) << "subjectAltName=DNS:other-host.test\n"
                                      "extendedKeyUsage=serverAuth\n"
                                      "basicConstraints=CA:FALSE\n";
  }
  const std::vector<std::string> newKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
  std::vector<std::string> otherRequest = {"req"};
  otherRequest.insert(otherRequest.end(), newKey.begin(), newKey.end());
  otherRequest.insert(otherRequest.end(),
                      {"-keyout", in("other.key"), "-out", in("other.csr"), "-subj", "/CN=other-host.test"});
  const std::string caKey = (pki.caCert.parent_path() / "ca.key").string();
  const std::vector<std::string> signOther = {"x509", "-req", "-in", in("other.csr"), "-CA", pki.caCert.string(),
                                              "-CAkey", caKey, "-CAcreateserial", "-out", in("other.pem"),
                                              "-days", "2", "-extfile", in("other.ext")};
  // The localhost request again, valid until a day before it was made.
  {
    std::ofstream(in("expired.ext")) << "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
                                        "extendedKeyUsage=serverAuth\n"
                                        "basicConstraints=CA:FALSE\n";
  }
  std::vector<std::string> expiredRequest = {"req", "-new", "-key", in("other.key"), "-out", in("expired.csr"),
                                             "-subj", "/CN=localhost"};
  const std::vector<std::string> signExpired = {"x509", "-req", "-in", in("expired.csr"), "-CA",
                                                pki.caCert.string(), "-CAkey", caKey, "-CAcreateserial",
                                                "-out", in("expired.pem"), "-days", "-1", "-extfile",
                                                in("expired.ext")};
  std::vector<std::string> selfSigned = {"req", "-x509"};
  selfSigned.insert(selfSigned.end(), newKey.begin(), newKey.end());
  selfSigned.insert(selfSigned.end(), {"-keyout", in("self.key"), "-out", in("self.pem"), "-days", "2", "-subj",
                                       "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                                       "-addext", "extendedKeyUsage=serverAuth"});
  for (const auto& args : {otherRequest, signOther, expiredRequest, signExpired, selfSigned}) {
    if (!RunOpenssl(args, directory, error)) return false;
  }
  certs = {in("other.pem"), in("expired.pem"), in("self.pem"), in("self.key"), in("other.key")};
  return true;
}

std::vector<std::string> SplitDocuments(std::string_view text) {
  std::string clean;
  for (const char c : text) {
    if (c != '\r') clean += c;
  }
  std::vector<std::string> documents;
  std::size_t at = clean.find("<?xml");
  while (at != std::string::npos) {
    const std::size_t next = clean.find("<?xml", at + 1);
    documents.push_back(clean.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next;
  }
  return documents;
}

std::string ElementOf(std::string_view document, std::string_view name) {
  const std::string open = "<" + std::string(name) + ">";
  const std::string close = "</" + std::string(name) + ">";
  const std::size_t start = document.find(open);
  if (start == std::string_view::npos) return {};
  const std::size_t end = document.find(close, start + open.size());
  if (end == std::string_view::npos) return {};
  return std::string(document.substr(start + open.size(), end - start - open.size()));
}

bool HasElement(std::string_view document, std::string_view name) {
  return document.find("<" + std::string(name) + ">") != std::string_view::npos;
}

int CountOf(std::string_view text, std::string_view needle) {
  int count = 0;
  for (std::size_t at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

std::string Scrubbed(std::string text) {
  for (std::size_t at = text.find(kTestPan); at != std::string::npos; at = text.find(kTestPan, at)) {
    text.replace(at, kTestPan.size(), "<full account number>");
  }
  return text;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::istringstream text(ReadText(path));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

JournalEntry ParseJournalLine(const std::string& line) {
  JournalEntry entry;
  constexpr std::size_t kStampLength = 20;  // "YYYY-MM-DD HH:MM:SS "
  if (line.size() <= kStampLength) return entry;
  std::string rest = line.substr(kStampLength);
  const std::size_t space = rest.find(' ');
  entry.kind = rest.substr(0, space);
  rest = space == std::string::npos ? std::string() : rest.substr(space + 1);
  if (entry.kind == "COMPLETION") {
    for (const char* status : {"COMPLETED", "REPLY NOT RECVD"}) {
      if (rest.starts_with(std::string(status) + " ")) {
        entry.status = status;
        rest.erase(0, entry.status.size() + 1);
        break;
      }
    }
  }
  entry.message = rest;
  return entry;
}

// Offsets of the transaction request head: prefix, class, merchant, terminal and
// the rest come before the STAN; the batch and item numbers follow the flags.
std::string StanOf(const std::string& message) { return message.size() >= 38 ? message.substr(34, 4) : ""; }
std::string BatchOf(const std::string& message) { return message.size() >= 60 ? message.substr(51, 9) : ""; }
std::string ItemOf(const std::string& message) { return message.size() >= 64 ? message.substr(60, 4) : ""; }

}  // namespace paxelle::e2e
