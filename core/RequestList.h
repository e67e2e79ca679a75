// RequestList: the ordered list of transaction records, each held by value.
#pragma once

#include "core/Request.h"

#include <list>

namespace paxelle {

using RequestList = std::list<CRequest>;

}  // namespace paxelle
