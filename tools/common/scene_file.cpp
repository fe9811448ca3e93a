#include "tools/common/scene_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string_view>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace common {

namespace fs = std::filesystem;

namespace {

std::string too_large(const std::string& path) {
  return quote(path) + ": larger than " + std::to_string(kMaxSceneBytes >> 20) +
         " MB, which is more than any scene needs";
}

void check_before_reading(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::not_found)
    throw Failure(quote(path) + ": no such file");
  if (status.type() == fs::file_type::directory)
    throw Failure(quote(path) + ": is a directory, not a scene file");
  if (status.type() == fs::file_type::regular &&
      fs::file_size(path, error) > kMaxSceneBytes)
    throw Failure(too_large(path));
}

}  // namespace

std::string syntax_reason(const std::string& what) {
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

std::string place_of(const std::string& text, std::size_t offset) {
  offset = std::min(offset, text.size());
  const std::size_t line = 1 + static_cast<std::size_t>(std::count(
                                   text.begin(), text.begin() + offset, '\n'));
  const std::size_t line_start = text.rfind('\n', offset ? offset - 1 : 0);
  const std::size_t first =
      line_start == std::string::npos || offset == 0 ? 0 : line_start + 1;
  const std::size_t column =
      1 +
      characters_before(std::string_view(text).substr(first), offset - first);
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string read_scene_file(const std::string& path) {
  check_before_reading(path);
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file)
    throw Failure(quote(path) + ": cannot read: " + std::strerror(errno));
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
  if (failed)
    throw Failure(quote(path) + ": cannot read: " + std::strerror(error));
  return text;
}

}  // namespace common
