// Scene text: a scene file (or names file) read whole, and the places of
// faults in it, in words a person can act on.
#pragma once

#include <cstddef>
#include <string>

namespace common {

// Scene files larger than this are refused before they are read.
inline constexpr std::size_t kMaxSceneBytes = std::size_t{256} << 20;

// The whole file, or a Failure that says why not: missing, a directory,
// unreadable, or too large (checked before reading, and while reading what
// has no size, such as a device or a pipe).
std::string read_scene_file(const std::string& path);

// "line L, column C" of the byte at `offset`, columns counting characters.
std::string place_of(const std::string& text, std::size_t offset);

// The JSON parser's reason for a syntax error, without its own tag and
// place, and with raw bytes of the text made printable.
std::string syntax_reason(const std::string& what);

}  // namespace common
