#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "tools/refhost/failure.h"
#include "tools/refhost/outputs.h"
#include "tools/refhost/platform.h"

namespace refhost {

namespace fs = std::filesystem;

namespace {

// Where a path really leads: symbolic links are followed, so that the file
// they name is written and the link itself stays.
fs::path destination_of(const std::string& path) {
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(fs::absolute(path), error);
  return error ? fs::absolute(path) : resolved;
}

bool same_file(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error))
    return fs::equivalent(a, b, error);
  return destination_of(a) == destination_of(b);
}

// This run's files beside a destination: "<name>.refhost-<process><suffix>",
// the new content (".partial") and the previous file while it is moved aside
// (".previous").
std::string temporary_prefix(const fs::path& destination) {
  return destination.filename().string() + ".refhost-";
}

fs::path beside(const fs::path& destination, const char* suffix) {
  return destination.parent_path() /
         (temporary_prefix(destination) +
          std::to_string(platform::process_id()) + suffix);
}

void write_file(const fs::path& path, const std::string& bytes,
                const std::string& shown) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (!file)
    throw Failure("cannot write " + shown + ": " + std::strerror(errno));
  const bool written =
      std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int error = errno;
  if (std::fclose(file) != 0 || !written) {
    std::remove(path.string().c_str());
    throw Failure("cannot write " + shown + ": " + std::strerror(error));
  }
}

// Moves each written temporary over its destination. The files of one run
// belong together, so if one move fails (a file held open on Windows, say),
// the destinations already replaced get their previous files back, and those
// that did not exist before are removed.
void move_into_place(const std::vector<OutputFile>& outputs,
                     const std::vector<fs::path>& temporaries) {
  std::vector<fs::path> destinations, previous;  // previous: "" if none
  auto undo = [&] {
    std::error_code error;
    for (std::size_t j = 0; j < previous.size(); ++j) {
      if (previous[j].empty())
        fs::remove(destinations[j], error);
      else
        platform::replace_file(previous[j].string(), destinations[j].string());
    }
    for (std::size_t j = previous.size(); j < temporaries.size(); ++j)
      fs::remove(temporaries[j], error);
  };
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const fs::path destination = destination_of(outputs[i].path);
    const fs::path aside = beside(destination, ".previous");
    std::error_code ignored;
    const bool existed = fs::exists(destination, ignored);
    std::string error;
    if (existed)
      error = platform::replace_file(destination.string(), aside.string());
    if (error.empty()) {
      error =
          platform::replace_file(temporaries[i].string(), destination.string());
      if (!error.empty() && existed)
        platform::replace_file(aside.string(), destination.string());
    }
    if (!error.empty()) {
      undo();
      throw Failure("cannot write " + outputs[i].path + ": " + error);
    }
    destinations.push_back(destination);
    previous.push_back(existed ? aside : fs::path());
  }
  std::error_code ignored;
  for (const fs::path& file : previous)
    if (!file.empty()) fs::remove(file, ignored);
}

}  // namespace

void check_outputs(const std::vector<OutputFile>& outputs,
                   const std::string& scene_path) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const OutputFile& output = outputs[i];
    const std::string named = output.option + " " + output.path;
    if (!scene_path.empty() && same_file(output.path, scene_path))
      throw UsageFailure(named + ": is the scene file");
    for (std::size_t j = 0; j < i; ++j)
      if (same_file(output.path, outputs[j].path))
        throw UsageFailure(named + ": is also " + outputs[j].option);
    std::error_code error;
    const fs::file_status status = fs::status(output.path, error);
    if (fs::exists(status) && !fs::is_regular_file(status))
      throw UsageFailure(named +
                         ": exists and is not a regular file; refhost "
                         "replaces regular files only");
  }
}

void remove_stale_temporaries(const std::vector<OutputFile>& outputs) {
  for (const OutputFile& output : outputs) {
    const fs::path destination = destination_of(output.path);
    const std::string prefix = temporary_prefix(destination);
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator(destination.parent_path(), error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() + 8 &&
          name.compare(name.size() - 8, 8, ".partial") == 0 &&
          entry.is_regular_file(error))
        fs::remove(entry.path(), error);
    }
  }
}

void commit_outputs(const std::vector<OutputFile>& outputs) {
  std::vector<fs::path> temporaries;
  try {
    for (const OutputFile& output : outputs) {
      temporaries.push_back(beside(destination_of(output.path), ".partial"));
      write_file(temporaries.back(), output.bytes, output.path);
    }
  } catch (...) {
    for (const fs::path& temporary : temporaries)
      std::remove(temporary.string().c_str());
    throw;
  }
  move_into_place(outputs, temporaries);
}

}  // namespace refhost
