// Building request payloads and configuring merchant parameters for parser tests.
#pragma once

#include "config/MerchantParams.h"
#include "core/Request.h"
#include "tests/config/TempDir.h"

#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>

namespace paxelle::testing {

// Key/value pairs of a request; `std::nullopt`-like removal is done with Without.
class Payload {
 public:
  Payload(std::initializer_list<std::pair<const std::string, std::string>> pairs) : pairs_(pairs) {}
  Payload With(const std::string& key, const std::string& value) const;
  Payload Without(const std::string& key) const;
  // The pairs joined with FS, in key order.
  std::string Text() const;

 private:
  std::map<std::string, std::string> pairs_;
};

// A record parsed from `payload` the way Parse does after a good frame.
CRequest ParsePayload(const std::string& payload);

// Points the process-wide parameter store at a fresh temporary file holding a
// configured set; changes of single entries go through Configure.
class ParamsFixture {
 public:
  ParamsFixture();
  void Configure(std::initializer_list<std::pair<int, std::string>> values);

 private:
  TempDir directory_;
};

}  // namespace paxelle::testing
