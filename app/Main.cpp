// Entry point of the `paxelle` executable: the parameter commands, version
// and help; every other use is refused with the usage text.
#include "app/ParamsCommand.h"
#include "config/ParamStore.h"

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr const char* kVersionText = "Paxelle XML Version WH 5.10";

void PrintUsage(std::ostream& stream) {
  stream << "usage: paxelle [--params FILE] [--version] [--help]\n"
         << paxelle::ParamsUsage();
}

}  // namespace

int main(int argc, char* argv[]) {
  std::vector<std::string> args;
  std::optional<std::string> paramsFile;
  // --params may stand anywhere, also between the words of a params command.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg != "--params") {
      args.push_back(arg);
      continue;
    }
    // An empty FILE would quietly mean the operator's real parameter file.
    if (i + 1 >= argc || argv[i + 1][0] == '\0' || paramsFile) {
      std::cerr << "paxelle: --params needs one non-empty FILE and may be given once\n";
      PrintUsage(std::cerr);
      return 2;
    }
    paramsFile = argv[++i];
  }
  if (paramsFile) paxelle::GetParamStore().SetPath(*paramsFile);

  if (!args.empty() && args[0] == "params") {
    return paxelle::RunParamsCommand({args.begin() + 1, args.end()}, paxelle::GetParamStore(),
                                     std::cout, std::cerr);
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << kVersionText << "\n";
    return 0;
  }
  if (args.size() == 1 && args[0] == "--help") {
    PrintUsage(std::cout);
    return 0;
  }
  PrintUsage(std::cerr);
  return 2;
}
