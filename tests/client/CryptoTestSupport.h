// Temporary directories, files and the `openssl` command for the client link's
// cryptography tests: every expected value is made outside the code under test.
#pragma once

#include "tests/config/TempDir.h"

#include <filesystem>
#include <string>
#include <vector>

namespace paxelle::testing {

// The fixed RSA key pair made once with `openssl genrsa 1024` for these tests.
std::filesystem::path TestKeyPath();

// Runs a shell command; true when it exited 0.
bool RunCommand(const std::string& command);

// Runs the `openssl` command with `arguments`, feeding `input` as its input
// file and returning its output file; `ok` tells whether it exited 0. Files
// live in `workDir`.
std::string RunOpenssl(const std::filesystem::path& workDir, const std::string& arguments,
                       const std::string& input, bool& ok);

// Hexadecimal of `bytes` (upper-case) and back, for the tests' own use.
std::string Hex(const std::string& bytes);
std::string Unhex(const std::string& hex);
std::string XorHex(const std::string& a, const std::string& b);

}  // namespace paxelle::testing
