// Hexadecimal text as the lane writes and reads it on the client wire.
#pragma once

#include <string>
#include <string_view>

namespace paxelle::lane {

// Two upper-case characters per byte, high nibble first ("0"-"9", "A"-"F").
std::string BytesToHex(std::string_view bytes);

// Decodes `hex` into `bytes`. Stricter than the server's reading on purpose: a
// reference client should notice a peer that breaks the wire rules, so an odd
// length or any character other than "0"-"9" and "A"-"F" is refused (false,
// `bytes` unchanged).
bool HexToBytes(std::string_view hex, std::string& bytes);

}  // namespace paxelle::lane
