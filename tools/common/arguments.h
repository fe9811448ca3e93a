// Command lines read exactly, with every mistake said in the program's own
// words: numbers in plain decimal, and the mistakes the parsing library
// would otherwise word (unknown and repeated options, missing values, stray
// words). Shared by the reference host and the matte tool.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace common {

// A whole number in plain decimal (an optional '-', then digits, no leading
// zero), from `low` to `high`; nothing otherwise.
std::optional<std::int64_t> parse_decimal(std::string_view text,
                                          std::int64_t low, std::int64_t high);

// An option's value, what it is and what it must be, as one line.
[[noreturn]] void refuse(const std::string& option, const std::string& value,
                         const std::string& expected);

// "a whole number from LOW to HIGH, in decimal without leading zeros".
std::string range_text(std::int64_t low, std::int64_t high);

// The value as a whole number from `low` to `high`, or refused.
std::int64_t whole(const std::string& option, const std::string& value,
                   std::int64_t low, std::int64_t high);

// A count of Cryptomatte ranks (--ranks): an even number from 2 to 16, or
// refused.
int cryptomatte_ranks(const std::string& value);

// An option given with an empty value would silently mean its default.
extern const CLI::Validator kNotEmpty;

// Sets up `app` as both programs read their command lines: "/path" is a
// file on every system, never a Windows-style option, and a mistake the
// parsing library finds is one error line in the program's name.
void read_as_this_program(CLI::App& app);

// Refuses a file name that does not end in `extension` (any case).
void require_extension(const std::string& option, const std::string& path,
                       const std::string& extension);

// The command line's mistakes, each in the program's own words before the
// parsing library sees them. The first `positionals` words that are not
// options are the program's own; `takes` says what it takes, for a stray.
// Options that take a list may be given any number of times, one value
// each time.
void check_command_line(const CLI::App& app, int argc, const char* const* argv,
                        const char* takes, int positionals);

// A command line without the options that may be given several times
// (those that take a list), whose values go to `lists` in the order given,
// each exactly as written: the parsing library never sees them, and reads
// nothing of its own list syntax into them ("[a,b]" is one value).
struct SplitCommandLine {
  std::vector<std::string> rest;  // the program's name first
  std::map<std::string, std::vector<std::string>> lists;
  std::vector<const char*> argv() const;
};
SplitCommandLine take_lists(const CLI::App& app, int argc,
                            const char* const* argv);

}  // namespace common
