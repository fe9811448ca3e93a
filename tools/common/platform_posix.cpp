// The reference host's system operations on Linux.
#include <fcntl.h>
#include <nettle/sha2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/common/errors.h"
#include "tools/common/platform.h"
#include "tools/common/quoting.h"

namespace common::platform {

bool stderr_is_terminal() { return isatty(fileno(stderr)) != 0; }

void report_broken_pipes() { signal(SIGPIPE, SIG_IGN); }

unsigned long process_id() { return static_cast<unsigned long>(getpid()); }

std::string host_name() {
  char name[256] = {};
  return clean_host(gethostname(name, sizeof name - 1) == 0 ? name : "");
}

std::string program_path() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return std::string(path, n > 0 && n < static_cast<ssize_t>(sizeof path)
                               ? static_cast<std::size_t>(n)
                               : 0);
}

namespace {

bool same_inode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open file `fd` is still the one that `path` names.
bool still_named(int fd, const std::string& path) {
  struct stat open_file, named;
  return fstat(fd, &open_file) == 0 && lstat(path.c_str(), &named) == 0 &&
         same_inode(open_file, named);
}

int lock_waiting(int fd) {
  int locked;
  while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  return locked;
}

std::string write_all(int fd, const std::string& bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::strerror(n < 0 ? errno : EIO);
    written += static_cast<std::size_t>(n);
  }
  return fsync(fd) == 0 ? "" : std::strerror(errno);
}

}  // namespace

HeldFile::~HeldFile() { release(); }

HeldFile::HeldFile(HeldFile&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

void HeldFile::release() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

std::string HeldFile::create(const std::string& path, const std::string& bytes,
                             const std::string& like, bool& exists) {
  exists = false;
  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    exists = errno == EEXIST;
    return exists ? "" : std::strerror(errno);
  }
  // The lock marks the file as live. Another run may have taken it for
  // abandoned in the moment before the lock: then the name is no longer
  // this file's, and the caller tries another. Where the file system has no
  // such locks, the file is written unmarked and others leave it alone.
  if (lock_waiting(fd) == 0 && !still_named(fd, path)) {
    close(fd);
    exists = true;
    return "";
  }
  handle_ = fd;
  std::string error;
  struct stat existing;
  if (stat(like.c_str(), &existing) == 0 &&
      fchmod(fd, existing.st_mode & 07777) != 0)
    error = std::strerror(errno);
  if (error.empty()) error = write_all(fd, bytes);
  if (!error.empty()) {
    unlink(path.c_str());
    release();
  }
  return error;
}

void remove_if_abandoned(const std::string& path) {
  const int fd =
      open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  struct stat file;
  if (fstat(fd, &file) == 0 && S_ISREG(file.st_mode) &&
      flock(fd, LOCK_EX | LOCK_NB) == 0 && still_named(fd, path))
    unlink(path.c_str());
  close(fd);
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
    if (fstat(fd, &stream) == 0 && same_inode(stream, file)) return true;
  }
  return false;
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

// Tries `lock` until it succeeds, answering interrupts meanwhile: they are
// held, so each is taken as it comes, and ends the wait.
template <typename Lock>
int wait_for_lock(Lock lock, const std::function<void()>& waiting) {
  int locked = lock();
  if (locked == 0 || (errno != EWOULDBLOCK && errno != EAGAIN &&
                      errno != EACCES && errno != EINTR))
    return locked;
  waiting();
  const sigset_t set = interrupts();
  const timespec pause{0, 50 * 1000 * 1000};
  for (;;) {
    const int signal = sigtimedwait(&set, nullptr, &pause);
    if (signal > 0) throw Interrupted{signal};
    locked = lock();
    if (locked == 0 || (errno != EWOULDBLOCK && errno != EAGAIN &&
                        errno != EACCES && errno != EINTR))
      return locked;
  }
}

}  // namespace

FolderLock::FolderLock(const std::string& folder,
                       const std::function<void()>& waiting) {
  // The folder itself is locked, so nothing is left behind. Where the system
  // cannot lock a folder (some network file systems), a lock file in it is
  // locked instead, with a lock such systems carry.
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    try {
      if (wait_for_lock([fd] { return flock(fd, LOCK_EX | LOCK_NB); },
                        waiting) == 0) {
        handle_ = fd;
        return;
      }
    } catch (...) {
      close(fd);
      throw;
    }
    close(fd);
  }
  const std::string path = folder + "/.ravelTint.lock";
  fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  int locked = -1;
  if (fd >= 0) {
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    try {
      locked =
          wait_for_lock([&] { return fcntl(fd, F_SETLK, &whole); }, waiting);
    } catch (...) {
      close(fd);
      throw;
    }
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

FolderLock::FolderLock(FolderLock&& other) noexcept : handle_(other.handle_) {
  other.handle_ = -1;
}

HeldInterrupts::HeldInterrupts() {
  const sigset_t set = interrupts();
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

HeldInterrupts::~HeldInterrupts() {
  const sigset_t set = interrupts();
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

void end_by(const Interrupted& interrupt) {
  std::fflush(stdout);
  ::signal(interrupt.signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, interrupt.signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(interrupt.signal);
  _exit(128 + interrupt.signal);
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

}  // namespace common::platform
