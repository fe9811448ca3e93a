// Every error a tool reports: one line, then a non-zero exit; and the one
// way out of a program.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

namespace common {

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Exit statuses: a mistake on the command line, and a failure after it (a
// scene, the library, an input image, an output).
inline constexpr int kUsageError = 2;
inline constexpr int kFailure = 1;

// A failure that the command line alone causes (exit status 2).
struct UsageFailure : Failure {
  using Failure::Failure;
};

// The name that begins every line the program writes for a person
// ("refhost", "ravelTint-matte"), and its temporaries' names; run_program
// sets it.
const char* program_name();

// Writes "PROGRAM: error: WHAT" as one printable line on standard error, and
// returns `status`, the exit status it calls for.
int report_error(const std::string& what, int status);

// Flushes standard output: the report is the program's answer, and one that
// could not be written (a full disk, a closed pipe) is a failure, reported
// as one line. Returns 0, or 1 for such a failure.
int finish_output();

// Runs a program's `body`, which returns its own exit status: an exception
// becomes one error line and its status (kUsageError for UsageFailure,
// kFailure otherwise, "out of memory" for a failed allocation), an interrupt
// ends the process as its signal would, and standard output is checked at
// the end. `name` is the program's name from then on. Shared by the
// reference host and the matte tool.
int run_program(const char* name, const std::function<int()>& body);

}  // namespace common
