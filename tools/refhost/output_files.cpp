#include <algorithm>
#include <filesystem>
#include <optional>

#include "tools/refhost/failure.h"
#include "tools/refhost/outputs.h"
#include "tools/refhost/platform.h"
#include "tools/refhost/text.h"

namespace refhost {

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
    throw UsageFailure(shown(output) +
                       ": exists and is not a regular file; refhost "
                       "replaces regular files only");
}

std::string folder_of(const std::string& destination) {
  return fs::path(destination).parent_path().string();
}

void remove_stale_temporaries(const std::string& folder) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (is_stale_temporary(entry.path().filename().string()))
      fs::remove(entry.path(), error);
}

void remove_all(const std::vector<std::string>& files) {
  std::error_code error;
  for (const std::string& file : files) fs::remove(file, error);
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
  return ".refhost-" + platform::host_name() + "-" +
         std::to_string(platform::process_id()) + "." + std::to_string(n) +
         ".partial";
}

bool is_stale_temporary(const std::string& name) {
  const std::string prefix = ".refhost-" + platform::host_name() + "-";
  const std::string suffix = ".partial";
  if (name.rfind(prefix, 0) != 0 ||
      name.size() <= prefix.size() + suffix.size() ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  const std::string rest = name.substr(prefix.size());
  const std::size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string::npos ||
      rest.find_first_not_of("0123456789") != dot || dot > 10)
    return false;
  const unsigned long id = std::stoul(rest.substr(0, dot));
  return id != platform::process_id() && !platform::process_alive(id);
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
    const std::pair<const std::string&, const char*> files[] = {
        {inputs.scene, "is the scene file"},
        {inputs.library, "is the library"},
        {program, "is this program"}};
    for (const auto& [file, what] : files)
      if (!file.empty() && same_file(output.destination, file))
        throw UsageFailure(shown(output) + ": " + what);
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
  const platform::HeldInterrupts held;
  std::vector<std::string> temporaries;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const OutputFile& output = *outputs[i];
    const std::string temporary =
        (fs::path(folder_of(output.destination)) / temporary_name(i)).string();
    // A file of this name can only be left by a dead process that had this
    // one's number: it is replaced.
    std::error_code ignored;
    fs::remove(temporary, ignored);
    const std::string error =
        platform::write_new_file(temporary, output.bytes, output.destination);
    if (!error.empty()) {
      remove_all(temporaries);
      throw Failure("cannot write " + shown(output) + ": " + error);
    }
    temporaries.push_back(temporary);
  }
  std::vector<platform::FolderLock> locks;
  try {
    for (const std::string& folder : folders_of(outputs)) {
      locks.emplace_back(folder);
      remove_stale_temporaries(folder);
    }
    // What appeared at a destination since the check is refused too.
    for (const OutputFile* output : outputs) require_regular(*output);
  } catch (...) {
    remove_all(temporaries);
    throw;
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const std::string error =
        platform::replace_file(temporaries[i], outputs[i]->destination);
    if (error.empty()) continue;
    remove_all({temporaries.begin() + static_cast<std::ptrdiff_t>(i),
                temporaries.end()});
    std::string replaced;
    for (std::size_t j = 0; j < i; ++j)
      replaced += (j ? ", " : "; already replaced: ") + shown(*outputs[j]);
    throw Failure("cannot write " + shown(*outputs[i]) + ": " + error +
                  replaced);
  }
  for (const std::string& folder : folders_of(outputs))
    platform::sync_folder(folder);
}

}  // namespace refhost
