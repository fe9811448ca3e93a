// What differs between Linux and Windows for the reference host: the file
// operations of its commit, the locks that serialise runs and mark their
// temporaries as live, holding interrupts, and a checksum. Each system has
// its own file (platform_posix.cpp, platform_windows.cpp).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace common::platform {

bool stderr_is_terminal();

// Writes to a closed pipe fail with an error the program reports, rather
// than end it without a word (SIGPIPE; Windows has no such signal).
void report_broken_pipes();

// This process's number and this machine's name (letters, digits, '-' and
// '.' only), which name its temporary files.
unsigned long process_id();
std::string host_name();

// The running program's own file.
std::string program_path();

// A file this run is writing, held open while it lives: no other run takes
// it for abandoned, whatever process numbers the two runs see (a container
// has numbers of its own), since the mark is a lock of the system's, gone
// only with the file's last holder.
class HeldFile {
 public:
  HeldFile() = default;
  ~HeldFile();
  HeldFile(HeldFile&& other) noexcept;
  HeldFile& operator=(HeldFile&&) = delete;
  HeldFile(const HeldFile&) = delete;

  // Creates `path`, which must not exist, with `bytes`, flushed to the disk;
  // with the permissions of `like` where that file exists. Returns the
  // system's reason of a failure (nothing is left then), or nothing; sets
  // `exists` instead where another file has that name.
  std::string create(const std::string& path, const std::string& bytes,
                     const std::string& like, bool& exists);
  // Lets go of the file (Windows cannot rename a file it holds); only while
  // its folder is locked, where no other run looks for abandoned files.
  void release();

 private:
  std::intptr_t handle_ = -1;
};

// Removes `path` if no live run holds it: a temporary that a run killed
// outright left behind.
void remove_if_abandoned(const std::string& path);

// Moves `from` over `to` in one atomic step. Returns the reason of a failure,
// or nothing.
std::string replace_file(const std::string& from, const std::string& to);

// Makes the renames in a folder durable, where the system allows.
void sync_folder(const std::string& folder);

// Whether `path` is this process's standard input, output or error itself
// (the same file, whatever the name).
bool is_standard_stream(const std::string& path);

// Thrown where an interrupt (SIGINT, SIGTERM, SIGHUP; a console interrupt on
// Windows) ends a wait before anything was renamed.
struct Interrupted {
  int signal;
};

// Ends the process as the interrupt would have, once the run has cleaned up.
[[noreturn]] void end_by(const Interrupted& interrupt);

// Held while it lives: no other run of either tool commits into the folder.
// Where another run holds it, calls `waiting` once and waits for it; an
// interrupt meanwhile throws Interrupted. Throws Failure when the folder cannot
// be locked.
class FolderLock {
 public:
  FolderLock(const std::string& folder, const std::function<void()>& waiting);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  FolderLock(FolderLock&& other) noexcept;

 private:
  std::intptr_t handle_;
};

// While it lives, interrupts wait; one that came meanwhile takes effect when
// it ends. A FolderLock's wait still answers them.
class HeldInterrupts {
 public:
  HeldInterrupts();
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;
};

// The SHA-256 of `bytes`, as 64 hexadecimal digits.
std::string sha256_hex(const std::string& bytes);

// Shared by both systems' files: a host name with only the characters a
// file name may hold, and bytes as lowercase hexadecimal.
std::string clean_host(const char* name);
std::string hex_of(const unsigned char* bytes, std::size_t n);

}  // namespace common::platform
