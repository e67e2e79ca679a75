// Test support for the host simulator: hand-written host messages of every layout, a
// throwaway certificate authority made with the openssl command, the real paxelle-hostsim
// process, and a small TLS client that speaks the host framing.
#pragma once

#include "tests/config/TempDir.h"
#include "tools/hostsim/StopSignal.h"
#include "tools/hostsim/TlsStream.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle::hostsim::simtest {

inline constexpr char kFsChar = 28;
inline const std::string kPan = "4111111111111111";
inline const std::string kTrack2 = kPan + "=25121010000012345";
inline const std::string kKeyedAccount = kPan + "=2612";
inline const std::string kDerivedKey = "FFFF9876543210E00001";  // 20 characters, as sent
inline const std::string kPinBlock = "C0FFEE0123456789";
inline const std::string kCvv = "864";

// The fixed head of a transaction request through its amount (84 characters).
struct Head {
  std::string prefix = "LG";
  std::string merchant = "123456789012345";
  std::string terminal = "12345678";
  std::string stan = "0042";
  std::string tranCode = "01";
  std::string cardCode = "01";
  char entry = '2';
  char messageClass = '3';
  std::string batch = "240501001";
  std::string item = "0007";
  std::string dateTime = "240501101112";
  std::uint64_t cents = 1250;

  std::string Text() const;
};

// `start` followed by each field with an FS in front; `closingFs` adds a final FS.
std::string WithFields(std::string start, const std::vector<std::string>& fields, bool closingFs = false);

// Keyed credit sale with an address block carrying kCvv; `partialAllowed` sets f7.
std::string CreditSale(Head head, bool partialAllowed = false);
// Debit sale (code 11, card code 00) with the track and PIN data.
std::string DebitSale(Head head);
// EBT balance inquiry (code 27, account type 01) with the track and PIN data.
std::string EbtBalance(Head head);
// Voice authorization (code 03, class 4) with its two zero amounts before the account.
std::string VoiceAuth(Head head, const std::string& authCode);
// EMV chip sale with a 546-character data block whose track slot holds kTrack2.
std::string EmvSale(Head head);
// Batch inquiry (80 characters) and close (239 characters, `totals` 81 characters).
std::string BatchInquiry(const Head& head);
std::string BatchClose(const Head& head, const std::string& totals);
// The completion of `sent` (a request) with `status` and `account` as its account field.
std::string Completion(const std::string& sent, const Head& head, const std::string& status,
                       const std::string& account);

// Compares a masked text with what it should be without ever printing it (a faulty mask
// may still hold card data): a failure names the expected text and the first difference.
::testing::AssertionResult MasksAs(std::string_view actual, std::string_view expected);

// Piece `number` (from 1) of an answer split at FS; empty when absent.
std::string Piece(std::string_view answer, std::size_t number);

// A CA and a server certificate for "localhost" and 127.0.0.1 signed by it, made with the
// openssl command in `directory`.
struct TestPki {
  std::filesystem::path caCert;
  std::filesystem::path serverCert;
  std::filesystem::path serverKey;
};
bool MakeTestPki(const std::filesystem::path& directory, TestPki& pki, std::string& error);

// A suite whose cases share one test PKI, made once for the suite in a
// temporary directory of its own. Cases check `pkiReady_` (and show
// `pkiError_`) in their SetUp.
class TestPkiSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  static void TearDownTestSuite();

  static inline std::unique_ptr<paxelle::testing::TempDir> pkiDir_;
  static inline TestPki pki_;
  static inline bool pkiReady_ = false;
  static inline std::string pkiError_;
};

// The real paxelle-hostsim executable as a child process: standard output through a pipe,
// standard error into a file.
class SimProcess {
 public:
  SimProcess() = default;
  // Kills the process if it still runs.
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts the executable with `args`; standard error goes to `errorFile`.
  bool Start(const std::vector<std::string>& args, const std::filesystem::path& errorFile, std::string& error);

  // Reads one line of standard output within `limit` (without its line feed); false at
  // end of output or time-out.
  bool ReadLine(std::string& line, std::chrono::milliseconds limit);

  // The port of the "listening on" line, or 0 when it did not come within `limit`.
  std::uint16_t ReadListeningPort(std::chrono::milliseconds limit);

  // Sends `signal` and waits at most `limit` for the exit (killing it after that);
  // returns the exit code, or -1 when it did not exit by itself.
  int Stop(int signal, std::chrono::milliseconds limit);

  // Waits at most `limit` for the process to exit on its own; exit code or -1 as Stop.
  int Wait(std::chrono::milliseconds limit);

  // Everything read from standard output so far that ReadLine did not return, plus what
  // is left once the process has ended.
  std::string RemainingOutput();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string buffered_;
};

// Runs paxelle-hostsim to its end with `args`; standard output and error and the exit code.
struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};
RunResult RunSimToEnd(const std::vector<std::string>& args, const std::filesystem::path& scratch);

// A TLS client of the simulator that checks its certificate against the test CA.
class TestClient {
 public:
  TestClient() = default;
  ~TestClient();
  TestClient(const TestClient&) = delete;
  TestClient& operator=(const TestClient&) = delete;

  // Connects to 127.0.0.1:`port` and shakes hands, expecting "localhost" signed by `caCert`.
  bool Connect(std::uint16_t port, const std::filesystem::path& caCert, std::string& error);

  // Sends `message` with its two length bytes.
  bool Send(std::string_view message);

  // Reads one framed answer within `limit`.
  IoResult Receive(std::string& answer, std::chrono::milliseconds limit);

  // What the last failed send or receive ran into.
  const std::string& LastError() const;

 private:
  struct FreeContext {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
  };
  std::unique_ptr<SSL_CTX, FreeContext> context_;
  std::unique_ptr<TlsStream> stream_;
  std::string lastError_;
};

}  // namespace paxelle::hostsim::simtest
