// paxelle-host-floor: what one credit sale costs at the host alone — its request and
// its completion, each over a fresh TLS connection resuming the sessions the host hands
// out, exactly as a host worker makes them, but without the server in between. Two
// floors come from the same run: L, the request exchange alone (the least a lane can
// wait), and T, the request and its completion (the host work of a sale). The
// end-to-end benchmark compares the server with both.
#include "common/AmountText.h"
#include "config/ParamStore.h"
#include "core/Request.h"
#include "core/TranCodes.h"
#include "host/HostContext.h"
#include "host/HostLink.h"
#include "host/HostRequestBuilder.h"
#include "host/HostResponseParser.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace paxelle;
using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitErrors = 1;
constexpr int kExitUsage = 2;
constexpr std::chrono::milliseconds kConnectTimeout{3000};

struct FloorOptions {
  std::string host;
  int port = 0;
  std::string hostCa;
  std::filesystem::path params;
  std::filesystem::path workdir;
  int threads = 50;
  int count = 20;
  std::string amount = "10.00";
};

const char kUsage[] =
    "usage: paxelle-host-floor --host NAME:PORT --params FILE [--host-ca FILE] [--workdir DIR]\n"
    "                          [--threads N] [--count M] [--amount AMOUNT]\n"
    "Times N threads (default 50) each making M (default 20) credit sales of AMOUNT\n"
    "(default 10.00) directly with the host: the request and its completion, each over a\n"
    "fresh TLS connection checked as the merchant parameters in FILE say, resuming the\n"
    "host's sessions as the server does. Sequence and batch files go to DIR (default: a\n"
    "temporary directory, removed afterwards). Prints two lines, the request alone (L) and\n"
    "the request with its completion (T):\n"
    "  floor-L threads=.. exchanges=.. errors=.. p50_ms=.. p99_ms=..\n"
    "  floor-T threads=.. exchanges=.. errors=.. seconds=.. tps=.. p50_ms=.. p99_ms=..\n"
    "Exit status: 0 when every sale was answered, 1 when some were not, 2 for a bad command line.\n";

bool ReadCount(const std::string& text, int limit, int& value) {
  if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
  value = std::stoi(text);
  return value >= 1 && value <= limit;
}

bool ParseOptions(int argc, char** argv, FloorOptions& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help") {
      error.clear();
      return false;
    }
    if (i + 1 >= argc) {
      error = name + " needs a value";
      return false;
    }
    const std::string value = argv[++i];
    if (name == "--host") {
      const std::size_t colon = value.rfind(':');
      int port = 0;
      if (colon == std::string::npos || colon == 0 || !ReadCount(value.substr(colon + 1), 65535, port)) {
        error = "--host needs NAME:PORT";
        return false;
      }
      options.host = value.substr(0, colon);
      options.port = port;
    } else if (name == "--host-ca") {
      options.hostCa = value;
    } else if (name == "--params") {
      options.params = value;
    } else if (name == "--workdir") {
      options.workdir = value;
    } else if (name == "--threads") {
      if (!ReadCount(value, 1000, options.threads)) {
        error = "--threads needs a number from 1 to 1000";
        return false;
      }
    } else if (name == "--count") {
      if (!ReadCount(value, 100000, options.count)) {
        error = "--count needs a number from 1 to 100000";
        return false;
      }
    } else if (name == "--amount") {
      if (!IsValidAmount(value)) {
        error = "--amount needs an amount such as 10.00";
        return false;
      }
      options.amount = value;
    } else {
      error = "unknown option " + name;
      return false;
    }
  }
  if (options.host.empty() || options.params.empty()) {
    error = "--host and --params are required";
    return false;
  }
  return true;
}

// The keyed test sale every exchange carries; the account is the card brands' test number.
std::string SalePayload(int thread, int sequence, const std::string& amount) {
  const std::string number = std::to_string(thread * 100000 + sequence);
  const char fs = 28;  // between the request's KEY=VALUE pairs
  return std::string("TStream=Transaction") + fs + "MerchantID=1" + fs + "ClientID=" + std::to_string(thread) + fs +
         "TranType=Credit" + fs + "TranCode=Sale" + fs + "InvoiceNo=" + number + fs + "RefNo=" + number + fs +
         "AcctNo=4111111111111111" + fs + "ExpDate=1229" + fs + "Purchase=" + amount;
}

// One exchange on a fresh link; true when an answer arrived.
bool ExchangeOnce(const FloorOptions& options, CHostContext& host, const CRequest& record, std::string& answer) {
  CHostLink link(host.security, host.server, &host.sessions);
  const bool answered =
      link.Connect(options.host, options.port, kConnectTimeout) && link.SetRequest(record) && link.Exchange();
  if (answered) answer = link.Response();
  link.Close();
  return answered;
}

struct Tally {
  std::mutex mutex;
  std::vector<double> requestMs;  // L: the request exchange alone
  std::vector<double> saleMs;     // T: the request and its completion
  int errors = 0;
};

