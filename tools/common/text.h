// Every error the reference host reports, and the text it shows a person.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Every error the reference host reports: one line, then a non-zero exit.
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

// Text for a person: every path, name and value that a message or report
// shows is quoted and escaped, so that no input can split a line or write
// raw bytes (controls, terminal escapes, invalid UTF-8) to a terminal.
namespace common {

// `text` in double quotes, escaped as JSON writes it; C1 controls, DEL and
// invalid UTF-8 are escaped too.
std::string quote(std::string_view text);

// The same, cut to its first 60 bytes (at a character boundary) with the
// whole length said, for values that may be arbitrarily long.
std::string quote_short(std::string_view text);

// Any text made into one printable line: controls and invalid UTF-8 escaped,
// nothing quoted. Every line the tools write for a person goes through it.
std::string printable_line(std::string_view text);

}  // namespace common

// "Did you mean": words a person may have meant, and the count of a thing
// in words.
namespace common {

// The text with ASCII capitals made small; other bytes as they are.
std::string ascii_lower(std::string_view text);

// Insertions, deletions, substitutions and swaps of neighbours that turn one
// text into the other.
std::size_t edit_distance(const std::string& a, const std::string& b);

// The known word that `word` differs from only in case or by at most two
// edits, or null.
const char* meant_word(const std::string& word,
                       const std::vector<const char*>& known);

// The characters of UTF-8 text before byte `offset`: a column as a person
// counts it.
std::size_t characters_before(std::string_view text, std::size_t offset);

// "1 object", "2 objects": a count and its noun, which takes an "s" but
// for one.
std::string count_of(std::size_t n, const char* noun);

}  // namespace common
