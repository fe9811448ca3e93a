// A precondition check that reports like the C runtime's assert but never
// aborts: a failed check in one sample must not end the renderer's whole
// render. The caller decides how to carry on.
#pragma once

namespace shader {

// Writes the C runtime's assertion message for `expression` to standard error.
void report_failed_check(const char* expression, const char* file,
                         unsigned line, const char* function);

}  // namespace shader

// True when `condition` holds; otherwise reports `text`, the condition as
// the renderer's documentation writes it, and gives false.
#define RAVELTINT_CHECK(condition, text)                                  \
  ((condition) ? true                                                     \
               : (::shader::report_failed_check(text, __FILE__, __LINE__, \
                                                __PRETTY_FUNCTION__),     \
                  false))
