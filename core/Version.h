// The server's version text, answered to lanes and shown to the operator.
#pragma once

#include <string_view>

namespace paxelle {

inline constexpr std::string_view kServerVersionText = "Paxelle XML Version WH 5.10";

}  // namespace paxelle
