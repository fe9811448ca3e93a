#include "tools/refhost/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "support/module.h"
#include "tools/refhost/text.h"

#if defined(_WIN32)
// windows.h first, for the types that bcrypt.h needs.
// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <nettle/sha2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace refhost::platform {

namespace {

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

}  // namespace

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
  const std::string number = "system error " + std::to_string(code);
  return message.empty() ? number : message + " (" + number + ")";
}

CRITICAL_SECTION committing;
INIT_ONCE committing_ready = INIT_ONCE_STATIC_INIT;

BOOL CALLBACK prepare(PINIT_ONCE, PVOID, PVOID*) {
  InitializeCriticalSection(&committing);
  return TRUE;
}

// A console interrupt waits until the commit is over, then takes its usual
// effect.
BOOL WINAPI wait_for_commit(DWORD) {
  EnterCriticalSection(&committing);
  LeaveCriticalSection(&committing);
  return FALSE;
}

}  // namespace

bool stderr_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

unsigned long process_id() { return GetCurrentProcessId(); }

std::string host_name() {
  char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = sizeof name;
  return clean_host(GetComputerNameA(name, &size) ? name : "");
}

bool process_alive(unsigned long id) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                               static_cast<DWORD>(id));
  if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool alive = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  CloseHandle(process);
  return alive;
}

std::string program_path() {
  char path[32768];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n < sizeof path ? n : 0);
}

std::string write_new_file(const std::string& path, const std::string& bytes,
                           const std::string&) {
  const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
  if (fd < 0) return std::strerror(errno);
  std::size_t written = 0;
  int error = 0;
  while (written < bytes.size() && !error) {
    const int n = _write(fd, bytes.data() + written,
                         static_cast<unsigned>(bytes.size() - written));
    if (n <= 0)
      error = errno ? errno : EIO;
    else
      written += static_cast<std::size_t>(n);
  }
  if (!error && _commit(fd) != 0) error = errno;
  if (_close(fd) != 0 && !error) error = errno;
  if (!error) return "";
  _unlink(path.c_str());
  return std::strerror(error);
}

std::string replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return "";
  return system_message(GetLastError());
}

void sync_folder(const std::string&) {}  // MOVEFILE_WRITE_THROUGH did it

bool is_standard_stream(const std::string&) { return false; }

FolderLock::FolderLock(const std::string& folder) {
  // A lock file of this folder, open by one run at a time and gone with it.
  const std::string path = folder + "\\.refhost.lock";
  for (;;) {
    HANDLE file = CreateFileA(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      handle_ = reinterpret_cast<std::intptr_t>(file);
      return;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
      throw Failure("cannot lock the folder " + quote(folder) + ": " +
                    system_message(error));
    Sleep(20);
  }
}

FolderLock::~FolderLock() {
  if (handle_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
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

#else

bool stderr_is_terminal() { return isatty(fileno(stderr)) != 0; }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

std::string host_name() {
  char name[256] = {};
  return clean_host(gethostname(name, sizeof name - 1) == 0 ? name : "");
}

bool process_alive(unsigned long id) {
  return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

std::string program_path() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return std::string(path, n > 0 && n < static_cast<ssize_t>(sizeof path)
                               ? static_cast<std::size_t>(n)
                               : 0);
}

std::string write_new_file(const std::string& path, const std::string& bytes,
                           const std::string& like) {
  struct stat existing;
  const bool keep_mode = stat(like.c_str(), &existing) == 0;
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  int error = 0;
  if (keep_mode && fchmod(fd, existing.st_mode & 07777) != 0) error = errno;
  std::size_t written = 0;
  while (written < bytes.size() && !error) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? errno : EIO;
    else
      written += static_cast<std::size_t>(n);
  }
  if (!error && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && !error) error = errno;
  if (!error) return "";
  unlink(path.c_str());
  return std::strerror(error);
}

std::string replace_file(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return "";
  return std::strerror(errno);
}

void sync_folder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool is_standard_stream(const std::string& path) {
  struct stat file;
  if (stat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return false;
  for (int fd = 0; fd <= 2; ++fd) {
    struct stat stream;
    if (fstat(fd, &stream) == 0 && stream.st_dev == file.st_dev &&
        stream.st_ino == file.st_ino)
      return true;
  }
  return false;
}

FolderLock::FolderLock(const std::string& folder) {
  // The folder itself is locked, so nothing is left behind. Where the system
  // cannot lock a folder (some network file systems), a lock file in it is
  // locked instead, with a lock such systems carry.
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked == 0) {
      handle_ = fd;
      return;
    }
    close(fd);
  }
  const std::string path = folder + "/.refhost.lock";
  fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  int locked = -1;
  if (fd >= 0)
    while ((locked = fcntl(fd, F_SETLKW, &whole)) != 0 && errno == EINTR) {
    }
  if (locked != 0) {
    const int error = errno;
    if (fd >= 0) close(fd);
    throw Failure("cannot lock the folder " + quote(folder) + ": " +
                  std::strerror(error));
  }
  handle_ = fd;
}

FolderLock::~FolderLock() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

namespace {
sigset_t interrupts() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

HeldInterrupts::HeldInterrupts() {
  const sigset_t set = interrupts();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

HeldInterrupts::~HeldInterrupts() {
  const sigset_t set = interrupts();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

std::string sha256_hex(const std::string& bytes) {
  sha256_ctx context;
  unsigned char digest[SHA256_DIGEST_SIZE];
  sha256_init(&context);
  sha256_update(&context, bytes.size(),
                reinterpret_cast<const std::uint8_t*>(bytes.data()));
  sha256_digest(&context, sizeof digest, digest);
  return hex_of(digest, sizeof digest);
}

#endif

FolderLock::FolderLock(FolderLock&& other) noexcept : handle_(other.handle_) {
#if defined(_WIN32)
  other.handle_ = 0;
#else
  other.handle_ = -1;
#endif
}

}  // namespace refhost::platform
