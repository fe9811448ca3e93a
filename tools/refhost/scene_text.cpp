#include "tools/refhost/scene_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/refhost/failure.h"

namespace refhost {

namespace fs = std::filesystem;
using nlohmann::json;

std::string json_quoted(const std::string& text) {
  return json(text).dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

std::string too_large(const std::string& path) {
  return path + ": larger than " + std::to_string(kMaxSceneBytes >> 20) +
         " MB, which is more than any scene needs";
}

void check_before_reading(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found)
    throw Failure(path + ": no such file");
  if (status.type() == fs::file_type::directory)
    throw Failure(path + ": is a directory, not a scene file");
  if (status.type() == fs::file_type::regular &&
      fs::file_size(path, error) > kMaxSceneBytes)
    throw Failure(too_large(path));
}

// Where the parser stopped, and why, as the parser's own exceptions lack
// the place of some faults (a number too large for a double).
struct SyntaxError {
  std::size_t offset;
  std::string reason;
};

// The parser's reason without its exception tag and its own place, and with
// raw bytes of the text made printable.
std::string reason_of(const std::string& what) {
  std::string reason = what.substr(what.find(']') + 1);
  const std::size_t place = reason.find("parse error at line");
  if (place != std::string::npos)
    reason = reason.substr(reason.find(": ", place) + 2);
  else if (!reason.empty() && reason.front() == ' ')
    reason.erase(0, 1);
  std::string printable;
  for (unsigned char c : reason) {
    if (c >= 0x20 && c < 0x7f) {
      printable += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
      printable += escaped;
    }
  }
  return printable;
}

class LocatingParser : public nlohmann::detail::json_sax_dom_parser<json> {
 public:
  explicit LocatingParser(json& root) : json_sax_dom_parser(root, true) {}

  template <class Exception>
  bool parse_error(std::size_t offset, const std::string& token,
                   const Exception& error) {
    // A number too large is reported after it; point at its first digit.
    if (error.id == kNumberOverflow && offset >= token.size())
      offset -= token.size() - 1;
    throw SyntaxError{offset, reason_of(error.what())};
  }

 private:
  static constexpr int kNumberOverflow = 406;
};

// "line L, column C" of a byte offset.
std::string place_of(const std::string& text, std::size_t offset) {
  std::size_t line = 1, column = 1;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

}  // namespace

std::string read_scene_file(const std::string& path) {
  check_before_reading(path);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) throw Failure(path + ": cannot read: " + std::strerror(errno));
  std::string text;
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    text.append(chunk, n);
    if (text.size() > kMaxSceneBytes) {
      std::fclose(file);
      throw Failure(too_large(path));
    }
  }
  const bool failed = std::ferror(file) != 0;
  const int error = errno;
  std::fclose(file);
  if (failed) throw Failure(path + ": cannot read: " + std::strerror(error));
  return text;
}

json parse_json(const std::string& text, const std::string& origin) {
  json root;
  LocatingParser parser(root);
  try {
    json::sax_parse(text, &parser);
  } catch (const SyntaxError& e) {
    // The parser's offset is one past the byte it stopped at.
    const std::size_t at = e.offset > 0 ? e.offset - 1 : 0;
    throw Failure(origin + ": " + place_of(text, at) + ": " + e.reason);
  }
  return root;
}

}  // namespace refhost
