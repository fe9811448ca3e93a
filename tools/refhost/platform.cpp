#include "tools/refhost/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace refhost::platform {

#if defined(_WIN32)

namespace {

// The system's own text for its error code, on one line.
std::string system_message(DWORD code) {
  char text[512] = {};
  const DWORD n =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' ||
          message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  for (char& c : message)
    if (c == '\r' || c == '\n') c = ' ';
  // Texts such as "Bad EXE format for %1" expect the file's name inserted.
  for (std::size_t at; (at = message.find("%1")) != std::string::npos;)
    message.replace(at, 2, "the module");
  const std::string number = "system error " + std::to_string(code);
  return message.empty() ? number : message + " (" + number + ")";
}

}  // namespace

std::string replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING))
    return "";
  return system_message(GetLastError());
}

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned long process_id() { return GetCurrentProcessId(); }

#else

std::string replace_file(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return "";
  return std::strerror(errno);
}

bool stderr_is_terminal() { return isatty(fileno(stderr)) != 0; }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

#endif

}  // namespace refhost::platform
