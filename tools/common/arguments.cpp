#include "tools/common/arguments.h"

#include <utility>
#include <vector>

#include "tools/common/errors.h"
#include "tools/common/quoting.h"
#include "tools/common/words.h"

namespace common {

std::optional<std::int64_t> parse_decimal(std::string_view text,
                                          std::int64_t low, std::int64_t high) {
  const bool negative = !text.empty() && text.front() == '-';
  const std::string_view digits = text.substr(negative ? 1 : 0);
  // 18 digits always fit in 64 bits (19 may not); more never pass the
  // ranges asked for.
  if (digits.empty() || digits.size() > 18 ||
      (digits.size() > 1 && digits.front() == '0'))
    return std::nullopt;
  std::int64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < low || value > high) return std::nullopt;
  return value;
}

// An option's value: what it is and what it must be, as one line.
[[noreturn]] void refuse(const std::string& option, const std::string& value,
                         const std::string& expected) {
  throw CLI::ValidationError(option + " " + quote_short(value) + ": expected " +
                             expected);
}

std::string range_text(std::int64_t low, std::int64_t high) {
  return "a whole number from " + std::to_string(low) + " to " +
         std::to_string(high) + ", in decimal without leading zeros";
}

std::int64_t whole(const std::string& option, const std::string& value,
                   std::int64_t low, std::int64_t high) {
  const auto n = parse_decimal(value, low, high);
  if (!n) refuse(option, value, range_text(low, high));
  return *n;
}

int cryptomatte_ranks(const std::string& value) {
  const auto ranks = parse_decimal(value, 2, 16);
  if (!ranks || *ranks % 2 != 0)
    refuse("--ranks", value, "an even number from 2 to 16");
  return static_cast<int>(*ranks);
}

void read_as_this_program(CLI::App& app) {
  app.allow_windows_style_options(false);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(program_name()) +
           ": error: " + printable_line(e.what()) + "\n";
  });
}

// An option given with an empty value would silently mean its default.
const CLI::Validator kNotEmpty(
    [](const std::string& value) {
      return value.empty() ? std::string("must not be empty") : std::string();
    },
    "", "NOT EMPTY");

// A file's name says what it holds: an image named .exr that is a PNG
// misleads every reader after it.
void require_extension(const std::string& option, const std::string& path,
                       const std::string& extension) {
  const std::string end =
      path.size() >= extension.size()
          ? ascii_lower(path.substr(path.size() - extension.size()))
          : std::string();
  if (end != extension)
    refuse(option, path, "a file name ending in " + extension);
}

const CLI::Option* option_named(const CLI::App& app, const std::string& name) {
  for (const CLI::Option* option : app.get_options())
    for (const std::string& long_name : option->get_lnames())
      if ("--" + long_name == name) return option;
  return nullptr;
}

std::string unknown_option(const CLI::App& app, const std::string& name) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options())
    for (const std::string& long_name : option->get_lnames())
      names.push_back("--" + long_name);
  std::vector<const char*> known;
  for (const std::string& n : names) known.push_back(n.c_str());
  const char* meant = meant_word(name, known);
  return quote_short(name) + ": not an option of " +
         std::string(program_name()) +
         (meant ? std::string(" (did you mean ") + meant + "?)" : "") +
         "; see --help";
}

// The command line's mistakes, each in the program's own words before the
// parsing library sees them: an unknown option, an option without its value
// (the end of the line, or the next option where its value should be), a
// flag's value other than true or false, an option given twice, and words
// that are not options (those after "--" too), in the order given.
void check_command_line(const CLI::App& app, int argc, const char* const* argv,
                        const char* takes, int positionals) {
  std::vector<std::pair<std::string, std::string>> given;
  std::vector<std::string> stray;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      stray.insert(stray.end(), argv + i + 1, argv + argc);
      break;
    }
    if (arg == "-h" || arg == "--help") continue;
    if (arg.size() < 2 || arg[0] != '-') {
      if (positionals > 0)
        --positionals;
      else
        stray.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const CLI::Option* option = option_named(app, name);
    if (!option) throw CLI::ValidationError(unknown_option(app, name));
    std::optional<std::string> value;
    if (equals != std::string::npos) value = arg.substr(equals + 1);
    if (option->get_expected_max() == 0) {
      if (value && *value != "true" && *value != "false")
        refuse(name, *value, "true or false, or no value for true");
    } else if (!value) {
      if (i + 1 == argc ||
          (argv[i + 1][0] == '-' && option_named(app, argv[i + 1])))
        throw CLI::ValidationError(name + ": expected a value after it");
      value = argv[++i];
    }
    const bool list = option->get_expected_max() > 1;
    for (const auto& [earlier, earlier_value] : given)
      if (earlier == name && !list)
        throw CLI::ValidationError(
            name + " " + quote_short(value.value_or("")) +
            ": given twice (first " + quote_short(earlier_value) +
            "); expected once");
    given.emplace_back(name, value.value_or(""));
  }
  if (stray.empty()) return;
  std::string words;
  for (const std::string& word : stray)
    words += (words.empty() ? "" : ", ") + quote_short(word);
  throw CLI::ValidationError(words + ": not an option; " + program_name() +
                             " takes " + takes);
}

SplitCommandLine take_lists(const CLI::App& app, int argc,
                            const char* const* argv) {
  SplitCommandLine split;
  split.rest.push_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      split.rest.insert(split.rest.end(), argv + i, argv + argc);
      break;
    }
    const std::size_t equals = arg.find('=');
    const CLI::Option* option = arg.rfind("--", 0) == 0
                                    ? option_named(app, arg.substr(0, equals))
                                    : nullptr;
    if (!option || option->get_expected_max() <= 1) {
      split.rest.push_back(arg);
      // An option's value passes with it, whatever it looks like.
      if (option && option->get_expected_max() == 1 &&
          equals == std::string::npos && i + 1 < argc)
        split.rest.push_back(argv[++i]);
      continue;
    }
    std::vector<std::string>& values = split.lists[arg.substr(0, equals)];
    if (equals != std::string::npos)
      values.push_back(arg.substr(equals + 1));
    else if (i + 1 < argc)
      values.push_back(argv[++i]);
  }
  return split;
}

std::vector<const char*> SplitCommandLine::argv() const {
  std::vector<const char*> pointers;
  for (const std::string& arg : rest) pointers.push_back(arg.c_str());
  return pointers;
}

}  // namespace common
