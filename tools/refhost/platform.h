// What differs between Linux and Windows for the reference host.
#pragma once

#include <string>

namespace refhost::platform {

// Moves `from` over `to`, replacing it. Returns the reason of a failure, or
// nothing.
std::string replace_file(const std::string& from, const std::string& to);

bool stderr_is_terminal();

// This process's number, which names its temporary files.
unsigned long process_id();

}  // namespace refhost::platform
