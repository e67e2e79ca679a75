// Shared pieces of the lane tests: the `openssl` command, small byte helpers,
// and the suites that hold a test key pair or the server's own crypto object.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "client/MessageCrypto.h"
#include "common/TrafficLog.h"
#include "tests/config/TempDir.h"

namespace paxelle::lane::testing {

using paxelle::testing::ReadBytes;
using paxelle::testing::TempDir;
using paxelle::testing::WriteBytes;

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
  key.privateKeyPath = (dir / "server-key.pem").string();
  const std::string blobPath = (dir / "server-key.blob").string();
  key.made = RunOpenSsl("genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out '" + key.privateKeyPath + "'",
                        dir / "genpkey.log") &&
             RunOpenSsl("rsa -in '" + key.privateKeyPath + "' -pubout -outform MSBLOB -out '" + blobPath + "'",
                        dir / "msblob.log");
  if (key.made) key.publicKeyBlob = ReadBytes(blobPath);
  return key;
}

// A suite whose cases share one test key pair, made once for the suite in a
// temporary directory of its own. Cases check `key_->made` in their SetUp.
class TestRsaKeySuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    key_ = std::make_unique<TestRsaKey>(MakeTestRsaKey(*dir_));
  }
  static void TearDownTestSuite() {
    key_.reset();
    dir_.reset();
  }

  // The wrapped key of a SIMPLEBLOB (what follows its 12-byte header), put
  // back in big-endian order and decrypted by the openssl command with the
  // suite's private key and PKCS#1 v1.5 padding. False when the command
  // failed; its messages are then in PkeyutlLog().
  static bool OpenSslUnwrap(const std::string& blob, std::string& key) {
    WriteBytes(*dir_ / "wrapped", Reversed(blob.substr(12)));
    if (!RunOpenSsl("pkeyutl -decrypt -inkey '" + key_->privateKeyPath + "' -pkeyopt rsa_padding_mode:pkcs1 -in '" +
                        (*dir_ / "wrapped").string() + "' -out '" + (*dir_ / "unwrapped").string() + "'",
                    PkeyutlLog())) {
      return false;
    }
    key = ReadBytes(*dir_ / "unwrapped");
    return true;
  }
  static std::string PkeyutlLog() { return (*dir_ / "pkeyutl.log").string(); }

  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<TestRsaKey> key_;
};

// A suite whose cases talk to the server's own CMessageCrypto, started once
// for the suite on a fresh key store and logging into a traffic log of its
// own, both in a temporary directory. Cases check `started_` in their SetUp.
class ServerCryptoSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    std::filesystem::create_directory(dir_->Path() / "logs");
    log_ = std::make_unique<CTrafficLog>(*dir_ / "logs");
    server_ = std::make_unique<CMessageCrypto>(*log_);
    started_ = server_->Startup(dir_->Path() / "keys");
  }
  static void TearDownTestSuite() {
    server_.reset();
    log_.reset();
    dir_.reset();
  }

  static inline std::unique_ptr<TempDir> dir_;
  static inline std::unique_ptr<CTrafficLog> log_;
  static inline std::unique_ptr<CMessageCrypto> server_;
  static inline bool started_ = false;
};

}  // namespace paxelle::lane::testing
