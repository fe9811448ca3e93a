/* Text made safe to show a person: any bytes become one line of printable
 * text that cannot move a terminal's cursor or split a log line. */
#ifndef RAVELTINT_SUPPORT_PRINTABLE_H
#define RAVELTINT_SUPPORT_PRINTABLE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes `bytes` (`length` of them) to `out`, which holds `size` bytes and is
 * always terminated, as JSON writes a string: \n, \r, \t, \" and \\, and
 * \u00XX for every other C0 control, DEL and the C1 controls U+0080 to
 * U+009F (the 8-bit terminal controls). A byte that is not part of valid
 * UTF-8 becomes \xNN. With `quoted`, the text is put in double quotes (and
 * '"' and '\' are escaped). Returns the length of the whole text, which may
 * exceed size - 1, as snprintf does. */
size_t printable(char* out, size_t size, const char* bytes, size_t length,
                 int quoted);

/* Whether `bytes` are valid UTF-8 throughout. */
int valid_utf8(const char* bytes, size_t length);

#ifdef __cplusplus
}
#endif

#endif
