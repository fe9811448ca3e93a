/* What the library writes to standard error while it is checked. */
#ifndef RAVELTINT_CHECK_CAPTURE_H
#define RAVELTINT_CHECK_CAPTURE_H

#include <stddef.h>

/* Sends standard error into a pipe of this program's own. Returns 0 when it
 * cannot. */
int capture_stderr_begin(void);

/* Puts standard error back and writes what was sent meanwhile (at most
 * size - 1 bytes, terminated) to `written`. */
void capture_stderr_end(char* written, size_t size);

#endif
