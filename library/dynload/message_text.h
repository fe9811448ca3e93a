// Turning a caller's format and arguments into text that the renderer can be
// handed in its format position.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace dynload {

// A message holds at most this many bytes, its terminating zero included.
constexpr std::size_t kMessageSize = 1024;
// Room for a message in which every character is a doubled '%'.
constexpr std::size_t kEscapedSize = 2 * (kMessageSize - 1) + 1;

// Formats into `text` with the C99 conversions, cut at 1023 characters.
// Returns `text`, or `format` itself when formatting fails.
const char* format_message(char (&text)[kMessageSize], const char* format,
                           va_list args);

// The renderer formats the text it is handed once more, so every '%' must
// reach it doubled. Returns `text` itself when it holds no '%', otherwise its
// first 1023 characters escaped into `escaped`.
const char* escape_percent(const char* text, char (&escaped)[kEscapedSize]);

}  // namespace dynload
