// Text for a person: every path, name and value that a message or report
// shows is quoted and escaped, so that no input can split a line or write
// raw bytes (controls, terminal escapes, invalid UTF-8) to a terminal.
#pragma once

#include <string>
#include <string_view>

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
