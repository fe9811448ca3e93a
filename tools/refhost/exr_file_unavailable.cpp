// Builds without OpenEXR (the Windows build) neither read nor write EXR.
#include "tools/refhost/exr_file.h"
#include "tools/refhost/text.h"

namespace refhost {

void require_exr_support(const char* option) {
  throw UsageFailure(std::string(option) + ": this build of " + program_name() +
                     " has no OpenEXR support");
}

std::string exr_bytes(const ExrPicture&) {
  require_exr_support("EXR");
  return {};
}

ExrImage read_exr(const std::string& path) {
  throw UsageFailure(quote(path) + ": this build of " + program_name() +
                     " has no OpenEXR support; use a PNG");
}

ExrRgba read_exr_rgba(const std::string& path, const std::string&) {
  read_exr(path);
  return {};
}

void set_exr_threads(int) {}

}  // namespace refhost
