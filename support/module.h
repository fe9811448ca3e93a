/* Loading a module as a renderer does, finding things in it by name, and
 * the folder of the running program: the one loader that the reference
 * host, ravelTint-check, the tests, the fuzz targets and the benchmarks
 * share. Plain C99, so that ravelTint-check can use it too.
 *
 * Before a library is handed to the system's loader, its file is checked:
 * a regular file, a shared library for x86-64, and as long as its headers
 * say. The system's loader would block on a pipe, kill the process with a
 * bus error on a truncated file, or blame a missing file for a library of
 * another machine. */
#ifndef RAVELTINT_SUPPORT_MODULE_H
#define RAVELTINT_SUPPORT_MODULE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ".so" or ".dll": the file name suffix of a module on this system. */
extern const char module_suffix[];
/* '/' or '\\'. */
extern const char module_separator;

/* Room for any reason these functions give. */
#define MODULE_REASON_SIZE 512

/* Returns 1 when the file at `path` is a whole shared library for this
 * system and machine; otherwise 0, with the reason in `reason` ("not a
 * library for x86-64", "truncated: 4000 of 92480 bytes", ...). Never blocks,
 * whatever the file is. */
int module_check_file(const char* path, char* reason, size_t size);

/* Checks the file, then loads the module privately (its names do not join
 * the process's global scope) with every symbol bound at once. Returns the
 * module, or null with the reason in `reason`. */
void* module_open(const char* path, char* reason, size_t size);

/* The address of `name` in `module`, or null. */
void* module_symbol(void* module, const char* name);

/* The running program's own module, as a renderer hands it over. */
void* module_self(void);

/* Writes the folder of the running program (no trailing separator) to
 * `path`; returns its length, or 0 when it cannot be told or does not fit. */
size_t module_program_directory(char* path, size_t size);

#ifdef __cplusplus
}
#endif

#endif
