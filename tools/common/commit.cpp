#include "tools/common/commit.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>

#include "tools/common/errors.h"
#include "tools/common/platform.h"
#include "tools/common/quoting.h"

namespace common {

namespace fs = std::filesystem;

namespace {

std::string shown(const OutputFile& output) {
  return output.option + " " + quote(output.path);
}

// A stream of this process under a name: /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/PID/fd/N.
bool names_a_stream(const std::string& path) {
  const std::string normal =
      fs::absolute(path).lexically_normal().generic_string();
  if (normal.rfind("/dev/std", 0) == 0 || normal.rfind("/dev/fd/", 0) == 0)
    return true;
  const std::size_t fd = normal.find("/fd/");
  return normal.rfind("/proc/", 0) == 0 && fd != std::string::npos &&
         normal.find('/', 6) == fd;
}

// Where the path leads: a symbolic link is followed to the file it names,
// which is written and the link kept. A link that leads nowhere, or in a
// loop, is an error, never replaced by a plain file.
std::string destination_of(const OutputFile& output) {
  std::error_code error;
  const fs::path absolute = fs::absolute(output.path, error);
  if (fs::is_symlink(fs::symlink_status(absolute, error))) {
    const fs::path target = fs::canonical(absolute, error);
    if (error)
      throw Failure("cannot write " + shown(output) + ": " + error.message());
    return target.string();
  }
  const fs::path folder = fs::canonical(absolute.parent_path(), error);
  if (error || !fs::is_directory(folder))
    throw Failure("cannot write " + shown(output) + ": no such folder " +
                  quote(absolute.parent_path().string()));
  return (folder / absolute.filename()).string();
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

// A destination that exists and is not a regular file is never replaced.
void require_regular(const OutputFile& output) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(output.destination, error);
  if (fs::exists(status) && !fs::is_regular_file(status))
    throw UsageFailure(shown(output) + ": exists and is not a regular file; " +
                       program_name() + " replaces regular files only");
}

std::string folder_of(const std::string& destination) {
  return fs::path(destination).parent_path().string();
}

void remove_abandoned_temporaries(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (is_temporary_name(entry.path().filename().string()))
      platform::remove_if_abandoned(entry.path().string());
}

// This run's temporaries: each let go of, then removed.
void remove_all(std::vector<platform::HeldFile>& held,
                const std::vector<std::string>& files) {
  std::error_code error;
  for (std::size_t i = 0; i < files.size(); ++i) {
    held[i].release();
    fs::remove(files[i], error);
  }
}

// A number for each temporary of this process, never used twice.
std::atomic<std::size_t> next_temporary{0};

// Writes the output's bytes to a new temporary file beside its destination,
// held as live until the commit ends, and returns its path. A name that is
// taken (a live run of another container with this process's number, or a
// file left behind) is passed over for the next.
std::string write_temporary(const OutputFile& output,
                            platform::HeldFile& held) {
  const fs::path folder = folder_of(output.destination);
  for (int tries = 0; tries < 1000; ++tries) {
    const std::string path =
        (folder / temporary_name(next_temporary++)).string();
    bool exists = false;
    const std::string error =
        held.create(path, output.bytes, output.destination, exists);
    if (!exists && !error.empty())
      throw Failure("cannot write " + shown(output) + ": " + error);
    if (!exists) return path;
  }
  throw Failure("cannot write " + shown(output) +
                ": every name for a temporary file beside it is taken");
}

void say_waiting(const std::string& folder) {
  std::fprintf(stderr, "%s: waiting for the folder %s, held by another run\n",
               program_name(), quote(folder).c_str());
  std::fflush(stderr);
}

// The folders of the outputs, each once, in one order for every run, so
// that two runs never wait for each other's locks in a circle.
std::vector<std::string> folders_of(const std::vector<OutputFile*>& outputs) {
  std::vector<std::string> folders;
  for (const OutputFile* output : outputs)
    folders.push_back(folder_of(output->destination));
  std::sort(folders.begin(), folders.end());
  folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
  return folders;
}

}  // namespace

std::string temporary_name(std::size_t n) {
  return "." + std::string(program_name()) + "-" + platform::host_name() + "-" +
         std::to_string(platform::process_id()) + "." + std::to_string(n) +
         ".partial";
}

bool is_temporary_name(const std::string& name) {
  const std::string prefix =
      "." + std::string(program_name()) + "-" + platform::host_name() + "-";
  const std::string suffix = ".partial";
  if (name.rfind(prefix, 0) != 0 ||
      name.size() <= prefix.size() + suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string numbers =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  const std::size_t dot = numbers.find('.');
  return dot != 0 && dot != std::string::npos && dot + 1 < numbers.size() &&
         numbers.find_first_not_of("0123456789.") == std::string::npos &&
         numbers.find('.', dot + 1) == std::string::npos;
}

void check_outputs(const std::vector<OutputFile*>& outputs,
                   const Inputs& inputs) {
  const std::string program = platform::program_path();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    OutputFile& output = *outputs[i];
    if (names_a_stream(output.path))
      throw UsageFailure(shown(output) +
                         ": names a stream of this process, not a file");
    output.destination = destination_of(output);
    for (const Input& input : inputs)
      if (!input.path.empty() && same_file(output.destination, input.path))
        throw UsageFailure(shown(output) + ": " + input.role);
    if (same_file(output.destination, program))
      throw UsageFailure(shown(output) + ": is this program");
    for (std::size_t j = 0; j < i; ++j)
      if (output.destination == outputs[j]->destination ||
          same_file(output.destination, outputs[j]->destination))
        throw UsageFailure(shown(output) + ": is also " + outputs[j]->option);
    if (platform::is_standard_stream(output.destination))
      throw UsageFailure(shown(output) +
                         ": is this program's standard input, output or "
                         "error");
    require_regular(output);
  }
}

void commit_outputs(const std::vector<OutputFile*>& outputs) {
  const platform::HeldInterrupts held_interrupts;
  std::vector<platform::HeldFile> held(outputs.size());
  std::vector<std::string> temporaries;
  std::vector<platform::FolderLock> locks;
  try {
    for (std::size_t i = 0; i < outputs.size(); ++i)
      temporaries.push_back(write_temporary(*outputs[i], held[i]));
    for (const std::string& folder : folders_of(outputs)) {
      locks.emplace_back(folder, [&] { say_waiting(folder); });
      remove_abandoned_temporaries(folder);
    }
    // What appeared at a destination since the check is refused too.
    for (const OutputFile* output : outputs) require_regular(*output);
  } catch (...) {
    remove_all(held, temporaries);
    throw;
  }
  // No other run looks for abandoned files in a locked folder.
  for (platform::HeldFile& file : held) file.release();
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string error =
        platform::replace_file(temporaries[i], outputs[i]->destination);
    if (error.empty()) continue;
    std::error_code ignored;
    for (std::size_t j = i; j < temporaries.size(); ++j)
      fs::remove(temporaries[j], ignored);
    std::string replaced;
    for (std::size_t j = 0; j < i; ++j)
      replaced += (j ? ", " : "; already replaced: ") + shown(*outputs[j]);
    throw Failure("cannot write " + shown(*outputs[i]) + ": " + error +
                  replaced);
  }
  for (const std::string& folder : folders_of(outputs))
    platform::sync_folder(folder);
}

}  // namespace common
