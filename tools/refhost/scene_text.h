// Scene text, from a file into a JSON value, with every fault reported as
// "<file>: <place>: <reason>" in words a person can act on.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>

namespace refhost {

// Scene files larger than this are refused before they are read.
inline constexpr std::size_t kMaxSceneBytes = std::size_t{256} << 20;

// The whole file, or a Failure that says why not: missing, a directory,
// unreadable, or too large (checked before reading, and while reading what
// has no size, such as a device or a pipe).
std::string read_scene_file(const std::string& path);

// Parses JSON; a syntax error names its line and column, and the reason.
nlohmann::json parse_json(const std::string& text, const std::string& origin);

// A string as JSON writes it, quoted and escaped, for messages: names and
// tokens may hold newlines, terminal escapes, zero bytes or invalid UTF-8.
std::string json_quoted(const std::string& text);

}  // namespace refhost
