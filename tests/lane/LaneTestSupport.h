// Shared pieces of the lane tests: a temporary directory, the `openssl`
// command, and small byte helpers.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace paxelle::lane::testing {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "paxelle-lane-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs `openssl` with `arguments` (already quoted for the shell), its output
// and errors going to `log`; true when it exited 0.
inline bool RunOpenSsl(const std::string& arguments, const std::string& log) {
  const std::string command = "openssl " + arguments + " >'" + log + "' 2>&1";
  return std::system(command.c_str()) == 0;
}

inline std::string Reversed(std::string bytes) {
  std::reverse(bytes.begin(), bytes.end());
  return bytes;
}

// Lower-case hexadecimal as the openssl command takes it, independent of the
// library's own conversion.
inline std::string PlainHex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// A 1024-bit RSA key pair made by the openssl command: the private key as PEM
// and the public key as the PUBLICKEYBLOB the server would send.
struct TestRsaKey {
  std::string privateKeyPath;
  std::string publicKeyBlob;
  bool made = false;
};

inline TestRsaKey MakeTestRsaKey(const TempDir& dir) {
  TestRsaKey key;
  key.privateKeyPath = dir / "server-key.pem";
  const std::string blobPath = dir / "server-key.blob";
  key.made = RunOpenSsl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out '" + key.privateKeyPath + "'",
                        dir / "genpkey.log") &&
             RunOpenSsl("rsa -in '" + key.privateKeyPath + "' -pubout -outform MSBLOB -out '" + blobPath + "'",
                        dir / "msblob.log");
  if (key.made) key.publicKeyBlob = ReadBytes(blobPath);
  return key;
}

}  // namespace paxelle::lane::testing
