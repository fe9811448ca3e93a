#include "shader/check.h"

#include <cstdio>

#if !defined(_WIN32)
#include <errno.h>  // program_invocation_short_name
#endif

namespace shader {

void report_failed_check(const char* expression, const char* file,
                         unsigned line, const char* function) {
#if defined(_WIN32)
  (void)function;
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %u\n", expression,
               file, line);
#else
  std::fprintf(stderr, "%s: %s:%u: %s: Assertion `%s' failed.\n",
               program_invocation_short_name, file, line, function, expression);
#endif
}

}  // namespace shader
