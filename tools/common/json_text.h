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

// Text is written as raw pieces (structure and the spaces and line breaks
// that lay it out, never a string's contents) and as strings and numbers.
// Where asked, the same JSON is also made compact, in the same pass: the
// raw pieces without their spaces and line breaks, for a header attribute.
class JsonText {
 public:
  explicit JsonText(bool also_compact = false) : compact_(also_compact) {}

  JsonText& raw(std::string_view text) {
    out_.append(text);
    if (compact_)
      for (const char c : text)
        if (c != ' ' && c != '\n') compact_out_ += c;
    return *this;
  }
  // A string as JSON writes it. Names are valid UTF-8 (the scene's parser
  // sees to that) and keep their exact bytes; controls are escaped.
  JsonText& string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
      if (c == '"' || c == '\\') {
        quoted += '\\';
        quoted += c;
      } else if (static_cast<unsigned char>(c) < 0x20) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", c);
        quoted += escape;
      } else {
        quoted += c;
      }
    }
    quoted += '"';
    return value(quoted);
  }
  JsonText& number(long long n) { return value(std::to_string(n)); }
  JsonText& number(int n) { return number(static_cast<long long>(n)); }
  JsonText& number(double d) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, d).ptr;
    return value(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  // The shortest text that reads back as the same float.
  JsonText& number(float f) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, f).ptr;
    return value(std::string_view(text, static_cast<std::size_t>(end - text)));
  }
  JsonText& boolean(bool b) { return value(b ? "true" : "false"); }
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
  std::string take_compact() { return std::move(compact_out_); }

 private:
  // A value, written alike in both forms.
  JsonText& value(std::string_view text) {
    out_.append(text);
    if (compact_) compact_out_.append(text);
    return *this;
  }

  bool compact_;
  std::string out_, compact_out_;
};

// The same JSON without any space or line break outside its strings: a
// manifest read from a file, made fit for a header attribute.
std::string compact_json(const std::string& text);

}  // namespace common
