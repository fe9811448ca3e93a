// The reference host as a whole: options in, files and a report out.
#pragma once

namespace refhost {

// Runs the reference host with a command line; returns its exit status.
// Errors are reported on standard error as one line each.
int run(int argc, const char* const* argv);

}  // namespace refhost
