#include "common/RequestFields.h"

#include "common/ControlCharacters.h"

namespace paxelle {

namespace {
}

RequestFields RequestFields::FromPayload(std::string_view payload) {
  RequestFields fields;
  std::size_t start = 0;
  while (start < payload.size()) {
    auto end = payload.find(kFs, start);
    if (end == std::string_view::npos) end = payload.size();
    const std::string_view pair = payload.substr(start, end - start);
    const auto equals = pair.find('=');
    if (equals != std::string_view::npos) {
      fields.Set(pair.substr(0, equals), pair.substr(equals + 1));
    }
    start = end + 1;
  }
  return fields;
}

bool RequestFields::Lookup(std::string_view key, std::string& value) const {
  const auto it = fields_.find(std::string(key));
  if (it == fields_.end()) return false;
  value = it->second;
  return true;
}

bool RequestFields::Has(std::string_view key) const {
  return fields_.count(std::string(key)) != 0;
}

void RequestFields::Set(std::string_view key, std::string_view value) {
  fields_[std::string(key)] = std::string(value);
}

void RequestFields::Remove(std::string_view key) { fields_.erase(std::string(key)); }

}  // namespace paxelle