double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Builds the thread's sales before the start (the number files they take are the
// server's cost, not the host's), then times each request and its completion.
void RunThread(const FloorOptions& options, int thread, CHostContext& host, HostMessageSources& sources,
               std::latch& ready, Tally& tally) {
  std::vector<CRequest> sales;
  int errors = 0;
  for (int i = 0; i < options.count; ++i) {
    CRequest record;
    record.RawRequest = SalePayload(thread, i, options.amount);
    record.ParseFields(host.server);
    if (record.TranCodeId == 0 || !BuildHostRequest(record, sources)) {
      ++errors;
      continue;
    }
    sales.push_back(std::move(record));
  }
  std::vector<double> requestLatencies;
  std::vector<double> latencies;
  ready.arrive_and_wait();
  for (CRequest& record : sales) {
    const auto start = Clock::now();
    std::string answer;
    if (!ExchangeOnce(options, host, record, answer)) {
      ++errors;
      continue;
    }
    record.HostResponse = answer;
    record.State = kStateParsed;
    ParseHostResponse(record, sources.batch, host.server);
    requestLatencies.push_back(MillisecondsSince(start));
    CRequest completion = record;
    completion.ClearHostResult();
    completion.HostRequest = BuildCompletionRequest(record, true, sources);
    std::string acknowledgement;
    const bool completed = ExchangeOnce(options, host, completion, acknowledgement);
    latencies.push_back(MillisecondsSince(start));
    if (!record.Approved || !completed) ++errors;
  }
  std::lock_guard<std::mutex> lock(tally.mutex);
  tally.requestMs.insert(tally.requestMs.end(), requestLatencies.begin(), requestLatencies.end());
  tally.saleMs.insert(tally.saleMs.end(), latencies.begin(), latencies.end());
  tally.errors += errors;
}

// Nearest rank, as the lane's load summary computes it.
double Percentile(const std::vector<double>& sorted, int percent) {
  if (sorted.empty()) return 0;
  const std::size_t rank = (sorted.size() * static_cast<std::size_t>(percent) + 99) / 100;
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

// A directory for the floor's own number files, removed when the run ends.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "paxelle-floor-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace

int main(int argc, char** argv) {
  FloorOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    if (error.empty()) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    std::fprintf(stderr, "paxelle-host-floor: %s\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  std::signal(SIGPIPE, SIG_IGN);

  std::error_code ignored;
  if (!std::filesystem::is_regular_file(options.params, ignored)) {
    std::fprintf(stderr, "paxelle-host-floor: no parameter file %s\n", options.params.c_str());
    return kExitUsage;
  }
  ScratchDirectory scratch;
  const std::filesystem::path workdir =
      options.workdir.empty() ? scratch.Path() : std::filesystem::absolute(options.workdir, ignored);
  if (workdir.empty() || !std::filesystem::is_directory(workdir, ignored)) {
    std::fprintf(stderr, "paxelle-host-floor: no working directory\n");
    return kExitUsage;
  }
  CServerContext context(workdir);
  CHostContext host(context);
  CParamStore& store = context.params;
  store.SetPath(std::filesystem::absolute(options.params));
  if (!store.Load() || store.GetConfigurationState() != ConfigurationState::ParamsReady) {
    std::fprintf(stderr, "paxelle-host-floor: the parameters in %s are not set\n", options.params.c_str());
    return kExitUsage;
  }
  if (!host.security.Load(options.hostCa)) {
    std::fprintf(stderr, "paxelle-host-floor: %s\n", host.security.LastErrorText().c_str());
    return kExitUsage;
  }
  HostMessageSources sources = HostMessageSourcesOf(host);

  Tally tally;
  std::latch ready(options.threads + 1);
  std::vector<std::thread> threads;
  for (int thread = 1; thread <= options.threads; ++thread) {
    threads.emplace_back(RunThread, std::cref(options), thread, std::ref(host), std::ref(sources), std::ref(ready),
                         std::ref(tally));
  }
  ready.arrive_and_wait();
  const auto start = Clock::now();
  for (std::thread& thread : threads) thread.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::vector<double>& requests = tally.requestMs;
  std::vector<double>& latencies = tally.saleMs;
  std::sort(requests.begin(), requests.end());
  std::sort(latencies.begin(), latencies.end());
  const long long planned = static_cast<long long>(options.threads) * options.count;
  std::printf("floor-L threads=%d exchanges=%lld errors=%d p50_ms=%.2f p99_ms=%.2f\n", options.threads, planned,
              tally.errors, Percentile(requests, 50), Percentile(requests, 99));
  std::printf("floor-T threads=%d exchanges=%lld errors=%d seconds=%.1f tps=%.1f p50_ms=%.2f p99_ms=%.2f\n",
              options.threads, planned, tally.errors, seconds,
              seconds > 0 ? static_cast<double>(latencies.size()) / seconds : 0.0, Percentile(latencies, 50),
              Percentile(latencies, 99));
  host.security.Unload();
  return tally.errors == 0 ? kExitOk : kExitErrors;
}
