// paxelle-card-scan: the card-data checker over files, for scripts.
//   paxelle-card-scan --sent VALUE... -- PATH...
// Prints one line per finding (masked) and exits 1 when any value sent is
// found (or a file cannot be read), 0 otherwise, 2 on a wrong command line.
#include "tests/support/CardDataScan.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  paxelle::testing::SentCardData sent;
  std::vector<std::string> paths;
  bool inPaths = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!inPaths && arg == "--") {
      inPaths = true;
    } else if (!inPaths && arg == "--sent" && i + 1 < argc) {
      sent.Add(argv[++i]);
    } else if (inPaths) {
      paths.push_back(arg);
    } else {
      std::fprintf(stderr, "usage: paxelle-card-scan --sent VALUE... -- PATH...\n");
      return 2;
    }
  }
  if (paths.empty() || sent.values.empty()) {
    std::fprintf(stderr, "usage: paxelle-card-scan --sent VALUE... -- PATH...\n");
    return 2;
  }
  std::vector<paxelle::testing::CardFinding> findings;
  for (const std::string& path : paths) {
    for (auto& finding : paxelle::testing::ScanFiles(path, sent)) findings.push_back(std::move(finding));
  }
  std::fputs(paxelle::testing::DescribeFindings(findings).c_str(), stdout);
  const std::size_t failing = paxelle::testing::FailingCount(findings);
  std::printf("card-scan: %zu exact finding(s), %zu reported pattern(s)\n", failing, findings.size() - failing);
  return failing == 0 ? 0 : 1;
}
