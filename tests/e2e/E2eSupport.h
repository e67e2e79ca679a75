// Support for the whole-process tests: child processes with their output in files,
// loopback ports, the extra certificates the host-link cases need, and reading the
// response documents and the simulator's journal.
#pragma once

#include "tests/hostsim/SimTestSupport.h"

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle::e2e {

// A request payload: the KEY=VALUE pairs joined with FS.
std::string Payload(const std::vector<std::string>& pairs);

// The keyed account of every test sale; it must never appear in any output.
inline const std::string kTestPan = "4111111111111111";

// One executable as a child process, its standard output and error appended to
// files. Killed (woken first, should it be stopped) when destroyed.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `argv` (argv[0] a path). False with `error` set when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::filesystem::path& outFile,
             const std::filesystem::path& errFile, std::string& error);
  // Sends `signal`; false when no process is running.
  bool Signal(int signal);
  // Sends `signal` and waits at most `limit` for the exit; the exit code, or -1
  // when the process had to be killed or died of a signal.
  int Stop(int signal, std::chrono::milliseconds limit);
  // Waits at most `limit` for the process to end on its own; as Stop.
  int Wait(std::chrono::milliseconds limit);
  // Whether the process has not ended yet (reaps it when it has).
  bool Running();

 private:
  pid_t pid_ = -1;
  int exitCode_ = -1;
};

struct ToolResult {
  int exitCode = -1;  // -1 when the tool had to be killed
  std::string out;
  std::string err;
};

// Runs `argv` to its end, at most `limit`; its output goes through files in `scratch`.
ToolResult RunToEnd(const std::vector<std::string>& argv, const std::filesystem::path& scratch,
                    std::chrono::milliseconds limit);

// A port on 127.0.0.1 nobody listened on a moment ago; 0 when none could be had.
std::uint16_t FreeLoopbackPort();
// Whether a connection to 127.0.0.1:`port` is accepted (and closed again at once).
bool PortAccepts(std::uint16_t port);

// Certificates beside the test CA of MakeTestPki, each with the CA's key pair
// reused where it can be: one for another host name, one already expired (both
// signed by the test CA), and a self-signed one for "localhost".
struct ExtraCerts {
  std::filesystem::path otherNameCert;
  std::filesystem::path expiredCert;
  std::filesystem::path selfSignedCert;
  std::filesystem::path selfSignedKey;
  std::filesystem::path key;  // the key of the first two
};
bool MakeExtraCerts(const std::filesystem::path& directory, const hostsim::simtest::TestPki& pki,
                    ExtraCerts& certs, std::string& error);

// The documents in `text` (each from its "<?xml"), CR removed.
std::vector<std::string> SplitDocuments(std::string_view text);
// The text of the first <name> element of `document`; empty when absent.
std::string ElementOf(std::string_view document, std::string_view name);
// Whether `document` holds an element <name>.
bool HasElement(std::string_view document, std::string_view name);
// How often `needle` occurs in `text`.
int CountOf(std::string_view text, std::string_view needle);
// `text` with the test account replaced, fit to be printed by a failing assertion.
std::string Scrubbed(std::string text);

// The file's lines without their line ends; empty when the file is missing.
std::vector<std::string> ReadLines(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);

// Pieces of a journal line "YYYY-MM-DD HH:MM:SS KIND [status ]message": the kind and
// the message (the status belongs to completions: "COMPLETED" or "REPLY NOT RECVD").
struct JournalEntry {
  std::string kind;
  std::string status;
  std::string message;
};
JournalEntry ParseJournalLine(const std::string& line);
// Fields of a transaction request message: its sequence number (STAN), batch and item.
std::string StanOf(const std::string& message);
std::string BatchOf(const std::string& message);
std::string ItemOf(const std::string& message);

}  // namespace paxelle::e2e
