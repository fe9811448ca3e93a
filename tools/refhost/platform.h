// What differs between Linux and Windows for the reference host: the file
// operations of its commit, the lock that serialises runs, holding
// interrupts, and a checksum.
#pragma once

#include <cstdint>
#include <string>

namespace refhost::platform {

bool stderr_is_terminal();

// This process's number and this machine's name (letters, digits, '-' and
// '.' only), which name its temporary files.
unsigned long process_id();
std::string host_name();
// Whether a process of this machine with that number is running.
bool process_alive(unsigned long id);

// The running program's own file.
std::string program_path();

// Creates `path`, which must not exist, with `bytes`, flushed to the disk;
// with the permissions of `like` where that file exists. Returns the
// system's reason of a failure (the file is then removed), or nothing.
std::string write_new_file(const std::string& path, const std::string& bytes,
                           const std::string& like);

// Moves `from` over `to` in one atomic step. Returns the reason of a failure,
// or nothing.
std::string replace_file(const std::string& from, const std::string& to);

// Makes the renames in a folder durable, where the system allows.
void sync_folder(const std::string& folder);

// Whether `path` is this process's standard input, output or error itself
// (the same file, whatever the name).
bool is_standard_stream(const std::string& path);

// Held while it lives: no other refhost run commits into the folder. Waits
// for one that does. Throws Failure when the folder cannot be locked.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  FolderLock(FolderLock&& other) noexcept;

 private:
  std::intptr_t handle_;
};

// While it lives, interrupts (SIGINT, SIGTERM, SIGHUP; console interrupts on
// Windows) wait; one that came meanwhile takes effect when it ends.
class HeldInterrupts {
 public:
  HeldInterrupts();
  ~HeldInterrupts();
  HeldInterrupts(const HeldInterrupts&) = delete;
  HeldInterrupts& operator=(const HeldInterrupts&) = delete;
};

// The SHA-256 of `bytes`, as 64 hexadecimal digits.
std::string sha256_hex(const std::string& bytes);

}  // namespace refhost::platform
