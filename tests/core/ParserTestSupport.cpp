#include "tests/core/ParserTestSupport.h"

#include "config/ParamStore.h"

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

CRequest ParsePayload(const std::string& payload) {
  CRequest record;
  record.RawRequest = payload;
  record.Disposition = kDispositionProcess;
  record.ParseFields();
  return record;
}

ParamsFixture::ParamsFixture() {
  GetParamStore().SetPath(directory_ / "params");
  Configure({});
}

void ParamsFixture::Configure(std::initializer_list<std::pair<int, std::string>> values) {
  CMerchantParams set;
  set.SetValue(kParamMerchantId, "123456789012345");
  set.SetValue(kParamTerminalId, "12345678");
  for (const auto& [number, value] : values) ASSERT_TRUE(set.SetValue(number, value)) << number;
  ASSERT_TRUE(GetParamStore().Save(set)) << GetParamStore().LastErrorText();
}

}  // namespace paxelle::testing
