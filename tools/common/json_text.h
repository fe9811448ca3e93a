// JSON written as text, piece by piece: a manifest of a million objects
// needs no document of them in memory.
#pragma once

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace common {

class JsonText {
 public:
  JsonText& raw(std::string_view text) {
    out_.append(text);
    return *this;
  }
  // A string as JSON writes it. Names are valid UTF-8 (the scene's parser
  // sees to that) and keep their exact bytes; controls are escaped.
  JsonText& string(std::string_view text) {
    out_ += '"';
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        out_ += '\\';
        out_ += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        out_ += escape;
      } else {
        out_ += c;
      }
    }
    out_ += '"';
    return *this;
  }
  JsonText& number(long long n) { return raw(std::to_string(n)); }
  JsonText& number(int n) { return number(static_cast<long long>(n)); }
  JsonText& number(double d) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, d).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  // The shortest text that reads back as the same float.
  JsonText& number(float f) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    return raw(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  JsonText& boolean(bool b) { return raw(b ? "true" : "false"); }
  template <typename T, typename Put>
  JsonText& list(const std::vector<T>& items, Put put) {
    raw("[");
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i) raw(", ");
      put(items[i]);
    }
    return raw("]");
  }
  JsonText& seeds(const std::vector<std::int32_t>& seeds) {
    return list(seeds,
                [&](std::int32_t s) { number(static_cast<long long>(s)); });
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

// The same JSON without any space or line break outside its strings.
std::string compact_json(const std::string& text);

}  // namespace common
