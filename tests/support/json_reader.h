// A small JSON reader for tests that check documents the program writes:
// strict enough to reject what a real parser rejects (bad escapes, raw
// control characters, trailing commas, text after the value).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace folivex {

struct JsonValue {
  using Array = std::vector<JsonValue>;
  using Object = std::map<std::string, JsonValue, std::less<>>;
  std::variant<std::nullptr_t, bool, double, std::string, std::shared_ptr<Array>, std::shared_ptr<Object>> value;

  bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
  bool Bool() const { return std::get<bool>(value); }
  double Number() const { return std::get<double>(value); }
  const std::string& String() const { return std::get<std::string>(value); }
  const Array& Items() const { return *std::get<std::shared_ptr<Array>>(value); }
  const Object& Fields() const { return *std::get<std::shared_ptr<Object>>(value); }
  bool Has(std::string_view name) const { return Fields().find(name) != Fields().end(); }
  // The field `name` of an object; throws when it is absent.
  const JsonValue& operator[](std::string_view name) const { return Fields().find(name)->second; }
  const JsonValue& operator[](std::size_t index) const { return Items().at(index); }
};

// The value of a whole document; nothing, with `error` set, when the text
// is not JSON.
std::optional<JsonValue> ParseJson(std::string_view text, std::string* error);

}  // namespace folivex
