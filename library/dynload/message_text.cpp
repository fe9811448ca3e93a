#include "library/dynload/message_text.h"

#include <cstdio>
#include <cstring>

namespace dynload {

namespace {

int format_bounded(char* buffer, std::size_t size, const char* format,
                   va_list args) {
#if defined(_WIN32)
  // The C runtime's own formatter predates C99 (%zu, %lld, %a and their kin);
  // this one gives the same text as on Linux.
  return __mingw_vsnprintf(buffer, size, format, args);
#else
  return std::vsnprintf(buffer, size, format, args);
#endif
}

}  // namespace

const char* format_message(char (&text)[kMessageSize], const char* format,
                           va_list args) {
  if (!format) return "";
  return format_bounded(text, sizeof text, format, args) < 0 ? format : text;
}

const char* escape_percent(const char* text, char (&escaped)[kEscapedSize]) {
  if (!std::strchr(text, '%')) return text;
  std::size_t out = 0;
  for (std::size_t in = 0; text[in] && in < kMessageSize - 1; ++in) {
    if (text[in] == '%') escaped[out++] = '%';
    escaped[out++] = text[in];
  }
  escaped[out] = '\0';
  return escaped;
}

}  // namespace dynload
