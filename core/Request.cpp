#include "core/Request.h"

namespace paxelle {

void CRequest::ClearHostResult() {
  std::string request = std::move(HostRequest);
  static_cast<CHostResult&>(*this) = CHostResult{};
  HostRequest = std::move(request);
}

}  // namespace paxelle
