#include "support/json_reader.h"

#include <cstdlib>

namespace folivex {
namespace {

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document(std::string* error) {
    std::optional<JsonValue> value = Value();
    Space();
    if (value && at_ != text_.size()) Fail("text after the value");
    if (!error_.empty()) {
      *error = error_ + " at byte " + std::to_string(at_);
      return std::nullopt;
    }
    return value;
  }

 private:
  void Fail(std::string why) {
    if (error_.empty()) error_ = std::move(why);
  }
  void Space() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) ++at_;
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  std::optional<JsonValue> Value() {
    Space();
    if (at_ >= text_.size()) return Fail("unexpected end"), std::nullopt;
    const char c = text_[at_];
    if (c == '{') return Object();
    if (c == '[') return Array();
    if (c == '"') {
      std::optional<std::string> s = String();
      if (!s) return std::nullopt;
      return JsonValue{*s};
    }
    if (Word("null")) return JsonValue{nullptr};
    if (Word("true")) return JsonValue{true};
    if (Word("false")) return JsonValue{false};
    if (c == '-' || (c >= '0' && c <= '9')) {
      const std::size_t start = at_;
      while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
      const std::string number(text_.substr(start, at_ - start));
      char* end = nullptr;
      const double value = std::strtod(number.c_str(), &end);
      if (end != number.c_str() + number.size()) return Fail("bad number"), std::nullopt;
      return JsonValue{value};
    }
    return Fail("unexpected character"), std::nullopt;
  }

  std::optional<std::string> String() {
    ++at_;  // the opening quote
    std::string out;
    while (at_ < text_.size()) {
      const unsigned char c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return out;
      if (c < 0x20) return Fail("raw control character in a string"), std::nullopt;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) break;
      const char e = text_[at_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (at_ + 4 > text_.size()) return Fail("short \\u escape"), std::nullopt;
          const std::string hex(text_.substr(at_, 4));
          char* end = nullptr;
          const long code = std::strtol(hex.c_str(), &end, 16);
          if (end != hex.c_str() + 4) return Fail("bad \\u escape"), std::nullopt;
          at_ += 4;
          // UTF-8 of the code unit (surrogate pairs are not needed here).
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default: return Fail("bad escape"), std::nullopt;
      }
    }
    return Fail("unterminated string"), std::nullopt;
  }

  std::optional<JsonValue> Array() {
    ++at_;
    auto items = std::make_shared<JsonValue::Array>();
    if (Take(']')) return JsonValue{items};
    do {
      std::optional<JsonValue> item = Value();
      if (!item) return std::nullopt;
      items->push_back(std::move(*item));
    } while (Take(','));
    if (!Take(']')) return Fail("expected ] or ,"), std::nullopt;
    return JsonValue{items};
  }

  std::optional<JsonValue> Object() {
    ++at_;
    auto fields = std::make_shared<JsonValue::Object>();
    if (Take('}')) return JsonValue{fields};
    do {
      Space();
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("expected a field name"), std::nullopt;
      std::optional<std::string> name = String();
      if (!name) return std::nullopt;
      if (!Take(':')) return Fail("expected :"), std::nullopt;
      std::optional<JsonValue> value = Value();
      if (!value) return std::nullopt;
      if (!fields->emplace(*name, std::move(*value)).second) return Fail("repeated field " + *name), std::nullopt;
    } while (Take(','));
    if (!Take('}')) return Fail("expected } or ,"), std::nullopt;
    return JsonValue{fields};
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

std::optional<JsonValue> ParseJson(std::string_view text, std::string* error) {
  return Reader(text).Document(error);
}

}  // namespace folivex
