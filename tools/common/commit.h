// Committing a run's files: checked before anything is made, then each
// written beside its destination and renamed over it in one atomic step,
// with runs into the same folders one after the other. Used by every
// program of the tree that writes files.
#pragma once

#include <string>
#include <vector>

namespace common {

// A file to write: the option that named it, its path, where it really
// leads (symbolic links followed) and its bytes.
struct OutputFile {
  std::string option;
  std::string path;
  std::string bytes;
  std::string destination;
};

// A file that a run reads, which no output may replace, and what it is to
// the program, in its own words ("is the scene file"). An empty path is no
// file.
struct Input {
  std::string path;
  std::string role;
};
using Inputs = std::vector<Input>;

// Checks the destinations before anything is rendered, and fills in each
// one's destination. An output may not be an input (or this program), another
// output, or a stream of this process (its standard input, output or error,
// whatever the name, and /dev/std*, /dev/fd/*, /proc/*/fd/*): the files
// themselves are compared, not their names. One that exists must be a regular
// file: an output never replaces a device, a pipe or a folder. A symbolic link
// writes the file it leads to, and one that leads nowhere is an error. Throws
// UsageFailure, or Failure when the output cannot be written at all (its folder
// is missing).
void check_outputs(const std::vector<OutputFile*>& outputs,
                   const Inputs& inputs);

// Replaces every destination with its new bytes. Each is written to a
// temporary file beside it (".PROGRAM-HOST-PID.N.partial"), flushed, and
// renamed over it in one atomic step, so that a destination is always its
// old file or its new one, never missing or partly written. Runs that commit
// into the same folders wait for each other (saying so on standard error);
// interrupts wait for the renames, but end a wait for another run; the
// temporaries that no live run holds in those folders are removed. Throws
// Failure naming the path, or platform::Interrupted; a failure before the
// first rename leaves every destination as it was.
void commit_outputs(const std::vector<OutputFile*>& outputs);

// The name of this process's temporary file number `n`, and whether a name
// is one of a temporary of this machine's runs.
std::string temporary_name(std::size_t n);
bool is_temporary_name(const std::string& name);

}  // namespace common
