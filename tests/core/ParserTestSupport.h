// Building request payloads and configuring merchant parameters for parser tests.
#pragma once

#include "config/MerchantParams.h"
#include "core/Request.h"
#include "core/ServerContext.h"
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
CRequest ParsePayload(const std::string& payload, const CServerContext& context);

// A server context in a fresh temporary working directory whose parameter file
// holds a configured set (merchant 123456789012345, terminal 12345678); changes
// of single entries go through Configure.
class ContextFixture {
 public:
  ContextFixture();
  void Configure(std::initializer_list<std::pair<int, std::string>> values);
  CServerContext& context() { return context_; }
  // Everything the context's log has written so far.
  std::string Logged();
  const std::filesystem::path& directory() const { return directory_.Path(); }

 private:
  TempDir directory_;
  CServerContext context_;
};

}  // namespace paxelle::testing
