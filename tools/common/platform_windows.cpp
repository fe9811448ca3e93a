// The reference host's system operations on Windows.
// windows.h first, for the types that bcrypt.h needs.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#include <io.h>

#include <atomic>
#include <cstdio>

#include "tools/common/errors.h"
#include "tools/common/platform.h"
#include "tools/common/quoting.h"

namespace common::platform {

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
  const std::string number = "system error " + std::to_string(code);
  return message.empty() ? number : message + " (" + number + ")";
}

CRITICAL_SECTION committing;
INIT_ONCE committing_ready = INIT_ONCE_STATIC_INIT;
// Set while a FolderLock waits: an interrupt then ends the wait instead of
// waiting for the commit.
std::atomic<bool> waiting_for_lock{false};
std::atomic<bool> interrupted{false};

BOOL CALLBACK prepare(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&committing);
  return TRUE;
}

// A console interrupt waits until the commit is over, then takes its usual
// effect; during a wait for another run's lock it ends the wait.
BOOL WINAPI wait_for_commit(DWORD) {
  if (waiting_for_lock) {
    interrupted = true;
    return TRUE;
  }
  EnterCriticalSection(&committing);
  LeaveCriticalSection(&committing);
  return FALSE;
}

bool identity_of(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  return file != INVALID_HANDLE_VALUE && file != nullptr &&
         GetFileType(file) == FILE_TYPE_DISK &&
         GetFileInformationByHandle(file, &info);
}

}  // namespace

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

void report_broken_pipes() {}

unsigned long process_id() { return GetCurrentProcessId(); }

std::string host_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return clean_host(GetComputerNameA(name, &size) ? name : "");
}

std::string program_path() {
  char path[32768];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0);
}

HeldFile::~HeldFile() { release(); }

HeldFile::HeldFile(HeldFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

void HeldFile::release() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

std::string HeldFile::create(const std::string& path, const std::string& bytes,
                             const std::string&, bool& exists) {
  exists = false;
  // Open without sharing deletion: while this handle lives, no other run can
  // remove the file, and one that tries knows it is live.
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
    return exists ? "" : system_message(error);
  }
  handle_ = reinterpret_cast<std::intptr_t>(file);
  std::size_t written = 0;
  DWORD error = 0;
  while (written < bytes.size() && !error) {
    const DWORD chunk = static_cast<DWORD>(bytes.size() - written < (1u << 30)
                                               ? bytes.size() - written
                                               : (1u << 30));
    DWORD n = 0;
    if (!WriteFile(file, bytes.data() + written, chunk, &n, nullptr) || !n)
      error = GetLastError() ? GetLastError() : ERROR_WRITE_FAULT;
    written += n;
  }
  if (!error && !FlushFileBuffers(file)) error = GetLastError();
  if (!error) return "";
  release();
  DeleteFileA(path.c_str());
  return system_message(error);
}

void remove_if_abandoned(const std::string& path) {
  // Fails with a sharing violation while a live run holds the file.
  DeleteFileA(path.c_str());
}

std::string replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return "";
  return system_message(GetLastError());
}

void sync_folder(const std::string&) {}  // MOVEFILE_WRITE_THROUGH did it

bool is_standard_stream(const std::string& path) {
  HANDLE file = CreateFileA(
      path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION named;
  const bool known = identity_of(file, named);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!known) return false;
  for (int fd = 0; fd <= 2; ++fd) {
    BY_HANDLE_FILE_INFORMATION stream;
    if (identity_of(reinterpret_cast<HANDLE>(_get_osfhandle(fd)), stream) &&
        stream.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
        stream.nFileIndexHigh == named.nFileIndexHigh &&
        stream.nFileIndexLow == named.nFileIndexLow)
      return true;
  }
  return false;
}

FolderLock::FolderLock(const std::string& folder,
                       const std::function<void()>& waiting) {
  // A lock file of this folder, open by one run at a time and gone with it.
  const std::string path = folder + "\\.ravelTint.lock";
  bool told = false;
  for (;;) {
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      waiting_for_lock = false;
      handle_ = reinterpret_cast<std::intptr_t>(file);
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
      waiting_for_lock = false;
      throw Failure("cannot lock the folder " + quote(folder) + ": " +
                    system_message(error));
    }
    if (!told) {
      waiting_for_lock = true;
      waiting();
      told = true;
    }
    if (interrupted.exchange(false)) {
      waiting_for_lock = false;
      throw Interrupted{2};
    }
    Sleep(20);
  }
}

FolderLock::~FolderLock() {
  if (handle_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

FolderLock::FolderLock(FolderLock&& other) noexcept : handle_(other.handle_) {
  other.handle_ = 0;
}

HeldInterrupts::HeldInterrupts() {
  InitOnceExecuteOnce(&committing_ready, prepare, nullptr, nullptr);
  EnterCriticalSection(&committing);
  SetConsoleCtrlHandler(wait_for_commit, TRUE);
}

HeldInterrupts::~HeldInterrupts() {
  LeaveCriticalSection(&committing);
  SetConsoleCtrlHandler(wait_for_commit, FALSE);
}

void end_by(const Interrupted&) {
  std::fflush(stdout);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

std::string sha256_hex(const std::string& bytes) {
  unsigned char digest[32] = {};
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                  0) == 0) {
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
      BCryptHashData(hash,
                     reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                     static_cast<ULONG>(bytes.size()), 0);
      BCryptFinishHash(hash, digest, sizeof digest, 0);
      BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
  }
  return hex_of(digest, sizeof digest);
}

}  // namespace common::platform
