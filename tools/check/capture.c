/* The pipe never makes a writer wait: on Linux its writing end does not
 * block (a report too long for it is cut, which still shows), and on Windows
 * it holds far more than the longest report of the checks. */
#define _GNU_SOURCE
#include "tools/check/capture.h"

#include <stdio.h>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define dup_fd _dup
#define dup2_fd _dup2
#define close_fd _close
#define read_fd(fd, buffer, n) _read(fd, buffer, (unsigned)(n))
static int open_pipe(int fds[2]) { return _pipe(fds, 1 << 20, _O_BINARY); }
#else
#include <fcntl.h>
#include <unistd.h>
#define dup_fd dup
#define dup2_fd dup2
#define close_fd close
#define read_fd read
static int open_pipe(int fds[2]) { return pipe2(fds, O_NONBLOCK | O_CLOEXEC); }
#endif

static int saved_stderr = -1;
static int pipe_fds[2] = {-1, -1};

int capture_stderr_begin(void) {
  fflush(stderr);
  if (open_pipe(pipe_fds) != 0) return 0;
  saved_stderr = dup_fd(2);
  if (saved_stderr < 0 || dup2_fd(pipe_fds[1], 2) < 0) return 0;
  close_fd(pipe_fds[1]);
  return 1;
}

void capture_stderr_end(char* written, size_t size) {
  size_t used = 0;
  long n;
  fflush(stderr);
  dup2_fd(saved_stderr, 2);
  close_fd(saved_stderr);
  while (used + 1 < size &&
         (n = (long)read_fd(pipe_fds[0], written + used, size - 1 - used)) > 0)
    used += (size_t)n;
  written[used] = '\0';
  close_fd(pipe_fds[0]);
}
