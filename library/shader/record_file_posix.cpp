#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "library/shader/record_file.h"

namespace shader::record_file {

namespace {

int file = -1;
// The path as opened, for messages.
char opened_path[512];

void copy(char* out, std::size_t size, const char* text) {
  std::size_t n = 0;
  for (; text[n] && n + 1 < size; ++n) out[n] = text[n];
  out[n] = '\0';
}

void fail(Failure& failure, const char* reason) {
  failure.say(opened_path, reason);
}

}  // namespace

Opened open(Failure& failure) {
  const char* pattern = getenv("RAVELTINT_RECORD");
  if (!pattern || !*pattern) return Opened::kNotAsked;
  char path[4096];
  if (!expand_path(pattern, path, sizeof path, process_id(),
                   [](char(&piece)[256]) { host_name(piece, 256); })) {
    copy(opened_path, sizeof opened_path, pattern);
    fail(failure, "the path is too long");
    return Opened::kFailed;
  }
  copy(opened_path, sizeof opened_path, path);
  file = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (file < 0) {
    fail(failure, strerror(errno));
    return Opened::kFailed;
  }
  return Opened::kOpen;
}

bool append(const char* bytes, std::size_t length, Failure& failure) {
  ssize_t written;
  do written = ::write(file, bytes, length);
  while (written < 0 && errno == EINTR);
  if (written == static_cast<ssize_t>(length)) return true;
  fail(failure, written < 0 ? strerror(errno) : "a write fell short");
  return false;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(getpid()); }

void host_name(char* out, std::size_t size) {
  if (gethostname(out, size) != 0) copy(out, size, "unknown");
  out[size - 1] = '\0';
}

}  // namespace shader::record_file
