// The key/value pairs of one request payload, looked up by their case-sensitive key.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

namespace paxelle {

class RequestFields {
 public:
  // Splits a payload of "key=value" pairs ended by FS (the last may lack it).
  // A pair without "=" is ignored; a later pair with the same key wins.
  static RequestFields FromPayload(std::string_view payload);

  // True when the key is present; only then is `value` overwritten. An absent key
  // and a key with an empty value are different things.
  bool Lookup(std::string_view key, std::string& value) const;
  bool Has(std::string_view key) const;
  void Set(std::string_view key, std::string_view value);
  void Remove(std::string_view key);
  std::size_t Size() const { return fields_.size(); }

 private:
  std::unordered_map<std::string, std::string> fields_;
};

}  // namespace paxelle
