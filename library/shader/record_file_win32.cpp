// Windows paths are UTF-16: the variable is read as such, so that a path
// of any characters works, and only messages and the host name become
// UTF-8.
#include <windows.h>

#include "library/shader/record_file.h"

namespace shader::record_file {

namespace {

HANDLE file = INVALID_HANDLE_VALUE;
char opened_path[512];

void to_utf8(const wchar_t* text, char* out, std::size_t size) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out,
                                    static_cast<int>(size), nullptr, nullptr);
  if (n <= 0) out[0] = '\0';
  out[size - 1] = '\0';
}

void fail(Failure& failure, const char* reason, DWORD code) {
  char number[16];
  int length = 0;
  for (DWORD c = code; c || !length; c /= 10)
    number[length++] = static_cast<char>('0' + c % 10);
  char digits[16];
  for (int i = 0; i < length; ++i) digits[i] = number[length - 1 - i];
  digits[length] = '\0';
  failure.say(opened_path, reason, code ? digits : "");
}

}  // namespace

Opened open(Failure& failure) {
  wchar_t pattern[4096];
  const DWORD length =
      GetEnvironmentVariableW(L"RAVELTINT_RECORD", pattern, 4096);
  if (length == 0) return Opened::kNotAsked;
  wchar_t path[4096];
  if (length >= 4096 ||
      !expand_path(
          pattern, path, 4096, GetCurrentProcessId(), [](wchar_t(&piece)[256]) {
            DWORD n = 255;
            if (!GetComputerNameExW(ComputerNameDnsHostname, piece, &n))
              lstrcpyW(piece, L"unknown");
          })) {
    to_utf8(length < 4096 ? pattern : L"RAVELTINT_RECORD", opened_path,
            sizeof opened_path);
    fail(failure, "the path is too long", 0);
    return Opened::kFailed;
  }
  to_utf8(path, opened_path, sizeof opened_path);
  // Read access too, which a lock of the file asks for.
  file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_DATA,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    fail(failure, "system error ", GetLastError());
    return Opened::kFailed;
  }
  return Opened::kOpen;
}

// Windows appends each write whole, but not every system that runs Windows
// programs keeps the appends of several processes apart: each line also
// holds a lock of a byte far beyond any record's end, which every process
// writing a record takes (a file that cannot be locked is written all the
// same).
bool append(const char* bytes, std::size_t length, Failure& failure) {
  OVERLAPPED beyond{};
  beyond.Offset = 0xffffffff;
  beyond.OffsetHigh = 0x7fffffff;
  const bool locked =
      LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyond);
  DWORD written = 0;
  const BOOL wrote =
      WriteFile(file, bytes, static_cast<DWORD>(length), &written, nullptr);
  const DWORD error = GetLastError();
  if (locked) UnlockFileEx(file, 0, 1, 0, &beyond);
  if (!wrote) {
    fail(failure, "system error ", error);
    return false;
  }
  if (written == length) return true;
  fail(failure, "a write fell short", 0);
  return false;
}

std::uint32_t process_id() { return GetCurrentProcessId(); }

void host_name(char* out, std::size_t size) {
  wchar_t name[256];
  DWORD length = 255;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length))
    lstrcpyW(name, L"unknown");
  to_utf8(name, out, size);
}

}  // namespace shader::record_file
