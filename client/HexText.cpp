#include "client/HexText.h"

namespace paxelle {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

unsigned char NibbleOf(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned char>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<unsigned char>(c - 'A' + 10);
  return 0;
}

}  // namespace

std::string BytesToHex(std::span<const unsigned char> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

std::string BytesToHex(std::string_view bytes) {
  return BytesToHex(std::span<const unsigned char>(
      reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()));
}

unsigned char HexPairToByte(char high, char low) {
  return static_cast<unsigned char>((NibbleOf(high) << 4) | NibbleOf(low));
}

bool HexToBytes(std::string_view text, std::vector<unsigned char>& bytes) {
  if (text.size() % 2 != 0) return false;
  std::vector<unsigned char> decoded;
  decoded.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) decoded.push_back(HexPairToByte(text[i], text[i + 1]));
  bytes.swap(decoded);
  return true;
}

}  // namespace paxelle
