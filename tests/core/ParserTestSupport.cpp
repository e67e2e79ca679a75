#include "tests/core/ParserTestSupport.h"

#include "config/ParamStore.h"
#include "tests/config/TempDir.h"

#include <gtest/gtest.h>

namespace paxelle::testing {

Payload Payload::With(const std::string& key, const std::string& value) const {
  Payload copy = *this;
  copy.pairs_[key] = value;
  return copy;
}

Payload Payload::Without(const std::string& key) const {
  Payload copy = *this;
  copy.pairs_.erase(key);
  return copy;
}

std::string Payload::Text() const {
  std::string text;
  for (const auto& [key, value] : pairs_) text += key + "=" + value + '\x1c';
  return text;
}

CRequest ParsePayload(const std::string& payload, const CServerContext& context) {
  CRequest record;
  record.RawRequest = payload;
  record.Disposition = kDispositionProcess;
  record.ParseFields(context);
  return record;
}

std::string ContextFixture::Logged() {
  context_.log.WaitUntilWritten(std::chrono::seconds(60));
  std::string text;
  std::error_code ignored;
  for (const auto& file : std::filesystem::directory_iterator(context_.PathOf(kLogDirectoryName), ignored)) {
    text += ReadBytes(file.path());
  }
  return text;
}

ContextFixture::ContextFixture() : context_(directory_.Path()) {
  std::filesystem::create_directory(context_.PathOf(kLogDirectoryName));
  context_.params.SetPath(directory_ / "params");
  Configure({});
}

void ContextFixture::Configure(std::initializer_list<std::pair<int, std::string>> values) {
  CMerchantParams set;
  set.SetValue(kParamMerchantId, "123456789012345");
  set.SetValue(kParamTerminalId, "12345678");
  for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number;
  ASSERT_TRUE(context_.params.Save(set)) << context_.params.LastErrorText();
}

}  // namespace paxelle::testing
