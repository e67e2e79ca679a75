// The fixture of the whole-process tests: per test a directory with the merchant
// parameters, the server's working directory and key store, the simulator's
// journal and every process's output; per suite the test certificates.
#pragma once

#include "tests/config/TempDir.h"
#include "tests/e2e/E2eSupport.h"
#include "tests/support/CardDataScan.h"
#include "tests/support/WaitFor.h"
#include "tools/lane/LaneConnection.h"
#include "tools/lane/LaneDocument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace paxelle::e2e {

// How often the whole-process tests look again at what they wait for: reading files
// and probing ports more often would only take time from the processes under test.
inline constexpr std::chrono::milliseconds kPollStep{20};

// What one opx-lane request brought back.
struct LaneReply {
  int exitCode = -1;
  std::string output;  // standard output as received
  std::string error;   // standard error
  std::vector<std::string> documents;
  std::string finalDocument;     // the last document, CR removed
  lane::CommandResponse final;   // its command response block
  bool queued = false;           // a "Queued:" reply came before it
};

class E2eTest : public ::testing::Test {
 protected:
  // The test CA and its "localhost" certificate, made once per process.
  static void SetUpTestSuite();
  static const hostsim::simtest::TestPki& Pki();
  // The extra certificates, made on first use.
  static const ExtraCerts& Extra();

  void SetUp() override;
  void TearDown() override;

  // The demo merchant (entries 1 and 2), entry 9 "N" and entry 10 "Y", then
  // `values` ("N=VALUE"), stored with `paxelle params set`.
  void Provision(const std::vector<std::string>& values = {});

  // Starts the simulator on a free port with the given certificate; sets HostPort().
  void StartHost(const std::filesystem::path& cert, const std::filesystem::path& key,
                 const std::vector<std::string>& extra = {});
  void StartHost(const std::vector<std::string>& extra = {});

  // Starts the server on a free client port, the simulator's CA trusted, and
  // waits until it accepts lanes. `primary` defaults to localhost:HostPort().
  void StartServer(const std::string& primary = {}, const std::string& secondary = {});
  // Arguments every later StartServer adds (e.g. --com-device).
  void AddServerArguments(const std::vector<std::string>& args) {
    serverArgs_.insert(serverArgs_.end(), args.begin(), args.end());
  }
  // SIGTERM (or `signal`) to the server; its exit code (-1: had to be killed).
  int StopServer(int signal = SIGTERM, std::chrono::milliseconds limit = std::chrono::seconds(30));

  // One opx-lane request; `timeoutSeconds` bounds the wait for the final response.
  LaneReply Request(const std::vector<std::string>& pairs, int timeoutSeconds = 60);
  // A lane connection logged in to the server.
  void LogIn(lane::LaneConnection& lane);
  // Reads documents from `lane` until one that is not the "Queued:" reply, at most
  // `limit` in all; false on time-out or a broken connection.
  static bool ReadFinal(lane::LaneConnection& lane, std::chrono::milliseconds limit, std::string& document,
                        lane::CommandResponse& response, bool* queued = nullptr);
  // The text of the greeting's public key (between DC1 and DC2) on a new connection.
  std::string GreetingKey();

  // Journal entries of `kind` (all when empty).
  std::vector<JournalEntry> Journal(const std::string& kind = {}) const;
  // Journal(kind) once it holds at least `count` entries, or as it is after `limit`: the
  // simulator writes its journal on its own threads.
  std::vector<JournalEntry> AwaitJournal(const std::string& kind, std::size_t count,
                                         std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
  std::string ServerOut() const;
  std::string ServerErr() const;
  // The server's traffic log file(s), concatenated.
  std::string ServerLog() const;
  // Polls ServerOut() until it holds `text`, at most `limit`.
  ::testing::AssertionResult WaitForServerOut(const std::string& text, std::chrono::milliseconds limit) const;
  // Polls ServerLog() until it holds `text`, at most `limit` (the log's writer runs on its own).
  ::testing::AssertionResult WaitForServerLog(const std::string& text, std::chrono::milliseconds limit) const;
  // Fails when any card data the test sent appears in `laneOutput` or in any
  // file of the test's directory. TearDown runs it over the files of every test.
  void ExpectNoFullAccountAnywhere(const std::string& laneOutput) const;
  // Card data the test sends other than through Request (which notes its own).
  void NoteSentCardData(const std::vector<std::string>& pairs) { sent_.AddRequestPairs(pairs); }

  // The payload pairs of a keyed credit sale of `amount` with invoice and reference
  // `number` from lane number `lane` (the host serves one lane's exchanges one at a time).
  static std::vector<std::string> SalePairs(const std::string& amount, int number,
                                            const std::string& tranCode = "Sale", int lane = 1);

  // For a server this fixture did not start: the port Request sends to.
  void UseClientPort(std::uint16_t port) { clientPort_ = port; }
  std::uint16_t HostPort() const { return hostPort_; }
  std::uint16_t ClientPort() const { return clientPort_; }
  ChildProcess& Host() { return host_; }
  ChildProcess& Server() { return server_; }
  const std::filesystem::path& Dir() const { return dir_.Path(); }
  std::filesystem::path WorkDir() const { return Dir() / "server"; }

 private:
  testing::TempDir dir_;
  testing::SentCardData sent_;
  ChildProcess host_;
  ChildProcess server_;
  std::uint16_t hostPort_ = 0;
  std::uint16_t clientPort_ = 0;
  int hostStarts_ = 0;
  std::vector<std::string> serverArgs_;
};

}  // namespace paxelle::e2e
