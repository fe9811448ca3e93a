#include "support/printable.h"

#include <stdio.h>

/* The length of the valid UTF-8 sequence at `s` (at most `n` bytes), or 0. */
static size_t utf8_sequence(const unsigned char* s, size_t n) {
  size_t length, i;
  unsigned long code;
  if (s[0] < 0x80) return 1;
  if (s[0] >= 0xc2 && s[0] <= 0xdf)
    length = 2, code = s[0] & 0x1f;
  else if (s[0] >= 0xe0 && s[0] <= 0xef)
    length = 3, code = s[0] & 0x0f;
  else if (s[0] >= 0xf0 && s[0] <= 0xf4)
    length = 4, code = s[0] & 0x07;
  else
    return 0;
  if (length > n) return 0;
  for (i = 1; i < length; ++i) {
    if ((s[i] & 0xc0) != 0x80) return 0;
    code = code << 6 | (s[i] & 0x3f);
  }
  /* Overlong forms, surrogates and code points past U+10FFFF. */
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
      (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff)
    return 0;
  return length;
}

typedef struct {
  char* out;
  size_t size, used;
} Text;

static void put(Text* text, const char* piece, size_t n) {
  size_t i;
  for (i = 0; i < n; ++i, ++text->used)
    if (text->used + 1 < text->size) text->out[text->used] = piece[i];
}

static void put_escape(Text* text, const char* format, unsigned value) {
  char escape[8];
  const int n = snprintf(escape, sizeof escape, format, value);
  put(text, escape, (size_t)n);
}

static void put_character(Text* text, const unsigned char* s, size_t n,
                          int quoted) {
  const unsigned char c = s[0];
  if (c == '\n')
    put(text, "\\n", 2);
  else if (c == '\r')
    put(text, "\\r", 2);
  else if (c == '\t')
    put(text, "\\t", 2);
  else if (quoted && (c == '"' || c == '\\'))
    put(text, "\\", 1), put(text, (const char*)s, 1);
  else if (c < 0x20 || c == 0x7f)
    put_escape(text, "\\u%04x", c);
  else if (c == 0xc2 && n == 2 && s[1] < 0xa0)
    put_escape(text, "\\u%04x", s[1]);
  else
    put(text, (const char*)s, n);
}

size_t printable(char* out, size_t size, const char* bytes, size_t length,
                 int quoted) {
  const unsigned char* s = (const unsigned char*)bytes;
  Text text;
  size_t at = 0;
  text.out = out;
  text.size = size;
  text.used = 0;
  if (quoted) put(&text, "\"", 1);
  while (at < length) {
    const size_t n = utf8_sequence(s + at, length - at);
    if (n == 0) {
      put_escape(&text, "\\x%02x", s[at]);
      ++at;
    } else {
      put_character(&text, s + at, n, quoted);
      at += n;
    }
  }
  if (quoted) put(&text, "\"", 1);
  if (size > 0) out[text.used < size ? text.used : size - 1] = '\0';
  return text.used;
}

int valid_utf8(const char* bytes, size_t length) {
  const unsigned char* s = (const unsigned char*)bytes;
  size_t at = 0;
  while (at < length) {
    const size_t n = utf8_sequence(s + at, length - at);
    if (n == 0) return 0;
    at += n;
  }
  return 1;
}
