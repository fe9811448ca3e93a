#include "tools/common/platform.h"

namespace common::platform {

std::string hex_of(const unsigned char* bytes, std::size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < n; ++i) {
    hex += digits[bytes[i] >> 4];
    hex += digits[bytes[i] & 15];
  }
  return hex;
}

std::string clean_host(const char* name) {
  std::string host;
  for (const char* c = name; *c && host.size() < 64; ++c)
    if ((*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
        (*c >= '0' && *c <= '9') || *c == '-' || *c == '.')
      host += *c;
  return host.empty() ? "host" : host;
}

}  // namespace common::platform
