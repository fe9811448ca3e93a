#include "library/shader/check.h"

#include <cstdio>

#if !defined(_WIN32)
#include <errno.h>  // program_invocation_short_name
#endif

namespace shader {

// The report is finished in a local buffer and written with one call, so that
// it never mixes with lines that other threads write at the same time.
void report_failed_check(const char* expression, const char* file,
                         unsigned line, const char* function) {
  char report[512];
#if defined(_WIN32)
  (void)function;
  std::snprintf(report, sizeof report,
                "Assertion failed: %s, file %s, line %u\n", expression, file,
                line);
#else
  std::snprintf(
      report, sizeof report, "%s: %s:%u: %s: Assertion `%s' failed.\n",
      program_invocation_short_name, file, line, function, expression);
#endif
  std::fputs(report, stderr);
}

}  // namespace shader
