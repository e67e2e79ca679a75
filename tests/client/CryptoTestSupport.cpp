#include "CryptoTestSupport.h"

#include <cstdlib>

namespace paxelle::testing {

std::filesystem::path TestKeyPath() {
  return std::filesystem::path(PAXELLE_SOURCE_DIR) / "tests/client/fixtures/TestExchangeKey.pem";
}

bool RunCommand(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string RunOpenssl(const std::filesystem::path& workDir, const std::string& arguments,
                       const std::string& input, bool& ok) {
  const std::filesystem::path in = workDir / "openssl-in";
  const std::filesystem::path out = workDir / "openssl-out";
  WriteBytes(in, input);
  std::filesystem::remove(out);
  const std::string command =
      "openssl " + arguments + " -in '" + in.string() + "' -out '" + out.string() + "'";
  ok = RunCommand(command);
  return ReadBytes(out);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

std::string Unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string XorHex(const std::string& a, const std::string& b) {
  std::string x = Unhex(a);
  const std::string y = Unhex(b);
  for (std::size_t i = 0; i < x.size() && i < y.size(); ++i) x[i] = static_cast<char>(x[i] ^ y[i]);
  return Hex(x);
}

}  // namespace paxelle::testing
