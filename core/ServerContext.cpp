#include "core/ServerContext.h"

namespace paxelle {

CServerContext::CServerContext(std::filesystem::path workdirPath, ServerContextSettings settings)
    : workdir(std::move(workdirPath)),
      log((workdir / kLogDirectoryName).string(), std::move(settings.clock), settings.logShutdownWait),
      params(&log),
      registry(interfacesStopping) {}

}  // namespace paxelle
