/* Whether a file holds a whole shared library for this system and machine,
 * read from its own headers: ELF on Linux, PE on Windows. */
/* POSIX functions (O_CLOEXEC) under a strict C standard. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "support/module.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define open_for_reading(path) _open(path, _O_RDONLY | _O_BINARY)
#define seek _lseeki64
#define read_bytes(fd, buffer, n) _read(fd, buffer, (unsigned)(n))
#define close_file _close
#else
#include <fcntl.h>
#include <unistd.h>
/* Non-blocking, so that opening a pipe never waits for a writer. */
#define open_for_reading(path) open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC)
#define seek lseek
#define read_bytes(fd, buffer, n) read(fd, buffer, n)
#define close_file close
#endif

typedef unsigned long long u64;

/* What the headers say the file must hold, or 0 with the reason set. */
typedef struct {
  int fd;
  u64 size;
  char* reason;
  size_t reason_size;
} File;

static int fail(File* file, const char* reason) {
  snprintf(file->reason, file->reason_size, "%s", reason);
  return 0;
}

static u64 little(const unsigned char* bytes, int n) {
  u64 value = 0;
  while (n-- > 0) value = value << 8 | bytes[n];
  return value;
}

static u64 larger(u64 a, u64 b) { return a > b ? a : b; }

/* offset + length, saturated: a hostile header must not wrap around. */
static u64 end_of(u64 offset, u64 length) {
  return offset > UINT64_MAX - length ? UINT64_MAX : offset + length;
}

/* Reads `n` bytes at `offset`; 0 if the file ends before them. */
static int read_at(File* file, u64 offset, unsigned char* buffer, size_t n) {
  size_t got = 0;
  if (end_of(offset, n) > file->size ||
      seek(file->fd, (long long)offset, SEEK_SET) < 0)
    return 0;
  while (got < n) {
    const long r = (long)read_bytes(file->fd, buffer + got, n - got);
    if (r <= 0) return 0;
    got += (size_t)r;
  }
  return 1;
}

#if !defined(_WIN32)

/* ELF64: the program header table, every segment's bytes and the section
 * header table must all lie inside the file. */
static u64 required_size(File* file, const unsigned char* header) {
  unsigned char entry[56];
  u64 phoff, shoff, required;
  unsigned phnum, phentsize, i;
  if (memcmp(header, "\177ELF", 4) != 0)
    return fail(file, "not a shared library (no ELF header)");
  if (header[4] != 2 || header[5] != 1 || little(header + 18, 2) != 62)
    return fail(file, "not a library for x86-64");
  if (little(header + 16, 2) != 3) return fail(file, "not a shared library");
  phoff = little(header + 32, 8);
  shoff = little(header + 40, 8);
  phentsize = (unsigned)little(header + 54, 2);
  phnum = (unsigned)little(header + 56, 2);
  required =
      larger(end_of(phoff, (u64)phnum * phentsize),
             end_of(shoff, little(header + 58, 2) * little(header + 60, 2)));
  if (phentsize < sizeof entry) return fail(file, "not a shared library");
  for (i = 0; i < phnum && required <= file->size; ++i) {
    if (!read_at(file, end_of(phoff, (u64)i * phentsize), entry, sizeof entry))
      return required;
    required =
        larger(required, end_of(little(entry + 8, 8), little(entry + 32, 8)));
  }
  return required;
}

#else

/* PE32+: the section table and every section's raw bytes must lie inside
 * the file. */
static u64 required_size(File* file, const unsigned char* header) {
  unsigned char pe[24], section[40];
  u64 pe_offset, table, required;
  unsigned sections, i;
  if (header[0] != 'M' || header[1] != 'Z')
    return fail(file, "not a shared library (no PE header)");
  pe_offset = little(header + 0x3c, 4);
  if (!read_at(file, pe_offset, pe, sizeof pe) || memcmp(pe, "PE\0\0", 4) != 0)
    return fail(file, "not a shared library (no PE header)");
  if (little(pe + 4, 2) != 0x8664)
    return fail(file, "not a library for x86-64");
  if ((little(pe + 22, 2) & 0x2000) == 0)
    return fail(file, "not a shared library");
  sections = (unsigned)little(pe + 6, 2);
  table = end_of(pe_offset, sizeof pe + little(pe + 20, 2));
  required = end_of(table, (u64)sections * sizeof section);
  for (i = 0; i < sections && required <= file->size; ++i) {
    if (!read_at(file, table + (u64)i * sizeof section, section,
                 sizeof section))
      return required;
    required = larger(required,
                      end_of(little(section + 20, 4), little(section + 16, 4)));
  }
  return required;
}

#endif

static int check_open_file(File* file) {
  unsigned char header[64];
  long long end = seek(file->fd, 0, SEEK_END);
  u64 required;
  if (end < 0) return fail(file, "not a regular file");
  file->size = (u64)end;
  if (!read_at(file, 0, header, sizeof header)) {
    if (errno == EISDIR) return fail(file, "is a directory");
    return fail(file, "not a shared library (too short)");
  }
  required = required_size(file, header);
  if (required == 0) return 0;
  if (required > file->size) {
    snprintf(file->reason, file->reason_size, "truncated: %llu of %llu bytes",
             file->size, required);
    return 0;
  }
  return 1;
}

int module_check_file(const char* path, char* reason, size_t size) {
  File file;
  int whole;
  file.reason = reason;
  file.reason_size = size;
  file.size = 0;
  file.fd = open_for_reading(path);
  if (file.fd < 0) return fail(&file, strerror(errno));
  errno = 0;
  whole = check_open_file(&file);
  close_file(file.fd);
  return whole;
}
