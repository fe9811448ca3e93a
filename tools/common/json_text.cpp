#include "tools/common/json_text.h"

namespace common {

std::string compact_json(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false, escaped = false;
  for (const char c : text) {
    if (in_string) {
      out += c;
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c != ' ' && c != '\n') {
      out += c;
      in_string = c == '"';
    }
  }
  return out;
}

}  // namespace common
