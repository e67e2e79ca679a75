// The hexadecimal text every binary value on the client wire travels as: two
// upper-case characters per byte, high nibble first.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace paxelle {

// Upper-case hexadecimal text of `bytes`, two characters per byte.
std::string BytesToHex(std::span<const unsigned char> bytes);
// The same for an 8-bit text taken as bytes.
std::string BytesToHex(std::string_view bytes);

// The byte of one character pair: "0"-"9" count 0-9, "A"-"F" count 10-15 and
// any other character (lower-case letters included) counts 0.
unsigned char HexPairToByte(char high, char low);

// Decodes `text` pair by pair with HexPairToByte into `bytes` (replacing what
// it held). False, leaving `bytes` untouched, when the length is odd. Empty
// text gives no bytes and succeeds.
bool HexToBytes(std::string_view text, std::vector<unsigned char>& bytes);

}  // namespace paxelle
