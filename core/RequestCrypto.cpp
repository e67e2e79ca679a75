#include "core/RequestCrypto.h"

#include <atomic>

namespace paxelle {
namespace {
std::atomic<IRequestCrypto*> installedCrypto{nullptr};
}

void SetRequestCrypto(IRequestCrypto* crypto) { installedCrypto.store(crypto); }

IRequestCrypto* GetRequestCrypto() { return installedCrypto.load(); }

}  // namespace paxelle
