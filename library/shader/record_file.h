// The colour record's file, behind one small interface: the system's own
// calls for the environment, the file, the process and the machine.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shader::record_file {

// What a failure says: a path and the system's reason, in UTF-8.
struct Failure {
  char text[640];
  // "PATH": REASON DETAIL, cut to fit.
  void say(const char* path, const char* reason, const char* detail = "") {
    const char* parts[] = {"\"", path, "\": ", reason, detail};
    std::size_t n = 0;
    for (const char* part : parts)
      for (std::size_t i = 0; part[i] && n + 1 < sizeof text; ++i)
        text[n++] = part[i];
    text[n] = '\0';
  }
};

enum class Opened { kNotAsked, kOpen, kFailed };

// Opens the file that RAVELTINT_RECORD names (with %p the process id, %h the
// host name, %% a '%') for appending, creating it where it is missing.
// kNotAsked where the variable is unset or empty.
Opened open(Failure& failure);

// Appends `length` bytes in one write, so that processes appending to one
// local file never interleave inside it. False, with the reason, where the
// write fails or falls short.
bool append(const char* bytes, std::size_t length, Failure& failure);

std::uint32_t process_id();

// The machine's host name in UTF-8, cut to fit `size` (with its zero).
void host_name(char* out, std::size_t size);

// `pattern` with %p (`process`), %h (what `host` writes, at most 255
// characters) and %% expanded into `out`; false where it does not fit. Of
// narrow or wide characters, as the system's paths are.
template <typename Char, typename Host>
bool expand_path(const Char* pattern, Char* out, std::size_t size,
                 std::uint32_t process, Host host) {
  std::size_t n = 0;
  const auto put = [&](const Char* text) {
    for (; *text; ++text) {
      if (n + 1 >= size) return false;
      out[n++] = *text;
    }
    return true;
  };
  for (const Char* c = pattern; *c; ++c) {
    Char piece[256] = {*c, 0};
    if (*c == '%' && (c[1] == 'p' || c[1] == 'h' || c[1] == '%')) {
      ++c;
      if (*c == 'p') {
        int length = 0;
        for (std::uint32_t id = process; id || !length; id /= 10) ++length;
        piece[length] = 0;
        for (std::uint32_t id = process; length; id /= 10)
          piece[--length] = static_cast<Char>('0' + id % 10);
      } else if (*c == 'h') {
        host(piece);
      }
    }
    if (!put(piece)) return false;
  }
  out[n] = 0;
  return true;
}

}  // namespace shader::record_file
